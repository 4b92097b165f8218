#!/usr/bin/env bash
# Stops what start-private-pipewire.sh DIR started, by process id, newest
# first, and waits until they are gone.
dir=$(realpath -m "$1")
[ -f "$dir/pids" ] || exit 0
pids=$(tac "$dir/pids")
for pid in $pids; do kill "$pid" 2>/dev/null || true; done
# A process that ended but is not reaped yet (its parent, the start script,
# is gone) counts as ended.
running() { [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat"; }
for _ in $(seq 50); do
  alive=0
  for pid in $pids; do running "$pid" && alive=1; done
  [ $alive = 0 ] && break
  sleep 0.05
done
for pid in $pids; do running "$pid" && kill -9 "$pid" 2>/dev/null; done
rm -f "$dir/pids"
