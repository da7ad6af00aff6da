#!/usr/bin/env bash
# The update demo (run.sh --update-demo [ARGS...]): builds Tarnwick and
# Fenlow into a program folder of their own, then runs Tarnwick with ARGS and
# its update checks on against a local https update site that offers a newer
# build (TW_DEMO_VERSION, default 0.8.2.6): Tarnwick fetches it, hands over
# to Fenlow and comes back as the new build.
set -euo pipefail
cd "$(dirname "$0")/.."
demo=1
bash scripts/setup.sh
bash scripts/build.sh build -DTW_BUILD_TESTS=OFF
dest=${TW_PROGRAM_DIR:-$HOME/.local/share/tarnwick}
mkdir -p "$dest"
cp build/monitor/tarnwick build/monitor/tarnwick-webmail.so build/updater/fenlow "$dest/"
cp sounds/newmail.wav host_data.dat "$dest/"
[ -d Lang ] && cp -r Lang "$dest/"
[ -d skins ] && cp -rn skins "$dest/" || true
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi

# A newer build of the same sources, published where a local server offers it.
newer=${TW_DEMO_VERSION:-0.8.2.6}
cmake -S . -B build-update-demo -G Ninja -DTW_BUILD_TESTS=OFF -DTW_TARNWICK_VERSION="$newer" >/dev/null
cmake --build build-update-demo --target tarnwick fenlow
rm -rf build-update-demo/site
bash scripts/publish-update.sh build-update-demo build-update-demo/site/tarnwick

work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
bash scripts/update-server.sh build-update-demo/site >"$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q '^TARNWICK_UPDATE_CA=' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^TARNWICK_UPDATE_CA=' "$work/server.out" || { echo "run: the update site did not start"; cat "$work/server.out"; exit 1; }
export TARNWICK_UPDATE_URL TARNWICK_UPDATE_CA
TARNWICK_UPDATE_URL=$(sed -n 's/^TARNWICK_UPDATE_URL=//p' "$work/server.out")
TARNWICK_UPDATE_CA=$(sed -n 's/^TARNWICK_UPDATE_CA=//p' "$work/server.out")

# Update checks on, and the download starts without asking.
python3 - "$dest/Tarnwick.ini" <<'PY'
import os, re, sys
path = sys.argv[1]
want = {"CheckUpdates": "True", "AutoUpdate": "True"}
text = open(path, encoding="utf-8", errors="surrogateescape").read() if os.path.exists(path) else ""
out, in_options, found, seen = [], False, False, set()
def missing():
    return ["%s=%s" % (k, v) for k, v in want.items() if k not in seen]
for line in text.splitlines():
    m = re.match(r"\s*\[(.*)\]\s*$", line)
    if m:
        if in_options:
            out += missing()
        in_options = m.group(1).strip().lower() == "options"
        found = found or in_options
    elif in_options and line.split("=", 1)[0].strip() in want:
        key = line.split("=", 1)[0].strip()
        seen.add(key)
        line = "%s=%s" % (key, want[key])
    out.append(line)
if in_options:
    out += missing()
if not found:
    out += ["[Options]"] + missing()
tmp = path + ".tmp"
with open(tmp, "w", encoding="utf-8", errors="surrogateescape", newline="\r\n") as f:
    f.write("\n".join(out) + "\n")
os.chmod(tmp, 0o600)
os.replace(tmp, path)
PY

echo "run: update site at $TARNWICK_UPDATE_URL offers Tarnwick $newer"
"$dest/tarnwick" "$@" || true
# Tarnwick has handed over: Fenlow replaces it and starts the new build,
# which checks the site once more at its start-up.
for _ in $(seq 60); do
  grep -aq "TW-FILEVERSION:$newer" "$dest/tarnwick" 2>/dev/null && break
  sleep 1
done
if grep -aq "TW-FILEVERSION:$newer" "$dest/tarnwick"; then
  echo "run: Tarnwick $newer is installed and running; the update site stays up for a minute"
  sleep 60
else
  echo "run: Tarnwick was not updated"
  exit 1
fi
