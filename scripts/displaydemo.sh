#!/usr/bin/env bash
# Shows the main window, the new-mail popup and the own screen saver on a
# desktop of their own: a virtual X display (Xvfb) with a panel (tint2) at
# the bottom and a window manager (openbox) that keeps the panel's strip out
# of the work area, as a user would see them. Accounts are filled by hand; no mail
# server is involved. The demo photographs each stage:
#   build/displaydemo-slide.png   the window slid in above the panel
#   build/displaydemo-next.png    after Ctrl+Right (the next account)
#   build/displaydemo-popup.png   the new-mail popup
#   build/displaydemo-saver.png   the own screen saver with a check's line
#   build/displaydemo-top.png     (with --top) the window docked at the top
#
#   scripts/displaydemo.sh [--skin NAME] [--top] [--size WxH]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb tint2 openbox

skin=Default top=() size=1024x640
while [ $# -gt 0 ]; do
  case "$1" in
    --skin) skin=$2; shift 2 ;;
    --top) top=(--top); shift ;;
    --size) size=$2; shift 2 ;;
    *) echo "displaydemo: unknown argument $1"; exit 2 ;;
  esac
done

# The display demo is one of the test tools: build/ gets them whatever built it before.
bash scripts/build.sh build -DTW_BUILD_TESTS=ON --target displaydemo

# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
xdisplay_scratch

mkdir -p "$work/program"
cp -r skins Lang "$work/program/"

xdisplay_start displaydemo "$size"
xdisplay_window_manager
xdisplay_panel displaydemo

QT_QPA_PLATFORM=xcb xdisplay_run build/tests/tools/displaydemo --program-folder "$work/program" \
  --skin "$skin" "${top[@]}" --shots build/displaydemo
