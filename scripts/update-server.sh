#!/usr/bin/env bash
# Serves an update site made by publish-update.sh over https on loopback, with
# a private certificate authority of its own:
#
#   update-server.sh SITE_DIR [CA_DIR]
#
# SITE_DIR is served as the web root, so the location is its "tarnwick/"
# folder when publish-update.sh wrote there. CA_DIR (default
# build/update-ca) keeps the authority and the server's certificate for
# 127.0.0.1 and localhost; they are made on first use, and made anew when
# either has run out or will within a day. Once the server
# listens it prints the two settings Tarnwick and Fenlow need:
#
#   TARNWICK_UPDATE_URL=https://127.0.0.1:<port>/tarnwick/
#   TARNWICK_UPDATE_CA=<CA_DIR>/ca.pem
#
# and serves until it is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
  echo "usage: $0 SITE_DIR [CA_DIR]" >&2
  exit 2
fi
site=$(cd "$1" && pwd)
ca=${2:-build/update-ca}
mkdir -p "$ca"
ca=$(cd "$ca" && pwd)

# Valid for a day more at least.
lasting() { [ -s "$1" ] && openssl x509 -checkend 86400 -noout -in "$1" >/dev/null 2>&1; }
if ! lasting "$ca/ca.pem" || ! lasting "$ca/server.pem" || [ ! -s "$ca/server.key" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Tarnwick update CA" \
    -keyout "$ca/ca.key" -out "$ca/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$ca/server.key" -out "$ca/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >"$ca/server.ext"
  openssl x509 -req -in "$ca/server.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -CAcreateserial \
    -days 30 -extfile "$ca/server.ext" -out "$ca/server.pem" 2>/dev/null
fi

# The server names its port on its first line; everything after that is
# its own business.
python3 -u tests/support/http_peer.py --root "$site" --cert "$ca/server.pem" --key "$ca/server.key" |
  while IFS= read -r line; do
    case "$line" in
      "PORT "*)
        echo "TARNWICK_UPDATE_URL=https://127.0.0.1:${line#PORT }/tarnwick/"
        echo "TARNWICK_UPDATE_CA=$ca/ca.pem"
        ;;
      *) echo "$line" ;;
    esac
  done
