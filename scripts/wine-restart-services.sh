#!/usr/bin/env bash
# Runs a Windows test whose service must see this environment (for example
# PULSE_SERVER of a private PulseAudio):
#   scripts/wine-restart-services.sh WINE-RUN TEST ARGS...
# Wine's services.exe and the services it starts keep the environment of the
# process that started them, which in ./dev test is the wineboot run before
# all tests. So the prefix's wineserver is restarted here (kept up, as
# ./dev test does, so that no background process holds ctest's pipe) and
# wineboot starts the services again under the caller's environment.
set -euo pipefail
wine_run=$1
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p 2>/dev/null || true
"$wine_run" wineboot </dev/null >/dev/null 2>&1 || true
exec "$@"
