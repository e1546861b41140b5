# Sourced first by the Windows end-to-end runs, each called as
# NAME.sh WINDOWS-BUILD LINUX-BUILD with WINEPREFIX set by the caller: checks
# that, then sets $win and $linux (absolute paths), Wine's environment, a
# scratch folder $base (the run's clean-up removes it), fail and the COM5
# helpers of com5.sh. A run with more to show on failure names it in
# $fail_file, printed after the message when it exists.
set -euo pipefail
e2e_name=$(basename "$0" .sh)
if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $e2e_name.sh WINDOWS-BUILD LINUX-BUILD (WINEPREFIX set by the caller)" >&2
  exit 2
fi
: "${WINEPREFIX:?the caller sets WINEPREFIX}"
win=$(realpath "$1")
linux=$(realpath "$2")
# Wine converts arguments and file names by the Unix locale.
export WINEDEBUG=-all LC_ALL=C.UTF-8
source "$(dirname "${BASH_SOURCE[0]}")/com5.sh"
base=$(mktemp -d)
fail_file=

fail() {
  echo "$e2e_name: $*" >&2
  if [ -n "$fail_file" ] && [ -f "$fail_file" ]; then cat "$fail_file" >&2; fi
  exit 1
}

# The modem lines of the journal $1: its lines but the header and the run's
# start and end lines; 0 while there is no journal.
modem_lines() {
  if [ -f "$1" ]; then tail -n +2 "$1" | grep -v -e ',run-start,' -e ',run-end,' | grep -c . || true
  else echo 0; fi
}
