#!/usr/bin/env bash
# Runs one DetectToiletInfo 100,000 times in one process (a tenth of the runs against a service
# that never answers), twice: in the plain build, where resident memory must stay flat after the
# warm-up, and in the AddressSanitizer build, where the heap in use must stay flat and
# LeakSanitizer must find no leak at exit. Either run also fails when a run ends otherwise than
# its answer dictates. The program prints the memory figures.
#   PLAIN_BUILD_DIR  plain build directory (default: build, which .ci/run's first step builds)
#   ASAN_BUILD_DIR   ASan build directory (default: build-asan, which its ASan step builds)
# Arguments go to the program: --runs=N --warmup=N --tolerance-kib=N.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
plain_dir=${PLAIN_BUILD_DIR:-$root/build}
asan_dir=${ASAN_BUILD_DIR:-$root/build-asan}
program=kestrava_arm_behavior_tree/test/stress/detect_toilet_info_long_run

build() {
  cmake -S "$root/standalone" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAVA_SANITIZER="$2" \
    >/dev/null
  cmake --build "$1" --target detect_toilet_info_long_run
}

"$root/scripts/install-deps.sh"
build "$plain_dir" ""
build "$asan_dir" address

export SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
echo "=== plain build: resident memory ==="
"$plain_dir/$program" "$@"
echo "=== AddressSanitizer build: heap in use, leaks at exit ==="
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} "$asan_dir/$program" "$@"
