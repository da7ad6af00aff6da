#!/usr/bin/env bash
# Sets up the machine, builds Tarnwick and Fenlow with their tests, and runs
# the whole suite twice: a normal build, then one under AddressSanitizer and
# UndefinedBehaviorSanitizer so that memory faults fail too.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The benchmarks are built too (not run) so that they keep compiling.
bash scripts/build.sh build -DTW_BUILD_BENCH=ON
(cd build && ctest --output-on-failure -j"$(nproc)")

if [ "${TW_SKIP_SANITIZERS:-0}" != "1" ]; then
  bash scripts/build.sh build-asan -DTW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ctest --output-on-failure -j"$(nproc)")
fi

# Every parser of untrusted input has a fuzz target; CI gives each 30 seconds.
if [ "${CI:-}" = "true" ] || [ "${TW_FUZZ_SECONDS:-0}" != "0" ]; then
  bash scripts/fuzz.sh "${TW_FUZZ_SECONDS:-30}"
fi
