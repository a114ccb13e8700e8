#!/usr/bin/env bash
# Fault trials on the real middleware: bt_host (--repeat) and simulated_perception_service as two
# processes in a private network namespace of their own (loopback only), with packet loss, a
# partition, a service crash, a slow service and a host crash injected by nft. Once per
# middleware; fails when any trial fails. Needs root and ROS 2 with the package built:
#   scripts/run-fault-trials.sh <workspace>/install [fault_trials.py options]
# With --two-machines, the two-machine trials instead (two_machine_trials.py): host and service
# in two network namespaces joined by a veth pair, plain and under SROS2, over each middleware:
#   scripts/run-fault-trials.sh --two-machines <workspace>/install
#   ROS_SETUP      script to source first (default: /opt/ros/humble/setup.bash)
#   MIDDLEWARES    RMW implementations (default: rmw_fastrtps_cpp rmw_cyclonedds_cpp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
two_machines=false
if [[ ${1:-} == --two-machines ]]; then
  two_machines=true
  shift
fi
install=$(cd "${1:?usage: run-fault-trials.sh <workspace>/install}" && pwd)
shift
read -r -a middlewares <<<"${MIDDLEWARES:-rmw_fastrtps_cpp rmw_cyclonedds_cpp}"

[[ $(id -u) -eq 0 ]] || { echo "run-fault-trials: needs root (nft, network namespaces)" >&2; exit 1; }
if ! command -v nft >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nftables >/dev/null
fi
if ! unshare --net true; then
  echo "run-fault-trials: cannot create a network namespace here; no trial ran" >&2
  exit 1
fi

set +u
# shellcheck source=/dev/null
source "${ROS_SETUP:-/opt/ros/humble/setup.bash}"
# shellcheck source=/dev/null
source "$install/setup.bash"
set -u

status=0
for rmw in "${middlewares[@]}"; do
  if $two_machines; then
    for security in plain sros2; do
      python3 "$root/scripts/two_machine_trials.py" --install "$install" --rmw "$rmw" \
        --security "$security" "$@" || status=1
    done
  else
    # A namespace per middleware: it and its rules go away with the trials, however they end.
    unshare --net python3 "$root/scripts/fault_trials.py" --install "$install" --rmw "$rmw" "$@" ||
      status=1
  fi
done
exit "$status"
