#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the control centre on the
# simulated unit.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target vornalith-control-centre-sim

exe=build/release/bin/vornalith-control-centre-sim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): running under xvfb-run."
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$exe" "$@"
fi
exec "$exe" "$@"
