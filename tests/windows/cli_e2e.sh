#!/usr/bin/env bash
# vorsal-cli.exe and vorsal-key.exe (and the serial device's suite,
# serial_device_test.exe) under Wine against the Linux simulator:
# the simulator's pseudo-terminal becomes COM5 of the Wine prefix
# (HKLM\Software\Wine\Ports, read when the Wine server starts), and the
# modem-line shim lets Wine treat the pty as a port with modem lines.
# Usage: cli_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
source "$(dirname "$0")/e2e_common.sh"

# The programs run from a folder whose name Windows' code pages can't all
# show: paths must go through as UTF-16.
work="$base/Рабочая папка"
mkdir "$work"
cleanup() {
  stop_modem
  rm -rf "$base"
}
trap cleanup EXIT
# Copies of the programs, so that the Keys.ini that set-key stores beside
# them stays out of the build tree (and out of the zip).
cp "$win/bin/vorsal-cli.exe" "$win/bin/vorsal-key.exe" "$work/"
cli="$work/vorsal-cli.exe"

fail_file="$work/stderr"

# Expects the program's output to hold the text.
expect() {
  local text=$1 output=$2
  grep -qF -- "$text" <<<"$output" || fail "expected '$text' in: $output"
}

# The same keys from both builds of vorsal-key, names given as UTF-16.
linux_keys=$("$linux/bin/vorsal-key" test "Ключ №1")
windows_keys=$(wine "$work/vorsal-key.exe" test "Ключ №1" | tr -d '\r')
[ "$linux_keys" = "$windows_keys" ] || fail "vorsal-key.exe: '$windows_keys', Linux: '$linux_keys'"

start_modem --address 5
map_com5

# The serial device's own suite first, against the same port.
VORSAL_TEST_PORT=COM5 LD_PRELOAD="$shim" wine "$win/bin/serial_device_test.exe" >"$base/serial.log" 2>&1 ||
  { cat "$base/serial.log" >&2; fail "the serial device's suite failed against COM5"; }

# Standard input is never the script's terminal: a key name is read from it
# where a test gives one.
: >"$work/empty"
journal="$work/журнал.csv"
run() { (cd "$work" && LD_PRELOAD="$shim" wine "$cli" -p COM5 --journal "$journal" "$@" <"$work/empty" 2>"$work/stderr" | tr -d '\r'); }

# Without the shim the port cannot watch its modem lines (Wine's error 50):
# it watches the data alone.
out=$( (cd "$work" && wine "$cli" -p COM5 read </dev/null | tr -d '\r') )
expect "address: 5" "$out"
out=$(run read)
expect "address: 5" "$out"
expect "firmware: 2.31" "$out"
run write --address 12 --network working >/dev/null
expect "address: 12" "$(run read)"
expect "network: working" "$(run read)"
[ "$(run footprint)" = "0B.2A.E4.45" ] || fail "footprint of the zero key"
# The key name from standard input, as UTF-8 bytes.
out=$(cd "$work" && printf 'Ключ №1\n' | LD_PRELOAD="$shim" wine "$cli" -p COM5 --journal "$journal" set-key \
      2>"$work/stderr" | tr -d '\r')
expect "key written; footprint" "$out"
footprint=$(run footprint)
[ "$footprint" != "0B.2A.E4.45" ] || fail "set-key changed nothing"
# Stored beside the program, the name in Windows-1251, lines ending in CRLF.
key=$(grep -F "Ключ №1" <<<"$linux_keys" | cut -c1-64)
[ "$(cat "$work/Keys.ini")" = "$(printf '[Keys]\r\n\xca\xeb\xfe\xf7 \xb91=%s\r' "$key")" ] ||
  fail "Keys.ini: $(od -c "$work/Keys.ini")"

# A batch takes the key name from a file (a Windows one: CRLF, a Cyrillic
# name), writes the key first, then the address.
key_file="$work/ключ.txt"
printf 'Ключ №1\r\n' >"$key_file"
out=$(run batch --start 30 --network service --key-file "$key_file" --count 1)
expect "address 30 service (was 12 working, firmware 2.31) footprint $footprint: ok" "$out"
expect "done 1, failed 0, next address 31" "$out"
expect "address: 30" "$(run read)"
# The journal: one header, then a line per modem with the run's id, this
# user and host, and never the key name.
header="time,run_id,operator,host,port,adapter,operation,old_address,old_network,new_address,new_network,firmware,footprint,result,message"
[ "$(head -n 1 "$journal" | tr -d '\r')" = "$header" ] || fail "journal header: $(head -n 1 "$journal")"
[ "$(grep -c '^time,' "$journal")" = 1 ] || fail "journal headers: $(cat "$journal")"
# Exported to standard output, the journal keeps its bytes: the same file,
# CRLF and all (never CR CR LF).
(cd "$work" && wine "$cli" --journal "$journal" journal --csv <"$work/empty" >"$work/export.csv") ||
  fail "journal --csv"
cmp -s "$journal" "$work/export.csv" || fail "journal --csv differs from the journal: $(od -c "$work/export.csv" | head -3)"
line=$(grep ',batch,' "$journal" | tr -d '\r')
port_re='\\\\\.\\COM5'  # \\.\COM5
grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2},[0-9a-f]{16},[^,]+,[^,]+,$port_re,,batch,12,working,30,service,2\.31,$footprint,ok,$" <<<"$line" ||
  fail "journal batch line: $line"
! grep -qF "Ключ" "$journal" || fail "the journal holds the key name"
run_id=$(cut -d, -f2 <<<"$line")
expect "run $run_id" "$(run journal)"
expect "done 1, failed 0, skipped 0, addresses 30-30" "$(run journal | grep -F "$run_id")"

# Starts a batch in the background: its status goes to $work/status.
start_batch() {
  : >"$work/stderr"
  (cd "$work" && LD_PRELOAD="$shim" exec wine "$cli" -p COM5 --journal "$journal" batch "$@" \
     <"$work/empty" >"$work/batch.out" 2>"$work/stderr") &
  batch=$!
}
# Ctrl+C for the running batch. Where Wine's 32-bit loader is installed too,
# `wine` starts a 64-bit program through a 32-bit start.exe stub that waits
# for it, so the signal goes to the program's own process, found by its name,
# and to the background job only when that is the program itself.
interrupt_batch() {
  local pids
  pids=$(pgrep -f 'vorsal-cli\.exe' | while read -r pid; do
    grep -qa 'start\.exe' "/proc/$pid/cmdline" 2>/dev/null || echo "$pid"
  done)
  [ -n "$pids" ] || fail "no running vorsal-cli.exe to interrupt"
  kill -INT $pids
}
wait_for() {
  for _ in $(seq 400); do grep -qF -- "$1" "$work/stderr" && return 0; sleep 0.05; done
  fail "no '$1' from the batch"
}
finish_batch() {
  status=0
  wait "$batch" || status=$?
  [ "$status" = "$1" ] || fail "batch after Ctrl+C: exit status $status, not $1"
}

# Ctrl+C (Wine hands SIGINT to the console's handlers) stops a batch that
# waits for the next modem, and the batch reports what it did.
start_batch --start 30 --network service --key-file "$key_file"
wait_for "disconnect the modem"
interrupt_batch
wait_for "stopping after this modem"
finish_batch 0
expect "done 1, failed 0, next address 31" "$(tr -d '\r' <"$work/batch.out")"

# The first Ctrl+C during the key lets the modem in hand finish; a second
# one abandons the exchange, which the journal keeps, and the batch still
# prints its summary.
start_batch --start 40 --network service --key-file "$key_file"
wait_for "key parts acknowledged 1/8"
interrupt_batch
wait_for "stopping after this modem"
interrupt_batch
wait_for "stopping now"
finish_batch 130
expect "done 0, failed 1" "$(tr -d '\r' <"$work/batch.out")"
grep -qE ',batch,30,service,[^,]*,[^,]*,2\.31,[^,]*,interrupted,' "$journal" || fail "journal: $(cat "$journal")"

echo "cli_e2e: vorsal-cli.exe read, write, set-key, footprint, batches with a key file, the journal and two-step Ctrl+C against COM5: ok"
