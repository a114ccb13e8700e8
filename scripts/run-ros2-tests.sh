#!/usr/bin/env bash
# Builds the packages with colcon on an installed ROS 2 (with BehaviorTree.CPP 4.x) in a fresh
# workspace whose src/ holds the checkout, then runs the whole suite once over each middleware, as
# a ROS 2 user would:
#   colcon build;  colcon test;  colcon test-result --verbose
# Fails on any failed or skipped case (a skipped case is a journal test that found no journal).
#   ROS_SETUP      script to source first (default: /opt/ros/humble/setup.bash)
#   WORKSPACE      the workspace folder, emptied first (default: a new temporary folder)
#   MIDDLEWARES    RMW implementations to test over (default: rmw_fastrtps_cpp rmw_cyclonedds_cpp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ros_setup=${ROS_SETUP:-/opt/ros/humble/setup.bash}
workspace=${WORKSPACE:-$(mktemp -d /tmp/kestrava-ros2-ws.XXXXXX)}
read -r -a middlewares <<<"${MIDDLEWARES:-rmw_fastrtps_cpp rmw_cyclonedds_cpp}"

[[ -f $ros_setup ]] || { echo "run-ros2-tests: no ROS 2 at $ros_setup" >&2; exit 1; }
# Sourced from inside the workspace, so a relative path must be made absolute first.
ros_setup=$(cd "$(dirname "$ros_setup")" && pwd)/$(basename "$ros_setup")
"$root/scripts/start-journald.sh"

# The tracked files and new ones not ignored: the checkout as it is, without its build folders.
rm -rf "$workspace" && mkdir -p "$workspace/src/kestrava_arm"
git -C "$root" ls-files -z --cached --others --exclude-standard |
  tar -C "$root" --null -T - -cf - | tar -C "$workspace/src/kestrava_arm" -xf -
cd "$workspace"

# ROS 2's setup scripts read unset variables.
set +u
# shellcheck source=/dev/null
source "$ros_setup"
set -u
echo "--- colcon build in $workspace"
colcon list
colcon build --event-handlers console_cohesion-
set +u
source install/setup.bash
set -u

status=0
for rmw in "${middlewares[@]}"; do
  echo "--- colcon test over $rmw"
  started=$SECONDS
  colcon test-result --delete-yes >/dev/null
  RMW_IMPLEMENTATION=$rmw colcon test --ctest-args -j2 --output-on-failure ||
    status=1
  summary=$(colcon test-result --verbose | tee "test-result-$rmw.txt" | tail -n 1) || status=1
  grep -v "^Summary:" "test-result-$rmw.txt" || true
  echo "$rmw: colcon test-result: $summary ($((SECONDS - started)) s)"
  grep -h "tests failed out of" log/latest_test/*/stdout.log |
    sed "s/^/$rmw: ctest: /" || true
  # colcon's CTest keeps one log per run, named after the run's time.
  ctest_log=$(ls -t build/kestrava_arm_behavior_tree/Testing/Temporary/LastTest_*.log | head -n 1)
  grep -h "timed out through the transport" "$ctest_log" | sed "s/^/$rmw: stress test: /" || true
  if ! [[ $summary =~ ,\ 0\ errors,\ 0\ failures,\ 0\ skipped$ ]]; then
    echo "$rmw: failed or skipped cases" >&2
    status=1
  fi
done
exit "$status"
