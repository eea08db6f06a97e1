#!/usr/bin/env bash
# Regenerates src/platform/cp1250_table.inc (the Windows-1250 character and case
# tables) from ICU. Linux only: needs a C++ compiler and ICU's development
# files (pkg-config icu-uc). The result is checked in; the text tests fail
# when it no longer matches the ICU they are built with.
# Usage: scripts/gen-cp1250-table.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2046  # pkg-config's flags are meant to split
"${CXX:-c++}" -std=c++20 -Wall -Wextra -O1 -I"$root/tools" "$root/tools/gen_cp1250_table.cpp" \
  -o "$work/gen_cp1250_table" $(pkg-config --cflags --libs icu-uc)
"$work/gen_cp1250_table" >"$work/cp1250_table.inc"
mv "$work/cp1250_table.inc" "$root/src/platform/cp1250_table.inc"
echo "wrote $root/src/platform/cp1250_table.inc"
