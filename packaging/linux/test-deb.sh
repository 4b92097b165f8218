#!/usr/bin/env bash
# The Debian package, made afresh from a built Linux tree in a scratch folder:
#   test-deb.sh BUILD_DIR VERSION
# Checks its contents and fields with dpkg-deb, runs lintian (no errors
# allowed) and desktop-file-validate, and, when run as root, installs it with
# dpkg, starts the program on PATH until it listens, and removes it again,
# leaving none of its files. Exit 77 (skipped) when a tool is missing.
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (./dev setup)"; exit 77; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/deb-test.XXXXXX")
server_pid=
installed_here=
cleanup() {
  [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null
  # A run cut short must not leave the package on the machine.
  [ -n "$installed_here" ] && dpkg -P lumora-zuviridar >/dev/null 2>&1
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

arch=$(dpkg --print-architecture)
deb=$scratch/lumora-zuviridar_${version}_${arch}.deb
(cd "$build" && cpack --config CPackConfig.cmake -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
[ -f "$deb" ] || { ls "$scratch"; echo "FAIL: no $(basename "$deb")"; exit 1; }

# Contents: the names only ("./usr/bin/x -> target" for links).
dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' >"$scratch/contents"
lib=./usr/lib/lumora-zuviridar
for want in "$lib/server" "$lib/support" "$lib/wavehost" "$lib/defprobe" "$lib/lang.so" \
    "./usr/bin/lumora-zuviridar -> ../lib/lumora-zuviridar/server" \
    ./usr/share/applications/com.quillonlabs.zuviridar_iphone.desktop \
    ./usr/share/icons/hicolor/48x48/apps/com.quillonlabs.zuviridar_iphone.png \
    ./usr/lib/systemd/user/lumora-wave-service.service \
    ./usr/share/doc/lumora-zuviridar/copyright ./usr/share/doc/lumora-zuviridar/changelog.gz \
    ./usr/share/doc/lumora-zuviridar/README.md ./usr/share/man/man1/lumora-zuviridar.1.gz \
    ./usr/share/doc/lumora-zuviridar/examples/modprobe.d/lumora-zuviridar.conf; do
  grep -qxF "$want" "$scratch/contents" || fail "the package lacks $want"
done
outside=$(grep -v '^\./$' "$scratch/contents" | grep -v '^\./usr/' || true)
[ -n "$outside" ] && fail "files outside /usr: $outside"

# Fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
depends=$(field Depends)
echo "Depends: $depends"
for lib_package in libc6 libpulse0 libcurl; do
  grep -q "$lib_package" <<<"$depends" || fail "Depends lacks $lib_package (dpkg-shlibdeps)"
done
[ "$(field Recommends)" = "pipewire, pulseaudio | pipewire-pulse" ] || fail "Recommends: $(field Recommends)"
[ "$(field Suggests)" = "v4l2loopback-dkms" ] || fail "Suggests: $(field Suggests)"

# What is inside works on its own.
dpkg-deb -x "$deb" "$scratch/root"
desktop-file-validate "$scratch/root/usr/share/applications/com.quillonlabs.zuviridar_iphone.desktop" ||
  fail "desktop-file-validate"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$scratch/root/usr/share/applications/com.quillonlabs.zuviridar_iphone.desktop")
[ -L "$scratch/root/usr/bin/$exec_name" ] || fail "the desktop entry runs $exec_name, which is not in /usr/bin"
unit_exec=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$scratch/root/usr/lib/systemd/user/lumora-wave-service.service")
[ -x "$scratch/root$unit_exec" ] || fail "the user unit starts $unit_exec, which the package lacks"
[ "$("$scratch/root/usr/lib/lumora-zuviridar/server" --version)" = "Lumora ZuvIridar for iPhone $version" ] ||
  fail "server --version does not say $version"

# lintian's errors fail the test; its warnings are shown only.
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
grep -q '^E: ' "$scratch/lintian.log" && fail "lintian reports errors"

if [ "$(id -u)" != 0 ]; then
  echo "SKIP (part): installing and removing needs root; not root here"
else
  # One install at a time on this machine, and none over a copy someone
  # installed for real.
  exec 9>"${TMPDIR:-/tmp}/lumora-zuviridar-deb-test.lock"
  flock -w 600 9
  if dpkg-query -W -f='${Status}' lumora-zuviridar 2>/dev/null | grep -q 'ok installed'; then
    echo "SKIP (part): lumora-zuviridar is installed on this machine; left alone"
  else
    # dpkg itself does not wait for another frontend's lock.
    dpkg_waiting() {
      local out
      for _ in $(seq 1 120); do
        if out=$(dpkg "$@" 2>&1); then return 0; fi
        grep -q 'lock' <<<"$out" || { echo "$out"; return 1; }
        sleep 5
      done
      echo "$out"
      return 1
    }
    installed_here=1
    dpkg_waiting -i "$deb" || fail "dpkg -i"
    [ "$(lumora-zuviridar --version)" = "Lumora ZuvIridar for iPhone $version" ] ||
      fail "lumora-zuviridar on PATH does not answer --version"
    [ -L /etc/systemd/user/default.target.wants/lumora-wave-service.service ] ||
      fail "the wave service is not enabled for users"
    # The program on PATH, for a user of its own, must listen.
    home=$scratch/home
    mkdir -p "$home"
    (cd "$home" && exec env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.state" \
       XDG_DATA_HOME="$home/.share" XDG_RUNTIME_DIR="$home/run" \
       LUMORA_UPDATE_URL=http://127.0.0.1:9/ lumora-zuviridar </dev/null >"$scratch/server.log" 2>&1) &
    server_pid=$!
    port=
    for _ in $(seq 1 300); do
      port=$(sed -n 's/.*Listen on [0-9.]*:\([0-9]*\).*/\1/p' "$scratch/server.log" | head -n 1)
      [ -n "$port" ] && break
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.2
    done
    if [ -z "$port" ] || ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      cat "$scratch/server.log"
      fail "the installed program did not listen"
    fi
    kill "$server_pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's/^\.//' >"$scratch/files"
    dpkg_waiting -r lumora-zuviridar || fail "dpkg -r"
    while read -r f; do
      [ -e "$f" ] || [ -L "$f" ] && fail "dpkg -r left $f"
    done <"$scratch/files"
    [ -e /usr/lib/lumora-zuviridar ] && fail "dpkg -r left /usr/lib/lumora-zuviridar"
    [ -L /etc/systemd/user/default.target.wants/lumora-wave-service.service ] &&
      fail "dpkg -r left the wave service enabled"
    # dpkg keeps the package's record until it is purged.
    dpkg_waiting -P lumora-zuviridar || fail "dpkg -P"
    installed_here=
  fi
fi

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "Debian package: contents, fields, lintian and desktop entry fine"
