#!/usr/bin/env bash
# Configures and builds the project.
#   BUILD_DIR   build directory (default: build)
#   SANITIZER   '', 'address' (ASan+UBSan) or 'thread' (TSan)
#   BUILD_TYPE  CMake build type (default: RelWithDebInfo)
# Extra arguments are passed to CMake at configure time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

cmake -S "$root/standalone" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DKESTRAVA_SANITIZER="${SANITIZER:-}" "$@" >/dev/null
cmake --build "$build_dir"
