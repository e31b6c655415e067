# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by test.sh, scripts/fuzz and scripts/soak: the sanitized build and
# how its programs are run.
#
# One build tree serves the sanitizer pass and the fuzz targets: clang with
# AddressSanitizer and UndefinedBehaviorSanitizer everywhere, libFuzzer's
# coverage hooks compiled in (they cost little), and the fuzz targets linked
# against libFuzzer itself. Undefined behaviour stops the program.

VCC_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# configure_sanitized_build <build folder>: -O1 and line tables only, as the
# sanitizers advise: reports keep their file and line, the build takes half
# the time; LLVM's linker, which links the instrumented programs far faster.
configure_sanitized_build() {
  local build="$1"
  local flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link -fno-omit-frame-pointer"
  cmake -S "$VCC_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined -fuse-ld=lld" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined -fuse-ld=lld" \
    -DVCC_FUZZ=ON >/dev/null
}

# configure_thread_build <build folder>: the program under ThreadSanitizer.
# Qt is not built for it, so only tests whose threads are the program's own
# (the CPU sampler's) are run from this tree.
configure_thread_build() {
  local build="$1"
  cmake -S "$VCC_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread -fuse-ld=lld" >/dev/null
}

# The environment sanitized programs run in. Leaks are reported at exit;
# fontconfig's own lifelong caches are the only ones let through. An
# allocation larger than the machine can give fails as it does in a normal
# build (Qt's data stream asks for the length a damaged settings value
# claims, and copes when it is refused) instead of ending the program.
sanitizer_env() {
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1:allocator_may_return_null=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
  export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$VCC_ROOT/tests/reliability/lsan.supp:print_suppressions=0}"
  if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x /usr/bin/llvm-symbolizer-14 ]; then
    export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14
  fi
}
