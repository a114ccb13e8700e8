#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo host: it loads the plugin, builds the
# example tree and ticks it against the simulated perception service.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
BUILD_DIR=$build_dir "$root/scripts/build.sh"
# The plugin reads its log settings from the environment; without them it says so on every run.
export SPDLOG_STDOUT=${SPDLOG_STDOUT:-true} SPDLOG_SYSTEMD=${SPDLOG_SYSTEMD:-false} SPDLOG_LEVEL=${SPDLOG_LEVEL:-info}
exec "$build_dir/bt_host" --plugin "$build_dir/libdetect_toilet_info_node.so" \
  --tree "$root/kestrava_arm_bt_tools/examples/detect_toilet.xml" \
  --simulate "$root/kestrava_arm_bt_tools/examples/responses/success.yaml" \
  --set "task_info=task_uid:42;task_name:bowl" "$@"
