#!/usr/bin/env bash
# The Windows zip as a user gets it: unpacked into an empty directory, every
# DLL that a program or plugin in it imports is either in the zip or part of
# Windows; then both programs run from there under Wine with nothing else on
# the search path: borvantel-cli.exe through the demo, and borvantel.exe
# driven through Start, the preview, the assignment of every file and the
# conversion (window_driven.sh), against the zip's own borvantel-cli.exe.
#
# Usage: windows_zip.sh DIST_DIR OBJDUMP WINE DEMO_DIR DRIVER_PLUGIN_DIR
set -euo pipefail
dist=$1 objdump=$2 wine=$3 demo=$4 plugins=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

zips=("$dist"/borvantel-*-windows-x86_64.zip)
[[ ${#zips[@]} -eq 1 && -f ${zips[0]} ]] || fail "expected one zip in $dist, found: ${zips[*]}"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "${zips[0]}")
dirs=("$work"/unpacked/*/)
((${#dirs[@]} == 1)) || fail "the zip holds more than one top folder"
app=${dirs[0]%/}
for f in borvantel.exe borvantel-cli.exe kategorie.txt predef.txt CZYTAJ.txt platforms/qwindows.dll \
         styles/qwindowsvistastyle.dll translations/qtbase_pl.qm licencje/LGPL-3.0-only.txt \
         przyklad/trasa/scenery/trasa.scn; do
  [[ -f $app/$f ]] || fail "the zip has no $f"
done

# Libraries that every Windows 10 and 11 has (api-ms-win-* are its API sets).
system='^(api-ms-win-[a-z0-9-]+|advapi32|authz|bcrypt|comctl32|comdlg32|crypt32|d3d9|d3d11|dwmapi|dwrite|dxgi|gdi32|imm32|kernel32|mpr|msvcrt|netapi32|ntdll|ole32|oleaut32|setupapi|shcore|shell32|shlwapi|user32|userenv|uxtheme|version|winmm|ws2_32|wtsapi32)[.]dll$'
declare -A shipped=()
for f in "$app"/*.dll; do shipped[$(basename "${f,,}")]=1; done
checked=0
while IFS= read -r -d '' binary; do
  while read -r dll; do
    [[ -n ${shipped[${dll,,}]:-} ]] || grep -qiE "$system" <<<"$dll" ||
      fail "${binary#"$app"/} imports $dll, which is neither in the zip nor part of Windows"
  done < <("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  checked=$((checked + 1))
done < <(find "$app" -name '*.exe' -print0 -o -name '*.dll' -print0)
echo "imports: $checked programs and libraries checked"

# Nothing but the zip on the search path: no WINEPATH, no Qt of the build.
unset WINEPATH QT_PLUGIN_PATH
export WINEDEBUG=-all
# Wine keeps QT_ variables from Windows programs; the WINEQT_ form reaches them.
# shellcheck disable=SC2016  # the $ are for the scripts written, not for this one
qt_env='[ -n "${QT_QPA_PLATFORM:-}" ] && export WINEQT_QPA_PLATFORM="$QT_QPA_PLATFORM"
[ -n "${QT_PLUGIN_PATH:-}" ] && export WINEQT_PLUGIN_PATH="$QT_PLUGIN_PATH"'
printf '#!/bin/sh\nexec %q %q "$@"\n' "$wine" "$app/borvantel-cli.exe" >"$work/cli"
printf '#!/bin/sh\n%s\nexec %q %q "$@"\n' "$qt_env" "$wine" "$app/borvantel.exe" >"$work/window"
chmod +x "$work/cli" "$work/window"

# The first run finds its program files beside the program.
expected=$( (tr -d '\r' <"$demo/program/kategorie.txt" | iconv -f cp1250 -t utf-8 | tr ' ' '_'; echo BRAK_DEFINICJI) | sort)
listed=$(cd "$app" && "$work/cli" categories | sort)
[[ $listed == "$expected" ]] || fail "categories beside the program: $listed"

"$here/demo_end_to_end.sh" "$work/cli" "$demo"
BORVANTEL_EXPECT_POLISH_QT=1 "$here/window_driven.sh" "$work/window" "$work/cli" "$demo" "$plugins" "$app"
echo "windows zip: ok ($(du -k "${zips[0]}" | cut -f1) KiB)"
