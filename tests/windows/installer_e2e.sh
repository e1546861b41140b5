#!/usr/bin/env bash
# The installer under Wine: a silent install asked to add the folder to
# PATH and a desktop shortcut, the files, the shortcuts and the uninstall key in place;
# vorsal-cli.exe from the installed folder; vorsal.exe started from the
# shortcut's target on a virtual X display against the simulator on COM5
# (read, derive and write a key) writing nothing into Program Files; a
# silent uninstall leaving neither folder, key, shortcut nor PATH entry, and
# the user's data in place. Last, an install with a PATH too long for the
# installer to change safely leaves PATH alone. Then the wizard as a user
# walks it: welcome, components with their size, folder, finish, and the
# uninstaller telling the size it frees, every title without a stray blank.
# Wherever a user reads the version (--version, the window's title, the
# Add/Remove entry, the wizards' titles) it is the same text.
# Usage: installer_e2e.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the
# caller; the installer built by scripts/windows-installer)
source "$(dirname "$0")/e2e_common.sh"
repo=$(realpath "$(dirname "$0")/../..")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
setup="$win/vorsal-$version-setup.exe"
# The version as users read it, as the built program prints it; the
# installed one and the installer must say the same.
shown=$(wine "$win/bin/vorsal-cli.exe" --version | tr -d '\r' | sed -n '1s/^vorsal-cli (Vorsal) //p')

program_files="$WINEPREFIX/drive_c/Program Files/Vorsal"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vorsal.lnk"
desktop_shortcut="$WINEPREFIX/drive_c/users/Public/Desktop/Vorsal.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorsal'
# Read in the 64-bit view: where Wine's 32-bit loader is installed, `wine reg`
# is the 32-bit reg.exe, which sees the 32-bit view of HKLM\Software.
environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'

work=$base
xvfb_pid= window_pid= path_before=
system_path() { wine reg query "$environment_key" /v Path | tr -d '\r' | sed -n 's/^ *Path *REG_EXPAND_SZ *//p'; }
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  stop_modem
  if [ -n "$path_before" ]; then
    wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$path_before" /f >/dev/null 2>&1 || true
  fi
  rm -rf "$base"
}
trap cleanup EXIT
[ -f "$setup" ] || fail "no $setup (scripts/windows-installer builds it)"
[[ $shown =~ ^[0-9]+\.[0-9]+ ]] || fail "vorsal-cli.exe --version gives no version: '$shown'"

# The uninstaller starts a copy of itself and returns at once: wait until
# the folder is gone (or keeps only what the installer did not put there).
uninstall() {
  wine 'C:\Program Files\Vorsal\Uninstall.exe' /S
  for _ in $(seq 150); do [ -e "$program_files" ] || return 0; sleep 0.1; done
  fail "the uninstaller left: $(ls -R "$program_files")"
}

# The target of a shell link: the local base path of its LinkInfo, which
# follows the header and the item list.
lnk_target() {
  local file=$1 flags offset
  u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
  u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
  flags=$(u32 "$file" 20)
  offset=76
  if ((flags & 1)); then offset=$((offset + 2 + $(u16 "$file" 76))); fi
  ((flags & 2)) || fail "the shortcut has no target path"
  tail -c +$((offset + $(u32 "$file" $((offset + 16))) + 1)) "$file" | tr '\0' '\n' | head -n 1
}

appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% | tr -d '\r')")
user_data="$appdata/Vorsal"
rm -rf "$user_data" "$program_files"
path_before=$(system_path)
[ -n "$path_before" ] || fail "the prefix has no system PATH"

wine "$setup" /S /PATH /DESKTOP /REGISTRY || fail "the installer ended with $?"
mapfile -t libpq_dlls <"$win/libpq-dlls.txt"
for file in vorsal.exe vorsal-cli.exe vorsal-key.exe Uninstall.exe Vorsal.html README.txt "${libpq_dlls[@]}"; do
  [ -f "$program_files/$file" ] || fail "no $file installed: $(ls "$program_files")"
done
# 64-bit Windows gets the 64-bit programs (PE machine 8664).
machine() { printf '%x' "$(od -An -tu2 -j $(($(od -An -tu4 -j 60 -N4 "$1") + 4)) -N2 "$1" | tr -d ' ')"; }
for program in vorsal.exe vorsal-cli.exe vorsal-key.exe; do
  [ "$(machine "$program_files/$program")" = 8664 ] || fail "$program installed for machine $(machine "$program_files/$program")"
done
[ "$(ls "$program_files/Vorsal-images")" = "$(ls "$repo/dist/help/Vorsal-images")" ] ||
  fail "the guide's pictures: $(ls "$program_files/Vorsal-images")"
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
# Signed by the build (scripts/windows-test sets the certificate): the
# programs and the uninstaller as installed.
if [ -n "${VORSAL_SIGN_CA:-}" ]; then
  "$repo/scripts/windows-sign" verify "$VORSAL_SIGN_CA" "$program_files"/*.exe || fail "unsigned files installed"
fi
target=$(lnk_target "$shortcut")
[ "$target" = 'C:\Program Files\Vorsal\vorsal.exe' ] || fail "the shortcut points at '$target'"
[ -f "$desktop_shortcut" ] || fail "no desktop shortcut"
[ "$(lnk_target "$desktop_shortcut")" = "$target" ] || fail "the desktop shortcut points at '$(lnk_target "$desktop_shortcut")'"
entry=$(wine reg query "$uninstall_key" /reg:64 | tr -d '\r')
for value in "DisplayName *REG_SZ *Vorsal\$" "DisplayVersion *REG_SZ *${shown//./\\.}\$" "Publisher *REG_SZ *." \
    'DisplayIcon *REG_SZ *C:\\Program Files\\Vorsal\\vorsal.exe,0$' 'InstallLocation *REG_SZ *C:\\Program Files\\Vorsal$' \
    'QuietUninstallString *REG_SZ *"C:\\Program Files\\Vorsal\\Uninstall.exe" /S$' 'NoModify *REG_DWORD *0x1$'; do
  grep -qE "^ *$value" <<<"$entry" || fail "uninstall key: no '$value' in $entry"
done
# The size in KB that "Apps & features" shows, within a few KB of the files'.
size=$(($(sed -n 's/^ *EstimatedSize *REG_DWORD *//p' <<<"$entry")))
on_disk=$((($(find "$program_files" -type f -printf '%s+' && echo 0)) / 1024))
((size > 0 && size >= on_disk - 2 && size <= on_disk + 2)) || fail "EstimatedSize $size KB, the files $on_disk KB"
[ "$(system_path)" = "$path_before;C:\\Program Files\\Vorsal" ] || fail "PATH after the install: $(system_path)"

# Installed again over itself, as an upgrade is (the earlier installation
# uninstalled first): the folder stays in PATH, once, and the desktop
# shortcut stays.
wine "$setup" /S || fail "the installer ended with $? over an installation"
[ "$(system_path)" = "$path_before;C:\\Program Files\\Vorsal" ] || fail "PATH after installing again: $(system_path)"
[ -f "$desktop_shortcut" ] || fail "the desktop shortcut went with an upgrade"

out=$(wine "$program_files/vorsal-cli.exe" --version | tr -d '\r')
[ "$(head -n 1 <<<"$out")" = "vorsal-cli (Vorsal) $shown" ] || fail "vorsal-cli.exe --version: $out"
# The registry's DLLs stayed with the upgrade and load: the program goes as
# far as the (absent) server.
out=$(wine "$program_files/vorsal-cli.exe" --journal 'C:\j.csv' --registry "host=127.0.0.1 port=1 user=v dbname=v" \
      journal 2>&1 </dev/null | tr -d '\r') && fail "a registry on port 1 answered: $out"
grep -qF "cannot reach the registry" <<<"$out" || fail "the installed registry: $out"

# The window, on a display of its own, against the simulator on COM5.
source "$(dirname "$0")/display.sh"
start_display
start_modem --address 5
map_com5

(cd "$program_files" && LD_PRELOAD="$shim" exec wine "$target" >"$base/window.log" 2>&1) &
window_pid=$!
drive() { wine "$win/bin/window_driver.exe" window "$@" || fail "step failed: $*"; }
drive port COM5 title "Vorsal v.$shown [COM5]" status 1 "COM-порт открыт." click 1018 expect 1014 5 status 2 OK
drive set 1035 "Ключ №1" click 1036 modal status 2 OK
# While the program runs the uninstaller refuses (error level 2), removing
# nothing; run in place (_?=) so that its error level comes back.
wine "$win/bin/window_driver.exe" exits 2 '"C:\Program Files\Vorsal\Uninstall.exe" /S _?=C:\Program Files\Vorsal' ||
  fail "the uninstaller did not refuse while vorsal.exe ran"
[ -f "$program_files/vorsal.exe" ] && [ -f "$shortcut" ] && wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1 ||
  fail "the uninstaller removed a running program"
drive close
wait "$window_pid" || fail "vorsal.exe ended with $?"
window_pid=
# Installed, the program writes nothing beside itself: no versioned copy, and
# the key in the user's Keys.ini.
[ -z "$(find "$program_files" -iname 'Vorsal.*.exe' -o -iname 'Keys.ini')" ] ||
  fail "written into Program Files: $(ls "$program_files")"
LC_ALL=C grep -q "^$(printf '\xca\xeb\xfe\xf7 \xb91')=[0-9A-Fa-f]\{64\}" "$user_data/Keys.ini" || fail "no key in $user_data/Keys.ini"
# The journal goes to the user's folder too.
LD_PRELOAD="$shim" wine "$program_files/vorsal-cli.exe" -p COM5 write --address 6 --network service >/dev/null ||
  fail "vorsal-cli.exe write ended with $?"
grep -q ',write,5,.*,6,service,' "$user_data/journal.csv" || fail "no journal in $user_data"

uninstall
[ ! -e "$shortcut" ] || fail "the shortcut stays"
[ ! -e "$desktop_shortcut" ] || fail "the desktop shortcut stays"
! wine reg query "$uninstall_key" /reg:64 >/dev/null 2>&1 || fail "the uninstall key stays"
[ "$(system_path)" = "$path_before" ] || fail "PATH after the uninstall: $(system_path)"
[ -s "$user_data/Keys.ini" ] && [ -s "$user_data/journal.csv" ] || fail "the user's data went: $(ls -A "$user_data")"

# A PATH longer than NSIS reads whole (1024 characters) stays as it is.
long="$path_before$(printf ';C:\\tools\\%04d' $(seq 100))"
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$long" /f >/dev/null
wine "$setup" /S /PATH || fail "the installer ended with $? on a long PATH"
[ -f "$program_files/vorsal.exe" ] || fail "no install with a long PATH"
[ "$(system_path)" = "$long" ] || fail "the long PATH changed: $(system_path)"
uninstall
[ "$(system_path)" = "$long" ] || fail "the uninstaller changed the long PATH"

# The wizard, page by page (its "Next" button is 1), and the uninstaller's.
probe() { wine "$win/bin/dialog_probe.exe" "$@" || fail "wizard step failed: $*"; }
wine "$setup" &
setup_pid=$!
title="Установка Vorsal $shown"
probe window "$title" title "$title" shows "Нажмите «Далее»" click 1 \
  title "$title" shows "Мбайт" click 1 \
  title "$title" shows 'C:\Program Files\Vorsal' click 1 \
  shows "Нажмите «Готово»" title "$title" click 1 gone
wait "$setup_pid" || fail "the installer's wizard ended with $?"
[ -f "$program_files/vorsal.exe" ] && [ ! -e "$desktop_shortcut" ] || fail "the wizard's defaults: $(ls "$program_files")"
wine 'C:\Program Files\Vorsal\Uninstall.exe' &
setup_pid=$!
title="Удаление Vorsal $shown"
probe window "$title" title "$title" click 1 shows "Мбайт" title "$title" click 1 shows "Удаление завершено" \
  click 1 gone
wait "$setup_pid" || fail "the uninstaller's wizard ended with $?"
for _ in $(seq 150); do [ -e "$program_files" ] || break; sleep 0.1; done
[ ! -e "$program_files" ] || fail "the uninstaller's wizard left: $(ls -R "$program_files")"

echo "installer_e2e: silent install with /PATH, /DESKTOP and /REGISTRY (its DLLs load), shortcuts, uninstall key, vorsal.exe from the shortcut read COM5 and kept its key in %APPDATA%, silent uninstall, a long PATH left alone, the wizards' pages: ok"
