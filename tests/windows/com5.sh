# Sourced by the Windows end-to-end runs: the Linux simulator serves a
# pseudo-terminal at $work/modem, which becomes COM5 of the Wine prefix
# (HKLM\Software\Wine\Ports, read when the Wine server starts). Needs $sim,
# $work and fail; sets $sim_pid.

start_modem() {
  rm -f "$work/modem"
  "$sim" --link "$work/modem" "$@" >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$work/modem" ] && return 0; sleep 0.05; done
  fail "the simulator made no pty"
}

map_com5() {
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$(readlink -f "$work/modem")" /f >/dev/null
  wineserver -k >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1
  wine wineboot >/dev/null 2>&1
}
