#!/usr/bin/env bash
# A PulseAudio server for the Linux `server` where none is reachable (these
# machines have no sound hardware and no systemd user session).
#   scripts/pulse-private.sh ensure   start one unless a server answers
#   scripts/pulse-private.sh stop     stop the one of this runtime folder
# It uses $XDG_RUNTIME_DIR (made private to the user when unset:
# /tmp/lumora-pulse-<uid>); programs started with the same XDG_RUNTIME_DIR
# find it. "ensure" prints the folder on its last line.
set -euo pipefail
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/lumora-pulse-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

case "${1:-ensure}" in
  ensure)
    if ! command -v pulseaudio >/dev/null 2>&1; then
      echo "pulse-private: pulseaudio is not installed; the server runs without PC audio" >&2
    elif ! pactl info >/dev/null 2>&1; then
      # No default script: only the native protocol and a null sink, so
      # nothing looks for sound cards; the server adds its own devices.
      pulseaudio -D --exit-idle-time=-1 -n --load=module-native-protocol-unix \
        --load=module-null-sink 2>/dev/null
      for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    fi
    echo "$XDG_RUNTIME_DIR"
    ;;
  stop)
    pulseaudio --kill 2>/dev/null || true
    ;;
  *)
    sed -n '2,8p' "$0"
    exit 2
    ;;
esac
