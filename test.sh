#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds everything, runs every test, then fuzzes
# each fuzz target for a short while.
#
#   ./test.sh                     normal build (build/test), every test, fuzz smoke
#   SANITIZE=address ./test.sh    every test again, built with AddressSanitizer
#                                 and UndefinedBehaviorSanitizer (clang, build/asan)
#   SANITIZE=thread ./test.sh     the driver layer's and the CPU sampler's
#                                 threads under ThreadSanitizer (build/tsan,
#                                 build/tsan-qt)
#
# Arguments go to ctest (./test.sh -R soak); with arguments the fuzz smoke is
# left out. FUZZ_SECONDS sets its length per target (default 10, 0: none);
# scripts/fuzz fuzzes for longer, scripts/soak soaks for a simulated week.
set -euo pipefail
cd "$(dirname "$0")"

bash scripts/install-deps.sh
source scripts/sanitize-env.sh

# Widget tests run without a screen.
export QT_QPA_PLATFORM=offscreen

if [ $# -gt 0 ]; then fuzz_seconds="${FUZZ_SECONDS:-0}"; else fuzz_seconds="${FUZZ_SECONDS:-10}"; fi

case "${SANITIZE:-}" in
  "")
    # -O1 with line tables only: backtraces keep their files and lines, and the
    # whole build takes a good deal less time, which keeps CI inside its limit.
    # LLVM's linker links the seventy-odd test programs in a fifth of the time.
    cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld >/dev/null
    cmake --build build/test
    ctest --test-dir build/test --output-on-failure -j2 "$@"
    ;;
  address)
    configure_sanitized_build build/asan
    cmake --build build/asan
    # The packaging checks look at files, not at running code: the normal
    # pass has them.
    (sanitizer_env && ctest --test-dir build/asan --output-on-failure -j2 \
       -E '^(install_layout|install_program_files|debian_package)$' "$@")
    ;;
  thread)
    # The driver layer, its event thread and the link are plain C++ and run
    # under ThreadSanitizer whole. Qt is not built for it, so of the Qt side
    # only the CPU sampler's tests run, with Qt's own signal hand-over between
    # threads suppressed (tests/host/qt-tsan.supp).
    bash tests/wdu/tsan/run.sh build/tsan
    # Qt's uninstrumented hand-over still slips past the suppressions now and
    # then (a QString's reference count after a queued signal), so the
    # sampler's run is asked for with TSAN_QT=1 rather than gating CI.
    if [ "${TSAN_QT:-0}" = 1 ]; then
      configure_thread_build build/tsan-qt
      cmake --build build/tsan-qt --target cpu_sampler_test tray_window_test
      TSAN_OPTIONS="suppressions=$PWD/tests/host/qt-tsan.supp:halt_on_error=1" \
        ctest --test-dir build/tsan-qt -R '^(cpu_sampler_test|tray_window_test)$' --output-on-failure -j2
    fi
    fuzz_seconds=0
    ;;
  *)
    echo "SANITIZE must be address or thread, not '$SANITIZE'" >&2
    exit 2
    ;;
esac

if [ "$fuzz_seconds" != 0 ]; then
  bash scripts/fuzz "$fuzz_seconds"
fi
