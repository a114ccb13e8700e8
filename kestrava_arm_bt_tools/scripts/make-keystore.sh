#!/usr/bin/env bash
# Makes the SROS2 keystore of the perception link with `ros2 security` alone: a certificate
# authority, one enclave per program of the policy (/kestrava/bt_host, /kestrava/perception and
# /kestrava/check) with its key and certificate, and each enclave's permissions from the policy,
# signed. DIR/policy.xml is the policy signed, with the names given and its includes resolved.
#
#   make-keystore.sh [--force] [--host NODE] [--perception NODE] [--service NAME] [--no-check] DIR
#     --force            replace the keystore that DIR already holds (its keys are lost)
#     --host NODE        the host's node, fully qualified (default: /bt_host)
#     --perception NODE  the perception service's node (default: /simulated_perception_service)
#     --service NAME     the perception service (default: /arm_perception_common)
#     --no-check         no enclave for check_perception_service (node /check_perception_service)
#                        and the ros2 command
#   POLICY      the policy (default: arm_perception.policy.xml of this package, with its
#               ros2_node.xml beside it); the options rename what it names
#
# The governance and the permissions name the ROS domain set now (ROS_DOMAIN_ID, 0 when unset):
# a program of another domain cannot start with them. DIR/private and the enclaves' key.pem files
# are private keys: keep them on the robot, never in a repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

usage() {
  echo "usage: make-keystore.sh [--force] [--host NODE] [--perception NODE] [--service NAME]" \
    "[--no-check] DIR" >&2
  exit 2
}

force=false
renames=()
while (($# > 1)); do
  case $1 in
    --force) force=true ;;
    --no-check) renames+=("$1") ;;
    --host | --perception | --service)
      (($# > 2)) || usage
      renames+=("$1" "$2")
      shift
      ;;
    *) usage ;;
  esac
  shift
done
if (($# != 1)) || [[ $1 == -* ]]; then
  usage
fi
keystore=$1

# From the repository (scripts/) or from an install (lib/<package>/).
default_policy() {
  local candidate
  for candidate in "$here/../security" "$here/../../share/kestrava_arm_bt_tools/security"; do
    if [[ -f $candidate/arm_perception.policy.xml ]]; then
      echo "$candidate/arm_perception.policy.xml"
      return
    fi
  done
  echo "make-keystore: no arm_perception.policy.xml beside $here; set POLICY" >&2
  exit 1
}

policy=${POLICY:-$(default_policy)}
[[ -f $policy ]] || { echo "make-keystore: no policy file $policy" >&2; exit 1; }
command -v ros2 >/dev/null || { echo "make-keystore: no ros2 command; source ROS 2 first" >&2; exit 1; }
# Written before the keystore is touched: wrong names leave it as it was.
signed_policy=$(mktemp)
trap 'rm -f "$signed_policy"' EXIT
"$here/write-policy.py" "${renames[@]}" "$policy" "$signed_policy"

keystore_parts=(public private enclaves policy.xml)
holds_keystore() {
  local part
  for part in "${keystore_parts[@]}"; do
    [[ -e $keystore/$part ]] && return 0
  done
  return 1
}

if holds_keystore; then
  if ! $force; then
    echo "make-keystore: $keystore already holds a keystore; --force replaces it" >&2
    exit 1
  fi
  (cd "$keystore" && rm -rf "${keystore_parts[@]}")
elif [[ -d $keystore && -n $(ls -A "$keystore") ]]; then
  echo "make-keystore: $keystore is not empty and holds no keystore; choose another folder" >&2
  exit 1
fi

# A keystore half made is no keystore: what this run made goes again when a step fails.
remove_what_was_made() {
  if $made_folder; then
    rm -rf "$keystore"
  else
    (cd "$keystore" && rm -rf "${keystore_parts[@]}")
  fi
}
made_folder=false
[[ -d $keystore ]] || made_folder=true
trap remove_what_was_made ERR
ros2 security generate_artifacts -k "$keystore" -p "$signed_policy" >/dev/null
cp "$signed_policy" "$keystore/policy.xml"
# Only the user who made them may read the private keys.
chmod -R go-rwx "$keystore/private"
find "$keystore/enclaves" -name key.pem -exec chmod 600 {} +
trap - ERR

keystore=$(cd "$keystore" && pwd)
echo "keystore $keystore for ROS domain ${ROS_DOMAIN_ID:-0}, policy $keystore/policy.xml, enclaves:"
ros2 security list_enclaves "$keystore" | sed 's/^/  /'
echo "private keys (keep them on the robot, out of any repository): $keystore/private/ and each"
echo "enclave's key.pem under $keystore/enclaves/"
