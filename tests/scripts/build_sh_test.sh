#!/usr/bin/env bash
# scripts/build.sh on a small project of its own: the cmake arguments of
# every call take effect (the demo builds build/ without tests, the test
# command then wants them), a call that asks for nothing new configures
# nothing, and --target builds only what it names.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
mkdir -p "$t/scripts"
cp "$src/scripts/build.sh" "$t/scripts/"
cat >"$t/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(probe NONE)
option(PROBE_EXTRA "" ON)
set(PROBE_NAME "plain" CACHE STRING "")
file(APPEND "${CMAKE_BINARY_DIR}/configures.txt" "${PROBE_EXTRA} ${PROBE_NAME}\n")
add_custom_target(base ALL COMMAND ${CMAKE_COMMAND} -E echo ${PROBE_NAME} > base.done)
if(PROBE_EXTRA)
  add_custom_target(extra ALL COMMAND ${CMAKE_COMMAND} -E touch extra.done)
endif()
CMAKE

fail() { echo "FAIL: $*"; exit 1; }
build() { bash "$t/scripts/build.sh" b "$@" >"$t/out.txt" 2>&1 || { cat "$t/out.txt"; fail "build.sh $*"; }; }
configures() { wc -l <"$t/b/configures.txt"; }
cd "$t"

build -DPROBE_EXTRA=OFF
[ ! -e b/extra.done ] || fail "a target left out was built"
build -DPROBE_EXTRA=ON -DPROBE_NAME:STRING=second
[ -e b/extra.done ] || fail "the second call's -DPROBE_EXTRA=ON did not take effect"
[ "$(cat b/base.done)" = second ] || fail "the second call's -DPROBE_NAME did not take effect"
n=$(configures)
build -DPROBE_EXTRA=ON
build
[ "$(configures)" = "$n" ] || fail "settings the cache already holds configured the folder again"

rm -f b/base.done b/extra.done
build -DPROBE_EXTRA=ON --target base
[ -e b/base.done ] && [ ! -e b/extra.done ] || fail "--target built more or less than it named"
echo "build.sh: ok"
