# Sourced by the Windows runs that show a window under Wine: a virtual X
# display of its own, windows with captions without a window manager
# (Managed=N), and Wine's own fonts where the package has them (whole
# Cyrillic texts and caption buttons). Needs $base (a scratch folder) and
# fail; sets $xvfb_pid and DISPLAY.

start_display() {
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$base/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$base/display" ] && break; sleep 0.05; done
  [ -s "$base/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$base/display")"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  if compgen -G '/usr/share/wine/fonts/*.ttf' >/dev/null; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
}
