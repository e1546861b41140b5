#!/usr/bin/env bash
# vorsal-cli.exe and vorsal-key.exe under Wine against the Linux simulator:
# the simulator's pseudo-terminal becomes COM5 of the Wine prefix
# (HKLM\Software\Wine\Ports, read when the Wine server starts), and the
# modem-line shim lets Wine treat the pty as a port with modem lines.
# Usage: cli_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
set -euo pipefail
win=$1
linux=$2
sim="$linux/bin/vorsal-modem-sim"
shim=$(find "$linux/tests" -name 'libvorsal_modem_line_shim.so' | head -n 1)
export WINEDEBUG=-all

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM5 /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# Copies of the programs, so that the Keys.ini that set-key stores beside
# them stays out of the build tree (and out of the zip).
cp "$win/bin/vorsal-cli.exe" "$win/bin/vorsal-key.exe" "$work/"
cli="$work/vorsal-cli.exe"

fail() {
  echo "cli_e2e: $*" >&2
  exit 1
}

# Expects the program's output to hold the text.
expect() {
  local text=$1 output=$2
  grep -qF -- "$text" <<<"$output" || fail "expected '$text' in: $output"
}

# The same key from both builds of vorsal-key.
linux_key=$("$linux/bin/vorsal-key" test)
windows_key=$(wine "$work/vorsal-key.exe" test | tr -d '\r')
[ "$linux_key" = "$windows_key" ] || fail "vorsal-key.exe: '$windows_key', Linux: '$linux_key'"

start_modem() {
  "$sim" --link "$work/modem" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$work/modem" ] && return 0; sleep 0.05; done
  fail "the simulator made no pty"
}
start_modem --address 5

wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$(readlink -f "$work/modem")" /f >/dev/null
wineserver -k
wineserver -p
wine wineboot >/dev/null 2>&1

run() { (cd "$work" && LD_PRELOAD="$shim" wine "$cli" -p COM5 "$@" | tr -d '\r'); }

# Without the shim the port cannot watch its modem lines (Wine's error 50):
# it watches the data alone.
out=$( (cd "$work" && wine "$cli" -p COM5 read | tr -d '\r') )
expect "address: 5" "$out"
out=$(run read)
expect "address: 5" "$out"
expect "firmware: 2.31" "$out"
run write --address 12 --network working >/dev/null
expect "address: 12" "$(run read)"
expect "network: working" "$(run read)"
[ "$(run footprint)" = "0B.2A.E4.45" ] || fail "footprint of the zero key"
run set-key test >/dev/null
[ "$(run footprint)" != "0B.2A.E4.45" ] || fail "set-key changed nothing"
out=$(run batch --start 30 --network service --count 1)
expect "address 30 service (was 12 working" "$out"
expect "address: 30" "$(run read)"
echo "cli_e2e: vorsal-cli.exe read, write, set-key, footprint and a batch against COM5: ok"
