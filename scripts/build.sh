#!/usr/bin/env bash
# Configures and builds one build folder:
#
#   build.sh FOLDER [CMAKE_ARGS...] [--target TARGET]...
#
# CMAKE_ARGS take effect on every call, not only the first: the folder is
# configured again whenever one of the -DNAME=VALUE settings given differs
# from its cache (or an argument of another kind is given). Several commands
# share build/, each saying what it needs (the test command wants the tests,
# the demo only its programs), so whichever ran before, the next one gets its
# own way. Settings not named keep what the folder holds. Without --target
# everything is built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
args=()
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --target) targets+=(--target "${2:?--target needs a name}"); shift ;;
    --target=*) targets+=(--target "${1#--target=}") ;;
    *) args+=("$1") ;;
  esac
  shift
done

# Whether the folder is configured and its cache already holds every
# setting asked for.
configured_as_asked() {
  [ -f "$dir/build.ninja" ] && [ -f "$dir/CMakeCache.txt" ] || return 1
  local a name value
  for a in "${args[@]}"; do
    case "$a" in
      -D*=*)
        name=${a#-D}
        value=${name#*=}
        name=${name%%=*}
        name=${name%%:*}
        # A cache line is NAME:TYPE=VALUE.
        awk -v n="$name:" -v v="$value" '
          index($0, n) == 1 { sub(/^[^=]*=/, ""); found = ($0 == v) }
          END { exit !found }' "$dir/CMakeCache.txt" || return 1
        ;;
      *) return 1 ;;
    esac
  done
}

if ! configured_as_asked; then
  cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
