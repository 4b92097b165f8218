#!/usr/bin/env bash
# Runs one Windows program under Wine: `scripts/wine-run.sh prog.exe args...`.
# CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs the test
# programs of the `windows` build as they are. The exit code is the program's.
#
# It uses the 32-bit prefix that scripts/setup-windows-cross.sh made in
# $CACHE/wineprefix (same $CACHE as ./dev). Wine's own diagnostics are off
# unless WINEDEBUG is set. Each run starts a wineserver unless one is already
# up for the prefix; `./dev test` keeps one alive (`wineserver -p`) for the
# whole Windows test run, which makes each program start in about a second.
set -euo pipefail
CACHE=${LUMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora-pc}
# LUMORA_WINEPREFIX names another prefix (a copy, so two runs don't share
# one registry).
export WINEPREFIX="${LUMORA_WINEPREFIX:-$CACHE/wineprefix}"
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# Never offer to download Mono or Gecko in a headless run.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: no Wine prefix in $WINEPREFIX; run ./dev setup" >&2
  exit 127
fi
exec wine "$@"
