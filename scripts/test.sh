#!/usr/bin/env bash
# Sets up the machine, builds Tarnwick and Fenlow with their tests, and runs
# the whole suite twice: a normal build, then one under AddressSanitizer and
# UndefinedBehaviorSanitizer so that memory faults fail too.
#
#   scripts/test.sh [CTEST_ARGS...]   arguments go to both ctest runs (as
#                                     "-R Pop3" for a part of the suite)
#
# Each build folder is configured for its tests on every run, whatever
# command built it before, and a run that finds no test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The benchmarks are built too (not run) so that they keep compiling.
bash scripts/build.sh build -DTW_BUILD_TESTS=ON -DTW_BUILD_BENCH=ON
(cd build && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@")

if [ "${TW_SKIP_SANITIZERS:-0}" != "1" ]; then
  bash scripts/build.sh build-asan -DTW_BUILD_TESTS=ON -DTW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@")
fi

# Every parser of untrusted input has a fuzz target. CI replays each from a
# fixed seed, so its verdict never hangs on a lucky mutation; exploring runs
# (TW_FUZZ_SECONDS) go on from a random one.
if [ "${TW_FUZZ_SECONDS:-0}" != "0" ]; then
  bash scripts/fuzz.sh "$TW_FUZZ_SECONDS"
elif [ "${CI:-}" = "true" ]; then
  bash scripts/fuzz.sh --ci
fi
