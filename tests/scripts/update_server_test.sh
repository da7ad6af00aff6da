#!/usr/bin/env bash
# scripts/update-server.sh on a certificate folder whose authority and
# server certificate run out within the day (as the update demo's do a
# month after they were made): it makes both anew, and what it serves is
# trusted by the authority it then names.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill -TERM -- "-$server" 2>/dev/null
  rm -rf "$t"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$t/out.txt"; exit 1; }

ca=$t/ca
mkdir -p "$ca" "$t/site/tarnwick"
echo ok >"$t/site/tarnwick/probe.txt"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
key "$ca/ca.key"
key "$ca/server.key"
openssl req -x509 -key "$ca/ca.key" -days 1 -subj "/CN=Old update CA" -out "$ca/ca.pem"
openssl req -new -key "$ca/server.key" -subj "/CN=127.0.0.1" -out "$ca/server.csr"
printf 'subjectAltName=IP:127.0.0.1\n' >"$ca/server.ext"
openssl x509 -req -in "$ca/server.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -CAcreateserial \
  -days 1 -extfile "$ca/server.ext" -out "$ca/server.pem" 2>/dev/null
cp "$ca/ca.pem" "$t/old-ca.pem"

setsid bash "$src/scripts/update-server.sh" "$t/site" "$ca" >"$t/out.txt" 2>&1 &
server=$!
for _ in $(seq 300); do grep -q '^TARNWICK_UPDATE_CA=' "$t/out.txt" && break; sleep 0.1; done
grep -q '^TARNWICK_UPDATE_CA=' "$t/out.txt" || fail "the update site did not start"
url=$(sed -n 's/^TARNWICK_UPDATE_URL=//p' "$t/out.txt")
named=$(sed -n 's/^TARNWICK_UPDATE_CA=//p' "$t/out.txt")

[ "$named" = "$ca/ca.pem" ] || fail "the site names $named"
cmp -s "$ca/ca.pem" "$t/old-ca.pem" && fail "the authority that runs out today was kept"
for f in ca.pem server.pem; do
  openssl x509 -checkend $((20 * 86400)) -noout -in "$ca/$f" >/dev/null || fail "the new $f does not last"
done
[ "$(curl -sS --cacert "$named" "${url}probe.txt")" = ok ] || fail "the site is not trusted by the authority it names"
echo "update-server.sh: ok"
