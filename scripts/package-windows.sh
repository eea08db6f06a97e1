#!/usr/bin/env bash
# Builds, from a Windows build with the window (BORVANTEL_QT_WINDOWS set):
#   dist/borvantel-VERSION-windows-x86_64.zip, a folder a Windows user
#     unpacks and runs, with nothing to install;
#   dist/borvantel-VERSION-windows-x86_64-setup.exe, the installer of the
#     same files for one user (packaging/windows/borvantel.nsi, makensis).
#
# Usage: scripts/package-windows.sh [BUILD_DIR] [OUT_DIR]
#   BUILD_DIR defaults to build-win, OUT_DIR to dist (both in the repository).
# Prints the zip's path, then the installer's, on the last two lines of
# standard output.
#
# What goes in, beside the two programs: every DLL they and the shipped Qt
# plugins import that is not part of Windows (found by walking the imports
# with objdump, so a new dependency cannot be forgotten), the platform and
# style plugins, Qt's Polish translation, the program files a first run reads (kategorie.txt,
# predef.txt), the demo scenery, a short Polish README and the licence texts.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build-win}" && pwd)
out=${2:-$root/dist}
say() { echo "package-windows: $*" >&2; }

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
qt=$(cache_value BORVANTEL_QT_WINDOWS)
objdump=$(cache_value CMAKE_OBJDUMP)
strip=$(cache_value CMAKE_STRIP)
# The cross compiler (named by the toolchain file, so not in the cache) sits
# beside its objdump: it knows where its runtime DLLs are.
compiler=${objdump%objdump}g++-posix
[[ -x $compiler ]] || compiler=${objdump%objdump}g++
if [[ -z $qt || ! -f $build/src/borvantel.exe || ! -f $build/src/borvantel-cli.exe ]]; then
  say "$build holds no Windows build with the window (configure it with -DBORVANTEL_QT_WINDOWS=...)"
  exit 1
fi

name=borvantel-$version-windows-x86_64
stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/licencje" "$out"

install -m 644 "$build/src/borvantel.exe" "$build/src/borvantel-cli.exe" "$stage/"
# Plugins: the real screen, the offscreen one (for scripted runs without a
# display) and the native look of Windows 10 and 11.
install -m 644 "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$stage/platforms/"
install -m 644 "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
# Qt's own texts in Polish (the buttons of a question): the translation of the
# same Qt version, which Debian ships for every platform.
mkdir -p "$stage/translations"
install -m 644 /usr/share/qt6/translations/qtbase_pl.qm "$stage/translations/"

# Where a DLL that is not Windows' own comes from: Qt, or the compiler's
# runtime (libstdc++, libgcc, winpthreads).
runtime_dirs=("$qt/bin")
for dll in libstdc++-6.dll libwinpthread-1.dll; do
  runtime_dirs+=("$(dirname "$("$compiler" -print-file-name=$dll)")")
done
find_dll() {
  local dir
  for dir in "${runtime_dirs[@]}"; do
    [[ -f $dir/$1 ]] && { echo "$dir/$1"; return 0; }
  done
  return 1
}
imports() { "$objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }

# Walks the imports until nothing new turns up; a DLL found in neither place
# is taken to be Windows' own (the zip's test checks that against a list).
queue=("$stage"/*.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll)
declare -A shipped=()
while ((${#queue[@]} > 0)); do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    key=${dll,,}
    [[ -n ${shipped[$key]:-} ]] && continue
    if source=$(find_dll "$dll"); then
      shipped[$key]=1
      install -m 644 "$source" "$stage/$dll"
      queue+=("$stage/$dll")
    fi
  done < <(imports "$file")
done
"$strip" --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/platforms/*.dll "$stage"/styles/*.dll

# What a first run reads beside the programs, and a scenery to try them on.
crlf() { sed 's/$/\r/'; }
cp "$root/demo/program/kategorie.txt" "$root/demo/program/predef.txt" "$stage/"
mkdir -p "$stage/przyklad"
cp -R "$root/demo/trasa" "$stage/przyklad/"
# UTF-8 with a byte order mark, CR LF: Notepad shows the Polish letters.
{ printf '\xef\xbb\xbf'; crlf <"$root/packaging/windows/CZYTAJ.txt"; } >"$stage/CZYTAJ.txt"

# The licences of what is shipped: Qt and the libraries bundled in it (as
# Debian's source package records them), and the compiler's runtime.
cp "$qt"/licenses/*.txt "$stage/licencje/"
crlf <"$qt/licenses/debian-copyright" >"$stage/licencje/qt6-base-debian-copyright.txt"
crlf </usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright >"$stage/licencje/libstdc++-libgcc-copyright.txt"
crlf </usr/share/doc/mingw-w64-x86-64-dev/copyright >"$stage/licencje/winpthreads-copyright.txt"
crlf </usr/share/doc/qt6-translations-l10n/copyright >"$stage/licencje/qt6-translations-debian-copyright.txt"
{
  echo "Qt $(cat "$qt/.source-version") (Qt Core, Gui, Widgets), LGPL-3.0-only: the Qt6*.dll files and the"
  echo "plugins in platforms\\ and styles\\ may be replaced by your own build of the same Qt version."
  echo "Source: Debian's source package qt6-base, version $(cat "$qt/.source-version")"
  echo "(apt-get source qt6-base=$(cat "$qt/.source-version"), or https://sources.debian.org/src/qt6-base/),"
  echo "built unchanged by scripts/build-qt-windows.sh in Borvantel's sources."
} | crlf >"$stage/licencje/CZYTAJ-licencje.txt"

zip=$out/$name.zip
rm -f "$zip"
(cd "$build/package" && cmake -E tar cf "$zip" --format=zip "$name")
say "$zip: $(du -k "$zip" | cut -f1) KiB, $(find "$stage" -type f | wc -l) files"

# The installed layout: the programs in bin\, the defaults of the program
# files in share\borvantel\, where the programs look for them beside bin\
# (so that they keep the user's own in %APPDATA%\borvantel).
installed=$build/package/installed
mkdir -p "$installed/bin" "$installed/share/borvantel"
cp -R "$stage"/*.exe "$stage"/*.dll "$stage/platforms" "$stage/styles" "$stage/translations" "$installed/bin/"
cp "$stage/kategorie.txt" "$stage/predef.txt" "$installed/share/borvantel/"
cp -R "$stage/przyklad" "$stage/licencje" "$installed/"
{ printf '\xef\xbb\xbf'; crlf <"$root/packaging/windows/CZYTAJ-instalacja.txt"; } >"$installed/CZYTAJ.txt"
setup=$out/$name-setup.exe
IFS=. read -r major minor patch <<<"$version"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION4="$major.${minor:-0}.${patch:-0}.0" \
  -DSTAGE="$installed" -DICON="$build/src/borvantel.ico" -DOUTFILE="$setup" \
  "$root/packaging/windows/borvantel.nsi" >&2
say "$setup: $(du -k "$setup" | cut -f1) KiB"
echo "$zip"
echo "$setup"
