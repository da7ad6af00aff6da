#!/usr/bin/env bash
# Shows the Options dialog on a virtual 1024x768 display with sample data
# (accounts, skins, rules, presets and a coloured log), page by page, and
# saves a picture of the screen for each page:
#   build/optionsdemo/shot-NN-page.png
# With a language file name as argument the dialog starts in that language.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
cmake --build build --target optionsdemo tarnwick

out=build/optionsdemo
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "optionsdemo: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

args=(--screenshots "$out/shot")
[ $# -gt 0 ] && args+=(--language "$1")
QT_QPA_PLATFORM=xcb build/monitor/optionsdemo "$work/program" "${args[@]}"
echo "optionsdemo: pictures in $out"
