#!/usr/bin/env bash
# The window program itself, driven through the demo as a user would (the
# style plugin in tests/driver), against borvantel-cli making the same choices
# on a second copy: the scenery trees, kategorie.txt and predef.txt must come
# out byte-identical, the preview must have shown the file, and the window
# must have told of no failure and removed its working files on closing.
#
# Usage: window_driven.sh WINDOW CLI DEMO_DIR PLUGIN_DIR [OWN_PROGRAM_DIR]
# WINDOW and CLI are commands (a wrapper that runs Wine for a Windows build).
# With BORVANTEL_EXPECT_POLISH_QT=1 in the environment, Qt's own texts (the
# buttons of a question) must be Polish.
# With OWN_PROGRAM_DIR (the directory the window finds its program files in
# by itself: beside it, or the user's data directory that its first run fills
# from the defaults) the window runs without --program-dir and that
# directory's kategorie.txt and predef.txt are compared afterwards.
set -euo pipefail
window=$1
cli=$2
demo=$3
plugins=$4
own=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; [[ -f $work/report ]] && sed 's/^/  report: /' "$work/report" >&2; exit 1; }

for side in window cli; do
  mkdir -p "$work/$side"
  cp -r "$demo/trasa" "$demo/program" "$work/$side/"
done
# Polish letters in the program directory's name: the argument must reach the
# program whole (on Windows whatever the system's ANSI code page).
mv "$work/window/program" "$work/window/program_łódź"
if [[ -n $own ]]; then
  # Those already there must be the demo's; the others come with the first run.
  for f in kategorie.txt predef.txt; do
    [[ ! -e $own/$f ]] || cmp -s "$own/$f" "$demo/program/$f" || fail "$own/$f is not the demo's"
  done
  program_args=()
  window_program=$own
else
  program_args=(--program-dir "$work/window/program_łódź")
  window_program=$work/window/program_łódź
fi

# A runtime directory of its own: one window runs per user, and a window the
# same user has open elsewhere would make this one end silently.
mkdir -m 700 "$work/runtime"
# The directory list opens on the current directory: the base.
status=0
(cd "$work/window/trasa" &&
  XDG_RUNTIME_DIR=$work/runtime BORVANTEL_DRIVER_REPORT=$work/report QT_PLUGIN_PATH=$plugins QT_QPA_PLATFORM=offscreen \
    timeout 300 "$window" "${program_args[@]}" -style borvantel-driver) || status=$?
((status == 0)) || fail "the window ended with status $status"
[[ -f $work/report ]] || fail "the driver wrote no report (was the plugin loaded?)"

field() { awk -F'\t' -v n="$1" '{ sub(/^[a-z]+ /, ""); print $n }'; }
grep -q '^closing' "$work/report" || fail "the driver did not get to closing the window"
if [[ ${BORVANTEL_EXPECT_POLISH_QT:-} == 1 ]]; then
  grep -q $'^buttons &Tak\t&Nie$' "$work/report" || fail "Qt's buttons are not in Polish"
fi
! grep -q '^message' "$work/report" || fail "the window showed a message"
grep -q $'^press Command5\ton' "$work/report" || fail "the convert button was not on"
grep -q $'^state Command5\toff' "$work/report" || fail "the convert button stayed on after converting"
preview=$(grep '^preview' "$work/report" | head -n1)
first=$(grep '^assign' "$work/report" | head -n1 | field 1)
[[ $(field 1 <<<"$preview") == "Podgląd pliku: $first" ]] || fail "preview caption: $preview"
expected=$(tr -d '\r' <"$demo/trasa/scenery/${first//\\//}" | head -n1 | iconv -f cp1250 -t utf-8)
[[ $(field 2 <<<"$preview") == "$expected" ]] || fail "preview first line: $preview (file: $expected)"
for f in inc_out.txt inc_out1.txt p_inc.txt p_scn.txt; do
  [[ ! -e $work/window/trasa/$f ]] || fail "$f left in the base directory after closing"
done

# The same choices through the command line.
run() { "$cli" --program-dir "$work/cli/program" "$@"; }
run start "$work/cli/trasa" >/dev/null 2>&1
while IFS=$'\t' read -r file category; do
  run assign "$work/cli/trasa" "$file" "$category" >/dev/null
done < <(grep '^assign' "$work/report" | sed 's/^assign //' | cut -f1,2)
run save "$work/cli/trasa" >/dev/null 2>&1
run convert "$work/cli/trasa" >/dev/null 2>&1

diff -r "$work/window/trasa/scenery" "$work/cli/trasa/scenery" >&2 || fail "the scenery trees differ"
for f in kategorie.txt predef.txt; do
  cmp "$window_program/$f" "$work/cli/program/$f" >&2 || fail "$f differs"
done
echo "window driven: ok ($(grep -c '^assign' "$work/report") files assigned, $(field 1 < <(grep '^style' "$work/report")) style)"
