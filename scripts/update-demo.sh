#!/usr/bin/env bash
# The update demo (run.sh --update-demo [ARGS...]): Tarnwick and Fenlow of
# this build in a program folder of their own (build-update-demo/program,
# made anew each run, with its own Tarnwick.ini), run with ARGS and the
# update checks on against a local https update site that offers a newer
# build of the same sources (TW_DEMO_VERSION, default 0.8.2.6): Tarnwick
# fetches it, hands over to Fenlow and comes back as the new build. The
# user's own program folder and settings are not touched, and every program
# the demo started is ended when it ends.
#
# Without a display it runs on a virtual one (Xvfb with a panel) and saves
# build/update-demo.png, the updated Tarnwick's About page, and
# build/update-demo-log.png, its log of the update.
set -euo pipefail
cd "$(dirname "$0")/.."
headless=0
[ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && headless=1
extra=()
[ "$headless" = 1 ] && extra=(xvfb openbox tint2 xdotool imagemagick)
bash scripts/setup.sh "${extra[@]}"
# The running build: whatever else build/ was configured for.
bash scripts/build.sh build --target tarnwick --target fenlow

# A newer build of the same sources, published where a local server offers it.
newer=${TW_DEMO_VERSION:-0.8.2.6}
bash scripts/build.sh build-update-demo -DTW_BUILD_TESTS=OFF -DTW_TARNWICK_VERSION="$newer" \
  --target tarnwick --target fenlow
rm -rf build-update-demo/site
bash scripts/publish-update.sh build-update-demo build-update-demo/site/tarnwick

dest=$(pwd)/build-update-demo/program
shot=build/update-demo.png
log_shot=build/update-demo-log.png
rm -rf "$dest" "$shot" "$log_shot"
mkdir -p "$dest"
cp build/monitor/tarnwick build/monitor/tarnwick-webmail.so build/updater/fenlow "$dest/"
cp sounds/newmail.wav host_data.dat "$dest/"
cp -r Lang skins "$dest/"
# Update checks on, the download starts without asking, and the windows
# speak English.
printf '[Options]\r\nCheckUpdates=True\r\nAutoUpdate=True\r\nLanguage=english.lng\r\n' >"$dest/Tarnwick.ini"
chmod 600 "$dest/Tarnwick.ini"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-update.XXXXXX")
pids=()
tarnwick_pid=""
server=""
# Every program running from the demo's folder: the first Tarnwick, Fenlow
# and the Tarnwick that Fenlow started (a detached process of its own).
demo_programs() {
  find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dest/*" 2>/dev/null | cut -d/ -f3
}
# The Tarnwick running from the folder's executable as it is now (one whose
# file was replaced shows as "... (deleted)").
new_tarnwick() {
  find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$dest/tarnwick" 2>/dev/null | cut -d/ -f3
}
cleanup() {
  set +e
  local left
  left=$(demo_programs)
  if [ -n "$left" ]; then
    # shellcheck disable=SC2086
    kill -TERM $left 2>/dev/null
    for _ in $(seq 100); do [ -z "$(demo_programs)" ] && break; sleep 0.1; done
    left=$(demo_programs)
    # shellcheck disable=SC2086
    [ -n "$left" ] && kill -KILL $left 2>/dev/null
  fi
  [ -n "$server" ] && kill -TERM -- "-$server" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The site's server is a pipeline: it gets a process group of its own, which
# ends as a whole.
setsid bash scripts/update-server.sh build-update-demo/site build-update-demo/ca >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q '^TARNWICK_UPDATE_CA=' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^TARNWICK_UPDATE_CA=' "$work/server.out" || { echo "run: the update site did not start"; cat "$work/server.out"; exit 1; }
export TARNWICK_UPDATE_URL TARNWICK_UPDATE_CA
TARNWICK_UPDATE_URL=$(sed -n 's/^TARNWICK_UPDATE_URL=//p' "$work/server.out")
TARNWICK_UPDATE_CA=$(sed -n 's/^TARNWICK_UPDATE_CA=//p' "$work/server.out")
# What the programs keep outside their folder (the registry's stand-in,
# autostart entries) stays in the demo's scratch folder.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
if [ "$headless" = 1 ]; then
  xdisplay_desktop run 1024x640
fi
xdisplay_runtime_dir

echo "run: update site at $TARNWICK_UPDATE_URL offers Tarnwick $newer"
echo "run: Tarnwick from $dest"
"$dest/tarnwick" "$@" &
tarnwick_pid=$!
# Tarnwick hands over and ends; Fenlow replaces it and starts the new build,
# which checks the site once more at its start-up.
updated=0
for _ in $(seq 120); do
  if ! kill -0 "$tarnwick_pid" 2>/dev/null && grep -aq "TW-FILEVERSION:$newer" "$dest/tarnwick" 2>/dev/null &&
    [ -n "$(new_tarnwick)" ]; then
    updated=1
    break
  fi
  sleep 1
done
wait "$tarnwick_pid" 2>/dev/null || true
if [ "$updated" = 0 ]; then
  echo "run: Tarnwick was not updated"
  exit 1
fi
echo "run: Tarnwick $newer is installed and running (process $(new_tarnwick | tr '\n' ' '))"

if [ "$headless" = 1 ]; then
  # The new Tarnwick's tray icon; its menu ends "Show log", "About", "Exit".
  icon=""
  for _ in $(seq 100); do
    icon=$(xdotool search --classname tarnwick 2>/dev/null | while read -r w; do
      eval "$(xdotool getwindowgeometry --shell "$w")"
      [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && echo "$w" && break
    done || true)
    [ -n "$icon" ] && break
    sleep 0.1
  done
  # menu_entry N: the Nth entry from the bottom of the icon's menu.
  menu_entry() {
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    sleep 1
    for _ in $(seq "$1"); do xdotool key Up; done
    xdotool key Return
    sleep 3
  }
  if [ -n "$icon" ]; then
    sleep 2
    menu_entry 2
    import -window root "$shot" && echo "run: saved $shot (the About page)"
    # "Show log": what the first Tarnwick did before it handed over.
    menu_entry 3
    import -window root "$log_shot" && echo "run: saved $log_shot (the log)"
  else
    echo "run: the new Tarnwick's tray icon did not show"
    import -window root "$shot" && echo "run: saved $shot"
  fi
else
  echo "run: the update site stays up for a minute"
  # In the background, so that a signal ends the wait at once.
  sleep 60 &
  pids+=($!)
  wait $!
fi
echo "run: ending the demo's Tarnwick"
