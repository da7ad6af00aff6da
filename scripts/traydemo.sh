#!/usr/bin/env bash
# Shows the tray icon on a desktop of its own: a virtual X display (Xvfb)
# with a panel (tint2) whose tray takes the icon. The demo raises a balloon,
# then rests the cursor on the icon so that its hint shows, and saves both
# moments as pictures:
#   build/traydemo-balloon.png   build/traydemo-hint.png
# Xvfb and tint2 are needed only here, so this script installs them itself.
#
#   scripts/traydemo.sh            pictures from a virtual display
#   TRAYDEMO_DISPLAY=:0 scripts/traydemo.sh
#                                  the demo on a running desktop instead,
#                                  until "Exit" in the icon's menu
set -euo pipefail
cd "$(dirname "$0")/.."
# Xvfb and tint2 only for this demo, on top of what building needs.
bash scripts/setup.sh xvfb tint2

bash scripts/build.sh build --target traydemo

if [ -n "${TRAYDEMO_DISPLAY:-}" ]; then
  DISPLAY=$TRAYDEMO_DISPLAY QT_QPA_PLATFORM=xcb exec build/components/traydemo
fi

# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
xdisplay_scratch

xdisplay_start traydemo 800x480
xdisplay_panel traydemo

QT_QPA_PLATFORM=xcb xdisplay_run build/components/traydemo --screenshots build/traydemo
echo "traydemo: open build/traydemo-balloon.png and build/traydemo-hint.png"
