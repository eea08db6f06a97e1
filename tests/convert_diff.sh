#!/usr/bin/env bash
# convert --diff held against the conversion itself, on a copy of the demo
# and on a random tree: the diff, applied with patch -p1 (and git apply where
# git is installed) to a copy, gives byte for byte the files that convert
# gives; --diff changes nothing in the tree; without a terminal it writes no
# escape sequence. Usage: convert_diff.sh CLI DEMO [wine]. The random tree's
# seed is printed on failure; BORVANTEL_SEED=N repeats it.
set -euo pipefail
cli=$1
demo=$2
emulated=${3:-}
seed=${BORVANTEL_SEED:-$((RANDOM * 32768 + RANDOM))}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
where=setup
fail() { echo "FAIL ($where; random tree seed $seed): $*" >&2; exit 1; }
command -v patch >/dev/null || fail "patch is not installed (scripts/install-deps.sh installs it)"

# Every entry with its kind, size, time and mode, and every file's checksum.
snapshot() {
  (cd "$1" && find . -printf '%y %p %s %T@ %m\n' | LC_ALL=C sort && find . -type f -exec md5sum {} + | LC_ALL=C sort)
}

# $1: the base directory after start and assignment; $2: its program directory.
check_tree() {
  local base=$1 prog=$2 copy=$work/$where.patched
  cp -a "$base" "$copy"
  local before
  before=$(snapshot "$base")
  "$cli" --program-dir "$prog" convert --diff "$base" >"$work/$where.patch" 2>"$work/$where.err" ||
    fail "convert --diff failed: $(cat "$work/$where.err")"
  [[ $(snapshot "$base") == "$before" ]] || fail "convert --diff changed the tree"
  grep -q 'diff --git a/scenery/' "$work/$where.patch" || fail "no diff printed"
  # Every line of the diff begins with its own mark: one beginning with ESC
  # would be colour (the files' own bytes may hold ESC anywhere else).
  ! grep -qa $'^\033' "$work/$where.patch" || fail "colour written to a file"
  [[ $where != demo ]] || ! grep -qa $'\033' "$work/$where.patch" || fail "an escape sequence written to a file"
  grep -q '^Do przerobienia (nic nie zmieniono): pliki \*\.inc: [1-9]' "$work/$where.err" ||
    fail "no counts on standard error: $(cat "$work/$where.err")"

  (cd "$copy" && patch -p1 --batch --fuzz=0 --no-backup-if-mismatch --quiet <"$work/$where.patch") ||
    fail "patch -p1 refused the diff"
  if command -v git >/dev/null; then
    cp -a "$base" "$work/$where.git"
    # Outside any repository, so that git apply works as patch does.
    (cd "$work/$where.git" && GIT_CEILING_DIRECTORIES=$work git apply --whitespace=nowarn "$work/$where.patch") ||
      fail "git apply refused the diff"
  fi

  "$cli" --program-dir "$prog" convert "$base" >/dev/null 2>"$work/$where.err" ||
    fail "convert failed: $(cat "$work/$where.err")"
  diff -r --no-dereference "$base/scenery" "$copy/scenery" >&2 || fail "the patched copy differs from the converted tree"
  if [[ -d $work/$where.git ]]; then
    diff -r --no-dereference "$base/scenery" "$work/$where.git/scenery" >&2 ||
      fail "the copy patched by git apply differs from the converted tree"
  fi
}

# ----------------------------------------------------------------- the demo
where=demo
mkdir "$work/demo"
cp -r "$demo/program" "$work/demo/"
prog=$work/demo/program
run() { "$cli" --program-dir "$prog" "$@"; }
# A copy of the demo at $1 after start and the assignment of every file, as
# demo_end_to_end.sh does it.
# shellcheck source-path=SCRIPTDIR source=demo_assignment.sh
. "$(dirname "${BASH_SOURCE[0]}")/demo_assignment.sh"
demo_copy() {
  cp -r "$demo/trasa" "$1"
  run start "$1" >/dev/null 2>&1
  assign_demo "$1"
}
demo_copy "$work/demo/trasa"
check_tree "$work/demo/trasa" "$prog"

# A terminal (Linux only: a pty under Wine is no console) gets decoded,
# coloured text, without colour where NO_COLOR is set.
if [[ -z $emulated ]] && command -v script >/dev/null; then
  demo_copy "$work/demo/tty"
  shown() { script -qec "$(printf '%q ' "$@" "$cli" --program-dir "$prog" convert --diff "$work/demo/tty")" /dev/null; }
  on_tty=$(shown env -u NO_COLOR)
  [[ $on_tty == *$'\033[31m-'* && $on_tty == *'przęsło'* ]] || fail "no colour or no UTF-8 on a terminal"
  on_tty=$(shown env NO_COLOR=1)
  [[ $on_tty != *$'\033'* && $on_tty == *'przęsło'* ]] || fail "colour despite NO_COLOR"
fi

# ------------------------------------------------------------ a random tree
where=random
RANDOM=$seed
base=$work/random/trasa
prog=$work/random/program
mkdir -p "$prog" "$base/scenery"
# Categories, one with Polish letters (Windows-1250 in the file).
printf 'TORY\r\nMOSTY\r\nDROGI\r\n\243\245KI\r\n' >"$prog/kategorie.txt"
: >"$prog/predef.txt"
categories=(TORY MOSTY DROGI ŁĄKI tory)
ends=('\r\n' '\n' '\r' '\r\n' '\r\n')
polish=('\271' '\352' '\263' '\363' '\234' '\277' '\237' '\346' '\361' '\245' '\312' '\243' '\323' '\214' '\257')
dirs=(d0 d1 d1/d2 'stare linie' '')
includes=()

# A line of random content (printf %b escapes) in $line.
random_line() {
  line=''
  local k
  for ((k = RANDOM % 9; k > 0; k--)); do
    case $((RANDOM % 8)) in
      0 | 1) line+="(p$((RANDOM % 8)))" ;;
      2) line+=${polish[RANDOM % ${#polish[@]}]} ;;
      3) line+=' ' ;;
      4) line+='\t' ;;
      5) line+=$(printf '\\%03o' $((RANDOM % 256))) ;;  # any byte, NUL, CR and LF too
      6) line+="p$((RANDOM % 9))" ;;
      7) line+='// ' ;;
    esac
  done
}
random_end() { printf '%s' "${ends[RANDOM % ${#ends[@]}]}"; }

for dir in "${dirs[@]}"; do
  mkdir -p "$base/scenery/$dir"
  for ((f = 0; f < 6; f++)); do
    name=${dir:+$dir/}i$f.inc
    includes+=("$name")
    text=''
    ((RANDOM % 5 == 0)) && text+="//\$infotype: ${categories[RANDOM % 3]}$(random_end)"
    for ((n = RANDOM % 25; n > 0; n--)); do
      random_line
      text+=$line
      ((n > 1 || RANDOM % 3 != 0)) && text+=$(random_end)
    done
    printf '%b' "$text" >"$base/scenery/$name"
  done
done
sceneries=(trasa.scn d0/a.scm d1/b.ctr 'd1/widok 2.scn' 'stare linie/c.scn' d1/d2/e.SCN)
for name in "${sceneries[@]}"; do
  text=''
  for ((n = RANDOM % 40 + 1; n > 0; n--)); do
    target=${includes[RANDOM % ${#includes[@]}]}
    ((RANDOM % 2)) && target=${target//\//\\\\}
    case $((RANDOM % 6)) in
      0 | 1 | 2) text+="include $target $((RANDOM % 9)) 0.5 end" ;;
      3) text+="INCLUDE\\t$target;1;2;3" ;;
      4) text+="//include $target 1 2 3" ;;
      5) random_line && text+=$line ;;
    esac
    text+=$(random_end)
  done
  printf '%b' "$text" >"$base/scenery/$name"
done

run() { "$cli" --program-dir "$prog" "$@"; }
run start "$base" >/dev/null 2>&1 || fail "start failed"
for dir in d0 d1 'd1\d2' ''; do
  run assign-dir "$base" "${dir:+$dir\\}" "${categories[RANDOM % ${#categories[@]}]}" >/dev/null 2>&1 || true
done
[[ -z $(run pending "$base") ]] || fail "files still wait for a category"
check_tree "$base" "$prog"
echo "convert --diff: ok (demo and random tree, seed $seed)"
