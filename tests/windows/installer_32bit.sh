#!/usr/bin/env bash
# The installer on 32-bit Windows (a 32-bit Wine prefix): one that carries
# only the 64-bit programs refuses, saying so, and installs nothing; one that
# carries both installs the 32-bit programs, which run there; a silent
# uninstall removes them.
# Usage: installer_32bit.sh SETUP-64-ONLY SETUP-BOTH (WINEPREFIX, a 32-bit
# prefix, set by the caller)
set -euo pipefail
only64=$(realpath "$1")
both=$(realpath "$2")
export WINEDEBUG=-all LC_ALL=C.UTF-8
: "${WINEPREFIX:?the caller sets WINEPREFIX}"
program_files="$WINEPREFIX/drive_c/Program Files/Vorsal"
fail() {
  echo "installer_32bit: $*" >&2
  exit 1
}
[ "$(wine cmd /c echo %PROCESSOR_ARCHITECTURE% | tr -d '\r')" = x86 ] || fail "$WINEPREFIX is no 32-bit prefix"
rm -rf "$program_files"

# The machine a PE file is built for: 14c (i386) or 8664 (x86-64).
machine() { printf '%x' "$(od -An -tu2 -j $(($(od -An -tu4 -j 60 -N4 "$1") + 4)) -N2 "$1" | tr -d ' ')"; }

status=0
wine "$only64" /S || status=$?
[ "$status" = 2 ] || fail "the 64-bit-only installer ended with $status on 32-bit Windows, not 2"
[ ! -e "$program_files" ] || fail "the 64-bit-only installer installed: $(ls "$program_files")"

wine "$both" /S || fail "the installer ended with $?"
for program in vorsal.exe vorsal-cli.exe vorsal-key.exe; do
  [ "$(machine "$program_files/$program")" = 14c ] || fail "$program installed for machine $(machine "$program_files/$program")"
done
out=$(wine "$program_files/vorsal-cli.exe" --version | tr -d '\r')
[[ $out == "vorsal-cli (Vorsal) "* ]] || fail "the installed vorsal-cli.exe did not run: '$out'"
wine 'C:\Program Files\Vorsal\Uninstall.exe' /S
for _ in $(seq 150); do [ -e "$program_files" ] || break; sleep 0.1; done
[ ! -e "$program_files" ] || fail "the uninstaller left: $(ls "$program_files")"
echo "installer_32bit: the 64-bit-only installer refused, the installer put the 32-bit programs, which ran: ok"
