#!/usr/bin/env bash
# ./dev soak MINUTES: the real Linux `server` (in a private HOME) with a
# simulated phone admitted for the whole run, sending 30 messages a second on
# the video channel, and every minute a burst of 100 handshake cycles from
# loadgen beside it. Each minute one line: the server's resident memory,
# open descriptors, threads, CPU share, and the frame and audio latencies
# the phone reports (when the simulated phone measures them; "-" before).
# Fails when the server dies, the phone is lost, or memory or descriptors
# grow steadily (every sample after the warm-up minute above the one before,
# and the last one clearly above the first).
# Usage: scripts/soak.sh MINUTES BUILD_DIR
set -euo pipefail
minutes=${1:-30}
bin=${2:-build/linux}/bin
for p in server phonesim loadgen; do
  [ -x "$bin/$p" ] || { echo "soak: $bin/$p is missing"; exit 2; }
done

root=$(mktemp -d /tmp/lumora-soak.XXXXXX)
mkdir -p "$root/home/.config" "$root/home/.local/state" "$root/home/.local/share" "$root/run"
chmod 700 "$root/run"
server_pid="" feeder_pid="" phone_pid=""
cleanup() {
  [ -n "$feeder_pid" ] && kill "$feeder_pid" 2>/dev/null || true
  [ -n "$phone_pid" ] && kill "$phone_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

env HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_STATE_HOME="$root/home/.local/state" \
  XDG_DATA_HOME="$root/home/.local/share" XDG_RUNTIME_DIR="$root/run" \
  "$bin/server" </dev/null >"$root/server.out" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^Listen on [0-9.]*:\([0-9]*\)$/\1/p' "$root/server.out" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "soak: the server did not start listening"; tail -n 20 "$root/server.out"; exit 1; }
echo "soak: server $server_pid listening on $port, ${minutes} min"

# The phone: admitted, then fed 30 video-channel messages a second.
mkfifo "$root/phone.in"
"$bin/phonesim" --port "$port" --stay --device-model Soak <"$root/phone.in" >"$root/phone.out" 2>&1 &
phone_pid=$!
payload=$(head -c 4096 /dev/urandom | od -An -v -tx1 | tr -d ' \n')
(
  exec 3>"$root/phone.in"
  sleep 1
  while :; do
    for _ in $(seq 30); do echo "send 13001 0100000000000000$payload" >&3; done
    sleep 1
  done
) &
feeder_pid=$!

tck=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$server_pid/stat"; }
rss=() fds=()
printf '%6s %10s %6s %8s %6s %12s %12s\n' minute rss_kb fds threads cpu% frame_ms audio_ms
last_ticks=$(cpu_ticks)
for m in $(seq "$minutes"); do
  "$bin/loadgen" --port "$port" --cycles 100 --parallel 4 >/dev/null 2>&1 || true
  sleep 55
  kill -0 "$server_pid" 2>/dev/null || { echo "soak: the server died"; tail -n 20 "$root/server.out"; exit 1; }
  kill -0 "$phone_pid" 2>/dev/null || { echo "soak: the phone was lost"; tail -n 20 "$root/phone.out"; exit 1; }
  r=$(awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status")
  t=$(awk '/^Threads:/ {print $2}' "/proc/$server_pid/status")
  f=$(ls "/proc/$server_pid/fd" | wc -l)
  ticks=$(cpu_ticks)
  cpu=$(awk -v d=$((ticks - last_ticks)) -v hz="$tck" 'BEGIN {printf "%.1f", 100 * d / hz / 60}')
  last_ticks=$ticks
  frame=$(sed -n 's/.*frame latency \([0-9.]*\) ms.*/\1/p' "$root/phone.out" | tail -n 1)
  audio=$(sed -n 's/.*audio latency \([0-9.]*\) ms.*/\1/p' "$root/phone.out" | tail -n 1)
  printf '%6s %10s %6s %8s %6s %12s %12s\n' "$m" "$r" "$f" "$t" "$cpu" "${frame:--}" "${audio:--}"
  rss+=("$r") fds+=("$f")
done

# Steady growth: from the second sample on, every one above the one before,
# and the last clearly above the first of them.
grows() {
  local margin=$1; shift
  local values=("$@") n=$# i
  [ "$n" -ge 4 ] || return 1
  for ((i = 2; i < n; i++)); do [ "${values[i]}" -gt "${values[i-1]}" ] || return 1; done
  [ $((values[n-1] - values[1])) -gt "$margin" ]
}
status=0
if grows 2048 "${rss[@]}"; then echo "soak: resident memory grows steadily"; status=1; fi
if grows 2 "${fds[@]}"; then echo "soak: descriptors grow steadily"; status=1; fi
if [ ${#rss[@]} -ge 2 ] && [ $((rss[${#rss[@]}-1] - rss[0])) -gt 16384 ]; then
  echo "soak: resident memory grew by more than 16 MB"; status=1
fi
if [ ${#fds[@]} -ge 2 ] && [ $((fds[${#fds[@]}-1] - fds[0])) -gt 4 ]; then
  echo "soak: descriptors grew by more than 4"; status=1
fi
[ $status -eq 0 ] && echo "soak: flat"
exit $status
