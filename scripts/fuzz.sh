#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each from its seed corpus.
#   fuzz.sh [seconds]  explore: each target runs that long (default 30) from a
#                      random seed, keeping what it learns in build-fuzz/corpus
#   fuzz.sh --ci       replay: a fixed seed and a fixed number of inputs, so a
#                      run that passes here passes on any machine; what the
#                      exploring runs find goes into fuzz/corpus as a regression
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--ci" ]; then
  limits=(-seed=1 -runs="${TW_FUZZ_RUNS:-20000}" -max_total_time=300)
else
  limits=(-max_total_time="${1:-30}")
fi
shopt -s nullglob
targets=(fuzz/fuzz_*.cpp)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DTW_FUZZ=ON \
    -DTW_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export QT_QPA_PLATFORM=offscreen
pids=()
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/${name#fuzz_}
  work=build-fuzz/corpus/${name#fuzz_}
  mkdir -p "$work"
  [ -d "$corpus" ] && cp -n "$corpus"/* "$work"/ 2>/dev/null || true
  ( "build-fuzz/fuzz/$name" "${limits[@]}" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="build-fuzz/$name-" "$work" >"build-fuzz/$name.log" 2>&1 \
    && echo "fuzz: $name clean" ) || { echo "fuzz: $name FAILED"; tail -40 "build-fuzz/$name.log"; exit 1; } &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
exit $rc
