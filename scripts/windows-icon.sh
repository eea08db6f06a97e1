#!/usr/bin/env bash
# Makes the programs' Windows icon from the project's SVG: one file holding
# 16 to 256 pixels, the 256 one stored as PNG, as Windows keeps its large
# icons. Run by the Windows build.
#
# Usage: scripts/windows-icon.sh SVG OUT.ico
set -euo pipefail
svg=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngs=()
for size in 16 20 24 32 40 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$work/$size.png"
  pngs+=("$work/$size.png")
done
unset 'pngs[-1]'
icotool --create --output="$work/icon.ico" "${pngs[@]}" --raw="$work/256.png"
mv "$work/icon.ico" "$out"
