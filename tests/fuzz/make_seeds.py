#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Each target reads its input as a small script (see the comment at the top of
its harness); these seeds are typical cases in those forms: the protocol's
frames, typical Keys.ini files, text and command lines. Run it again after a
change of an input form and commit the result.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def crc24(data, connection_type=0):
    r = 0xB704CE
    for b in data:
        r ^= b << 16
        for _ in range(8):
            r <<= 1
            if r & 0x1000000:
                r ^= 0x1864CFB
    return (r ^ 0xFFFFFF if connection_type else r) & 0xFFFFFF


def frame(command, d, ct=0):
    body = bytes([command]) + bytes(d)
    c = crc24(body, ct)
    return bytes([c & 0xFF, (c >> 8) & 0xFF, c >> 16]) + body


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# receive_fuzz: setup byte, then ops (0x00 len-1 bytes: raw; 0x05 event;
# 0x06 tick; 0x07 event and tick; 0x01 n-1: noise; 0x02|(k-1)<<3 body: k frames).
def raw(data):
    out = b""
    while data:
        out += bytes([0x00, len(data[:256]) - 1]) + data[:256]
        data = data[256:]
    return out


params = frame(0xE2, [0x01, 0x00, 31, 2])
footprint = frame(0xE4, [0x45, 0xE4, 0x2A, 0x0B])
write("receive_fuzz", "read_params_reply", b"\x00" + raw(params) + b"\x07")
write("receive_fuzz", "footprint_in_3_and_5", b"\x00" + raw(footprint[:3]) + b"\x07" + raw(footprint[3:]) + b"\x07")
write("receive_fuzz", "stray_then_reply", b"\x00" + raw(b"\x13\x57\x9b" + params) + b"\x07")
write("receive_fuzz", "two_replies_one_chunk", b"\x00" + raw(params + footprint) + b"\x05\x06")
write("receive_fuzz", "connection_type_1", b"\x01" + raw(frame(0xE2, [0, 0, 0, 0], 1)) + b"\x07")
write("receive_fuzz", "key_acks_short_reads",
      bytes([3 << 1]) + b"".join(raw(frame(0xE8 + i, [i, i + 1, i + 2, i + 3])) + b"\x05\x07" for i in range(8)))
write("receive_fuzz", "burst_of_frames_and_noise",
      b"\x00" + bytes([0x02 | 31 << 3, 0xE4, 1, 2, 3, 4]) + b"\x01\xff" + raw(params) + b"\x05\x06")

# keys_ini_fuzz: flags, pick, value length, value bytes, [name length, name], file.
KEY = bytes(range(32))
HEX = KEY.hex().upper().encode()


def keys(flags, pick, value, name, file):
    out = bytes([flags, pick, len(value)]) + value
    if not flags & 1:
        out += bytes([len(name)]) + name
    return out + file


beta = "Бета".encode("cp1251")
typical = b"[Keys]\r\nAlpha=" + HEX + b"\r\n" + beta + b"=" + HEX + b"\r\n"
write("keys_ini_fuzz", "new_name_crlf", keys(0, 0, KEY, b"Gamma", typical))
write("keys_ini_fuzz", "stored_name_kept", keys(1, 1, KEY, b"", typical))
write("keys_ini_fuzz", "stored_name_other_case", keys(3, 1, KEY, b"", typical))
write("keys_ini_fuzz", "empty_value_filled", keys(1, 0, KEY, b"", b"[Keys]\nOld=\nNext=ABCD\n"))
write("keys_ini_fuzz", "other_sections_no_last_newline",
      keys(0, 0, KEY[:4], b"New", b"; keys\n[Other]\na=1\n[keys]\nx=1\n\n[More]\nb=2"))
write("keys_ini_fuzz", "no_file", keys(8, 0, KEY, b"First", b""))
write("keys_ini_fuzz", "refused_name", keys(0, 0, KEY, b"a=b", typical))

# modem_model_fuzz: switches, drop, corrupt, stray, split, split pause, delay,
# no-ack part + 1, ack-with-previous part, address low, address high,
# firmware major, minor; then ops (odd: a frame of 5 body bytes; even: raw).
def model(options, requests, ct=0, noise=b""):
    out = bytes(options)
    for command, d in requests:
        out += bytes([0x01, command]) + bytes(d)
        if noise:
            out += bytes([(len(noise) - 1) << 1]) + noise
    return out


session = [(0xE2, [0, 0, 0, 0]), (0xE4, [0, 0, 0, 0])] + \
    [(0xE8 + i, [4 * i, 4 * i + 1, 4 * i + 2, 4 * i + 3]) for i in range(8)] + \
    [(0xE4, [0, 0, 0, 0]), (0xE0, [0x01, 0x00, 0x06, 0x10]), (0xE2, [0, 0, 0, 0])]
write("modem_model_fuzz", "session", model([0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 31], session))
write("modem_model_fuzz", "faults", model([0x06, 3, 2, 5, 3, 50, 10, 4, 5, 1, 0, 2, 31], session))
write("modem_model_fuzz", "connection_type_1_noise",
      model([0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x0F, 7, 40], session, 1, b"\x11\x22\x33"))

# text_fuzz: choice byte (capacity, separator), then the text.
for name, text in [
    ("hex_upper_lower", b"0123456789ABCDEFabcdef"),
    ("hex_odd_with_spaces", b"AB C"),
    ("hex_not_a_digit", b"1G"),
    ("key_hex", HEX),
    ("utf8_cyrillic", "Ключ сети Ёё Ґґ".encode()),
    ("cp1251_cyrillic", "Ключ сети Ёё Ґґ".encode("cp1251")),
    ("utf8_overlong", b"\xc0\xaf"),
    ("utf8_no_code_page_form", "ключ ★".encode()),
    ("utf8_surrogate", b"\xed\xa0\x80"),
    ("blanks", b" \t name \r\n"),
]:
    write("text_fuzz", name, bytes([0x24]) + text)

# sim_args_fuzz: arguments separated by zero bytes.
for name, args in [
    ("address_network", ["--address", "4095", "--network=1"]),
    ("firmware_split", ["--firmware", "2.31", "--split-reply=8:50", "--log"]),
    ("link_faults", ["--link", "/tmp/x", "--reply-e3", "--no-ack-part", "3", "--drop-every=2"]),
    ("unknown", ["--bogus"]),
    ("missing_value", ["--delay-ms"]),
]:
    write("sim_args_fuzz", name, b"\x00".join(a.encode() for a in args))

# cli_args_fuzz: arguments separated by zero bytes.
for name, args in [
    ("read", ["-p", "ttyUSB0", "read", "--json"]),
    ("write", ["--port=/dev/ttyUSB0", "write", "--address", "6", "--network=service", "--retries=2"]),
    ("set_key", ["--connection-type", "1", "set-key", "  Ключ сети  "]),
    ("batch", ["batch", "--start=1", "--network", "working", "--key=Ключ", "--count", "10", "--journal=j.csv"]),
    ("help_for_command", ["write", "--help"]),
    ("dash_name", ["set-key", "--", "-name"]),
]:
    write("cli_args_fuzz", name, b"\x00".join(a.encode() for a in args))

# key_tool_args_fuzz: arguments separated by zero bytes.
for name, args in [
    ("names", ["test", "Ключ сети"]),
    ("keys_ini", ["--keys-ini", "--cp1251", "--", "-name"]),
    ("store", ["--store", "Keys.ini", "north field"]),
    ("store_and_keys_ini", ["--store", "Keys.ini", "--keys-ini", "x"]),
    ("version", ["--version"]),
]:
    write("key_tool_args_fuzz", name, b"\x00".join(a.encode() for a in args))

# key_name_fuzz: the first bytes of a key-name file.
for name, data in [
    ("plain", b"Plant 7\r\nsecond line\n"),
    ("utf8_bom", b"\xef\xbb\xbf" + "Ключ".encode() + b"\n"),
    ("utf16le", b"\xff\xfe" + "Ключ\r\n".encode("utf-16-le")),
    ("utf16be", b"\xfe\xff" + "Ключ\n".encode("utf-16-be")),
    ("ansi", "Ключ\n".encode("cp1251")),
    ("nul", b"ab\x00cd\n"),
]:
    write("key_name_fuzz", name, data)

# port_list_fuzz: names separated by zero bytes; the first is also split as
# a colon-separated list.
for name, names in [
    ("extra_ports", ["/dev/ttyX0::/dev/pts/3:", "ttyS002", "ttyS10"]),
    ("com_names", ["COM12", "com3", "COM012", "COM256", "COM257", "COM3", "LPT1"]),
    ("linux_names", ["ttyUSB10", "ttyUSB09", "ttyACM0", "ttyS1", "ttyS01", "ttyS"]),
]:
    write("port_list_fuzz", name, b"\x00".join(n.encode() for n in names))

# spool_fuzz: a byte choosing the fields a line holds (1 + b % 16), then the
# file's text.
for name, fields, text in [
    ("two_lines", 3, b"r:1\trun\tok\nr:2\trun\tno\\treply\\n\n"),
    ("escapes", 2, b"r:1\ta\\\\b\\rc\\td\n"),
    ("cut_short", 2, b"r:1\tok\nr:2\tcut"),
    ("bad_lines", 2, b"\tempty id\nr:1\tunknown \\x\nr:2\tone\ttoo many\n\n"),
    ("named", 2, b"@1f2e database prod on db as clerk\tr:1\tok\nr:2\tunnamed\n@\tr:3\tno id\n@1f2e\t\tno line id\n"),
]:
    write("spool_fuzz", name, bytes([fields - 1]) + text)


# journal_reader_fuzz: a byte that chooses how the text is cut, then the
# text; its NUL-separated fields also make a journal of their own.
JOURNAL_HEADER = (b"time,run_id,operator,host,port,adapter,operation,old_address,old_network,"
                  b"new_address,new_network,firmware,footprint,result,message\r\n")
JOURNAL_LINE = (b"2026-12-07T10:01:00+03:00,r1,op,st,/dev/ttyUSB0,0403:6001 serial A1,batch,1,service,"
                b"20,working,2.31,0B.2A.E4.45,ok,\"read back, as written\"\r\n")
write("journal_reader_fuzz", "journal", b"\x07" + JOURNAL_HEADER + JOURNAL_LINE + JOURNAL_LINE)
write("journal_reader_fuzz", "torn_line", b"\x31" + JOURNAL_HEADER + JOURNAL_LINE[:120] + b"\"torn\r\n" +
      JOURNAL_LINE)
write("journal_reader_fuzz", "older_header",
      b"\x02time,port,operation,result\r\n2026-03-01T12:00:00Z,/dev/ttyS0,write,ok\r\n" + JOURNAL_HEADER +
      JOURNAL_LINE)
write("journal_reader_fuzz", "line_breaks_in_a_field",
      b"\x55" + JOURNAL_HEADER + JOURNAL_LINE[:-3] + b"\nsecond line\r\nthird\"\r\n")
write("journal_reader_fuzz", "fields", b"\x00/dev/ttyUSB0\x00batch\x00x\"y\x00a,b\x00line\nbreak\x00\r\n")
write("journal_reader_fuzz", "not_a_journal", b"\x10root:x:0:0:root:/root:/bin/bash\n\x00\x01\x02binary\n")
