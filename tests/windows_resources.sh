#!/usr/bin/env bash
# A Windows program's resources read back from the built file (with
# icoutils' wrestool and icotool): the icon in every size from 16 to 256
# pixels, each field of the version information, and a manifest that asks
# for no administrator and for per-monitor DPI awareness.
#
# Usage: windows_resources.sh EXE VERSION DESCRIPTION
set -euo pipefail
exe=$1
version=$2
description=$3
name=$(basename "$exe" .exe)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL ($name): $*" >&2; exit 1; }

# The icon group IDI_ICON1 (the one Explorer shows and Qt gives the windows).
wrestool -x --type=14 --name=IDI_ICON1 "$exe" >"$work/icon.ico" || fail "no icon IDI_ICON1"
sizes=$(icotool -l "$work/icon.ico" | sed -n 's/.*--width=\([0-9]*\) --height=\1 .*/\1/p' | sort -n | tr '\n' ' ')
[[ $sizes == "16 20 24 32 40 48 64 128 256 " ]] || fail "icon sizes: $sizes"

# The version information: its strings (UTF-16), each key followed by its
# value, and the numbers of its fixed part.
wrestool -x --raw --type=16 "$exe" >"$work/version" || fail "no version information"
iconv -f UTF-16LE -t UTF-8 -c <"$work/version" | tr '\0' '\n' >"$work/strings"
value() { awk -v key="$1" 'found && NF { print; exit } $0 ~ key "$" { found = 1 }' "$work/strings"; }
expect() { [[ $(value "$1") == "$2" ]] || fail "$1 is '$(value "$1")', not '$2'"; }
expect CompanyName Borvantel
expect ProductName Borvantel
expect FileDescription "$description"
expect FileVersion "$version"
expect ProductVersion "$version"
expect InternalName "$name"
expect OriginalFilename "$name.exe"
expect LegalCopyright "© 2026 Borvantel maintainers"
grep -q '041504B0$' "$work/strings" || fail "the strings are not Polish (0415) and Unicode (04B0)"
# VS_FIXEDFILEINFO: the signature FEEF04BD, the structure's version, then
# the file's and the product's versions (each two 32-bit words, little end).
hex=$(od -An -v -tx1 "$work/version" | tr -d ' \n')
fixed=${hex#*bd04effe}
[[ $fixed != "$hex" ]] || fail "no fixed version information"
word() { local w=${fixed:$((8 * $1)):8}; echo $((16#${w:6:2}${w:4:2}${w:2:2}${w:0:2})); }
IFS=. read -r major minor patch <<<"$version"
numbers="$((major << 16 | minor)) $((${patch:-0} << 16))"
[[ "$(word 1) $(word 2)" == "$numbers" ]] || fail "file version $(word 1) $(word 2), not $numbers"
[[ "$(word 3) $(word 4)" == "$numbers" ]] || fail "product version $(word 3) $(word 4), not $numbers"

# The manifest: as the user, and per-monitor DPI awareness as Qt wants it.
wrestool -x --raw --type=24 --name=1 "$exe" >"$work/manifest" || fail "no manifest"
grep -q 'requestedExecutionLevel level="asInvoker"' "$work/manifest" || fail "the manifest asks for other rights"
grep -q '<dpiAwareness[^>]*>PerMonitorV2</dpiAwareness>' "$work/manifest" || fail "no per-monitor DPI awareness"
grep -q "version=\"$major.$minor.${patch:-0}.0\"" "$work/manifest" || fail "the manifest's version is another"
echo "resources of $name.exe: ok (icon $sizes; version $version)"
