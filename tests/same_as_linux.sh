#!/usr/bin/env bash
# Two builds, one demo: the same commands on two fresh copies of the demo must
# leave byte-identical scenery trees, working files and predef.txt, and print
# the same lists and messages. The walk ends with clean: the working files
# hold full paths, which differ ("/" against a drive letter and "\").
set -euo pipefail
linux_cli=$1
other_cli=$2
demo=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# shellcheck disable=SC1003  # 'linie\' is a directory as the tool names it, backslash and all
walk() {
  local cli=$1 dir=$2
  run() { "$cli" --program-dir "$dir/program" "$@"; }
  {
    echo "== start"; run start "$dir/trasa" 2>&1
    echo "== assign-dir drzewa"; run assign-dir "$dir/trasa" 'drzewa\' DRZEWA 2>&1
    echo "== assign"; run assign "$dir/trasa" 'linie\koziol_oporowy.inc' TORY 2>&1
    echo "== add-category"; run add-category 'Żółć' 2>&1
    echo "== assign-dir linie"; run assign-dir "$dir/trasa" 'linie\' 'ŻÓŁĆ' 2>&1
    echo "== assign-dir stare"; run assign-dir "$dir/trasa" 'linie\stare' BRAK_DEFINICJI 2>&1
    echo "== convert too early"; run convert "$dir/trasa" 2>&1 && echo "exit 0" || echo "exit $?"
    echo "== pending"; run pending "$dir/trasa" 2>&1
    echo "== assign-dir rest"; run assign-dir "$dir/trasa" 'stacje' BRAK_DEFINICJI 2>&1
    run assign-dir "$dir/trasa" '' BRAK_DEFINICJI 2>&1
    echo "== save"; run save "$dir/trasa" 2>&1
    echo "== convert"; run convert "$dir/trasa" 2>&1
    echo "== second start"; run start "$dir/trasa" 2>&1
    echo "== undo"; run undo "$dir/trasa" 2>&1
    echo "== clean"; run clean "$dir/trasa" 2>&1
  } >"$dir.out"
}

for side in linux other; do
  mkdir -p "$work/$side"
  cp -r "$demo/trasa" "$demo/program" "$work/$side/"
done
walk "$linux_cli" "$work/linux"
walk "$other_cli" "$work/other"

diff "$work/linux.out" "$work/other.out" || fail "the two builds printed different output"
diff -r -x .borvantel-undo "$work/linux" "$work/other" || fail "the two builds left different files"
[[ $(grep -c . "$work/linux.out") -gt 40 ]] || fail "the walk printed too little: $(cat "$work/linux.out")"
grep -q 'Przywrócono pliki sprzed konwersji' "$work/linux.out" || fail "undo did not run"
diff -r "$demo/trasa/scenery" "$work/other/trasa/scenery" || fail "undo did not restore the demo"
echo "same as linux: ok"
