#!/usr/bin/env bash
# Starts a private PulseAudio daemon for tests and waits until it answers:
# `scripts/start-private-pulse.sh DIR`. Everything lives in DIR (runtime
# folder, state, log, the socket DIR/native); clients reach it with
# PULSE_SERVER=unix:DIR/native. It has no real hardware, only null devices
# that stand for real ones:
#   sink   test_speakers  "Test Speakers"    (default; its monitor shows what was played)
#   sink   mic_feed       "Mic Feed"         (play a tone here ...)
#   source test_mic       "Test Microphone"  (default; ... and it is recorded here)
# The daemon's process id is in DIR/pid; stop it with `kill "$(cat DIR/pid)"`.
set -euo pipefail
dir=$(realpath -m "$1")
mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
chmod 700 "$dir/runtime"
cat > "$dir/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=test_speakers rate=48000 channels=1 sink_properties='device.description="Test Speakers"'
load-module module-null-sink sink_name=mic_feed rate=48000 channels=1 sink_properties='device.description="Mic Feed"'
load-module module-remap-source source_name=test_mic master=mic_feed.monitor channels=1 source_properties='device.description="Test Microphone"'
set-default-sink test_speakers
set-default-source test_mic
PA
env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime" \
    PULSE_STATE_PATH="$dir/state" PULSE_CONFIG_PATH="$dir/state" \
    pulseaudio --daemonize=no -n -F "$dir/default.pa" --exit-idle-time=-1 \
    --use-pid-file=no --system=no --disable-shm=yes \
    --log-target=file:"$dir/pulse.log" >/dev/null 2>&1 &
echo $! > "$dir/pid"
for _ in $(seq 100); do
  if PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1; then exit 0; fi
  if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then break; fi
  sleep 0.1
done
echo "start-private-pulse: the daemon did not come up; see $dir/pulse.log" >&2
kill "$(cat "$dir/pid")" 2>/dev/null || true
exit 1
