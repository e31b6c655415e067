#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real power-off request against a mock logind on a private bus: it must
# arrive as PowerOff(false). The machine's own system bus is never touched.
set -euo pipefail
probe="$1"
work="$(mktemp -d)"
trap 'kill ${mock_pid:-} ${bus_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT

dbus-daemon --session --nofork --print-address=3 3>"$work/address" &
bus_pid=$!
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
address="$(head -n1 "$work/address")"
[ -n "$address" ] || { echo "private bus did not start"; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS="$address"
export DBUS_SESSION_BUS_ADDRESS="$address"

/usr/bin/python3 -m dbusmock --system --template logind -l "$work/calls.log" &
mock_pid=$!
for _ in $(seq 100); do
  if dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
       org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1; then break; fi
  sleep 0.1
done

"$probe"
for _ in $(seq 50); do grep -q "PowerOff" "$work/calls.log" 2>/dev/null && break; sleep 0.1; done
echo "calls seen by the mock logind:"
cat "$work/calls.log"
grep -Eq "PowerOff (False|false)" "$work/calls.log"
echo "1 passed, 0 failed"
