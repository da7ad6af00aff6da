#!/usr/bin/env bash
# Shows the Options dialog on a virtual 1024x768 display with sample data
# (accounts, skins, rules, presets and a coloured log), page by page, and
# saves a picture of the screen for each page:
#   build/optionsdemo/shot-NN-page.png
# Then it drags the first account onto the third with the mouse (xdotool)
# and saves build/optionsdemo/drag.png: the order is then Work, Web mail, Home.
# With a language file name as argument the dialog starts in that language.
# Xvfb and xdotool are needed only here, so this script installs them itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb xdotool
# The Options demo is one of the test tools: build/ gets them whatever built it before.
bash scripts/build.sh build -DTW_BUILD_TESTS=ON --target optionsdemo --target tarnwick

out=build/optionsdemo
rm -rf "$out"
mkdir -p "$out"
# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
xdisplay_scratch

xdisplay_start optionsdemo 1024x768

args=(--screenshots "$out/shot")
[ $# -gt 0 ] && args+=(--language "$1")
QT_QPA_PLATFORM=xcb xdisplay_run build/tests/tools/optionsdemo "$work/program" "${args[@]}"

# A real drag in the account list, by the mouse.
rm -rf "$work/program"
lang=()
[ $# -gt 0 ] && lang=(--language "$1")
QT_QPA_PLATFORM=xcb build/tests/tools/optionsdemo "$work/program" "${lang[@]}" --shot-after 5 "$out/drag.png" \
  >"$work/drag.log" 2>&1 &
demo=$!
pids+=($demo)
for _ in $(seq 50); do grep -q "lines" "$work/drag.log" && break; sleep 0.1; done
read -r x1 y1 x2 y2 < <(sed -n 's/^optionsdemo: lines //p' "$work/drag.log")
xdotool mousemove "$x1" "$y1" mousedown 1
sleep 0.3
for step in 1 2 3 4 5 6; do
  xdotool mousemove "$x1" $((y1 + (y2 - y1) * step / 6))
  sleep 0.1
done
xdotool mouseup 1
wait "$demo" || true
echo "optionsdemo: pictures in $out"
