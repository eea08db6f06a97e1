#!/usr/bin/env bash
# Installs the dependencies and checks the shell scripts with shellcheck
# (a finding fails the run), then builds and runs every test twice: an
# optimised build (from which the Debian package is made, checked with
# lintian, installed and tried as a new user), and a build with
# AddressSanitizer and UBSan; then builds the libFuzzer targets with clang
# and runs each briefly; then cross-builds Qt (once, then cached), the core,
# both programs and the tests for Windows and runs them, the demo, a
# comparison with the Linux build and the Windows zip and installer (dist/) under Wine.
# Exits non-zero if any build or test fails. JOBS (default 2) sets the
# build and test parallelism.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}

"$root/scripts/install-deps.sh"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()

# The shell scripts first: a finding fails the run, the builds still go on.
# (.shellcheckrc lets it follow the files the scripts source.)
echo "=== shellcheck"
shellcheck "$root"/scripts/*.sh "$root"/tests/*.sh "$root"/tests/wine_program.sh.in "$root"/.ci/run ||
  failed+=("shellcheck")

# build_and_test NAME BUILD_DIR [cmake arguments...]
build_and_test() {
  local name=$1 dir=$2 began=$SECONDS
  shift 2
  echo "=== $name: build in $dir"
  if ! "$root/scripts/build.sh" "$dir" "$@"; then
    failed+=("$name build")
    return
  fi
  echo "=== $name: tests (built in $((SECONDS - began)) s)"
  # A run without any test is a failure, not a pass.
  if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error --parallel "$jobs"; then
    failed+=("$name tests")
  fi
  echo "=== $name: $((SECONDS - began)) s in all"
}

# The Debian package from the release build (no second build), lintian on
# it, and the package installed and tried as a new user would (as root, or
# through sudo where that asks for no password).
deb_package() {
  local start=$SECONDS deb
  echo "=== deb: package"
  if ! deb=$("$root/scripts/package-deb.sh" "$root/build-release" "$root/dist" | tail -n 1); then
    failed+=("deb package")
    return
  fi
  echo "=== deb: lintian"
  # No error and no warning: a tag to accept needs an override with its
  # reason (packaging/linux/lintian-overrides) and a word in docs/debian.md.
  lintian --fail-on error,warning --display-info "$deb" || failed+=("deb lintian")
  echo "=== deb: installed, as a new user"
  local installed=("$root/tests/deb_installed.sh" "$deb" "$root/demo" "$root/build-release/tests/driver-plugins")
  if ((EUID == 0)); then
    "${installed[@]}" || failed+=("deb installed")
  elif sudo -n true 2>/dev/null; then
    sudo "${installed[@]}" || failed+=("deb installed")
  else
    echo "=== deb: installed test skipped (it installs the package and adds a user: needs root or sudo)"
  fi
  echo "=== deb: took $((SECONDS - start)) s"
}

start=$SECONDS
build_and_test release "$root/build-release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [[ " ${failed[*]} " != *" release build "* ]]; then
  deb_package
fi
build_and_test asan "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DBORVANTEL_SANITIZE=ON -DBORVANTEL_BENCH=OFF
CC=clang CXX=clang++ build_and_test fuzz "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBORVANTEL_FUZZ=ON \
  -DBORVANTEL_SANITIZE=ON -DBORVANTEL_TESTS=OFF -DBORVANTEL_BENCH=OFF -DBORVANTEL_WINDOW=OFF

# Windows under Wine: console only, no Mono or Gecko prompts, one wineserver
# kept alive for all the test processes.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=wineserver
mkdir -p "${WINEPREFIX:-$HOME/.wine}"  # the server starts only in an existing prefix
"$wineserver" -p || true
# Wine's own services start with the first program; they must not start under
# a test, whose output they would keep open (CTest would wait for them until
# its timeout). Started here, their output goes nowhere.
wine64=/usr/lib/wine/wine64
[[ -x $wine64 ]] || wine64=wine
"$wine64" wineboot.exe -i </dev/null >/dev/null 2>&1 || true
# Qt for Windows: cross-built from Debian's source package on the first run
# (about 25 minutes on two cores), then taken from its cache in seconds.
echo "=== Qt for Windows"
if qt_windows=$("$root/scripts/build-qt-windows.sh" | tail -n 1); then
  window_args=(-DBORVANTEL_QT_WINDOWS="$qt_windows")
else
  failed+=("qt for windows")
  window_args=()
fi
build_and_test windows "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBORVANTEL_LINUX_CLI="$root/build-release/src/borvantel-cli" "${window_args[@]}"
"$wineserver" -k || true

echo "=== took $((SECONDS - start)) s"
if ((${#failed[@]} > 0)); then
  echo "=== FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "=== all builds and tests passed"
