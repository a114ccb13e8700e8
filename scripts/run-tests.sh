#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Takes the same BUILD_DIR and SANITIZER variables as build.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/start-journald.sh" || echo "note: no systemd journal; the journal tests will be skipped"
BUILD_DIR=$build_dir "$root/scripts/build.sh" "$@"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
