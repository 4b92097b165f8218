#!/usr/bin/env bash
# Runs a command beside a private PipeWire (start-private-pipewire.sh):
# `scripts/with-private-pipewire.sh CMD ARGS...`. The command gets
# XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS of that
# PipeWire; everything started for it ends with the command, whose exit
# code is returned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/lumora-pipewire-XXXXXX)
if ! "$here/start-private-pipewire.sh" "$dir"; then
  rm -rf "$dir"
  exit 1
fi
export XDG_RUNTIME_DIR="$dir/runtime" PIPEWIRE_RUNTIME_DIR="$dir/runtime" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus" LUMORA_TEST_PIPEWIRE_DIR="$dir"
set +e
"$@"
rc=$?
"$here/stop-private-pipewire.sh" "$dir"
rm -rf "$dir"
exit $rc
