#!/usr/bin/env bash
# Configures Borvantel with Ninja and builds it.
# Usage: scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
# BUILD_DIR defaults to build-release in the repository; JOBS (default 2)
# sets the build parallelism.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$root/build-release}
if (($# > 0)); then shift; fi

cmake -S "$root" -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir" --parallel "${JOBS:-2}"
