#!/usr/bin/env bash
# Starts systemd-journald when no journal is reachable (containers and CI machines have no
# init system). Needs root. Exits non-zero when no journal could be made reachable.
set -euo pipefail
socket=/run/systemd/journal/socket

if [[ -S $socket ]] && pgrep -x systemd-journal >/dev/null; then
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "start-journald: not root, cannot start systemd-journald" >&2
  exit 1
fi
journald=/lib/systemd/systemd-journald
[[ -x $journald ]] || { echo "start-journald: $journald not found" >&2; exit 1; }

mkdir -p /run/systemd/journal /var/log/journal
nohup "$journald" >/dev/null 2>&1 &
for _ in $(seq 50); do
  [[ -S $socket ]] && exit 0
  sleep 0.1
done
echo "start-journald: journald did not create $socket" >&2
exit 1
