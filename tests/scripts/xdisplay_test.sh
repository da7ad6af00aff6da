#!/usr/bin/env bash
# The demos' virtual desktop (scripts/lib/xdisplay.sh) with stand-ins for
# Xvfb, openbox and tint2: a demo script ended by SIGTERM, SIGINT or SIGHUP
# while its tool runs ends the display, the window manager, the panel and
# the tool, and removes its scratch folder.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
fail() { echo "FAIL: $*"; cat "$t/demo.out" 2>/dev/null; exit 1; }

mkdir -p "$t/bin"
# Each stand-in notes its process and then waits to be ended.
cat >"$t/bin/Xvfb" <<'SH'
#!/bin/sh
echo $$ >>"$STANDIN_PIDS"
echo 42 >&3
exec sleep 300
SH
cat >"$t/bin/openbox" <<'SH'
#!/bin/sh
echo $$ >>"$STANDIN_PIDS"
exec sleep 300
SH
cat >"$t/bin/tint2" <<'SH'
#!/bin/sh
echo $$ >>"$STANDIN_PIDS"
echo "panel items"
exec sleep 300
SH
cat >"$t/bin/tool" <<'SH'
#!/bin/sh
echo $$ >>"$STANDIN_PIDS"
echo ready
exec sleep 300
SH
chmod +x "$t/bin/"*
# A demo script as the demos are made: the whole desktop, or only the display.
cat >"$t/demo.sh" <<SH
set -euo pipefail
. "$src/scripts/lib/xdisplay.sh"
xdisplay_scratch
echo "\$work" >"$t/work"
xdisplay_start demo 640x480
if [ "\$1" = desktop ]; then
  xdisplay_window_manager
  xdisplay_panel demo
fi
xdisplay_run tool
SH

# Background jobs of a shell without job control ignore SIGINT, and a shell
# that starts ignoring it cannot trap it: the demo gets a process group.
set -m
# A process that has ended may wait as a zombie for a parent that reaps late.
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
end_by() {
  local signal=$1 what=$2 demo
  : >"$t/pids"
  STANDIN_PIDS=$t/pids PATH="$t/bin:$PATH" XDG_RUNTIME_DIR=$t bash "$t/demo.sh" "$what" >"$t/demo.out" 2>&1 &
  demo=$!
  for _ in $(seq 100); do grep -q ready "$t/demo.out" && break; sleep 0.1; done
  grep -q ready "$t/demo.out" || fail "the stand-in tool did not start"
  kill -"$signal" "$demo"
  for _ in $(seq 100); do kill -0 "$demo" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$demo" 2>/dev/null && fail "the demo did not end on SIG$signal"
  wait "$demo" 2>/dev/null || true
  while read -r pid; do
    running "$pid" && { kill "$pid"; fail "SIG$signal left process $pid running ($what)"; }
  done <"$t/pids"
  [ "$(wc -l <"$t/pids")" -ge 2 ] || fail "the stand-ins did not start"
  [ ! -e "$(cat "$t/work")" ] || fail "SIG$signal left the scratch folder"
}
end_by TERM desktop
end_by INT display
end_by HUP display
echo "xdisplay: ok"
