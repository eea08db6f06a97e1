#!/usr/bin/env bash
# Installs the dependencies, builds Borvantel and opens the window on a fresh
# copy of the demo scenery in a new temporary directory (demo/ itself is never
# touched). Without a display it walks through the same run with borvantel-cli.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$root/build-release

"$root/scripts/install-deps.sh"

echo "Building in $build_dir ..."
log=$(mktemp)
if ! "$root/scripts/build.sh" "$build_dir" >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "demo: build failed (full log: $log)" >&2
  exit 1
fi
rm -f "$log"
cli=$build_dir/src/borvantel-cli

copy=$(mktemp -d "${TMPDIR:-/tmp}/borvantel-demo.XXXXXX")
cp -R "$root/demo/trasa" "$root/demo/program" "$copy/"
base=$copy/trasa
program=$copy/program
window=$build_dir/src/borvantel

# Single-quoted for the shell, so "\" in directory names survives copy and paste.
q() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

echo
echo "Demo copy:  $copy"
echo "  base directory:    $base"
echo "  program directory: $program (kategorie.txt, predef.txt)"

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$window" ]]; then
  echo
  echo "Opening the window on the demo copy (the directory list starts in the base directory)."
  echo "Press Start, assign the files, save and convert; the copy is left for you to look at."
  echo "(Only one Borvantel window runs at a time: if one is open already, close it first.)"
  echo "Remove it when done: rm -r $(q "$copy")"
  cd "$base"
  exec "$window" --program-dir "$program"
fi

echo
echo "No display: showing the same run through borvantel-cli instead."
echo
echo "\$ borvantel-cli --program-dir $(q "$program") start $(q "$base")"
set +e
"$cli" --program-dir "$program" start "$base" >"$copy/start.out" 2>"$copy/start.err"
status=$?
set -e
echo "--- include files left for manual assignment (standard output):"
cat "$copy/start.out"
echo "--- summary (standard error):"
cat "$copy/start.err"
echo "--- exit status: $status"
rm -f "$copy/start.out" "$copy/start.err"
((status == 0)) || exit "$status"

if [[ -s "$base/inc_out.txt" ]]; then
  echo "--- assigned automatically from predef.txt (inc_out.txt, shown as UTF-8):"
  iconv -f WINDOWS-1250 -t UTF-8 "$base/inc_out.txt" | tr -d '\r'
fi

echo
echo "Try next (paste into bash; the working files are in the base directory):"
echo "  cli=$(q "$cli"); prog=$(q "$program"); base=$(q "$base")"
cat <<'NEXT'
  "$cli" --program-dir "$prog" categories
  "$cli" --program-dir "$prog" assign-dir "$base" 'drzewa\' DRZEWA
  "$cli" --program-dir "$prog" assign-dir "$base" 'linie\' TORY
  "$cli" --program-dir "$prog" assign-dir "$base" 'linie\stare\' TORY
  "$cli" --program-dir "$prog" assign "$base" tarcza_ostrzegawcza.inc SYGNALIZACJA_KOLEJOWA
  "$cli" --program-dir "$prog" pending "$base"
  "$cli" --program-dir "$prog" assign "$base" 'stacje\wiata_peronowa.inc' STACJE
  "$cli" --program-dir "$prog" convert --dry-run "$base"
  "$cli" --program-dir "$prog" convert "$base"
NEXT
echo "With a display, the window opens on the same copy:"
echo "  (cd $(q "$base") && $(q "$window") --program-dir $(q "$program"))"
echo "Remove the copy when done: rm -r $(q "$copy")"
