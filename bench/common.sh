# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the benchmark scripts (sourced, not run).
#
#   BENCH_BUILD   build tree to use (default build/bench, configured Release
#                 and built on first use)

BENCH_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
REPO_DIR="$(dirname "$BENCH_DIR")"
BENCH_BUILD="${BENCH_BUILD:-$REPO_DIR/build/bench}"
case "$BENCH_BUILD" in /*) ;; *) BENCH_BUILD="$REPO_DIR/$BENCH_BUILD" ;; esac

# Processes this script started, ended in reverse order on exit, and a
# scratch folder removed then.
BENCH_PIDS=()
BENCH_TMP="$(mktemp -d "${TMPDIR:-/tmp}/vcc-bench.XXXXXX")"

bench_cleanup() {
  local i pid
  for ((i = ${#BENCH_PIDS[@]} - 1; i >= 0; i--)); do
    pid="${BENCH_PIDS[$i]}"
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${BENCH_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  BENCH_PIDS=()
  if [ -n "$BENCH_TMP" ]; then rm -rf "$BENCH_TMP"; fi
}
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

bench_tmp() { echo "$BENCH_TMP"; }

# Configures (Release) and builds the given targets in $BENCH_BUILD.
bench_build() {
  bash "$BENCH_DIR/install-bench-deps.sh" >&2
  if [ ! -f "$BENCH_BUILD/CMakeCache.txt" ]; then
    cmake -S "$REPO_DIR" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
  fi
  cmake --build "$BENCH_BUILD" --target "$@" >&2
}

# A fresh home for one program run: settings, logs and the single-instance
# socket all in a scratch folder, so a control centre the user has running
# is neither seen nor disturbed. Prints the folder.
bench_home() {
  local home
  home="$(mktemp -d "$(bench_tmp)/home.XXXXXX")"
  mkdir -p "$home/config" "$home/state" "$home/runtime"
  chmod 700 "$home/runtime"
  echo "$home"
}

# Starts an X server of its own on a free display and exports DISPLAY.
bench_xvfb() {
  local fifo="$(bench_tmp)/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" \
    >"$(bench_tmp)/xvfb.log" 2>&1 &
  BENCH_PIDS+=($!)
  local display
  read -r display <"$fifo"
  rm -f "$fifo"
  export DISPLAY=":$display"
}

# Starts a private D-Bus session bus, as a desktop session has one, and
# exports its address.
bench_session_bus() {
  local out
  out="$(dbus-daemon --session --fork --print-address=1 --print-pid=1)"
  export DBUS_SESSION_BUS_ADDRESS="$(echo "$out" | sed -n 1p)"
  BENCH_PIDS+=("$(echo "$out" | sed -n 2p)")
}

bench_load() { cut -d' ' -f1-3 /proc/loadavg; }
