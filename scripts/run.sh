#!/usr/bin/env bash
# Sets up the machine, builds Tarnwick and Fenlow, and starts Tarnwick from a
# program folder (settings, language files, skins and the sound live beside
# the executable).
#
#   scripts/run.sh              a demo: Tarnwick on its "demo" profile, whose
#                               accounts (POP3 over TLS, IMAP4 over TLS,
#                               plain POP3 with a rule that deletes one
#                               sender's mail) read a private Dovecot on
#                               loopback seeded with a few dozen messages,
#                               and a web-mail account reads the web-mail
#                               test site on 127.0.0.1:8931; both servers
#                               stop when Tarnwick exits. It runs in a
#                               program folder of its own, build-demo/program,
#                               made anew each time and left for a look
#   scripts/run.sh --own        Tarnwick on your own settings (no demo), in
#                               your program folder: TW_PROGRAM_DIR, by
#                               default ~/.local/share/tarnwick. The programs
#                               (without debug information) and the other
#                               files are installed there first, whole or
#                               not at all, and only while no Tarnwick of
#                               that folder runs; a host_data.dat, language
#                               file or sound you changed is kept, and an
#                               unfinished update's restore list goes
#   scripts/run.sh ARGS...      the same, with Tarnwick's own arguments
#                               (as "-user _work" for the profile "work")
#   scripts/run.sh --seconds N  ends Tarnwick (and the demo) after N seconds
#   scripts/run.sh --update-demo [ARGS...]
#                               Tarnwick with its update checks on against a
#                               local https update site offering a newer
#                               build, which it fetches and hands to Fenlow
#                               (see scripts/update-demo.sh)
#
# Without a display the demo runs on a virtual one (Xvfb with a tint2 panel)
# and saves build/tarnwick-demo.png after the first check.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--update-demo" ]; then
  shift
  exec bash scripts/update-demo.sh "$@"
fi

own=0
seconds=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --own) own=1 ;;
    --seconds) seconds=${2:?--seconds needs a number}; shift ;;
    --seconds=*) seconds=${1#--seconds=} ;;
    -h|--help) sed -n '2,35p' "$0"; exit 0 ;;
    *) own=1; args+=("$1") ;;
  esac
  shift
done
case "$seconds" in ''|*[!0-9]*) echo "run: --seconds wants a whole number"; exit 2 ;; esac

headless=0
[ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && headless=1
extra=()
# The virtual display, its panel and the screenshot tools, only when needed.
[ "$headless" = 1 ] && extra=(xvfb openbox tint2 xdotool imagemagick)
bash scripts/setup.sh "${extra[@]}"
# Only the two programs: build/ keeps whatever else it was configured for
# (the tests and benchmarks of the test command, the display demo), so the
# commands that share it never undo each other's set-up.
bash scripts/build.sh build --target tarnwick --target fenlow

# shellcheck source=lib/programfolder.sh
. scripts/lib/programfolder.sh
if [ "$own" = 1 ]; then
  dest=${TW_PROGRAM_DIR:-$HOME/.local/share/tarnwick}
  programfolder_take "$dest" run || exit 1
  programfolder_install "$dest" strip
else
  # The demo's profile, rule, log and mails.dat stay in a folder of its own.
  dest=$(pwd)/build-demo/program
  programfolder_take "$dest" run || exit 1
  find "$dest" -mindepth 1 -maxdepth 1 ! -name tarnwick.lock -exec rm -rf {} +
  programfolder_install "$dest"
fi
programfolder_release
# The browser engine of the web-mail route will not start its sandbox for
# root; only then is it turned off.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
# The engine describes its graphics set-up at every start; the user's own
# logging rules come after this one, so they can have it back.
export QT_LOGGING_RULES="qt.webenginecontext=false${QT_LOGGING_RULES:+;$QT_LOGGING_RULES}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-run.XXXXXX")
# The demo server's own processes (another user when run as root) read in here.
chmod 755 "$work"
pids=()
dovecot_pid=""
tarnwick_pid=""
cleanup() {
  set +e
  [ -n "$tarnwick_pid" ] && kill -TERM "$tarnwick_pid" 2>/dev/null && wait "$tarnwick_pid" 2>/dev/null
  if [ -n "$dovecot_pid" ]; then
    kill -TERM -- "-$dovecot_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$dovecot_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$dovecot_pid" 2>/dev/null
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# shellcheck source=lib/xdisplay.sh
. scripts/lib/xdisplay.sh
if [ "$headless" = 1 ]; then
  xdisplay_desktop run 1024x640
fi
xdisplay_runtime_dir

# What a run prints that no user can act on: the engine's note that its
# sandbox is off (it is off only for root, see above), and on a virtual
# display the sound system it has none of. Everything else still shows.
noise=(-e '^Sandboxing disabled by user\.$')
[ "$headless" = 1 ] && noise+=(-e 'PulseAudio' -e 'pa_context_connect')
quiet_known_noise() {
  grep --line-buffered -v "${noise[@]}" >&2 || true
}

start_tarnwick() {
  "$@" 2> >(quiet_known_noise) &
  tarnwick_pid=$!
}

if [ "$own" = 1 ]; then
  echo "run: Tarnwick on your own settings in $dest"
  start_tarnwick "$dest/tarnwick" "${args[@]}"
else
  echo "run: seeding the demo mail server"
  python3 scripts/demo_server.py setup "$work/server" "$dest"
  setsid python3 scripts/demo_server.py serve "$work/server" >"$work/server/dovecot.stderr" 2>&1 &
  dovecot_pid=$!
  python3 scripts/demo_server.py wait "$work/server"
  # shellcheck disable=SC1091
  . "$work/server/env"
  echo "run: demo server on 127.0.0.1: POP3 $DEMO_POP3, POP3S $DEMO_POP3S, IMAP4 $DEMO_IMAP, IMAPS $DEMO_IMAPS"
  # The web-mail site, on the port host_data.dat's [webmail.demo] names; when
  # that port is taken, on another, and the demo folder's copy of
  # host_data.dat (copied anew at every run) is pointed there.
  web_port=""
  for port in 8931 0; do
    python3 tests/support/webmail_site.py --port "$port" --state "$work/webmail-state.json" \
      >"$work/webmail.out" 2>"$work/webmail.log" &
    web_pid=$!
    for _ in $(seq 100); do
      grep -qs '^PORT ' "$work/webmail.out" && break
      kill -0 "$web_pid" 2>/dev/null || break
      sleep 0.1
    done
    if grep -qs '^PORT ' "$work/webmail.out"; then
      pids+=("$web_pid")
      web_port=$(sed -n 's/^PORT //p' "$work/webmail.out" | head -n1)
      break
    fi
    kill "$web_pid" 2>/dev/null || true
  done
  if [ -z "$web_port" ]; then
    echo "run: the web-mail site did not start:"; cat "$work/webmail.log"
  else
    if [ "$web_port" != 8931 ]; then
      sed -i "s#^AHost=http://127.0.0.1:8931/login#AHost=http://127.0.0.1:$web_port/login#" "$dest/host_data.dat"
    fi
    echo "run: web-mail site on http://127.0.0.1:$web_port/ (user bob)"
  fi
  echo "run: Tarnwick on the demo profile (-user _demo); its tray icon shows the new mail"
  # The demo's authority is trusted by this run of Tarnwick only.
  start_tarnwick env SSL_CERT_FILE="$work/server/ca-bundle.pem" "$dest/tarnwick" -user _demo

  # After the first check: what it found, and what the rule left on the server.
  for _ in $(seq 600); do
    [ -f "$dest/temp/mails.dat" ] && break
    kill -0 "$tarnwick_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -f "$dest/temp/mails.dat" ]; then
    # The web-mail account is checked last: its log-out ends the check.
    for _ in $(seq 100); do
      grep -qs '"logouts": [1-9]' "$work/webmail-state.json" && break
      sleep 0.1
    done
    python3 scripts/demo_server.py report "$work/server" "$dest" "$work/webmail-state.json" || true
    if [ "$headless" = 1 ]; then
      # Rest the cursor on the tray icon so that its hint shows too.
      icon=$(xdotool search --classname tarnwick 2>/dev/null | while read -r w; do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && echo "$w" && break
      done || true)
      if [ -n "$icon" ]; then
        eval "$(xdotool getwindowgeometry --shell "$icon")"
        xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
        sleep 0.3
        xdotool mousemove $((X + WIDTH / 2 + 1)) $((Y + HEIGHT / 2 + 1))
      fi
      # The window slides in above the panel in about four seconds.
      sleep 7
      import -window root build/tarnwick-demo.png && echo "run: saved build/tarnwick-demo.png"
    fi
  else
    echo "run: Tarnwick ended before its first check"
  fi
fi

if [ "$seconds" -gt 0 ]; then
  ( sleep "$seconds"; kill -TERM "$tarnwick_pid" 2>/dev/null ) &
  pids+=($!)
elif [ "$headless" = 1 ]; then
  echo "run: Tarnwick runs on the virtual display; Ctrl+C ends it (or use --seconds N)"
fi
rc=0
wait "$tarnwick_pid" || rc=$?
tarnwick_pid=""
echo "run: Tarnwick ended"
exit "$rc"
