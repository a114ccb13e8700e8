#!/usr/bin/env bash
# Builds the benchmarks in Release and prints one table of all their results, headed by the
# machine they ran on. The table is Markdown, ready for bench/README.md.
#   BUILD_DIR  build directory (default: build-release)
# Extra arguments go to every benchmark program, e.g. --benchmark_min_time=2.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-release}
benchmarks=(bench_logging bench_detect_toilet_info)

"$root/scripts/install-deps.sh"
cmake -S "$root/standalone" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAVA_SANITIZER= \
  -DKESTRAVA_BUILD_BENCHMARKS=ON -DBUILD_TESTING=ON >/dev/null
cmake --build "$build_dir" --target "${benchmarks[@]}" >/dev/null

# The node and the facade log every step; measured without a terminal behind them.
export SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
results=$(mktemp)
trap 'rm -f "$results"' EXIT

# One table row per result line of the console format: name, time, unit, cpu, unit, iterations.
table_rows() {
  awk -v program="$1" '$1 ~ /^BM_/ && NF >= 6 {
    printf "| %s | %s | %s %s | %s %s | %s |\n", program, $1, $2, $3, $4, $5, $6
  }' "$results"
}

# run_benchmark <program> <SPDLOG_STDOUT> [arguments...]
run_benchmark() {
  local program=$1 console=$2
  shift 2
  SPDLOG_STDOUT=$console "$build_dir/bench/$program" --benchmark_out="$results" \
    --benchmark_out_format=console --benchmark_color=false "$@" >/dev/null 2>&1 || {
    echo "$program failed" >&2
    exit 1
  }
  table_rows "$program"
}

echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1);" \
  "load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(date -u +%Y-%m-%d)"
echo
echo "| Program | Benchmark | Time | CPU | Iterations |"
echo "|---|---|---|---|---|"
run_benchmark bench_logging false "$@"
# The facade chooses its sinks once per process: a second run compares the statements with the
# console sink (into /dev/null).
run_benchmark bench_logging true --benchmark_filter='BM_(LogInfo|BareSpdlog)' "$@"
run_benchmark bench_detect_toilet_info false "$@"
