#!/usr/bin/env bash
# Runs a command beside a private PulseAudio (start-private-pulse.sh) for the
# wave bridge's tests: `scripts/with-private-pulse.sh CMD ARGS...`.
# The command gets PULSE_SERVER for that daemon and LUMORA_TEST_PULSE_DIR,
# where a 1500 Hz tone plays into "Mic Feed" (so "Test Microphone" records
# it) and everything "Test Speakers" plays is recorded into speakers.raw
# (48 kHz, 16-bit mono). All of it ends with the command; its exit code is
# the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/lumora-pulse-XXXXXX)
"$here/start-private-pulse.sh" "$dir/pulse"
export PULSE_SERVER="unix:$dir/pulse/native" LUMORA_TEST_PULSE_DIR="$dir"
python3 - "$dir/mic.raw" <<'PY'
import math, struct, sys
rate, seconds = 48000, 240
with open(sys.argv[1], "wb") as out:
    out.write(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 1500 * i / rate)))
                       for i in range(rate * seconds)))
PY
pacat --device=mic_feed --raw --format=s16le --rate=48000 --channels=1 "$dir/mic.raw" &
feeder=$!
parec --device=test_speakers.monitor --raw --format=s16le --rate=48000 --channels=1 > "$dir/speakers.raw" &
recorder=$!
set +e
"$@"
rc=$?
kill "$feeder" "$recorder" "$(cat "$dir/pulse/pid")" 2>/dev/null
wait "$feeder" "$recorder" 2>/dev/null
rm -rf "$dir"
exit $rc
