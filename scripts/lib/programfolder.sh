# Filling a program folder from build/: Tarnwick, its web-mail module, Fenlow,
# the sound, the language files, the skins and host_data.dat. Sourced from the
# top of the source tree.
#
# Nothing is written while a program of the folder runs: every Tarnwick holds
# the folder's lock ("tarnwick.lock", an flock) shared for its whole life and
# Fenlow holds it alone while it installs, so whoever fills the folder takes
# it alone first, as Fenlow does.
#
# An install is whole or nothing. Every file is first written beside its
# place (".NAME.new"), and only then are they renamed into place one by one;
# a file replaced keeps a second name (".NAME.old") until every new one
# stands, so a half-written copy never stands under the real name, a file a
# process has mapped keeps its contents, and a failure or an INT, TERM or
# HUP before the last rename puts every old file back and removes what the
# install added. It runs under set -e: a failing step ends the script, and
# the install's EXIT trap puts the folder back.

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

# The install under way: its folder, its state ("whole" once every file stands),
# its entries in rename order ("put HAD REL": a staged file, HAD 1 where REL
# was there before; "drop REL": REL removed), the folders it made and what
# it tells the user once it is whole.
programfolder_dir=""
programfolder_state=""
programfolder_entries=()
programfolder_made=()
programfolder_notes=()

# programfolder_beside REL KIND: REPLY is the name beside REL, ".NAME.KIND".
programfolder_beside() {
  local rel=$1 sub=""
  if [[ $rel == */* ]]; then sub=${rel%/*}/; fi
  REPLY=$programfolder_dir/$sub.${rel##*/}.$2
}

# programfolder_plan REL: REL joins the install; REPLY is where its new
# version is to be written, beside it.
programfolder_plan() {
  local rel=$1 had=0
  if [ -e "$programfolder_dir/$rel" ] || [ -L "$programfolder_dir/$rel" ]; then had=1; fi
  # What a killed install left beside must not pass for this one's.
  programfolder_beside "$rel" old
  rm -rf "$REPLY"
  programfolder_beside "$rel" new
  rm -f "$REPLY"
  programfolder_entries+=("put $had $rel")
}

# programfolder_stage SRC REL [strip]: a copy of SRC written beside REL, to
# be renamed into it; with "strip", a copy without debug information or
# symbol table (the dynamic symbols the web-mail module links against stay).
programfolder_stage() {
  local src=$1 how=${3:-}
  programfolder_plan "$2"
  case "$how" in
    strip) strip --strip-unneeded -o "$REPLY" "$src" ;;
    *) cp "$src" "$REPLY" ;;
  esac
  chmod --reference="$src" "$REPLY"
}

# programfolder_drop REL: REL (a file or folder) goes with the install.
programfolder_drop() {
  if [ -e "$programfolder_dir/$1" ] || [ -L "$programfolder_dir/$1" ]; then
    programfolder_beside "$1" old
    rm -rf "$REPLY"
    programfolder_entries+=("drop $1")
  fi
}

# programfolder_mkdir REL: the folder REL, whose parent is there.
programfolder_mkdir() {
  if [ ! -d "$programfolder_dir/$1" ]; then
    programfolder_made+=("$1")
    mkdir "$programfolder_dir/$1"
  fi
}

# programfolder_keep SRC REL: a file the user may change (host_data.dat, the
# sound, the language files). It is replaced only while it is as the last
# install left it (its digest is kept in REL.sha256) or as a release of this
# project brought it; one the user changed stays, and this tree's version is
# put beside it as REL.new.
programfolder_keep() {
  local src=$1 rel=$2 dir=$programfolder_dir sum
  if [ -f "$dir/$rel" ] && ! cmp -s "$src" "$dir/$rel" &&
    ! (cd "$(dirname "$dir/$rel")" && sha256sum --status -c "${rel##*/}.sha256" 2>/dev/null) &&
    ! programfolder_shipped "$src" "$dir/$rel"; then
    programfolder_stage "$src" "$rel.new"
    programfolder_notes+=("$dir/$rel differs from the one this build brings: it was kept; the new one is $dir/$rel.new")
    return 0
  fi
  programfolder_stage "$src" "$rel"
  programfolder_drop "$rel.new"
  sum=$(sha256sum <"$src")
  programfolder_plan "$rel.sha256"
  printf '%s  %s\n' "${sum%% *}" "${rel##*/}" >"$REPLY"
}

# programfolder_shipped SRC FILE: whether FILE is SRC as a commit of this
# tree brought it. A folder installed before the digests were recorded has
# none, and a program update of Fenlow's brings language files of its own.
programfolder_shipped() {
  local mine h
  git rev-parse --git-dir >/dev/null 2>&1 || return 1
  mine=$(sha256sum <"$2") || return 1
  for h in $(git log --format=%H -- "$1" 2>/dev/null); do
    [ "$(git show "$h:$1" 2>/dev/null | sha256sum)" = "$mine" ] && return 0
  done
  return 1
}

# programfolder_settle: the EXIT trap of an install, and its end. Whole, the
# second names of the old files go; otherwise every old file comes back and
# what the install added goes.
programfolder_settle() {
  local e rel new old dst i
  trap '' INT TERM HUP
  for e in "${programfolder_entries[@]}"; do
    rel=${e#drop }
    rel=${rel#put [01] }
    dst=$programfolder_dir/$rel
    programfolder_beside "$rel" new
    new=$REPLY
    programfolder_beside "$rel" old
    old=$REPLY
    if [ "$programfolder_state" = whole ]; then
      rm -rf "$old"
      continue
    fi
    case "$e" in
      put\ *) if [ -e "$new" ]; then
        # Not renamed yet: what it replaces never moved.
        rm -rf "$new" "$old"
        continue
      fi ;;
    esac
    case "$e" in
      put\ 0\ *) rm -f "$dst" ;;
      *) if [ -e "$old" ] || [ -L "$old" ]; then mv -fT "$old" "$dst"; fi ;;
    esac
  done
  if [ "$programfolder_state" = whole ]; then
    for e in "${programfolder_notes[@]}"; do echo "run: $e" >&2; done
  else
    for ((i = ${#programfolder_made[@]} - 1; i >= 0; i--)); do
      rmdir "$programfolder_dir/${programfolder_made[i]}" 2>/dev/null
    done
    echo "run: the install into $programfolder_dir did not finish; the folder was left as it was" >&2
  fi
  programfolder_state=""
  programfolder_entries=()
  programfolder_made=()
  programfolder_notes=()
  trap - EXIT INT TERM HUP
}

# programfolder_install DIR [strip]: the programs, the sound, the language
# files and the skins of this tree into DIR (taken). Skin files already there
# stay as they are, and so do the sound, a language file or host_data.dat
# the user changed (see programfolder_keep).
programfolder_install() {
  local dir=$1 how=${2:-} f rel e dst
  programfolder_dir=$dir
  trap 'set +e; programfolder_settle' EXIT
  trap 'trap "" INT TERM HUP; exit 130' INT
  trap 'trap "" INT TERM HUP; exit 143' TERM
  trap 'trap "" INT TERM HUP; exit 129' HUP
  # An update Fenlow did not finish left what it replaced there, and a list
  # that the next start would play back over this install: both are the
  # first to go aside, and are deleted once every new file stands.
  if [ -e "$dir/temp/oldprogram/restore.lst" ]; then
    programfolder_notes+=("$dir/temp/oldprogram held what an unfinished update was to put back; this install took its place")
  fi
  programfolder_drop temp/oldprogram
  programfolder_stage build/monitor/tarnwick tarnwick "$how"
  programfolder_stage build/monitor/tarnwick-webmail.so tarnwick-webmail.so "$how"
  programfolder_stage build/updater/fenlow fenlow "$how"
  programfolder_keep sounds/newmail.wav newmail.wav
  programfolder_keep host_data.dat host_data.dat
  programfolder_mkdir Lang
  for f in Lang/*; do
    if [ -f "$f" ]; then programfolder_keep "$f" "$f"; fi
  done
  while IFS= read -r -d '' f; do
    rel=${f#./}
    if [ -d "$f" ]; then
      programfolder_mkdir "$rel"
    elif [ ! -e "$dir/$rel" ]; then
      programfolder_stage "$f" "$rel"
    fi
  done < <(find ./skins -print0 2>/dev/null)
  for e in "${programfolder_entries[@]}"; do
    rel=${e#drop }
    rel=${rel#put [01] }
    dst=$dir/$rel
    programfolder_beside "$rel" old
    case "$e" in
      drop\ *) mv -T "$dst" "$REPLY" ;;
      put\ 1\ *) ln -P "$dst" "$REPLY" 2>/dev/null || cp -a "$dst" "$REPLY" ;;
    esac
    programfolder_beside "$rel" new
    if [ "${e%% *}" = put ]; then mv -fT "$REPLY" "$dst"; fi
  done
  programfolder_state=whole
  programfolder_settle
}
