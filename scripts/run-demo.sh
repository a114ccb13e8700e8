#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo host: it loads the plugin, builds the
# example tree and ticks it against the simulated perception service.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
BUILD_DIR=$build_dir "$root/scripts/build.sh"
echo "Built $build_dir/libdetect_toilet_info_node.so (the demo host is not there yet)."
