#!/usr/bin/env bash
# Installs every Debian package that building Tarnwick and Fenlow and running
# their tests needs. Safe to run again: it only calls apt-get when something
# is missing, and stays quiet when all is there.
set -euo pipefail

packages=(
  fonts-liberation fonts-dejavu-core
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libssl-dev libssl3 openssl
  zlib1g-dev libjpeg62-turbo-dev libcurl4-openssl-dev libxml2-dev
  libfmt-dev googletest libgtest-dev libgmock-dev
  zip unzip p7zip-full python3 curl
  clang-14 libclang-rt-14-dev
  dovecot-core dovecot-pop3d dovecot-imapd
  dante-server microsocks util-linux
  xdg-utils
  qt6-multimedia-dev libx11-dev libxext-dev
  libreoffice-writer-nogui
  qt6-webengine-dev libnss3-tools
)
# A script that needs more for itself alone (the tray demo's virtual display
# and panel) names those packages as arguments.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another apt on the machine is waited for rather than failed on.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -qq
  # Dovecot's and dante's packages start system services; the tests run
  # their own instances on private ports, so the system ones are not needed.
  # debconf's notes (no apt-utils, no dialog front end) say nothing a user
  # can act on; every other complaint is shown.
  log=$(mktemp)
  rc=0
  $SUDO "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>"$log" || rc=$?
  grep -v -e '^debconf: ' -e '^dpkg-preconfigure: unable to re-open stdin' "$log" >&2 || true
  rm -f "$log"
  [ "$rc" = 0 ] || { echo "setup: apt-get install failed"; exit "$rc"; }
  if command -v systemctl >/dev/null 2>&1; then
    $SUDO systemctl disable --now dovecot >/dev/null 2>&1 || true
    $SUDO systemctl disable --now danted >/dev/null 2>&1 || true
  fi
fi
