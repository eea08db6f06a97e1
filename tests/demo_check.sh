#!/usr/bin/env bash
# borvantel-cli check on a fresh copy of the demo, held against the
# conversion: after the conversion it reports exactly the lines the
# conversion warned about; after undo exactly what it reported before the
# conversion (the demo's calls of include files that carried their category
# already, which the conversion mends). check itself changes and writes
# nothing, and tells findings (3) from a failure (1).
#
# Usage: demo_check.sh CLI DEMO_DIR
set -euo pipefail
cli=$1
demo=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$demo/trasa" "$demo/program" "$work/"
run() { "$cli" --program-dir "$work/program" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# shellcheck source-path=SCRIPTDIR source=demo_assignment.sh
. "$(dirname "${BASH_SOURCE[0]}")/demo_assignment.sh"
base=$work/trasa

# Every entry of the base with its size and checksum.
snapshot() { (cd "$base" && find . -type f -exec md5sum {} + | LC_ALL=C sort && find . | LC_ALL=C sort); }

# check's findings, sorted; its exit status must be $1.
check() {
  local status=0 out
  out=$(run check "$base" 2>"$work/check.err") || status=$?
  [[ $status == "$1" ]] || fail "check exited with $status, not $1: $(cat "$work/check.err")"
  grep -q '^Sprawdzono plików: [0-9]*, dyrektyw include: [0-9]*, uwag: [0-9]*\.$' "$work/check.err" ||
    fail "no summary on standard error: $(cat "$work/check.err")"
  LC_ALL=C sort <<<"$out"
}

snap=$(snapshot)
before=$(check 3)
[[ $(snapshot) == "$snap" ]] || fail "check changed or wrote a file"
[[ $(wc -l <<<"$before") == 3 ]] || fail "the demo should show its three calls of categorised files: $before"

run start "$base" >/dev/null 2>&1
assign_demo "$base"

run convert --dry-run "$base" >/dev/null 2>"$work/dry.err"
run convert "$base" >/dev/null 2>"$work/convert.err" || fail "convert failed: $(cat "$work/convert.err")"
warned=$(grep -E '^scenery\\.*:[0-9]+: ' "$work/convert.err" | LC_ALL=C sort || true)
[[ -n $warned ]] || fail "the conversion warned about nothing: $(cat "$work/convert.err")"
grep -q 'trasa.scn:11: .*linie\\rozjazd_zwyczajny.inc' <<<"$warned" || fail "no warning for the line without parameters"
[[ $(grep -E '^scenery\\.*:[0-9]+: ' "$work/dry.err" | LC_ALL=C sort) == "$warned" ]] ||
  fail "the dry run warned otherwise than the conversion"
grep -q "Ostrzeżenia: $(wc -l <<<"$warned")\.\$" "$work/convert.err" || fail "no count in the summary"

after=$(check 3)
[[ $after == "$warned" ]] || fail "after the conversion check reports"$'\n'"$after"$'\n'"not the warnings"$'\n'"$warned"

run undo "$base" >/dev/null 2>&1
[[ $(check 3) == "$before" ]] || fail "after undo check reports otherwise than before the conversion"

status=0
run check "$work/brak" >/dev/null 2>&1 || status=$?
[[ $status == 1 ]] || fail "a check that cannot run exited with $status, not 1"
echo "demo check: ok ($(wc -l <<<"$warned") warning, $(wc -l <<<"$before") findings before)"
