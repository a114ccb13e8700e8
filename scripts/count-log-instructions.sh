#!/usr/bin/env bash
# Counts with callgrind the instructions of one logging statement: the facade's LOG_INFO against
# the bare spdlog call, with no sinks and with the console sink (into /dev/null), for a message of
# text only and one with two arguments. Prints a Markdown table.
#   BUILD_DIR   configured build directory (default: build-release, as run-benchmarks.sh makes it)
#   STATEMENTS  statements counted per run (default: 10000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build-release}
statements=${STATEMENTS:-10000}

command -v valgrind >/dev/null || {
  echo "count-log-instructions: needs valgrind (apt-get install valgrind)" >&2
  exit 1
}
cmake --build "$build_dir" --target count_logging >/dev/null
driver=$build_dir/bench/count_logging

# Instructions per statement: callgrind collects only inside RunStatements, which runs the
# counted statements after one uncounted statement has built the logger.
per_statement() {
  local console=$1 kind=$2 message=$3 report collected
  report=$(SPDLOG_STDOUT=$console SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info \
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*RunStatements*' \
    "$driver" "$kind" "$message" "$statements" 2>&1 >/dev/null) || {
    echo "count_logging $kind $message failed: $report" >&2
    exit 1
  }
  collected=$(sed -n 's/^==[0-9]*== Collected : //p' <<<"$report")
  echo $((collected / statements))
}

echo "| Sinks | Message | LOG_INFO (Ir) | bare spdlog (Ir) | ratio |"
echo "|---|---|---|---|---|"
for console in false true; do
  for message in text two_args; do
    facade=$(per_statement "$console" facade "$message")
    bare=$(per_statement "$console" bare "$message")
    sinks=$([[ $console == true ]] && echo console || echo none)
    ratio=$(awk -v f="$facade" -v b="$bare" 'BEGIN { printf "%.2f", f / b }')
    echo "| $sinks | $message | $facade | $bare | $ratio |"
  done
done
