# Filling a program folder from build/: Tarnwick, its web-mail module, Fenlow,
# the sound, the language files, the skins and host_data.dat. Sourced from the
# top of the source tree.
#
# Nothing is written while a program of the folder runs: every Tarnwick holds
# the folder's lock ("tarnwick.lock", an flock) shared for its whole life and
# Fenlow holds it alone while it installs, so whoever fills the folder takes
# it alone first, as Fenlow does. Each file is written beside its place and
# renamed into it, so a half-written copy never stands under the real name
# and a file a process has mapped keeps its contents.

# programfolder_take DIR NAME: DIR's lock, taken alone on a descriptor of
# this shell (programfolder_fd) until programfolder_release; fails with a
# message when a program of the folder holds it.
programfolder_take() {
  local dir=$1 name=$2
  mkdir -p "$dir"
  exec {programfolder_fd}<>"$dir/tarnwick.lock"
  if ! flock -x -n "$programfolder_fd"; then
    exec {programfolder_fd}>&-
    echo "$name: Tarnwick (or Fenlow installing an update) is running from $dir;" \
      "nothing was installed. End it (\"Exit\" in its tray menu) and run this again." >&2
    return 1
  fi
}

# A Tarnwick started while the lock is still held here would not start at all.
programfolder_release() {
  exec {programfolder_fd}>&-
}

# programfolder_put SRC DST [strip]: DST replaced by a copy of SRC in one
# rename; with "strip", a copy without debug information or symbol table
# (the dynamic symbols the web-mail module links against stay).
programfolder_put() {
  local src=$1 dst=$2 how=${3:-} tmp
  tmp="$(dirname "$dst")/.$(basename "$dst").new"
  rm -f "$tmp"
  case "$how" in
    strip) strip --strip-unneeded -o "$tmp" "$src" ;;
    *) cp "$src" "$tmp" ;;
  esac
  chmod --reference="$src" "$tmp"
  mv -f "$tmp" "$dst"
}

# programfolder_install DIR [strip]: the programs, the sound, the language
# files and the skins of this tree into DIR (taken). Skin files already there
# stay as they are. host_data.dat is replaced only while it is as the last
# install left it (its digest is kept in host_data.dat.sha256); one the user
# changed stays, and this tree's version is put beside it as
# host_data.dat.new.
programfolder_install() {
  local dir=$1 how=${2:-} f rel
  programfolder_put build/monitor/tarnwick "$dir/tarnwick" "$how"
  programfolder_put build/monitor/tarnwick-webmail.so "$dir/tarnwick-webmail.so" "$how"
  programfolder_put build/updater/fenlow "$dir/fenlow" "$how"
  programfolder_put sounds/newmail.wav "$dir/newmail.wav"
  mkdir -p "$dir/Lang"
  for f in Lang/*; do
    [ -f "$f" ] && programfolder_put "$f" "$dir/$f"
  done
  while IFS= read -r -d '' f; do
    rel=${f#./}
    if [ -d "$f" ]; then
      mkdir -p "$dir/$rel"
    elif [ ! -e "$dir/$rel" ]; then
      programfolder_put "$f" "$dir/$rel"
    fi
  done < <(find ./skins -print0 2>/dev/null)
  programfolder_host_data "$dir"
}

# Whether the folder's host_data.dat is one this project shipped at some
# time: a folder installed before the digest was recorded has none, and its
# file is the user's only where no release brought it.
programfolder_host_data_shipped() {
  local mine h
  git rev-parse --git-dir >/dev/null 2>&1 || return 1
  mine=$(sha256sum <"$1/host_data.dat") || return 1
  for h in $(git log --format=%H -- host_data.dat 2>/dev/null); do
    [ "$(git show "$h:host_data.dat" 2>/dev/null | sha256sum)" = "$mine" ] && return 0
  done
  return 1
}

programfolder_host_data() {
  local dir=$1 sums=$1/host_data.dat.sha256
  if [ -f "$dir/host_data.dat" ] && ! cmp -s host_data.dat "$dir/host_data.dat" &&
    ! (cd "$dir" && sha256sum --status -c host_data.dat.sha256 2>/dev/null) &&
    { [ -f "$sums" ] || ! programfolder_host_data_shipped "$dir"; }; then
    programfolder_put host_data.dat "$dir/host_data.dat.new"
    echo "run: $dir/host_data.dat differs from the one this build brings: it was kept;" \
      "the new one is $dir/host_data.dat.new" >&2
    return 0
  fi
  programfolder_put host_data.dat "$dir/host_data.dat"
  rm -f "$dir/host_data.dat.new"
  (cd "$dir" && sha256sum host_data.dat >"$sums.new" && mv -f "$sums.new" "$sums")
}
