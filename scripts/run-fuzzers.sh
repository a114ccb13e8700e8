#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for a bounded time or
# number of executions. Fails when a target finds a crash, a hang, a leak, a memory error or a
# broken property.
#   FUZZ_SECONDS  seconds per target (default 60; the first argument overrides it)
#   FUZZ_RUNS     executions per target instead of a time: a campaign
#   FUZZ_TARGETS  the targets to run, separated by blanks (default: all)
#   FUZZ_WORKERS  fuzzing processes per target (default: one per core)
#   BUILD_DIR     build directory (default: build-fuzz)
# Findings are left as crash-*/timeout-*/leak-* files in $BUILD_DIR/findings/<target>; the inputs
# the runs add to the corpus stay in $BUILD_DIR/corpus/<target> and seed the next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-fuzz}
seconds=${1:-${FUZZ_SECONDS:-60}}
read -r -a targets <<<"${FUZZ_TARGETS:-fuzz_answer_reader fuzz_request_document fuzz_response_handling fuzz_recording_reader}"
workers=${FUZZ_WORKERS:-$(nproc)}
if [[ -n ${FUZZ_RUNS:-} ]]; then
  budget=(-runs="$FUZZ_RUNS")
  budget_text="$FUZZ_RUNS executions"
else
  budget=(-max_total_time="$seconds")
  budget_text="${seconds} s"
fi

"$root/scripts/install-deps.sh"
cmake -S "$root/standalone" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DKESTRAVA_SANITIZER=address -DKESTRAVA_BUILD_FUZZERS=ON \
  -DKESTRAVA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" --target "${targets[@]}"

# The node logs every step of every run; the fuzzers would spend their time on the terminal.
export SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
# Most of an execution is yaml-cpp allocating under ASan: without the stack of every allocation
# (malloc_context_size=0) the targets run about one and a half times as fast. A finding's report
# then lacks where the memory was allocated and freed; run its input again with
# ASAN_OPTIONS=detect_leaks=1 for those stacks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:malloc_context_size=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Executions and seconds of a finished run: a single process states them when it is done, fork
# mode in its last status line ("#<runs>: ... time: <seconds>s").
executions_and_seconds() {
  local done_line
  done_line=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 \2/p' "$1")
  if [[ -n $done_line ]]; then
    echo "$done_line"
  else
    grep -E '^#[0-9]+: .* time: [0-9]+s' "$1" | tail -1 | sed -E 's/^#([0-9]+):.* time: ([0-9]+)s.*/\1 \2/' |
      grep . || echo "0 0"
  fi
}

failed=()
for target in "${targets[@]}"; do
  corpus=$build_dir/corpus/$target
  findings=$build_dir/findings/$target
  mkdir -p "$corpus" "$findings"
  # The two answer targets read the same inputs: both start from both seed folders and use the
  # dictionary of answer words.
  options=()
  case $target in
    fuzz_request_document) seeds=("$root/fuzz/corpus/$target") ;;
    # Recordings: lines of a few hundred bytes each, a few lines to an input.
    fuzz_recording_reader)
      seeds=("$root/fuzz/corpus/$target")
      options+=(-dict="$root/fuzz/recording.dict" -max_len=4096)
      ;;
    *)
      seeds=("$root/fuzz/corpus/fuzz_answer_reader" "$root/fuzz/corpus/fuzz_response_handling")
      # Answers are a few hundred bytes; longer inputs only make each execution slower.
      options+=(-dict="$root/fuzz/answers.dict" -max_len=1024)
      ;;
  esac
  # Leaks are checked once, by LeakSanitizer at exit: checking after every input that allocated
  # more than it freed would be nearly every input, as the executor thread frees later, and
  # would cost most of the executions.
  # Most of an execution is yaml-cpp parsing the input, which a single process cannot make
  # faster; libFuzzer's fork mode runs one process per core on a shared corpus, and counts the
  # executions and the time budget over all of them.
  if ((workers > 1)); then
    options+=(-fork="$workers")
  fi
  options+=("${budget[@]}" -timeout=25 -rss_limit_mb=2048 -detect_leaks=0
    -print_final_stats=1 -artifact_prefix="$findings/")
  log=$build_dir/$target.log
  echo "=== $target: $budget_text ==="
  if "$build_dir/fuzz/$target" "${options[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    status=clean
  else
    status=FINDING
    failed+=("$target")
    grep -A30 -m1 -E "Assertion|runtime error:|fuzz property broken|ERROR:" "$log" || tail -30 "$log"
    grep -E "Test unit written|Base64:" "$log" || true
  fi
  read -r runs seconds_taken < <(executions_and_seconds "$log")
  echo "$target: $status, $runs executions in $seconds_taken s, $((runs / (seconds_taken > 0 ? seconds_taken : 1))) exec/s with $workers worker(s)"
done

if ((${#failed[@]} > 0)); then
  echo "findings in: ${failed[*]} (inputs in $build_dir/findings/)" >&2
  exit 1
fi
