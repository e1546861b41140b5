#!/usr/bin/env bash
# vorsal.exe under Wine on a virtual X display against the Linux simulator
# on COM5, driven by window messages (window_driver.exe): choose the port,
# read, write with auto-increment, derive and write a key, read the
# footprint, follow a port that comes, lose the modem while minimised. Then
# at 120, 144 and 192 DPI: the layout and the address 4095. Screenshots of
# the steps go to WINDOWS-BUILD/window-e2e/.
# Usage: window_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)
source "$(dirname "$0")/e2e_common.sh"
shots="$win/window-e2e"
rm -rf "$shots"
mkdir -p "$shots"

work="$base/Рабочая папка"
mkdir "$work"
xvfb_pid= window_pid=
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  stop_modem
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v VorsalTest7 /f >/dev/null 2>&1 || true
  set_dpi 96
  wine reg add 'HKLM\Software\Classes\htmlfile\shell\open\command' /ve \
    /d '"C:\windows\system32\winebrowser.exe" "%1"' /f >/dev/null 2>&1 || true
  rm -rf "$base"
}
trap cleanup EXIT

source "$(dirname "$0")/display.sh"
# The DPI Wine draws at, from the next start of the Wine server.
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels \
    /t REG_DWORD /d "$1" /f >/dev/null
}
set_dpi 96
start_display
start_modem --address 5
map_com5

# The program and the driver run as on a Russian Windows: ANSI code page
# 1251, from a ru_RU locale generated for this run.
wine_env=(env LC_ALL=C.UTF-8) russian=
mkdir -p "$base/locale"
if localedef -i ru_RU -f UTF-8 "$base/locale/ru_RU.UTF-8" >/dev/null 2>&1 ||
  [ -d "$base/locale/ru_RU.UTF-8" ]; then
  wine_env=(env LOCPATH="$base/locale" LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8) russian=1
fi

# The guide's "open" goes to a handler that notes what it was given (the
# prefix's own handler is put back at the end).
opened="$base/help-opened.txt"
html_open='HKLM\Software\Classes\htmlfile\shell\open\command'
wine reg add "$html_open" /ve /d "C:\\windows\\system32\\cmd.exe /c echo %1> $(winepath -w "$opened")" /f >/dev/null

cp "$win/bin/vorsal.exe" "$win/bin/vorsal-cli.exe" "$work/"
(cd "$work" && LD_PRELOAD="$shim" exec "${wine_env[@]}" wine "$work/vorsal.exe" >"$base/window.log" 2>&1) &
window_pid=$!

drive() { "${wine_env[@]}" wine "$win/bin/window_driver.exe" window "$@" || fail "step failed: $*"; }
shot() { import -window root "$shots/$1.png"; }

drive status 1 "COM-порт не открыт!" title " []"
[ -z "$russian" ] || drive codepage 1251
shot 1-start
# The portable copy leaves its versioned copy, which starts as an .exe.
compgen -G "$work/Vorsal.*.exe" >/dev/null || fail "no versioned copy: $(ls "$work")"
# No guide beside the program (nor installed): F1 says so; with the guide
# beside it, F1 hands it to the shell.
drive key F1 error "Справка не найдена"
cp "$(dirname "$0")/../../dist/help/Vorsal.html" "$work/"
drive key F1
for _ in $(seq 100); do [ -s "$opened" ] && break; sleep 0.1; done
grep -q 'Vorsal.html' "$opened" 2>/dev/null || fail "F1 did not open the guide"
# Down in the closed port list shows each port in turn and opens none;
# Enter opens the one shown.
drive arrows COM5 noerror status 1 "COM-порт не открыт!" title " []"
drive enter 1001 status 1 "COM-порт открыт." title " [COM5]"
# The list closed on a choice opens it too.
drive port COM5 status 1 "COM-порт открыт." title " [COM5]"
drive click 1018 expect 1014 5 expect 1012 "2.31 -- 'Ирвен-2 (MSP430F155)'" status 2 OK
# Every caption of the shown panels is whole in the font in use, and no
# control covers another; the gauge is a progress bar to screen readers.
drive whole 1016 whole 1017 whole 1025 whole 1026 whole 1028 whole 1031 layout progressbar 1040
# Four digits are typed whole, and Up from 999 shows 1000 whole.
drive set 1022 "" type 1022 4095 expect 1022 4095 whole 1022
drive set 1022 999 up 1022 expect 1022 1000 whole 1022
shot 2-read
# The working network, address 12, auto-increment: the modem takes 12 and
# the input moves on to 13.
drive click 1026 set 1022 12 check 1028 click 1027 expect 1014 12 expect 1022 13 checked 1017
drive click 1033 expect 1032 0B.2A.E4.45
shot 3-written
# Auto-increment stops at the highest address.
drive set 1022 4095 click 1027 expect 1014 4095 expect 1022 4095 whole 1022
# A port that comes while the window is open joins the list without a
# click (the system's device notice).
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v VorsalTest7 /d COM7 /f >/dev/null
drive devicechange listed COM7 title " [COM5]" portfits COM256
wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v VorsalTest7 /f >/dev/null
drive devicechange unlisted COM7
drive set 1035 "Ключ №1" click 1036 dialog
sleep 2
shot 4-key-dialog
drive modal click 1033
# The zero key's footprint may still be shown until the reply comes.
for _ in $(seq 50); do
  footprint=$(wine "$win/bin/window_driver.exe" window print 1032 | tr -d '\r')
  [ "$footprint" != "0B.2A.E4.45" ] && break
  sleep 0.1
done
[ "$footprint" != "0B.2A.E4.45" ] || fail "the key changed no footprint"
drive status 2 OK
shot 5-key
# Stored beside the program, the name in Windows-1251, the same key as the
# Linux programs derive.
key=$("$linux/bin/vorsal-key" test "Ключ №1" | grep -F "Ключ №1" | cut -c1-64)
[ "$(cat "$work/Keys.ini")" = "$(printf '[Keys]\r\n\xca\xeb\xfe\xf7 \xb91=%s\r' "$key")" ] ||
  fail "Keys.ini: $(od -c "$work/Keys.ini")"

# The modem goes while the window is minimised: the loss is told, the port
# closed, the panels gone, and the restored window has the idle height.
drive minimize
kill "$sim_pid"
sim_pid=
drive error "COM5" status 1 "COM-порт не открыт!" expect 1014 "****" title " []"
drive restore client 150
shot 6-lost
drive close
wait "$window_pid" || fail "vorsal.exe ended with $?"
window_pid=

# At each DPI: the panels of a read modem laid out whole, and 4095 typed
# whole.
for dpi in 120 144 192; do
  set_dpi "$dpi"
  start_modem --address 5
  map_com5
  (cd "$work" && LD_PRELOAD="$shim" exec "${wine_env[@]}" wine "$work/vorsal.exe" >"$base/window.log" 2>&1) &
  window_pid=$!
  drive dpi "$dpi" port COM5 status 1 "COM-порт открыт." click 1018 expect 1014 5 status 2 OK client 389 layout
  drive set 1022 "" type 1022 4095 expect 1022 4095 whole 1022 layout
  # Moved to a monitor of another DPI, it lays itself out anew.
  [ "$dpi" != 120 ] || drive dpichange 192 client 389 layout whole 1022
  shot "7-dpi-$dpi"
  drive close
  wait "$window_pid" || fail "vorsal.exe at $dpi DPI ended with $?"
  window_pid=
  kill "$sim_pid"
  sim_pid=
done
set_dpi 96
echo "window_e2e: vorsal.exe chose COM5, read, wrote with auto-increment, wrote a derived key, read the footprint, followed a new port, told the lost modem while minimised, and laid out whole at 96-192 DPI: ok (screenshots in $shots)"
