# Sourced by the Windows end-to-end runs: the Linux simulator serves a
# pseudo-terminal at $work/modem, which becomes COM5 of the Wine prefix
# (HKLM\Software\Wine\Ports, read when the Wine server starts). Sourced
# once $linux (the Linux build) is known; sets $sim and $shim (the
# modem-line shim). The functions need $work and fail, and set $sim_pid.

sim="$linux/bin/vorsal-modem-sim"
shim=$(find "$linux/tests" -name 'libvorsal_modem_line_shim.so' | head -n 1)
sim_pid=

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
  # The device link an earlier run left stays unless removed: it points at
  # that run's pseudo-terminal, which another program may hold by now.
  rm -f "$WINEPREFIX/dosdevices/com5"
  wineserver -p >/dev/null 2>&1
  wine wineboot >/dev/null 2>&1
}

# For the caller's clean-up: the simulator stopped, COM5 gone from the prefix.
stop_modem() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM5 /f >/dev/null 2>&1 || true
}
