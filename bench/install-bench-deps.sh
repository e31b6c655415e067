#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages the benchmarks need on top of what building
# the program needs (scripts/install-deps.sh). Does nothing when they are all
# present. CI runs no benchmark, so it never calls this.
#
#   psensor            the sensor monitor bench/idle compares against
#   xvfb, xauth        the X server the idle and start-up benchmarks show windows on
#   xdotool            hides the simulated unit's window for the second idle figure
#   openbox            a window manager, so that bench/idle can minimise a window
#   python3-dbus, python3-gi  bench/idle's notification area (a StatusNotifierWatcher)
#   dbus-daemon        a private session bus for both programs under test
#   libx11-dev         bench/first_shown watches the X server for the window
#   strace             bench/startup lists the waits on the way to the window
#   libbenchmark-dev   Google Benchmark (poll_tick, log_write)
#   linux-perf, valgrind  profiling a benchmark that misses its goal
set -euo pipefail

exec bash "$(dirname "$0")/../scripts/install-deps.sh" \
  psensor \
  xvfb xauth dbus-daemon xdotool strace openbox python3-dbus python3-gi \
  libx11-dev libbenchmark-dev \
  linux-perf valgrind
