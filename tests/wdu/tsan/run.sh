#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the driver layer and its tests under ThreadSanitizer and runs them.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
build="${1:-$root/build/tsan}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
