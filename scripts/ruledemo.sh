#!/usr/bin/env bash
# Shows the rule editor on a virtual 1024x768 display with sample data and
# saves a picture of the screen at each step:
#   build/ruledemo/shot-NN-what.png
# With a language file name as argument the windows use that language.
# Xvfb is needed only here, so this script installs it itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb
# The rule demo is one of the test tools: build/ gets them whatever built it before.
bash scripts/build.sh build -DTW_BUILD_TESTS=ON --target ruledemo --target tarnwick

out=build/ruledemo
rm -rf "$out"
mkdir -p "$out"
# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
xdisplay_scratch

xdisplay_start ruledemo 1024x768

args=(--screenshots "$out/shot")
[ $# -gt 0 ] && args+=(--language "$1")
QT_QPA_PLATFORM=xcb xdisplay_run build/tests/tools/ruledemo "$work/program" "${args[@]}"
echo "ruledemo: pictures in $out"
