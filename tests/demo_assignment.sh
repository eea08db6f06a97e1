# shellcheck shell=bash
# Sourced by the demo's tests: the categories of the demo as a user gives
# them, a whole directory at a time and then each file left one by one.
# The caller defines run (borvantel-cli with its program directory) and has
# run start on the base directory.

# assign_demo BASE
# shellcheck disable=SC1003  # 'linie\' is a directory as the tool names it, backslash and all
assign_demo() {
  run assign-dir "$1" 'drzewa\' DRZEWA >/dev/null
  run assign-dir "$1" 'linie\' TORY >/dev/null
  run assign-dir "$1" 'linie\stare\' TORY >/dev/null
  while IFS= read -r file; do
    run assign "$1" "$file" BRAK_DEFINICJI
  done < <(run pending "$1")
}
