#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test

# Widget tests run without a screen.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j2 "$@"
