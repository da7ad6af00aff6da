#!/usr/bin/env bash
# Shows the rule editor on a virtual 1024x768 display with sample data and
# saves a picture of the screen at each step:
#   build/ruledemo/shot-NN-what.png
# With a language file name as argument the windows use that language.
# Xvfb is needed only here, so this script installs it itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
cmake --build build --target ruledemo tarnwick -j4

out=build/ruledemo
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "ruledemo: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

args=(--screenshots "$out/shot")
[ $# -gt 0 ] && args+=(--language "$1")
QT_QPA_PLATFORM=xcb build/monitor/ruledemo "$work/program" "${args[@]}"
echo "ruledemo: pictures in $out"
