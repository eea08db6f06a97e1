#!/usr/bin/env bash
# Builds dist/borvantel_VERSION_ARCH.deb from a Linux release build: both
# programs, the default program files (/usr/share/borvantel), the desktop
# entry, the icon (the PNG sizes of the hicolor theme rendered here from its
# SVG), the AppStream record, the manual pages, the copyright and the
# changelog. Depends is what dpkg-shlibdeps finds the programs need.
#
# Usage: scripts/package-deb.sh [BUILD_DIR] [OUT_DIR]
#   BUILD_DIR defaults to build-release (configured and built first where it
#   is missing, as on a clean clone; brought up to date otherwise), OUT_DIR to
#   dist (both in the repository).
# Prints the package's path on the last line of standard output.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-release}
out=${2:-$root/dist}
say() { echo "package-deb: $*" >&2; }
fail() { say "$*"; exit 1; }

"$root/scripts/install-deps.sh" >&2
if [[ -f $build/CMakeCache.txt ]]; then
  cmake --build "$build" --parallel "${JOBS:-2}" >&2
else
  "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
build=$(cd "$build" && pwd)

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache_value CMAKE_PROJECT_VERSION)
[[ $(cache_value CMAKE_BUILD_TYPE) =~ ^(Release|RelWithDebInfo)$ ]] ||
  fail "$build is a $(cache_value CMAKE_BUILD_TYPE) build; the package takes Release or RelWithDebInfo"
[[ $(cache_value BORVANTEL_SANITIZE) != ON && -z $(cache_value CMAKE_TOOLCHAIN_FILE) ]] ||
  fail "$build is a sanitizer or cross build"
[[ $(cache_value BORVANTEL_WINDOW) == ON ]] || fail "$build has no window (BORVANTEL_WINDOW=OFF)"

packaging=$root/packaging/linux
changelog_version=$(dpkg-parsechangelog -l "$packaging/changelog" -S Version)
[[ $changelog_version == "$version" ]] ||
  fail "packaging/linux/changelog's newest entry is $changelog_version, the project's version $version"
# Every file gets the time of the newest changelog entry: the same sources
# give the same package.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$packaging/changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

arch=$(dpkg --print-architecture)
name=borvantel_${version}_${arch}
work=$build/deb
stage=$work/$name
rm -rf "$work"
mkdir -p "$stage/DEBIAN" "$out"
umask 022

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
# As dh_strip does: the symbols stay in the build tree.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*

id=pl.borvantel.Borvantel
icons=$stage/usr/share/icons/hicolor
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "$icons/${size}x$size/apps"
  rsvg-convert --width "$size" --height "$size" "$icons/scalable/apps/$id.svg" -o "$icons/${size}x$size/apps/$id.png"
done
gzip -9n "$stage"/usr/share/man/man1/*.1
doc=$stage/usr/share/doc/borvantel
mkdir -p "$doc"
install -m 644 "$packaging/copyright" "$doc/copyright"
gzip -9n -c "$packaging/changelog" >"$doc/changelog.gz"
mkdir -p "$stage/usr/share/lintian/overrides"
install -m 644 "$packaging/lintian-overrides" "$stage/usr/share/lintian/overrides/borvantel"

# The desktop entry and the AppStream record as software centres read them.
desktop-file-validate "$stage/usr/share/applications/$id.desktop" >&2
appstreamcli validate --no-net --pedantic "$stage/usr/share/metainfo/$id.metainfo.xml" >&2

# dpkg-shlibdeps reads the package's name from a debian/control beside it.
mkdir -p "$work/shlibs/debian"
printf 'Source: borvantel\n\nPackage: borvantel\nArchitecture: any\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O -e"$stage/usr/bin/borvantel" -e"$stage/usr/bin/borvantel-cli" |
  sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || fail "dpkg-shlibdeps found no dependencies"

find "$stage" -type d -exec chmod 755 {} +
find "$stage/usr" -type f -exec chmod 644 {} +
chmod 755 "$stage"/usr/bin/*
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 644 "$stage/DEBIAN/md5sums"
cat >"$stage/DEBIAN/control" <<EOF
Package: borvantel
Version: $version
Architecture: $arch
Maintainer: Borvantel maintainers <maintainers@users.noreply.c-seed-b7bf9c20.example>
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: prepare a train simulator's scenery for categorised include files
 Borvantel scans the scenery tree of a train simulator, finds the include
 files (*.inc) that still need a category, assigns categories automatically
 from file-name patterns (predef.txt) and by hand from a category list
 (kategorie.txt), and converts the tree in place, crash-safe and with undo.
 .
 The package holds the window (borvantel, in Polish) and the command-line
 program borvantel-cli. The program files live in the user's data directory
 (~/.local/share/borvantel), filled on first use from /usr/share/borvantel.
EOF
chmod 644 "$stage/DEBIAN/control"
find "$stage" -newermt "@$SOURCE_DATE_EPOCH" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +

deb=$out/$name.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
say "$deb: $(du -k "$deb" | cut -f1) KiB, installed $(sed -n 's/^Installed-Size: //p' "$stage/DEBIAN/control") KiB"
say "Depends: $depends"
echo "$deb"
