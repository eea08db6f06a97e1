#!/usr/bin/env bash
# The demo scenery end to end through borvantel-cli, on a fresh copy:
# start, assignment by directory and by file, conversion, and a second run
# that must change nothing.
#
# Usage: demo_end_to_end.sh CLI DEMO_DIR [OWN_PROGRAM_DIR]
# With OWN_PROGRAM_DIR (where the CLI finds its program files by itself, as
# an installed one does in the user's data directory) no --program-dir is
# given, and that directory must hold the demo's program files at the end.
set -euo pipefail
cli=$1
demo=$2
own=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$demo/trasa" "$demo/program" "$work/"
if [[ -n $own ]]; then
  run() { "$cli" "$@"; }
else
  run() { "$cli" --program-dir "$work/program" "$@"; }
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
# shellcheck source-path=SCRIPTDIR source=demo_assignment.sh
. "$(dirname "${BASH_SOURCE[0]}")/demo_assignment.sh"

left=$(run start "$work/trasa" 2>/dev/null)
[[ $(wc -l <<<"$left") -ge 5 ]] || fail "start left too few files for manual assignment: $left"
run convert "$work/trasa" 2>/dev/null && fail "convert ran while files wait for a category"

assign_demo "$work/trasa"
[[ -z $(run pending "$work/trasa") ]] || fail "files still pending"

changed=$(run convert "$work/trasa" 2>/dev/null)
while IFS= read -r rel; do
  [[ -f "$work/trasa/${rel//\\//}" ]] || fail "convert printed $rel, which does not exist"
done <<<"$changed"
# Every assigned include file now begins with its header (category upper-cased).
headers=0
while IFS=' ' read -r rel category; do
  expected="//\$infotype: ${category^^}"
  first=$(head -n 1 "$work/trasa/scenery/${rel//\\//}" | tr -d '\r')
  [[ $first == "$expected" ]] || fail "$rel begins with '$first', not '$expected'"
  headers=$((headers + 1))
done < <(tr -d '\r' <"$work/trasa/inc_out.txt")
((headers >= 10)) || fail "only $headers include files were assigned"
grep -q '_&type' "$work/trasa/scenery/trasa.scn" || fail "trasa.scn has no converted include line"
[[ -z $(find "$work" -name '.borvantel-??????' -o -name '.borvantel-journal' -o -name '.borvantel-undo.new') ]] ||
  fail "temporary files left behind"

# A second start and conversion find nothing to do.
before=$(cd "$work/trasa/scenery" && find . -type f -exec md5sum {} + | sort)
[[ -z $(run start "$work/trasa" 2>/dev/null) ]] || fail "second start left files to assign"
[[ -z $(run convert "$work/trasa" 2>/dev/null) ]] || fail "second convert changed files"
after=$(cd "$work/trasa/scenery" && find . -type f -exec md5sum {} + | sort)
[[ $before == "$after" ]] || fail "second run changed the tree"
if [[ -n $own ]]; then
  for f in kategorie.txt predef.txt; do
    cmp -s "$own/$f" "$demo/program/$f" || fail "$own/$f is not the demo's"
  done
fi
echo "demo end to end: ok ($(wc -l <<<"$changed") files converted)"
