#!/usr/bin/env bash
# One end-to-end run that proves a build's programs run under this Wine: the
# same key from vorsal-key.exe as from the Linux tool, and vorsal-cli.exe
# reading and writing the Linux simulator on COM5 with a journal that it
# writes. For the 32-bit build, whose Wine cannot load the 64-bit modem-line
# shim: the port watches the data alone (the key transfer, which needs the
# modem lines, is cli_e2e.sh's, run with the 64-bit build).
# Usage: cli_proof.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
source "$(dirname "$0")/e2e_common.sh"
work=$base
trap 'stop_modem; rm -rf "$base"' EXIT

linux_key=$("$linux/bin/vorsal-key" test "Ключ №1")
windows_key=$(wine "$win/bin/vorsal-key.exe" test "Ключ №1" | tr -d '\r')
[ "$linux_key" = "$windows_key" ] || fail "vorsal-key.exe: '$windows_key', Linux: '$linux_key'"

start_modem --address 5
map_com5
journal="$work/journal.csv"
# The 32-bit build has no registry, and its help says so.
wine "$win/bin/vorsal-cli.exe" --help </dev/null | grep -qF "This build has no production registry" ||
  fail "the help does not say that the registry is missing"
run() { wine "$win/bin/vorsal-cli.exe" -p COM5 --journal "$(winepath -w "$journal")" "$@" </dev/null | tr -d '\r'; }
grep -q "address: 5" <<<"$(run read)" || fail "read: $(run read)"
run write --address 12 --network working >/dev/null
grep -q "address: 12" <<<"$(run read)" || fail "the written address: $(run read)"
grep -q ',write,5,.*,12,working,' "$journal" || fail "no journal line: $(cat "$journal" 2>/dev/null)"
echo "cli_proof: $(basename "$win"): vorsal-key.exe's key, vorsal-cli.exe read and wrote COM5 and kept its journal: ok"
