#!/usr/bin/env bash
# Installs the Debian packages the native Linux build and its tests need.
# Idempotent and non-interactive; a second run only checks.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git file ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  zlib1g-dev libspeexdsp-dev libcurl4-openssl-dev libturbojpeg0-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavahi-compat-libdnssd-dev libpulse-dev pulseaudio
  avahi-daemon avahi-utils dbus
  pulseaudio-utils
  ffmpeg sox espeak-ng python3 xvfb imagemagick tmux
  pipewire pipewire-bin wireplumber libpipewire-0.3-dev libspa-0.2-dev
  gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base
  python3-pil
  nsis lintian desktop-file-utils dpkg-dev fakeroot
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins x11-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup-linux: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# DNS-SD publishing: start dbus and avahi-daemon when they are not running
# (no systemd here).
bash "$(dirname "$0")/start-dnssd-daemons.sh" || echo "setup-linux: DNS-SD daemons not running; the server will not be discoverable"
