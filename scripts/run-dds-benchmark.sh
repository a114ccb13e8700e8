#!/usr/bin/env bash
# Runs bench/dds_round_trip over each middleware against simulated_perception_service in a process
# of its own, logging off (no sinks for the node's lines), and prints its tables, then the run
# times of `bt_host --repeat 2000` against the same service; with COUNT=1 also the instructions
# of the benchmark's process per run of each step (callgrind).
#   WORKSPACE      a colcon workspace with the packages built, as run-ros2-tests.sh builds it; the
#                  benchmark is added to its build of kestrava_arm_bt_tools
#   DISTRO         the ROS 2 distribution (default: humble)
#   ROS_SETUP      script to source first (default: /opt/ros/$DISTRO/setup.bash)
#   MIDDLEWARES    (default: rmw_fastrtps_cpp rmw_cyclonedds_cpp)
#   ROS_DOMAIN_ID  (default: 126), away from other users of the machine
#   INTROSPECTION  off (default), metadata or contents: the service events of the service, of the
#                  node_run step's client and of bt_host's (ROS 2 Jazzy on)
# Extra arguments go to dds_round_trip, e.g. --runs 2000 --rounds 3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export DISTRO=${DISTRO:-humble}
ros_setup=${ROS_SETUP:-/opt/ros/$DISTRO/setup.bash}
read -r -a middlewares <<<"${MIDDLEWARES:-rmw_fastrtps_cpp rmw_cyclonedds_cpp}"
[[ -n ${WORKSPACE:-} ]] || { echo "run-dds-benchmark: set WORKSPACE" >&2; exit 1; }
workspace=$(cd "$WORKSPACE" && pwd)
domain=${ROS_DOMAIN_ID:-126}

set +u
# shellcheck source=/dev/null
source "$ros_setup"
# shellcheck source=/dev/null
source "$workspace/install/setup.bash"
set -u
export ROS_DOMAIN_ID=$domain SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
build=$workspace/build/kestrava_arm_bt_tools
plugin=$workspace/install/kestrava_arm_behavior_tree/lib/libdetect_toilet_info_node.so
tree=$root/kestrava_arm_bt_tools/examples/detect_toilet.xml
cmake -DKESTRAVA_BUILD_DDS_BENCHMARK=ON "$build" >/dev/null
cmake --build "$build" --target dds_round_trip >/dev/null
introspection=(--introspection "${INTROSPECTION:-off}")
bench=("$build/dds_round_trip" --plugin "$plugin" --tree "$tree" "${introspection[@]}")
output=$(mktemp)
service_pid=
stop_service() {
  if [[ -n $service_pid ]]; then
    kill "$service_pid"
    wait "$service_pid" || true
  fi
  service_pid=
}
trap 'stop_service; rm -f "$output" "$output".*' EXIT

# Instructions of the client process per run of a step: the difference between two runs of the
# program that differ only in their number of runs, so that start and end cancel out. Each count
# is the least of three: the middleware's own threads now and then add work (discovery, resends).
instructions() {
  rm -f "$output.callgrind"
  valgrind --tool=callgrind --callgrind-out-file="$output.callgrind" "${bench[@]}" --only "$1" \
    --rounds 1 --runs "$2" >/dev/null 2>&1 || {
    echo "run-dds-benchmark: dds_round_trip --only $1 failed under callgrind" >&2
    return 1
  }
  sed -n 's/^summary: //p' "$output.callgrind"
}
instructions_per_run() {
  local step=$1 runs count least=()
  for runs in 50 250; do
    local counts=()
    for _ in 1 2 3; do
      count=$(instructions "$step" "$runs")
      counts+=("$count")
    done
    least+=("$(printf '%s\n' "${counts[@]}" | sort -n | head -n 1)")
  done
  echo $(((least[1] - least[0]) / 200))
}

for rmw in "${middlewares[@]}"; do
  export RMW_IMPLEMENTATION=$rmw
  "$build/simulated_perception_service" \
    --response "$root/kestrava_arm_bt_tools/examples/responses/success.yaml" "${introspection[@]}" \
    >/dev/null 2>&1 &
  service_pid=$!
  echo "Load average at start: $(cut -d' ' -f1-3 /proc/loadavg); $(date -u '+%Y-%m-%d %H:%M') UTC"
  # The tree's own line (LogToiletPose) goes to standard output too; only the tables are shown.
  "${bench[@]}" "$@" >"$output"
  grep -v '^\[' "$output"
  # bt_host itself, after the benchmark rather than interleaved: the same runs in a process of
  # their own, as a user starts them.
  "$build/bt_host" --plugin "$plugin" --tree "$tree" --tick-period-ms 10 --repeat 2000 \
    "${introspection[@]}" \
    --summary-json "$output.json" >/dev/null
  echo "bt_host --repeat 2000, run time (ms): $(sed -n 's/^ "run_time_ms": \(.*\),$/\1/p' "$output.json")"
  if [[ ${COUNT:-0} == 1 ]]; then
    echo
    echo "| Step | client instructions per run |"
    echo "|---|---|"
    for step in bare checked handed_off node_run; do
      ir=$(instructions_per_run "$step")
      echo "| $step | $ir |"
    done
  fi
  stop_service
  echo
done
