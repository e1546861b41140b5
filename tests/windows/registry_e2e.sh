#!/usr/bin/env bash
# vorsal-cli.exe and the production registry under Wine: a PostgreSQL server
# of its own on 127.0.0.1 over TCP, libpq.dll loaded beside the program.
# First what the program says when libpq.dll, a DLL it needs or the Visual
# C++ runtime is missing (and that it runs without them); then registry
# init from Windows, and a Windows and a Linux station taking addresses of
# one network from the same registry, in turns and at once: none is given
# twice.
# Usage: registry_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
source "$(dirname "$0")/e2e_common.sh"

work="$base/work"
mkdir "$work"
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pg_user=
pg() { if [ -n "$pg_user" ]; then runuser -u "$pg_user" -- "$@"; else "$@"; fi; }
linux_sim=
cleanup() {
  stop_modem
  [ -n "$linux_sim" ] && kill "$linux_sim" 2>/dev/null || true
  [ -d "$base/pg/data" ] && pg "$pg_bin/pg_ctl" -D "$base/pg/data" -m immediate -w stop >/dev/null 2>&1 || true
  rm -rf "$base"
}
trap cleanup EXIT

fail_file="$work/stderr"
expect() {
  grep -qF -- "$1" <<<"$2" || fail "expected '$1' in: $2"
}

# Without libpq.dll, or a DLL it needs, or the Visual C++ runtime, the
# program runs and says what is missing once a registry is named.
target_none="host=127.0.0.1 port=1 user=vorsal dbname=vorsal"
mkdir "$work/bare" "$work/partial"
cp "$win/bin/vorsal-cli.exe" "$work/bare/"
cp "$win/bin/vorsal-cli.exe" "$win/bin/"*.dll "$work/partial/"
rm "$work/partial/libcrypto-3-x64.dll"
wine "$work/bare/vorsal-cli.exe" --version </dev/null >/dev/null || fail "vorsal-cli.exe does not run without libpq.dll"
status=0
out=$(wine "$work/bare/vorsal-cli.exe" --journal "$work/j.csv" --registry "$target_none" journal </dev/null 2>&1) ||
  status=$?
[ "$status" = 6 ] || fail "without libpq.dll: exit status $status: $out"
expect "the registry needs libpq.dll and its DLLs beside the program" "$out"
out=$(wine "$work/partial/vorsal-cli.exe" --journal "$work/j.csv" --registry "$target_none" journal </dev/null 2>&1) &&
  fail "without libcrypto: $out"
expect "needs libcrypto-3-x64.dll, which is missing" "$out"
out=$(WINEDLLOVERRIDES="vcruntime140=d" wine "$win/bin/vorsal-cli.exe" --journal "$work/j.csv" \
      --registry "$target_none" journal </dev/null 2>&1) && fail "without the Visual C++ runtime: $out"
expect "libpq.dll needs the Microsoft Visual C++ runtime, which is not installed (VCRUNTIME140.dll is missing)" "$out"

# The server, on a free TCP port of 127.0.0.1 (as an ordinary user where
# this runs as root: PostgreSQL refuses root).
mkdir "$base/pg"
if [ "$(id -u)" = 0 ]; then
  pg_user=vorsal-ci
  id -u "$pg_user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$pg_user"
  chown "$pg_user" "$base/pg"
  chmod 755 "$base"
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
pg "$pg_bin/initdb" --no-sync -A trust -U vorsal -E UTF8 --locale=C -D "$base/pg/data" >"$base/pg.log" 2>&1 ||
  fail "initdb: $(cat "$base/pg.log")"
pg "$pg_bin/pg_ctl" -D "$base/pg/data" -l "$base/pg/server.log" -w -t 60 \
  -o "-h 127.0.0.1 -p $port -k $base/pg -c fsync=off" start >>"$base/pg.log" 2>&1 || fail "pg_ctl: $(cat "$base/pg.log")"
pg "$pg_bin/createdb" -h 127.0.0.1 -p "$port" -U vorsal vorsal || fail "createdb"
target="host=127.0.0.1 port=$port user=vorsal dbname=vorsal"
sql() { "$pg_bin/psql" -h 127.0.0.1 -p "$port" -U vorsal -d vorsal -tAc "$1"; }

: >"$work/empty"
wcli() { (cd "$work" && LD_PRELOAD="$shim" wine "$win/bin/vorsal-cli.exe" --registry "$target" \
          --journal "$work/windows.csv" "$@" <"$work/empty" 2>"$work/stderr" | tr -d '\r'); }
lcli() { "$linux/bin/vorsal-cli" --registry "$target" --journal "$work/linux.csv" "$@" <"$work/empty" 2>"$work/stderr"; }

out=$(wcli registry init) || fail "registry init from Windows: $out"
expect "is ready" "$out"

# The Windows station's modem on COM5, the Linux station's on a pty of its own.
start_modem --address 5
map_com5
"$sim" --link "$work/linux-modem" --address 6 >"$work/linux-sim.log" 2>&1 &
linux_sim=$!
for _ in $(seq 100); do [ -e "$work/linux-modem" ] && break; sleep 0.05; done
[ -e "$work/linux-modem" ] || fail "the Linux station's simulator made no pty"

# In turns, each from 30: every station gets the lowest address still free.
for turn in 1 2; do
  out=$(lcli -p "$work/linux-modem" batch --start 30 --network service --count 1) || fail "Linux batch: $out"
  expect "done 1, failed 0" "$out"
  out=$(wcli -p COM5 batch --start 30 --network service --count 1) || fail "Windows batch: $out"
  expect "done 1, failed 0" "$out"
done
expect "address: 33" "$(wcli -p COM5 read)"
# At once: two more, neither given twice.
(lcli -p "$work/linux-modem" batch --start 30 --network service --count 1 >"$work/linux.out") &
linux_batch=$!
wcli -p COM5 batch --start 30 --network service --count 1 >"$work/windows.out" || fail "Windows batch at once"
wait "$linux_batch" || fail "Linux batch at once: $(cat "$work/linux.out")"
taken=$(sql "SELECT string_agg(address::text, ' ' ORDER BY address) FROM vorsal_address")
[ "$taken" = "30 31 32 33 34 35" ] || fail "addresses taken: $taken"
hosts=$(sql "SELECT count(DISTINCT port) FROM vorsal_address")
[ "$hosts" = 2 ] || fail "ports that took addresses: $hosts"
# The registry's journal from Windows: both stations' six modems.
out=$(wcli journal) || fail "journal --registry from Windows: $out"
[ "$(grep -c "done 1, failed 0" <<<"$out")" = 6 ] || fail "journal --registry: $out"
echo "registry_e2e: passed (addresses $taken)"
