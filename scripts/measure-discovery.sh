#!/usr/bin/env bash
# How long a freshly started bt_host takes to discover a running perception service, with and
# without SROS2, over each middleware: the service starts once, then HOSTS hosts one after the
# other each run the example tree once and log when they discovered it.
#   measure-discovery.sh <workspace>/install [HOSTS (default 10)]
#   MIDDLEWARES   RMW implementations (default: rmw_fastrtps_cpp rmw_cyclonedds_cpp)
# Runs on the ROS domain of the environment; ROS 2 and the workspace must be sourced.
set -euo pipefail
install=$(cd "${1:?usage: measure-discovery.sh <workspace>/install [HOSTS]}" && pwd)
hosts=${2:-10}
read -r -a middlewares <<<"${MIDDLEWARES:-rmw_fastrtps_cpp rmw_cyclonedds_cpp}"
programs=$install/kestrava_arm_bt_tools/lib/kestrava_arm_bt_tools
share=$install/kestrava_arm_bt_tools/share/kestrava_arm_bt_tools
scratch=$(mktemp -d)
service_pid=
cleanup() {
  [[ -z $service_pid ]] || kill "$service_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
"$programs/make-keystore.sh" "$scratch/keystore" >/dev/null 2>&1

# Becomes the program (so that its process id is the one started): with security "on" in the
# enclave, "off" without.
exec_with_security() {
  local security=$1 enclave=$2
  shift 2
  if [[ $security == on ]]; then
    ROS_SECURITY_KEYSTORE=$scratch/keystore ROS_SECURITY_ENABLE=true \
      ROS_SECURITY_STRATEGY=Enforce exec "$@" --ros-args --enclave "$enclave"
  fi
  exec env -u ROS_SECURITY_ENABLE "$@"
}

measure() {
  local security=$1 times=() successes=0
  exec_with_security "$security" /kestrava/perception "$programs/simulated_perception_service" \
    --response "$share/examples/responses/success.yaml" >"$scratch/service.log" 2>&1 &
  service_pid=$!
  until grep -q "offering" "$scratch/service.log"; do
    kill -0 "$service_pid" 2>/dev/null || { cat "$scratch/service.log" >&2; exit 1; }
    sleep 0.1
  done
  for _ in $(seq "$hosts"); do
    local output
    output=$(exec_with_security "$security" /kestrava/bt_host "$programs/bt_host" \
      --plugin "$install/kestrava_arm_behavior_tree/lib/libdetect_toilet_info_node.so" \
      --tree "$share/examples/detect_toilet.xml" --wait-for-service-ms 20000 2>&1) || true
    times+=("$(grep -o "discovered after [0-9]* ms" <<<"$output" | grep -o "[0-9]\+" || echo never)")
    grep -q "^result: SUCCESS" <<<"$output" && successes=$((successes + 1))
  done
  kill "$service_pid"
  wait "$service_pid" 2>/dev/null || true
  service_pid=
  echo "$RMW_IMPLEMENTATION, security $security: $successes of $hosts SUCCESS; discovered after" \
    "(ms, sorted): $(printf "%s\n" "${times[@]}" | sort -n | paste -sd' ')"
}

for RMW_IMPLEMENTATION in "${middlewares[@]}"; do
  export RMW_IMPLEMENTATION
  measure off
  measure on
done
