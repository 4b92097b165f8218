#!/usr/bin/env bash
# Starts what DNS-SD publishing needs on Linux, on machines without systemd:
# the system D-Bus and avahi-daemon, each only when it is not running yet.
# Leaves running daemons alone. Exit code 0 when avahi answers afterwards;
# the server itself carries on without publishing when it does not.
set -u
SUDO=""; [ "$(id -u)" = 0 ] || SUDO="sudo -n"

if ! command -v avahi-daemon >/dev/null 2>&1; then
  echo "start-dnssd-daemons: avahi-daemon is not installed (./dev setup installs it)" >&2
  exit 1
fi

bus_up() { [ -S /run/dbus/system_bus_socket ] && dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1; }

if ! bus_up; then
  $SUDO mkdir -p /run/dbus
  # A socket or pid file left by a bus that is gone would stop the new one.
  [ -S /run/dbus/system_bus_socket ] && $SUDO rm -f /run/dbus/system_bus_socket
  if [ -f /run/dbus/pid ] && ! kill -0 "$(cat /run/dbus/pid 2>/dev/null)" 2>/dev/null; then
    $SUDO rm -f /run/dbus/pid
  fi
  $SUDO dbus-daemon --system --fork || echo "start-dnssd-daemons: dbus-daemon did not start" >&2
  for _ in $(seq 1 50); do bus_up && break; sleep 0.1; done
fi

if ! avahi-daemon --check 2>/dev/null; then
  $SUDO avahi-daemon -D || echo "start-dnssd-daemons: avahi-daemon did not start" >&2
fi
for _ in $(seq 1 50); do
  avahi-daemon --check 2>/dev/null && exit 0
  sleep 0.1
done
echo "start-dnssd-daemons: avahi-daemon is not running" >&2
exit 1
