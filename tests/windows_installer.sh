#!/usr/bin/env bash
# The Windows installer as a user (or an administrator deploying it) runs it,
# under Wine in a fresh prefix: a silent installation for the user, its
# files, Start-menu shortcut and "Apps and features" entry; the installed
# borvantel-cli.exe through the demo and the installed borvantel.exe driven
# through it (window_driven.sh); an upgrade over it that keeps the user's
# program files and leaves one entry; and a silent uninstallation that
# leaves nothing but the user's data directory.
#
# Usage: windows_installer.sh DIST_DIR WINE DEMO_DIR DRIVER_PLUGIN_DIR VERSION
set -euo pipefail
dist=$1 wine=$2 demo=$3 plugins=$4 version=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=$(dirname "$wine")/wineserver64
[[ -x $wineserver ]] || wineserver=$(dirname "$wine")/wineserver
[[ -x $wineserver ]] || wineserver=wineserver
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unset WINEPATH QT_PLUGIN_PATH

setups=("$dist"/borvantel-*-windows-x86_64-setup.exe)
[[ ${#setups[@]} -eq 1 && -f ${setups[0]} ]] || fail "expected one installer in $dist, found: ${setups[*]}"
setup=${setups[0]}
zips=("$dist"/borvantel-*-windows-x86_64.zip)
size=$(stat -c %s "$setup")
zip_size=$(stat -c %s "${zips[0]}")
((size * 10 <= zip_size * 11)) || fail "the installer ($size bytes) is more than 10 % larger than the zip ($zip_size)"

# A fresh prefix, its services started here (their output would keep a
# test's pipes open), and its user's folders.
mkdir -p "$WINEPREFIX"
"$wine" wineboot.exe -i </dev/null >/dev/null 2>&1
"$wineserver" -w
users=$WINEPREFIX/drive_c/users/$(id -un)
local_app=$users/AppData/Local
app_data=$users/AppData/Roaming
app=$local_app/Programs/Borvantel
menu="$app_data/Microsoft/Windows/Start Menu/Programs"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Borvantel'
listing() { (cd "$WINEPREFIX/drive_c" && find . | LC_ALL=C sort); }
before=$(listing)

install() {
  "$wine" "$setup" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
  "$wineserver" -w
}
# Wine's reg prints its "unable to find" on standard output: an absent key
# is told by the exit status alone.
entry() {
  local out
  out=$("$wine" reg query "$key" 2>/dev/null) || return 0
  tr -d '\r' <<<"$out"
}
value() { entry | awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }

# --- installed, silently, for this user
install
for f in bin/borvantel.exe bin/borvantel-cli.exe bin/Qt6Core.dll bin/platforms/qwindows.dll \
         bin/styles/qwindowsvistastyle.dll bin/translations/qtbase_pl.qm share/borvantel/kategorie.txt \
         share/borvantel/predef.txt przyklad/trasa/scenery/trasa.scn licencje/LGPL-3.0-only.txt CZYTAJ.txt \
         uninstall.exe; do
  [[ -f $app/$f ]] || fail "nothing installed at $f"
done
[[ ! -e $app/bin/kategorie.txt ]] || fail "program files beside the program: they belong in %APPDATA%"
shortcut=$menu/Borvantel.lnk
[[ -f $shortcut ]] || fail "no shortcut in the Start menu"
strings -el "$shortcut" | grep -q 'Programs\\Borvantel\\bin\\borvantel.exe' ||
  fail "the shortcut does not point at the installed program: $(strings -el "$shortcut")"
[[ $(value DisplayName) == Borvantel ]] || fail "uninstall entry: $(entry)"
[[ $(value DisplayVersion) == "$version" ]] || fail "uninstall entry's version: $(entry)"
[[ $(value DisplayIcon) == *'\Programs\Borvantel\bin\borvantel.exe,0' ]] || fail "uninstall entry's icon: $(entry)"
[[ $(value QuietUninstallString) == *'uninstall.exe" /S' ]] || fail "no silent uninstallation: $(entry)"

# --- the installed programs, with no program directory given: their files
# come to %APPDATA%\borvantel from the installed defaults
printf '#!/bin/sh\nexec %q %q "$@"\n' "$wine" "$app/bin/borvantel-cli.exe" >"$work/cli"
# shellcheck disable=SC2016  # the $ are for the script written, not for this one
printf '#!/bin/sh\n[ -n "${QT_QPA_PLATFORM:-}" ] && export WINEQT_QPA_PLATFORM="$QT_QPA_PLATFORM"\n[ -n "${QT_PLUGIN_PATH:-}" ] && export WINEQT_PLUGIN_PATH="$QT_PLUGIN_PATH"\nexec %q %q "$@"\n' \
  "$wine" "$app/bin/borvantel.exe" >"$work/window"
chmod +x "$work/cli" "$work/window"
data=$app_data/borvantel
"$here/demo_end_to_end.sh" "$work/cli" "$demo" "$data"
BORVANTEL_EXPECT_POLISH_QT=1 "$here/window_driven.sh" "$work/window" "$work/cli" "$demo" "$plugins" "$data"

# --- installed again over it: the user's program files stay, one entry
printf 'moj*.inc MOSTY\r\n' >>"$data/predef.txt"
kept=$(md5sum <"$data/predef.txt")
install
[[ $(md5sum <"$data/predef.txt") == "$kept" ]] || fail "the upgrade changed the user's predef.txt"
[[ -f $app/bin/borvantel.exe ]] || fail "the upgrade left no program"
entries=$("$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' |
  grep -ci 'Uninstall\\Borvantel' || true)
[[ $entries == 1 ]] || fail "$entries uninstall entries after the upgrade"

# --- uninstalled silently: only the user's data directory stays
"$wine" "$app/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
"$wineserver" -w
# The uninstaller ran from a copy in %TEMP%, which Windows deletes at the
# next start: start the prefix again.
"$wine" wineboot.exe -r </dev/null >/dev/null 2>&1
"$wineserver" -w
[[ ! -e $app ]] || fail "the installation is still there: $(cd "$app" && find . | head)"
[[ ! -e $shortcut ]] || fail "the shortcut is still there"
[[ -z $(entry) ]] || fail "the uninstall entry is still there"
[[ $(md5sum <"$data/predef.txt") == "$kept" ]] || fail "the uninstaller touched the user's predef.txt"
# Beside the user's data directory, what Windows keeps: the folder of
# programs installed for one user (a known folder, %LOCALAPPDATA%\Programs)
# and, in %TEMP%, the empty folder that the uninstaller's copy ran from.
left=$(comm -13 <(echo "$before") <(listing) |
  grep -vE '^[.]/users/[^/]+/(AppData/Roaming/borvantel(/|$)|AppData/Local/Programs$|Temp(/~nsu[0-9]*[.]tmp)?$)' || true)
[[ -z $left ]] || fail "left behind: $left"
echo "windows installer: ok ($((size / 1024)) KiB, the zip $((zip_size / 1024)) KiB)"
