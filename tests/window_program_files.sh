#!/usr/bin/env bash
# The window as an installation holds it (a copy in PREFIX/bin, the defaults
# in PREFIX/share/borvantel) and a user who has never run it: the first run
# makes the user's data directory, private to the user, and fills it from the
# defaults, and the demo driven through the window appends to the files
# there (window_driven.sh); the defaults stay as installed. A data directory
# that cannot be made is told in a message naming it and the reason, and the
# window does not open.
#
# Usage: window_program_files.sh WINDOW CLI DEMO_DIR PLUGIN_DIR
set -euo pipefail
window=$1
cli=$2
demo=$3
plugins=$(cd "$4" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; [[ -f $work/report ]] && sed 's/^/  report: /' "$work/report" >&2; exit 1; }

mkdir -p "$work/usr/bin" "$work/usr/share/borvantel" "$work/runtime"
chmod 700 "$work/runtime"
cp "$window" "$cli" "$work/usr/bin/"
cp "$demo/program/kategorie.txt" "$demo/program/predef.txt" "$work/usr/share/borvantel/"
export XDG_RUNTIME_DIR=$work/runtime
installed=$work/usr/bin/$(basename "$window")

# A file where the data directory must be.
touch "$work/plik"
status=0
(cd "$work" && XDG_DATA_HOME=$work/plik BORVANTEL_DRIVER_REPORT=$work/report QT_PLUGIN_PATH=$plugins \
  QT_QPA_PLATFORM=offscreen timeout 60 "$installed" -style borvantel-driver 2>"$work/stderr") || status=$?
((status == 1)) || fail "the window ended with status $status, not 1"
# shellcheck disable=SC1111  # „…” are the quotation marks the program prints
grep -qF "„$work/plik/borvantel”: element ścieżki nie jest katalogiem" "$work/report" ||
  fail "no message naming the directory and the reason"
# shellcheck disable=SC1111  # „…” are the quotation marks the program prints
grep -qF "„$work/plik/borvantel”" "$work/stderr" || fail "standard error does not name the directory"
! grep -q '^closing' "$work/report" || fail "the window opened"
rm "$work/report"

# The first run, driven through the demo.
XDG_DATA_HOME=$work/data "$here/window_driven.sh" "$installed" "$work/usr/bin/$(basename "$cli")" "$demo" \
  "$plugins" "$work/data/borvantel"
[[ $(stat -c %a "$work/data/borvantel") == 700 ]] || fail "the data directory is not private to the user"
for f in kategorie.txt predef.txt; do
  cmp -s "$work/usr/share/borvantel/$f" "$demo/program/$f" || fail "the default $f changed"
done
! cmp -s "$work/data/borvantel/predef.txt" "$demo/program/predef.txt" || fail "the saved assignments are not there"
echo "window program files: ok"
