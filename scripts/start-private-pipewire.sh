#!/usr/bin/env bash
# Starts a private PipeWire for tests and waits until it answers:
# `scripts/start-private-pipewire.sh DIR`. A session D-Bus, `pipewire` and
# `wireplumber` run with XDG_RUNTIME_DIR=DIR/runtime (the socket is
# DIR/runtime/pipewire-0); clients reach it with that XDG_RUNTIME_DIR, or
# with PIPEWIRE_RUNTIME_DIR=DIR/runtime. Their process ids are in DIR/pids;
# `scripts/stop-private-pipewire.sh DIR` stops them (no systemd needed).
set -euo pipefail
dir=$(realpath -m "$1")
mkdir -p "$dir/runtime" "$dir/home" "$dir/state"
chmod 700 "$dir/runtime"
: > "$dir/pids"
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_STATE_HOME="$dir/state" \
    XDG_CONFIG_HOME="$dir/home/.config" PIPEWIRE_RUNTIME_DIR="$dir/runtime"
unset PIPEWIRE_REMOTE
dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/runtime/bus" \
    >"$dir/dbus.log" 2>&1 &
echo $! >> "$dir/pids"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus"
for _ in $(seq 50); do [ -S "$dir/runtime/bus" ] && break; sleep 0.05; done
pipewire >"$dir/pipewire.log" 2>&1 &
echo $! >> "$dir/pids"
for _ in $(seq 100); do [ -S "$dir/runtime/pipewire-0" ] && break; sleep 0.05; done
wireplumber >"$dir/wireplumber.log" 2>&1 &
echo $! >> "$dir/pids"
for _ in $(seq 100); do
  if pw-cli info 0 >/dev/null 2>&1; then
    echo "DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus" > "$dir/env"
    exit 0
  fi
  sleep 0.05
done
echo "start-private-pipewire: PipeWire did not come up; see $dir/*.log" >&2
"$(dirname "$0")/stop-private-pipewire.sh" "$dir" || true
exit 1
