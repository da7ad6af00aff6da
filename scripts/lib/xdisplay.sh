# A virtual desktop for the demos: Xvfb on a free display number, optionally
# a window manager (which publishes the work area, so the panel's strip is
# not free screen) and a tint2 panel holding the tray.
#
# The scratch folder is $work and the processes to end are in $pids: both
# made by xdisplay_scratch, or by the caller itself; $1 of the other
# functions is the caller's name for messages.

# xdisplay_scratch: a scratch folder, removed with the processes at exit,
# also when the script is ended by a signal (bash runs no EXIT trap for a
# signal it does not trap itself).
xdisplay_scratch() {
  work=$(mktemp -d)
  pids=()
  trap xdisplay_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}
xdisplay_cleanup() {
  local pid left
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for _ in $(seq 50); do
    left=""
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && left=1; done
    [ -z "$left" ] && break
    sleep 0.1
  done
  if [ -n "$left" ]; then
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  fi
  rm -rf "$work"
}

# xdisplay_run COMMAND...: runs it as one of the processes to end, and waits
# for it in a way a signal interrupts (bash holds a trap back until a
# command in the foreground has ended); its exit status is the call's.
xdisplay_run() {
  local pid
  "$@" &
  pid=$!
  pids+=("$pid")
  wait "$pid"
}

# xdisplay_start NAME WIDTHxHEIGHT: exports DISPLAY.
xdisplay_start() {
  local name=$1 size=$2
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "$name: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  xdisplay_runtime_dir
}

# Without a session (a virtual display, a shell over ssh) there is no
# runtime folder; Qt wants one and says so at every start otherwise.
xdisplay_runtime_dir() {
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
  fi
}

# xdisplay_desktop NAME WIDTHxHEIGHT: a virtual display with a window
# manager and the panel, for Tarnwick on the X platform.
xdisplay_desktop() {
  local name=$1 size=$2
  xdisplay_start "$name" "$size"
  echo "$name: starting a virtual display $DISPLAY with a panel"
  xdisplay_window_manager
  xdisplay_panel "$name"
  export QT_QPA_PLATFORM=xcb
}

xdisplay_window_manager() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  sleep 1
}

# xdisplay_panel NAME: a bottom panel with only the tray, waited for.
xdisplay_panel() {
  local name=$1
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
systray_icon_asb = 100 0 0
RC
  stdbuf -oL -eL tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
  pids+=($!)
  # Without a window manager tint2 first waits about 15 seconds for one; its
  # tray is there once it has read its configuration.
  echo "$name: waiting for the panel"
  for _ in $(seq 300); do grep -qs "panel items" "$work/tint2.log" && break; sleep 0.1; done
  grep -q "panel items" "$work/tint2.log" || { echo "$name: tint2 did not start"; cat "$work/tint2.log"; exit 1; }
  sleep 1
}
