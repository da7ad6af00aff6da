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
#
#   TW_SKIP_SANITIZERS=1   only the normal build
#   TW_FUZZ_SECONDS=N      after the suite, each fuzz target explores N seconds
#   CI=true                after the suite, each fuzz target replays from a fixed seed
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
# The whole suite as it stands: GoogleTest's own settings in the environment
# (GTEST_FILTER above all) would narrow or change what each program lists
# and runs.
while read -r name; do unset "$name"; done < <(compgen -e | grep '^GTEST_' || true)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# ctest keeps each program's list of tests until the program is built anew,
# and a list made by a run with a narrower view (an inherited GTEST_FILTER)
# would pass on part of the suite: every list is made afresh.
run_ctest() {
  local dir=$1
  shift
  find "$dir" -name '*\[*\]_tests.cmake' -delete
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@")
}

# The benchmarks are built too (not run) so that they keep compiling.
bash scripts/build.sh build -DTW_BUILD_TESTS=ON -DTW_BUILD_BENCH=ON
run_ctest build "$@"

if [ "${TW_SKIP_SANITIZERS:-0}" != "1" ]; then
  bash scripts/build.sh build-asan -DTW_BUILD_TESTS=ON -DTW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  run_ctest build-asan "$@"
fi

# Every parser of untrusted input has a fuzz target. CI replays each from a
# fixed seed, so its verdict never hangs on a lucky mutation; exploring runs
# (TW_FUZZ_SECONDS) go on from a random one.
if [ "${TW_FUZZ_SECONDS:-0}" != "0" ]; then
  bash scripts/fuzz.sh "$TW_FUZZ_SECONDS"
elif [ "${CI:-}" = "true" ]; then
  bash scripts/fuzz.sh --ci
fi
