#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Borvantel need.
# Runs apt-get as root, through sudo otherwise. Does nothing when every
# package is already installed, so it is cheap to call before every build.
set -euo pipefail

packages=(
  build-essential  # C++20 compiler and linker
  cmake            # build configuration
  ninja-build      # build tool
  pkg-config       # library lookup during configuration
  libicu-dev       # Polish collation of the lists; checks the Windows-1250 tables
  libgtest-dev     # tests
  googletest       # GoogleTest's sources, cross-built for the Windows tests
  libgmock-dev     # tests
  qt6-base-dev     # the window (Qt 6 Widgets) and its tests (Qt Test)
  qt6-translations-l10n  # Qt's own texts in Polish (the buttons of a question)
  fonts-liberation2  # a font as wide as the window's design font, so captions fit
  clang              # the fuzz targets (libFuzzer)
  libclang-rt-14-dev # libFuzzer and the sanitizers' runtime for clang
  g++-mingw-w64-x86-64-posix  # the Windows build (MinGW-w64 cross compiler)
  wine64             # runs the Windows tests and the demo on Linux
  wine               # Wine's launcher scripts and wineserver
  patch              # applies borvantel-cli convert --diff in its test
  dpkg-dev           # the Debian package: dpkg-shlibdeps (Depends), dpkg-parsechangelog
  librsvg2-bin       # the package's PNG icons, rendered from the SVG (rsvg-convert)
  icoutils           # the Windows programs' icon (icotool), read back in a test (wrestool)
  nsis               # the Windows installer (makensis)
  desktop-file-utils # checks the desktop entry (desktop-file-validate)
  appstream          # checks the AppStream metadata (appstreamcli validate)
  lintian            # checks the package
  man-db             # reads the manual pages in their test, as lintian does
  shellcheck         # checks the shell scripts (scripts/, tests/, .ci/run) before the builds
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: not root and sudo is missing; install as root: apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
