#!/usr/bin/env bash
# vorsal.exe --production --run under Wine against four COM ports (COM5 to
# COM8), each the Linux simulator's pseudo-terminal: five factory-default
# modems get the key and an address each; the one on COM6 fails its key
# transfer, is swapped back and reworked. No address is given twice and the
# journal holds one line per modem touched; the key, named in a file, is
# derived and stored first. A screenshot of the window goes
# to WINDOWS-BUILD/production-e2e/.
# Usage: production_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
source "$(dirname "$0")/e2e_common.sh"
shots="$win/production-e2e"
rm -rf "$shots"
mkdir -p "$shots"

work="$base/station"
mkdir "$work"
xvfb_pid= window_pid=
declare -A sims=()
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  for n in "${!sims[@]}"; do kill "${sims[$n]}" 2>/dev/null || true; done
  for n in 5 6 7 8; do
    wine reg delete 'HKLM\Software\Wine\Ports' /v "COM$n" /f >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/dosdevices/com$n"
  done
  rm -rf "$base"
}
trap cleanup EXIT
fail_file="$work/journal.csv"

# A modem on COMn: the simulator serves a pseudo-terminal behind the link
# $work/modemN, which the port names. A modem swapped for another is a new
# simulator behind the same link; the port follows the link when it is
# opened again.
modem() {
  local n=$1
  shift
  [ -n "${sims[$n]:-}" ] && kill "${sims[$n]}" 2>/dev/null && wait "${sims[$n]}" 2>/dev/null || true
  rm -f "$work/modem$n"
  "$sim" --link "$work/modem$n" "$@" >>"$work/sim$n.log" 2>&1 &
  sims[$n]=$!
  for _ in $(seq 100); do [ -e "$work/modem$n" ] && return 0; sleep 0.05; done
  fail "the simulator of COM$n made no pty"
}

source "$(dirname "$0")/display.sh"
start_display
modem 5
modem 6 --no-ack-part 3
modem 7
modem 8
for n in 5 6 7 8; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$work/modem$n" /f >/dev/null
done
wineserver -k >/dev/null 2>&1 || true
for n in 5 6 7 8; do rm -f "$WINEPREFIX/dosdevices/com$n"; done
wineserver -p >/dev/null 2>&1
wine wineboot >/dev/null 2>&1

# The key's name comes from a file; the key is not stored yet, so the
# window derives it (its progress shown) and stores it beside the program.
cp "$win/bin/vorsal.exe" "$work/"
printf 'Ключ №1\r\n' >"$work/key.txt"
journal="$work/journal.csv"
(cd "$work" && LD_PRELOAD="$shim" exec wine "$work/vorsal.exe" --production --run -p COM5 -p COM6 -p COM7 -p COM8 \
  --network working --start 20 --key-file key.txt --journal journal.csv >"$base/window.log" 2>&1) &
window_pid=$!

await_lines() {
  for _ in $(seq 1200); do [ "$(modem_lines "$journal")" -ge "$1" ] && return 0; sleep 0.1; done
  fail "the journal has $(modem_lines "$journal") modem line(s), not $1"
}
await_lines 4
grep -q 'COM6,.*,failed,' "$journal" || fail "the key transfer on COM6 did not fail first"
import -window root "$shots/1-first-four.png"
# The modem whose key failed is swapped back and reworked, and a fifth
# modem takes COM5.
modem 6
modem 5
await_lines 6
sleep 1
import -window root "$shots/2-reworked.png"
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
window_pid=

# The derived key, stored with its name in Windows-1251: the same key as
# the Linux programs derive.
key=$("$linux/bin/vorsal-key" test "Ключ №1" | grep -F "Ключ №1" | cut -c1-64)
[ "$(cat "$work/Keys.ini")" = "$(printf '[Keys]\r\n\xca\xeb\xfe\xf7 \xb91=%s\r' "$key")" ] ||
  fail "Keys.ini: $(od -c "$work/Keys.ini")"
python3 - "$journal" <<'PY' || fail "the journal is not what the run did"
import csv, sys
rows = [r for r in csv.DictReader(open(sys.argv[1], encoding="utf-8"))
        if r["operation"] not in ("run-start", "run-end")]
sys.excepthook = lambda kind, error, trace: print(f"{error}", file=sys.stderr)
assert len(rows) == 6, f"{len(rows)} lines"
ok = [r for r in rows if r["result"] == "ok"]
failed = [r for r in rows if r["result"] != "ok"]
addresses = sorted(int(r["new_address"]) for r in ok)
assert addresses == [20, 21, 22, 23, 24], f"addresses {addresses}"
assert all(r["new_network"] == "working" for r in ok)
assert all(r["footprint"] for r in ok), "a modem without the key's footprint"
assert len(failed) == 1 and "COM6" in failed[0]["port"], f"failed: {failed}"
assert failed[0]["new_address"] == "1", "a modem whose key failed keeps its address"
PY
echo "production_e2e: vorsal.exe --production --run configured five modems on COM5-COM8 with the key, reworked the one whose key failed, gave no address twice and journaled six lines: ok"
