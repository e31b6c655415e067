#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program on a private bus that stands for the system bus, with
# python-dbusmock's logind on it; its call log is named in VCC_LOGIND_CALLS.
# The machine's own system bus is never touched.
set -euo pipefail
work="$(mktemp -d)"
trap 'kill ${mock_pid:-} ${bus_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT

dbus-daemon --session --nofork --print-address=3 3>"$work/address" &
bus_pid=$!
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
address="$(head -n1 "$work/address")"
[ -n "$address" ] || { echo "private bus did not start"; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS="$address" DBUS_SESSION_BUS_ADDRESS="$address" VCC_LOGIND_CALLS="$work/calls.log"

/usr/bin/python3 -m dbusmock --system --template logind -l "$work/calls.log" &
mock_pid=$!
for _ in $(seq 100); do
  dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
    org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1 && break
  sleep 0.1
done
"$@"
