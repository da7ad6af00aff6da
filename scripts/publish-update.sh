#!/usr/bin/env bash
# Builds what the update web location serves from a build folder:
#
#   publish-update.sh BUILD_DIR OUT_DIR [SKINS_DIR]
#
# OUT_DIR then holds, as Tarnwick and Fenlow expect below the location:
#   fenlow.dat              [File] Version, Name, SHA256; [FENLOW] Version
#   zip/tarnwick.zip        the program (tarnwick, its web-mail module
#                           tarnwick-webmail.so and Lang/), made by Info-ZIP zip
#   zip/fenlow              the updater
#   zip/skins/skins.dat     one section per skin: Version, File, SHA256
#   zip/skins/<skin>.zip    each folder of SKINS_DIR (default: skins/ of the
#                           source tree, when there is one)
# Versions come from the version markers the executables carry. The
# information files are written last, so a client never finds one that names
# an archive not yet in place.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR OUT_DIR [SKINS_DIR]" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
skins=${3:-$src/skins}

tarnwick=$build/monitor/tarnwick
webmail=$build/monitor/tarnwick-webmail.so
fenlow=$build/updater/fenlow
for f in "$tarnwick" "$fenlow"; do
  [ -x "$f" ] || { echo "publish: $f is missing; build first" >&2; exit 1; }
done
[ -f "$webmail" ] || { echo "publish: $webmail is missing; build first" >&2; exit 1; }
command -v zip >/dev/null || { echo "publish: Info-ZIP zip is missing (scripts/setup.sh installs it)" >&2; exit 1; }

version_of() {
  grep -aoE 'TW-FILEVERSION:[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+' "$1" | head -n1 | cut -d: -f2
}
sha256_of() { sha256sum "$1" | cut -d' ' -f1; }
# [About] Version of a skin's ".skn" file (any letter case), "0" without one.
skin_version() {
  local skn
  skn=$(find "$1" -maxdepth 1 -type f -iname "$(basename "$1").skn" | head -n1)
  [ -n "$skn" ] || { echo 0; return; }
  tr -d '\r' <"$skn" | awk -F= '
    /^\[/ { about = (tolower($0) == "[about]") ; next }
    about && tolower($1) == "version" { print $2; found = 1; exit }
    END { if (!found) print 0 }'
}
# Writes a file through a temporary beside it.
put() {
  local target=$1
  cat >"$target.tmp.$$"
  mv -f "$target.tmp.$$" "$target"
}

tv=$(version_of "$tarnwick")
fv=$(version_of "$fenlow")
[ -n "$tv" ] && [ -n "$fv" ] || { echo "publish: no version marker in the executables" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out/zip/skins" "$stage/program"
cp "$tarnwick" "$stage/program/tarnwick"
chmod 0755 "$stage/program/tarnwick"
cp "$webmail" "$stage/program/tarnwick-webmail.so"
chmod 0644 "$stage/program/tarnwick-webmail.so"
if [ -d "$build/monitor/Lang" ]; then
  cp -r "$build/monitor/Lang" "$stage/program/Lang"
elif [ -d "$src/Lang" ]; then
  cp -r "$src/Lang" "$stage/program/Lang"
fi
(cd "$stage/program" && zip -q -X -r "$stage/tarnwick.zip" .)
mv -f "$stage/tarnwick.zip" "$out/zip/tarnwick.zip"
cp "$fenlow" "$stage/fenlow"
chmod 0755 "$stage/fenlow"
mv -f "$stage/fenlow" "$out/zip/fenlow"

skinsdat=""
if [ -d "$skins" ]; then
  for dir in "$skins"/*/; do
    [ -d "$dir" ] || continue
    name=$(basename "$dir")
    case "$name" in *[!A-Za-z0-9._\ -]* | .*) echo "publish: skipping skin folder '$name'" >&2; continue ;; esac
    (cd "$skins" && zip -q -X -r "$stage/$name.zip" "$name")
    mv -f "$stage/$name.zip" "$out/zip/skins/$name.zip"
    skinsdat+="[$name]"$'\r\n'"Version=$(skin_version "$dir")"$'\r\n'"File=$name.zip"$'\r\n'
    skinsdat+="SHA256=$(sha256_of "$out/zip/skins/$name.zip")"$'\r\n'
  done
fi
printf '%s' "$skinsdat" | put "$out/zip/skins/skins.dat"

printf '[File]\r\nVersion=%s\r\nName=tarnwick.zip\r\nSHA256=%s\r\n[FENLOW]\r\nVersion=%s\r\n' \
  "$tv" "$(sha256_of "$out/zip/tarnwick.zip")" "$fv" | put "$out/fenlow.dat"

echo "publish: Tarnwick $tv and Fenlow $fv in $out"
