#!/usr/bin/env bash
# Cross-builds Qt 6 for 64-bit Windows (MinGW-w64) from Debian's own qt6-base
# source package, the same version as the host tools (moc, rcc, uic from
# qt6-base-dev-tools) that the build runs. Debian packages no Qt for MinGW.
#
# Usage: scripts/build-qt-windows.sh
# Prints the installed prefix on the last line of standard output; progress
# goes to standard error. The result is cached outside the checkout, in
# BORVANTEL_QT_CACHE (default /var/cache/borvantel when writable, else
# ~/.cache/borvantel), under a key made of the source package's version and
# this script's own content, so a second run costs a second. JOBS (default:
# all cores) sets the build parallelism.
#
# Shared Qt DLLs (Core, Gui, Widgets, Test) with the windows, offscreen and
# minimal platforms and the windowsvista style: under the LGPL a user can
# replace the DLLs the zip ships.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-$(nproc)}
say() { echo "build-qt-windows: $*" >&2; }

version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev-tools 2>/dev/null || true)
if [[ -z $version ]]; then
  say "qt6-base-dev-tools is not installed (run scripts/install-deps.sh)"
  exit 1
fi
script_hash=$(cat "${BASH_SOURCE[0]}" "$root/cmake/mingw-w64-x86_64.cmake" | sha256sum | cut -c1-12)
key="qt-${version//[^A-Za-z0-9.+-]/_}-mingw64-$script_hash"

if [[ -n ${BORVANTEL_QT_CACHE:-} ]]; then
  cache=$BORVANTEL_QT_CACHE
elif mkdir -p /var/cache/borvantel 2>/dev/null && [[ -w /var/cache/borvantel ]]; then
  cache=/var/cache/borvantel
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/borvantel
fi
mkdir -p "$cache"
prefix=$cache/$key

# One build at a time per cache; a second caller waits, then finds the result.
exec 9>"$cache/.lock-$key"
flock 9

if [[ -f $prefix/.complete ]]; then
  say "cached: $prefix"
  echo "$prefix"
  exit 0
fi

start=$SECONDS
work=$cache/work-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
trap 'say "failed; the work directory $work is kept for a look"' ERR

# A private apt configuration with Debian's source entries: the machine's own
# sources and lists stay as they are.
say "fetching Debian's qt6-base $version source package"
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$apt_dir/cache/archives/partial"
cat >"$apt_dir/sources.list" <<EOF
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
apt_opts=(
  -o Dir::Etc::sourcelist="$apt_dir/sources.list"
  -o Dir::Etc::sourceparts="$apt_dir/parts"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o APT::Sandbox::User=root
  -o Debug::NoLocking=1
)
apt-get "${apt_opts[@]}" -qq update
(cd "$work" && apt-get "${apt_opts[@]}" -qq source "qt6-base=$version" >/dev/null)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
if [[ -z $src || ! -f $src/CMakeLists.txt ]]; then
  say "the source package did not unpack as expected in $work"
  exit 1
fi

# OpenGL, and with it dynamicgl, is off: the window paints with the raster
# engine. Tablet events are off: Debian's source leaves out the Wintab
# headers the windows plugin would need for them. Third-party libraries come
# from the source's own bundled copies.
say "configuring in $work/build"
cmake -G Ninja -S "$src" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF \
  -DINPUT_pcre=qt -DINPUT_libpng=qt -DINPUT_freetype=qt -DINPUT_harfbuzz=qt -DINPUT_libjpeg=qt \
  >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }

say "building with $jobs jobs (about 40 minutes on two cores; full log in $work/build.log)"
# Ninja's own "[n/total]" lines, one in fifty, show the progress.
if ! cmake --build "$work/build" --parallel "$jobs" >"$work/build.log" 2>&1; then
  grep -E 'error|FAILED' "$work/build.log" | head -n 40 >&2 || true
  tail -n 20 "$work/build.log" >&2
  exit 1
fi &
builder=$!
while kill -0 "$builder" 2>/dev/null; do
  sleep 60
  line=$(grep -o '^\[[0-9]*/[0-9]*\]' "$work/build.log" | tail -n1 || true)
  say "  ${line:-starting} after $(((SECONDS - start) / 60)) min"
done
wait "$builder"

say "installing to $prefix"
cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -n 20 "$work/install.log" >&2; exit 1; }
for needed in bin/Qt6Core.dll bin/Qt6Widgets.dll plugins/platforms/qwindows.dll \
              plugins/platforms/qoffscreen.dll plugins/styles/qwindowsvistastyle.dll; do
  if [[ ! -f $prefix/$needed ]]; then
    say "the build did not install $needed"
    exit 1
  fi
done
# The licence texts travel with the DLLs into the Windows zip.
mkdir -p "$prefix/licenses"
cp "$src"/LICENSES/*.txt "$prefix/licenses/" 2>/dev/null || true
cp "$src/debian/copyright" "$prefix/licenses/debian-copyright" 2>/dev/null || true
echo "$version" >"$prefix/.source-version"
touch "$prefix/.complete"
rm -rf "$work"
say "done in $(((SECONDS - start) / 60)) min: $prefix"
echo "$prefix"
