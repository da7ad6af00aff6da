#!/usr/bin/env bash
# Sets up the machine, builds Tarnwick and Fenlow, and starts Tarnwick from a
# program folder of its own (settings, language files and skins live beside
# the executable).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DTW_BUILD_TESTS=OFF
dest=${TW_PROGRAM_DIR:-$HOME/.local/share/tarnwick}
mkdir -p "$dest"
cp build/monitor/tarnwick build/updater/fenlow "$dest/"
[ -d Lang ] && cp -r Lang "$dest/"
cp host_data.dat "$dest/"
# The browser engine of the web-mail route will not start its sandbox for
# root; only then is it turned off.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
[ -d skins ] && cp -rn skins "$dest/" || true
exec "$dest/tarnwick" "$@"
