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

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
cmake --build build --target traydemo

if [ -n "${TRAYDEMO_DISPLAY:-}" ]; then
  DISPLAY=$TRAYDEMO_DISPLAY QT_QPA_PLATFORM=xcb exec build/components/traydemo
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "traydemo: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

cat >"$work/tint2rc" <<'RC'
# One background (id 1), then a bottom panel that holds only the tray.
rounded = 0
border_width = 0
background_color = #3a3f4b 100
border_color = #000000 0

panel_items = S
panel_size = 100% 32
panel_position = bottom center horizontal
panel_background_id = 1
panel_padding = 4 2 4
panel_layer = top
autohide = 0
strut_policy = follow_size
systray_padding = 4 2 4
systray_background_id = 0
systray_icon_size = 24
systray_icon_asb = 100 0 0
RC
stdbuf -oL -eL tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
# Without a window manager tint2 first waits about 15 seconds for one; its
# tray is there once it has read its configuration.
echo "traydemo: waiting for the panel"
for _ in $(seq 300); do grep -qs "panel items" "$work/tint2.log" && break; sleep 0.1; done
grep -q "panel items" "$work/tint2.log" || { echo "traydemo: tint2 did not start"; cat "$work/tint2.log"; exit 1; }
sleep 1

QT_QPA_PLATFORM=xcb build/components/traydemo --screenshots build/traydemo
echo "traydemo: open build/traydemo-balloon.png and build/traydemo-hint.png"
