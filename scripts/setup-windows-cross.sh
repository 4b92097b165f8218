#!/usr/bin/env bash
# Sets up the 32-bit Windows build (preset `windows`) and the Wine test runner.
#
# What it does, in order (idempotent, non-interactive; a second run only checks
# and takes a few seconds):
#   1. Debian packages: the i686 mingw-w64 compiler with the posix thread model
#      (std::thread/std::mutex), mingw zlib, nasm and make for the library
#      builds, and Wine for 32-bit programs (adds the i386 architecture).
#   2. Only on machines that cannot execute 32-bit x86 code themselves
#      (`/lib/ld-linux.so.2 --version` fails): qemu-user-static from
#      bookworm-backports, registered with binfmt_misc for i386 ELF files, so
#      Wine's 32-bit loader runs through qemu-i386. Bookworm's own qemu 7.2
#      does not run Wine, hence backports.
#   3. A 32-bit Wine prefix in $CACHE/wineprefix (used by scripts/wine-run.sh).
#   4. FFmpeg (minimal: avi muxer, mpeg4/mp2/ac3 encoders, swscale, swresample,
#      file protocol; the avi demuxer and the matching decoders so the
#      recorder's tests read their files back) and speexdsp, cross-built from Debian's source packages
#      and installed into $CACHE/win-deps-<hash of this script>, with the
#      stable link $CACHE/win-deps pointing at it (cmake/QlDeps.cmake reads
#      it). Nothing prebuilt comes from anywhere else. Editing this script
#      changes the hash and so rebuilds them; the scratch tree lives under
#      $CACHE and is removed after the install.
#
# $CACHE is ${LUMORA_CACHE:-${XDG_CACHE_HOME:-~/.cache}/lumora-pc}, as in ./dev.
# Runs as root or as a user with sudo; the builds and the prefix belong to the
# user who runs it.
set -euo pipefail

SCRIPT=$(readlink -f "${BASH_SOURCE[0]}")
CACHE=${LUMORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora-pc}
HASH=$(sha256sum "$SCRIPT" | cut -c1-16)
DEPS="$CACHE/win-deps-$HASH"
SCRATCH="$CACHE/scratch-win-deps"
PREFIX="$CACHE/wineprefix"
JOBS=$(nproc)
HOST=i686-w64-mingw32

SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

log() { echo "setup-windows-cross: $*"; }

mkdir -p "$CACHE"
# Two setups at once would build into the same scratch tree.
exec 9>"$CACHE/.setup-windows-cross.lock"
flock 9

# --- apt helpers ----------------------------------------------------------

APT_UPDATED=0
apt_update() {
  if [ "$APT_UPDATED" = 0 ]; then
    $SUDO apt-get update -qq
    APT_UPDATED=1
  fi
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# apt_install package...: installs those not installed yet.
apt_install() {
  local missing=() p
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]}"
  apt_update
  $SUDO apt-get install -y -qq "${missing[@]}"
}

CODENAME=$(. /etc/os-release && echo "$VERSION_CODENAME")
DEB822=/etc/apt/sources.list.d/debian.sources

# write_sources <name> <awk program>: writes the apt source file <name> (in
# the form of the Debian entry: deb822 .sources, else a one-line .list) when
# its text changed. The awk program reads the Debian entry and prints the new
# entry.
write_sources() {
  local file prog=$2 text
  if [ -f "$DEB822" ]; then
    file=/etc/apt/sources.list.d/$1.sources
    text=$(awk -v codename="$CODENAME" "$prog" RS= ORS='\n\n' "$DEB822")
  else
    file=/etc/apt/sources.list.d/$1.list
    text=$(awk -v codename="$CODENAME" -v oneline=1 "$prog" /etc/apt/sources.list)
  fi
  [ -n "$text" ] || { log "no Debian entry found to derive $file from"; exit 1; }
  if [ "$(cat "$file" 2>/dev/null)" != "$text" ]; then
    printf '%s\n' "$text" | $SUDO tee "$file" >/dev/null
    APT_UPDATED=0
  fi
}

# Source entries beside every binary Debian entry (same URIs and suites).
AWK_DEB_SRC='
  oneline { if ($1 == "deb" && $0 ~ /debian/) { sub(/^deb /, "deb-src "); print } next }
  /(^|\n)Types:[^\n]*deb( |\n|$)/ && /(^|\n)URIs:[^\n]*debian/ {
    gsub(/(^|\n)#[^\n]*/, ""); sub(/^\n/, "")
    sub(/Types:[^\n]*/, "Types: deb-src"); print
  }'

# A backports entry with the URIs of the main archive entry.
AWK_BACKPORTS='
  oneline {
    if (!done && $1 == "deb" && $0 ~ /debian/ && $0 ~ (" " codename " ")) {
      sub(" " codename " ", " " codename "-backports "); print; done = 1
    }
    next
  }
  !done && /(^|\n)URIs:[^\n]*debian/ && match($0, /(^|\n)Suites:[^\n]*/) {
    suites = " " substr($0, RSTART, RLENGTH) " "
    if (suites ~ (" " codename " ")) {
      gsub(/(^|\n)#[^\n]*/, ""); sub(/^\n/, "")
      sub(/Types:[^\n]*/, "Types: deb")
      sub(/Suites:[^\n]*/, "Suites: " codename "-backports")
      print; done = 1
    }
  }'

# --- 1. compiler, tools, Wine ---------------------------------------------

apt_install g++-mingw-w64-i686-posix libz-mingw-w64-dev nasm make pkg-config dpkg-dev xz-utils

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  APT_UPDATED=0
fi
apt_install wine wine32:i386

# --- 2. 32-bit code through qemu where the machine cannot run it -----------

BINFMT=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects; F: the kernel opens the interpreter
# now, so it also works inside other mount namespaces.
QEMU_RULE_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QEMU_RULE_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

if ! runs_32bit; then
  log "this machine cannot run 32-bit x86 code; using qemu-i386 from $CODENAME-backports"
  write_sources "$CODENAME-backports" "$AWK_BACKPORTS"
  # Always through apt-get: an installed bookworm qemu (7.2) must be upgraded.
  # In backports qemu-user-static pulls in qemu-user, whose qemu-i386 is
  # static; nothing registers i386 on amd64, so that is done here.
  apt_update
  $SUDO apt-get install -y -qq -t "$CODENAME-backports" qemu-user-static
  qemu=""
  for q in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
    if [ -x "$q" ]; then qemu=$q; break; fi
  done
  [ -n "$qemu" ] || { log "qemu-user-static installed no qemu-i386"; exit 1; }
  rule=":qemu-i386:M::$QEMU_RULE_MAGIC:$QEMU_RULE_MASK:$qemu:F"
  [ -e "$BINFMT/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT"
  # Keep an earlier qemu-i386 entry only if it is enabled, uses the F flag and
  # an interpreter that exists; a new entry is matched before older ones.
  if [ -e "$BINFMT/qemu-i386" ]; then
    entry=$(cat "$BINFMT/qemu-i386")
    interp=$(sed -n 's/^interpreter //p' <<<"$entry")
    if ! grep -qx enabled <<<"$entry" || ! grep -q '^flags:.*F' <<<"$entry" || [ ! -x "$interp" ]; then
      echo -1 | $SUDO tee "$BINFMT/qemu-i386" >/dev/null
    fi
  fi
  [ -e "$BINFMT/qemu-i386" ] || printf '%s\n' "$rule" | $SUDO tee "$BINFMT/register" >/dev/null
  # Registrations do not survive a reboot; systemd-binfmt reads this at boot.
  $SUDO mkdir -p /etc/binfmt.d
  printf '%s\n' "$rule" | $SUDO tee /etc/binfmt.d/lumora-qemu-i386.conf >/dev/null
  runs_32bit || { log "32-bit programs still do not run after registering $qemu"; exit 1; }
fi

# --- 3. the Wine prefix ----------------------------------------------------

if ! grep -qs '^#arch=win32' "$PREFIX/system.reg"; then
  log "creating the 32-bit Wine prefix $PREFIX"
  rm -rf "$PREFIX"
  # No Mono or Gecko: console test programs need neither, and asking to
  # download them would stall a headless run.
  WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \
    wine wineboot -i
  WINEPREFIX="$PREFIX" wineserver -w
fi

# --- 4. FFmpeg and speexdsp for Windows -------------------------------------

if [ -f "$DEPS/.complete" ]; then
  ln -sfn "$(basename "$DEPS")" "$CACHE/win-deps"
  exit 0
fi

log "cross-building FFmpeg and speexdsp into $DEPS"
write_sources debian-src "$AWK_DEB_SRC"
if [ "$APT_UPDATED" = 0 ] || ! compgen -G '/var/lib/apt/lists/*_Sources*' >/dev/null; then
  APT_UPDATED=0; apt_update
fi

rm -rf "$DEPS" "$SCRATCH"
mkdir -p "$SCRATCH"
trap '[ $? = 0 ] || log "failed; the build logs are in $SCRATCH/*/*.log"' EXIT
cd "$SCRATCH"
apt-get source -qq speexdsp ffmpeg 2>&1 | grep -v -e '^W: Download is performed unsandboxed' || true
ls -d speexdsp-*/ ffmpeg-*/ >/dev/null  # both unpacked, or stop here

(
  cd speexdsp-*/
  ./configure --host="$HOST" --prefix="$DEPS" --disable-shared --enable-static \
    --disable-examples >configure.log 2>&1
  make -j"$JOBS" >make.log 2>&1
  make install >install.log 2>&1
)

# w32threads: FFmpeg's one-time initialisation and its mutexes are no-ops
# without a thread implementation, and --disable-autodetect turns it off.
(
  cd ffmpeg-*/
  ./configure --prefix="$DEPS" --arch=x86 --target-os=mingw32 --cross-prefix="$HOST-" \
    --disable-everything --disable-programs --disable-doc --disable-network \
    --disable-autodetect --disable-debug --enable-static --disable-shared \
    --disable-avdevice --disable-avfilter --disable-postproc \
    --enable-swscale --enable-swresample --enable-w32threads \
    --enable-encoder=mpeg4,mp2,mp2fixed,ac3,ac3_fixed \
    --enable-muxer=avi --enable-protocol=file \
    --enable-demuxer=avi --enable-decoder=mpeg4,ac3,mp2 \
    --enable-parser=mpeg4video,ac3,mpegaudio >configure.log 2>&1
  make -j"$JOBS" >make.log 2>&1
  make install >install.log 2>&1
)

cd "$CACHE"
rm -rf "$SCRATCH"
rm -f "$DEPS"/lib/*.la
# The .pc files name the stable link, so build trees configured against an
# older build of the libraries follow the link to this one.
sed -i "s|$DEPS|$CACHE/win-deps|g" "$DEPS"/lib/pkgconfig/*.pc
touch "$DEPS/.complete"
ln -sfn "$(basename "$DEPS")" "$CACHE/win-deps"
for old in "$CACHE"/win-deps-*; do
  [ "$old" = "$DEPS" ] || rm -rf "$old"
done
log "done: $DEPS"
