#!/usr/bin/env bash
# ./dev soak MINUTES: the real Linux `server` in a private HOME with one
# simulated phone admitted for the whole run (video at 30 frames a second,
# audio both ways through the simulated sound device) and a burst of
# handshake cycles every minute; a row a minute, and a verdict on memory,
# descriptors, threads and latencies at the end (see tools/soak). With
# --long (./dev soak long): two hours through a private PulseAudio, which is
# restarted once, with a recording every 5 minutes (each probed with ffprobe
# at the end) and the phone reconnecting every 10.
# Usage: scripts/soak.sh MINUTES BUILD_DIR [soak options]
set -euo pipefail
minutes=${1:-30}
bin=${2:-build/linux}/bin
shift $(( $# < 2 ? $# : 2 ))
for p in server soak; do
  [ -x "$bin/$p" ] || { echo "soak: $bin/$p is missing"; exit 2; }
done
exec "$bin/soak" --minutes "$minutes" "$@"
