#!/usr/bin/env bash
# scripts/run.sh on a tree of its own, where the build, the set-up and the
# demo's servers are stand-ins and "tarnwick" is a small program that notes
# where it ran from, writes the mails.dat of a first check and waits for its
# end. HOME is a folder of the test's own:
# - the demo runs in build-demo/program and never makes or touches the
#   user's program folder;
# - --own installs there the programs without debug information, each file
#   renamed into place (a process holding the old file keeps it);
# - a host_data.dat, language file or sound the user changed is kept, the
#   new one put beside it;
# - nothing is installed while a Tarnwick of the folder holds its lock, nor
#   by an install that fails or is ended half-way;
# - a whole install takes the place of an unfinished update's restore list.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
holder=""
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  rm -rf "$t"
}
trap cleanup EXIT
[ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; [ -f "$t/out.txt" ] && cat "$t/out.txt"; exit 1; }

tree=$t/tree
mkdir -p "$tree/scripts/lib" "$tree/tests/support" "$tree/build/monitor" "$tree/build/updater" \
  "$tree/sounds" "$tree/Lang" "$tree/skins/Default" "$t/home"
cp "$src/scripts/run.sh" "$tree/scripts/"
cp "$src"/scripts/lib/*.sh "$tree/scripts/lib/"
printf 'exit 0\n' >"$tree/scripts/setup.sh"
printf 'exit 0\n' >"$tree/scripts/build.sh"
cat >"$tree/scripts/demo_server.py" <<'PY'
import os, sys, time
cmd = sys.argv[1]
if cmd == "setup":
    work, program = sys.argv[2], sys.argv[3]
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "env"), "w") as f:
        f.write("DEMO_POP3=1\nDEMO_POP3S=2\nDEMO_IMAP=3\nDEMO_IMAPS=4\n")
    with open(os.path.join(program, "demo.ini"), "w") as f:
        f.write("[Options]\n")
    os.makedirs(os.path.join(program, "rules"), exist_ok=True)
    with open(os.path.join(program, "rules", "tarnwick-demo.rul"), "w") as f:
        f.write("[Rule]\n")
elif cmd == "serve":
    time.sleep(600)
PY
cat >"$tree/tests/support/webmail_site.py" <<'PY'
import sys, time
with open(sys.argv[sys.argv.index("--state") + 1], "w") as f:
    f.write('{"logouts": 1}')
print("PORT 8931", flush=True)
time.sleep(600)
PY
printf '[webmail.demo]\nAHost=http://127.0.0.1:8931/login\n' >"$tree/host_data.dat"
printf 'RIFF' >"$tree/sounds/newmail.wav"
printf '[About]\n' >"$tree/Lang/english.lng"
printf '[About]\n' >"$tree/Lang/finnish.lng"
printf '[Skin]\n' >"$tree/skins/Default/Default.skn"

# "tarnwick" and "fenlow": a program with debug information that runs the
# stand-in script, telling it where it was started from.
cat >"$t/fake.c" <<'C'
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
int main(int argc, char **argv) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n < 0) return 1;
    self[n] = 0;
    setenv("FAKE_EXE", self, 1);
    char *args[argc + 2];
    args[0] = "sh";
    args[1] = FAKE_SCRIPT;
    for (int i = 1; i < argc; i++) args[i + 1] = argv[i];
    args[argc + 1] = 0;
    execv("/bin/sh", args);
    return 127;
}
C
cat >"$t/fake-tarnwick.sh" <<'SH'
dir=$(dirname "$FAKE_EXE")
echo "$FAKE_EXE $*" >>"$FAKE_LOG"
mkdir -p "$dir/temp"
printf '[0]\nM=1\n' >"$dir/temp/mails.dat"
trap 'exit 0' TERM
while :; do sleep 0.1; done
SH
cc -g -O0 -DFAKE_SCRIPT="\"$t/fake-tarnwick.sh\"" -o "$tree/build/monitor/tarnwick" "$t/fake.c"
cp "$tree/build/monitor/tarnwick" "$tree/build/updater/fenlow"
module() { echo "int webmail_$1(void) { return $2; }" | cc -g -O0 -shared -fPIC -x c - -o "$tree/build/monitor/tarnwick-webmail.so"; }
module first 1

export HOME=$t/home FAKE_LOG=$t/ran.txt DISPLAY=:fake
unset WAYLAND_DISPLAY TW_PROGRAM_DIR
user=$HOME/.local/share/tarnwick
demo=$tree/build-demo/program
run() { timeout 60 bash ${TRACE:-} "$tree/scripts/run.sh" "$@" >"$t/out.txt" 2>&1; }
ran_from() { tail -n1 "$FAKE_LOG" | cut -d' ' -f1; }
snapshot() { (cd "$1" && find . ! -name tarnwick.lock | sort && find . -type f ! -name tarnwick.lock -print0 | sort -z | xargs -0 sha256sum); }
has_section() { readelf -S "$1" 2>/dev/null | grep -qF "$2"; }

# The demo, with no program folder of the user's yet.
run --seconds 1 || fail "the demo did not run"
[ ! -e "$HOME/.local" ] || fail "the demo made $(find "$HOME/.local" | head -n3 | tr '\n' ' ')"
[ "$(ran_from)" = "$demo/tarnwick" ] || fail "the demo ran $(ran_from), not its own folder's Tarnwick"
[ -f "$demo/demo.ini" ] && [ -f "$demo/temp/mails.dat" ] || fail "the demo's folder lacks its profile or mails.dat"
has_section "$demo/tarnwick" .debug_info || fail "the demo's copy lost what the build had"

# --own installs into the user's folder, the programs stripped.
run --own --seconds 1 || fail "--own did not run"
[ "$(ran_from)" = "$user/tarnwick" ] || fail "--own ran $(ran_from)"
for f in tarnwick fenlow tarnwick-webmail.so; do
  ! has_section "$user/$f" .debug_info || fail "the installed $f carries debug information"
  ! has_section "$user/$f" .symtab || fail "the installed $f carries its symbol table"
done
has_section "$user/tarnwick-webmail.so" .dynsym || fail "the installed module lost its dynamic symbols"
cmp -s "$user/host_data.dat" "$tree/host_data.dat" && [ -f "$user/Lang/english.lng" ] &&
  [ -f "$user/skins/Default/Default.skn" ] && [ -f "$user/newmail.wav" ] || fail "--own left files out"

# The next install renames the new module into place: the old file, which a
# running Tarnwick would have mapped, keeps its contents.
ln "$user/tarnwick-webmail.so" "$t/old.so"
cp "$t/old.so" "$t/old-copy.so"
module second 2
printf '[webmail.demo]\nAHost=http://127.0.0.1:8931/login\n[more]\n' >"$tree/host_data.dat"
run --own --seconds 1 || fail "--own did not run a second time"
cmp -s "$t/old.so" "$t/old-copy.so" || fail "the module was written over in place"
cmp -s "$user/tarnwick-webmail.so" "$t/old-copy.so" && fail "the new module was not installed"
cmp -s "$user/host_data.dat" "$tree/host_data.dat" || fail "a host_data.dat the user left alone was not updated"
[ ! -e "$user/host_data.dat.new" ] || fail "host_data.dat.new beside an unchanged host_data.dat"
[ -z "$(find "$user" -name '.*.new' -o -name '.*.old')" ] || fail "a copy on its way or an old file was left behind"

# A host_data.dat of the user's own stays; the build's comes beside it.
printf '[webmail.mine]\nAHost=https://mail.example/\n' >"$user/host_data.dat"
cp "$user/host_data.dat" "$t/mine.dat"
printf '[webmail.demo]\n[third]\n' >"$tree/host_data.dat"
run --own --seconds 1 || fail "--own did not run a third time"
cmp -s "$user/host_data.dat" "$t/mine.dat" || fail "the user's host_data.dat was replaced"
cmp -s "$user/host_data.dat.new" "$tree/host_data.dat" || fail "the build's host_data.dat is not beside it"
grep -q "host_data.dat.new" "$t/out.txt" || fail "the user was not told where the new host_data.dat is"

# So does a language file or the sound the user changed; a language file
# left alone is updated.
printf '[About]\nmine\n' >"$user/Lang/english.lng"
printf 'RIFFmine' >"$user/newmail.wav"
cp "$user/Lang/english.lng" "$t/mine.lng"
cp "$user/newmail.wav" "$t/mine.wav"
printf '[About]\nthird\n' | tee "$tree/Lang/english.lng" >"$tree/Lang/finnish.lng"
printf 'RIFF3' >"$tree/sounds/newmail.wav"
run --own --seconds 1 || fail "--own did not run beside the user's language file"
cmp -s "$user/Lang/english.lng" "$t/mine.lng" || fail "the user's language file was replaced"
cmp -s "$user/newmail.wav" "$t/mine.wav" || fail "the user's sound was replaced"
cmp -s "$user/Lang/english.lng.new" "$tree/Lang/english.lng" && cmp -s "$user/newmail.wav.new" "$tree/sounds/newmail.wav" ||
  fail "the build's language file or sound is not beside the user's"
cmp -s "$user/Lang/finnish.lng" "$tree/Lang/finnish.lng" || fail "a language file the user left alone was not updated"

# A folder installed before the digest was recorded: a host_data.dat that a
# release of the project brought is replaced, one of the user's own stays.
git -C "$tree" init -q
git -C "$tree" -c user.name=t -c user.email=t@t add host_data.dat
git -C "$tree" -c user.name=t -c user.email=t@t commit -qm first
cp "$tree/host_data.dat" "$user/host_data.dat"
printf '[webmail.demo]\n[fourth]\n' >"$tree/host_data.dat"
git -C "$tree" -c user.name=t -c user.email=t@t commit -qam second
rm -f "$user/host_data.dat.sha256" "$user/host_data.dat.new"
run --own --seconds 1 || fail "--own did not run on an older folder"
cmp -s "$user/host_data.dat" "$tree/host_data.dat" || fail "a host_data.dat an older release brought was kept"
[ -f "$user/host_data.dat.sha256" ] || fail "the digest of the installed host_data.dat was not recorded"
cp "$t/mine.dat" "$user/host_data.dat"
rm -f "$user/host_data.dat.sha256"
run --own --seconds 1 || fail "--own did not run on an older folder again"
cmp -s "$user/host_data.dat" "$t/mine.dat" || fail "the user's host_data.dat in an older folder was replaced"

# While a Tarnwick of the folder runs (holds the lock), nothing is installed.
before=$(snapshot "$user")
( exec 7<>"$user/tarnwick.lock"; flock -s 7; exec sleep 60 ) &
holder=$!
for _ in $(seq 50); do flock -n -x "$user/tarnwick.lock" true || break; sleep 0.1; done
module third 3
runs=$(wc -l <"$FAKE_LOG")
run --own --seconds 1 && fail "--own ran beside a running Tarnwick"
grep -q "is running from $user" "$t/out.txt" || fail "the user was not told why nothing was installed"
[ "$(snapshot "$user")" = "$before" ] || fail "files were installed beside a running Tarnwick"
[ "$(wc -l <"$FAKE_LOG")" = "$runs" ] || fail "a second Tarnwick was started"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=""

# An install that fails or is ended half-way leaves the folder as it was,
# an unfinished update's restore list too: a strip that fails on Fenlow, a
# rename that fails on a language file after the list went aside and the
# programs were renamed, a TERM while Fenlow is renamed. Stand-ins for strip
# and mv on PATH fail (or send the signal) when their arguments name the file.
stand=$t/stand-ins
mkdir -p "$stand" "$tree/skins/Fresh" "$user/temp/oldprogram"
printf '[Skin]\n' >"$tree/skins/Fresh/Fresh.skn"
printf 'R 1 tarnwick\n' >"$user/temp/oldprogram/restore.lst"
cp "$user/tarnwick" "$user/temp/oldprogram/1"
for tool in strip mv; do
  cat >"$stand/$tool" <<SH
#!/bin/sh
case "\$*" in *"\${FAIL_$tool:-//}"*)
  if [ -n "\${FAIL_SIGNAL:-}" ]; then kill -"\$FAIL_SIGNAL" "\$PPID"; else echo "$tool: failed" >&2; exit 1; fi ;;
esac
exec $(command -v "$tool") "\$@"
SH
  chmod +x "$stand/$tool"
done
before=$(snapshot "$user")
runs=$(wc -l <"$FAKE_LOG")
for how in FAIL_strip=fenlow FAIL_mv=.english.lng.new "FAIL_mv=/.fenlow.new FAIL_SIGNAL=TERM"; do
  PATH=$stand:$PATH env $how timeout 60 bash "$tree/scripts/run.sh" --own --seconds 1 >"$t/out.txt" 2>&1 &&
    fail "--own went on after $how"
  [ "$(snapshot "$user")" = "$before" ] || fail "$how changed the folder: $(diff <(echo "$before") <(snapshot "$user"))"
  grep -q "did not finish" "$t/out.txt" || fail "the user was not told that nothing was installed after $how"
done
[ "$(wc -l <"$FAKE_LOG")" = "$runs" ] || fail "Tarnwick was started after an install that did not finish"

# The whole install then takes the place of the restore list, which the next
# start of Tarnwick would play back over it.
run --own --seconds 1 || fail "--own did not run over a restore list"
[ ! -e "$user/temp/oldprogram" ] || fail "the restore list or its backups outlived a whole install"
[ -f "$user/skins/Fresh/Fresh.skn" ] || fail "--own over a restore list left files out"
grep -q "oldprogram held what an unfinished update" "$t/out.txt" || fail "the user was not told the restore list went"

# The demo again, now that the user has a folder: it stays as it was.
before=$(snapshot "$user")
run --seconds 1 || fail "the demo did not run beside the user's folder"
[ "$(ran_from)" = "$demo/tarnwick" ] || fail "the demo ran $(ran_from)"
[ "$(snapshot "$user")" = "$before" ] || fail "the demo changed the user's program folder"
echo "run.sh: ok"
