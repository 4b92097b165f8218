#!/usr/bin/env bash
# The setup program under Wine, in a scratch copy of the Wine prefix:
#   test-setup-wine.sh BUILD_DIR VERSION
# An older setup program is installed first and this version over it (an
# upgrade in place); then the files, the service, the shortcut and the
# uninstall entry are checked, the installed server must start and listen,
# and the silent uninstaller must take it all away again but leave the
# user's settings and logs. Exit 77 (skipped) when makensis or Wine is
# missing.
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
here=$(cd "$(dirname "$0")" && pwd)
CACHE=${LUMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora-pc}
source_prefix=${LUMORA_WINEPREFIX:-$CACHE/wineprefix}

for tool in makensis wine wineserver; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -f "$source_prefix/system.reg" ] || { echo "SKIP: no Wine prefix in $source_prefix"; exit 77; }
# The server makes a real window: it needs a display.
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: no display and no xvfb-run"; exit 77; }
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/setup-wine.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono/Gecko offers, and no menu entries of the test in the tester's own
# desktop.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
server_job=
cleanup() {
  [ -n "$server_job" ] && kill "$server_job" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $* ($SECONDS s)"; }

step "making the setup programs"
"$here/make-setup.sh" "$build" 1.0.0.0 "$scratch/lumora-old.exe" "$version" "$scratch/lumora-new.exe"
cp -a "$source_prefix" "$WINEPREFIX"
# One wineserver for the whole test: each program then starts quickly.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1 || true

program_files=$(winepath -u 'C:\Program Files' 2>/dev/null)
folder_win='C:\Program Files\Quillon Labs\Lumora ZuvIridar for iPhone'
folder="$program_files/Quillon Labs/Lumora ZuvIridar for iPhone"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora ZuvIridar for iPhone'
service_key='HKLM\System\CurrentControlSet\Services\Lumora Wave Service'
app_key='HKCU\Software\Quillon Labs\Lumora ZuvIridar for iPhone'
shortcut_of() { find "$WINEPREFIX/drive_c" -name 'Lumora ZuvIridar for iPhone.lnk' 2>/dev/null; }
# The key's values, or nothing when it is missing (reg prints its error on
# standard output).
reg_query() {
  local out
  out=$(wine reg query "$1" 2>/dev/null) || return 0
  printf '%s\n' "$out" | tr -d '\r'
}

step "installing an older version, then this one over it"
wine "$scratch/lumora-old.exe" /S || fail "the older setup program ended with $?"
wine "$scratch/lumora-new.exe" /S || fail "the setup program ended with $?"

step "checking the installation"
for f in server.exe support.exe wavehost.exe defprobe.exe lang.dll uninstall.exe; do
  [ -f "$folder/$f" ] || fail "$f is not in the program folder"
done
# The About box shows the version resource: it must carry this version too.
python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
  "$folder/server.exe" "$version" || fail "server.exe's version resource does not say $version"
entry=$(reg_query "$uninstall_key")
echo "$entry"
grep -q 'DisplayName.*REG_SZ.*Lumora ZuvIridar for iPhone$' <<<"$entry" || fail "no uninstall entry by that name"
grep -q "DisplayVersion.*REG_SZ.*$version\$" <<<"$entry" || fail "the uninstall entry does not carry $version (upgrade)"
grep -q 'Publisher.*REG_SZ.*Quillon Labs$' <<<"$entry" || fail "the publisher is not Quillon Labs"
grep -qF "UninstallString    REG_SZ    \"$folder_win\\uninstall.exe\"" <<<"$entry" || fail "the uninstaller's path is missing"
grep -Eq 'EstimatedSize.*REG_DWORD.*0x[0-9a-f]*[1-9a-f]' <<<"$entry" || fail "no estimated size"
service=$(reg_query "$service_key")
grep -qiF "$folder_win\\wavehost.exe" <<<"$service" || fail "the service is not registered for the installed wavehost.exe: $service"
[ -n "$(shortcut_of)" ] || fail "no Start menu shortcut"

step "starting the installed server"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
wine reg add "$app_key" /v Port /t REG_DWORD /d "$port" /f >/dev/null 2>&1
wine "$folder/server.exe" </dev/null >/dev/null 2>&1 &
server_job=$!
listening=0
for _ in $(seq 1 120); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then listening=1; break; fi
  kill -0 "$server_job" 2>/dev/null || break
  sleep 1
done
[ "$listening" = 1 ] || fail "the installed server did not listen on port $port"

step "uninstalling"
# The uninstaller copies itself away and returns at once; it is done when
# its last step, the uninstall entry, is gone.
wine "$folder/uninstall.exe" /S || fail "the uninstaller ended with $?"
for _ in $(seq 1 60); do
  [ -z "$(reg_query "$uninstall_key")" ] && break
  sleep 1
done
# It closed the running server through its "exit" switch.
for _ in $(seq 1 30); do
  kill -0 "$server_job" 2>/dev/null || break
  sleep 1
done
kill -0 "$server_job" 2>/dev/null && fail "the server still runs after the uninstaller"
server_job=

step "checking the removal"
[ -e "$folder" ] && fail "the program folder is still there: $(ls -A "$folder")"
[ -n "$(reg_query "$uninstall_key")" ] && fail "the uninstall entry is still there"
[ -n "$(reg_query "$service_key")" ] && fail "the service is still registered: $(wine sc query "Lumora Wave Service" 2>&1 | tr -d '\r')"
[ -n "$(shortcut_of)" ] && fail "the shortcut is still there"
grep -q 'Port.*REG_DWORD' <<<"$(reg_query "$app_key")" || fail "the user's settings were removed"
logs="$(winepath -u 'C:\users')"
[ -n "$(find "$logs" -path '*Lumora ZuvIridar for iPhone/logs/*' -print -quit 2>/dev/null)" ] ||
  fail "the user's logs were removed"

step "done"
[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "setup program: install, upgrade, run and uninstall all fine"
