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

if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi
cmake --build build --target displaydemo

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/program"
cp -r skins Lang "$work/program/"

Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "displaydemo: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# The window manager publishes the work area; without one the panel's strip
# would count as free screen.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

cat >"$work/tint2rc" <<'RC'
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
RC
stdbuf -oL -eL tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
echo "displaydemo: waiting for the panel"
for _ in $(seq 300); do grep -qs "panel items" "$work/tint2.log" && break; sleep 0.1; done
grep -q "panel items" "$work/tint2.log" || { echo "displaydemo: tint2 did not start"; cat "$work/tint2.log"; exit 1; }
sleep 1

QT_QPA_PLATFORM=xcb build/tests/tools/displaydemo --program-folder "$work/program" \
  --skin "$skin" "${top[@]}" --shots build/displaydemo
