#!/usr/bin/env bash
# Counts with callgrind the instructions per call of the node's steps, inside the benchmarks that
# exercise them: the waiting tick (BM_WaitingTick) and the start and answer of a whole run
# (BM_WholeRun). Prints a Markdown table. Instruction counts repeat where the shared machine's
# times do not.
#   BUILD_DIR  configured build directory (default: build-release, as run-benchmarks.sh makes it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-release}

command -v valgrind >/dev/null || {
  echo "count-node-instructions: needs valgrind (apt-get install valgrind)" >&2
  exit 1
}
cmake --build "$build_dir" --target bench_detect_toilet_info >/dev/null
export SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
profile=$(mktemp)
trap 'rm -f "$profile"' EXIT

# profile <benchmark>: one callgrind run of that benchmark, annotated with its callers.
profile() {
  valgrind --tool=callgrind --callgrind-out-file="$profile" \
    "$build_dir/bench/bench_detect_toilet_info" --benchmark_filter="^$1" \
    --benchmark_min_time=0.5 >/dev/null 2>&1 || {
    echo "bench_detect_toilet_info $1 failed under callgrind" >&2
    exit 1
  }
  callgrind_annotate --inclusive=yes --tree=caller --threshold=100 "$profile" >"$profile.txt"
}

# counts <function>: the function's inclusive instructions and its calls, summed over its callers.
# callgrind_annotate lists a function's callers ("<" lines, with "(Nx)") right above its own "*"
# line.
counts() {
  local result
  result=$(awk -v function_name="$1" '
    /^$/ { calls = 0; next }
    /%\) +< / {
      if (match($0, /\(([0-9,]+)x\)/)) { n = substr($0, RSTART + 1, RLENGTH - 3); gsub(",", "", n); calls += n }
      next
    }
    /%\) +\* / && index($0, function_name) {
      ir = $1; gsub(",", "", ir)
      if (calls > 0) { print ir, calls; exit }
    }' "$profile.txt")
  [[ -n $result ]] || { echo "no count for $1" >&2; exit 1; }
  echo "$result"
}

# row <benchmark> <step> <function> [<function whose calls within it to leave out>]
# The waiting-tick benchmark starts its run with one uncounted tick per repetition: that tick's
# start of the run is left out of the waiting ticks.
row() {
  local benchmark=$1 step=$2 ir calls
  read -r ir calls < <(counts "$3")
  if (($# > 3)); then
    local other_ir other_calls
    read -r other_ir other_calls < <(counts "$4")
    ir=$((ir - other_ir)) calls=$((calls - other_calls))
  fi
  echo "| $benchmark | $step | $((ir / calls)) | $calls |"
}

echo "| Benchmark | Step | Ir per call | Calls |"
echo "|---|---|---|---|"
profile BM_WaitingTick
row BM_WaitingTick "tick of the tree, run waiting" "BT::Tree::tickExactlyOnce()" "DetectToiletInfo::onStart()"
row BM_WaitingTick "DetectToiletInfo::onRunning, waiting" "DetectToiletInfo::onRunning()"
profile BM_WholeRun
row BM_WholeRun "DetectToiletInfo::onStart: request built and sent" "DetectToiletInfo::onStart()"
row BM_WholeRun "DetectToiletInfo::ToiletInfoCallback: answer parsed and stored" \
  "DetectToiletInfo::ToiletInfoCallback("
rm -f "$profile.txt"
