#!/usr/bin/env bash
# scripts/test.sh on a small project of its own (one GoogleTest program of two
# tests, discovered by ctest before each run as the project's are): after a
# ctest run under GTEST_FILTER has left a list of one test behind, the test
# command, with or without that filter in its environment and with nothing
# to rebuild, runs both tests.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
mkdir -p "$t/scripts"
cp "$src/scripts/test.sh" "$src/scripts/build.sh" "$t/scripts/"
printf 'exit 0\n' >"$t/scripts/setup.sh"
cat >"$t/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(probe CXX)
option(TW_BUILD_TESTS "" OFF)
option(TW_BUILD_BENCH "" OFF)
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(probe probe.cpp)
target_link_libraries(probe PRIVATE GTest::gtest_main)
gtest_discover_tests(probe DISCOVERY_MODE PRE_TEST)
CMAKE
cat >"$t/probe.cpp" <<'CPP'
#include <gtest/gtest.h>
TEST(One, Passes) {}
TEST(Two, Passes) {}
CPP

fail() { echo "FAIL: $*"; cat "$t/out.txt"; exit 1; }
# How many tests the last run ran.
ran() { sed -n 's/.*tests passed, [0-9]* tests failed out of \([0-9]*\).*/\1/p' "$t/out.txt" | tail -n1; }
# As if the program had been built anew and then run under a filter.
narrow_the_list() {
  touch "$t/build/probe"
  (cd "$t/build" && GTEST_FILTER='One.*' ctest >"$t/out.txt" 2>&1) || fail "ctest under GTEST_FILTER"
  [ "$(ran)" = 1 ] || fail "the filtered run ran $(ran) tests, not 1: nothing to test here"
}
test_command() {
  (cd "$t" && env -u CI -u TW_FUZZ_SECONDS TW_SKIP_SANITIZERS=1 "$@" bash scripts/test.sh >"$t/out.txt" 2>&1) ||
    fail "test.sh failed"
}

bash "$t/scripts/build.sh" "$t/build" -DTW_BUILD_TESTS=ON -DTW_BUILD_BENCH=ON >"$t/out.txt" 2>&1 ||
  fail "the probe did not build"

narrow_the_list
test_command
[ "$(ran)" = 2 ] || fail "test.sh ran $(ran) tests on the list a filtered run left"

narrow_the_list
test_command GTEST_FILTER='One.*'
[ "$(ran)" = 2 ] || fail "test.sh ran $(ran) tests under an inherited GTEST_FILTER"
echo "test.sh: ok"
