#!/usr/bin/env bash
# Makes the test certificates and keys in this folder (for tests only; the
# keys are public). Run it again only to replace them.
set -euo pipefail
cd "$(dirname "$0")"
days=36500
ec() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
sign() {  # name, CA, extensions, extra x509 options...
  local name=$1 ca=$2 ext=$3; shift 3
  openssl req -new -key "$name.key" -subj "/CN=$name" -out "$name.csr"
  printf '%s\n' "$ext" > "$name.ext"
  openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial \
    -out "$name.pem" -extfile "$name.ext" "$@" 2>/dev/null
  rm -f "$name.csr" "$name.ext"
}
server_ext='subjectAltName=DNS:localhost,IP:127.0.0.1
extendedKeyUsage=serverAuth'
client_ext='extendedKeyUsage=clientAuth'
for ca in ca stranger-ca; do
  ec $ca.key
  # keyUsage too: strict verifiers (Python 3.13 by default) refuse a CA without it.
  openssl req -x509 -new -key $ca.key -subj "/CN=KelvaneHTTPAgent test $ca" -days $days \
    -addext keyUsage=critical,keyCertSign,cRLSign -out $ca.pem
done
ec server.key;  sign server ca "$server_ext" -days $days
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out server-rsa.key 2>/dev/null
sign server-rsa ca "$server_ext" -days $days
ec client.key;  sign client ca "$client_ext" -days $days
ec stranger.key; sign stranger stranger-ca "$client_ext" -days $days
ec other.key     # belongs to no certificate
# Expired: valid for one day in 2020 (openssl ca sets the dates).
ec expired.key
openssl req -new -key expired.key -subj "/CN=expired" -out expired.csr
work=$(mktemp -d)
touch "$work/index"
cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $work/index
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
[server]
subjectAltName = DNS:localhost,IP:127.0.0.1
CNF
echo 01 > "$work/serial"
openssl ca -batch -config "$work/ca.cnf" -cert ca.pem -keyfile ca.key -in expired.csr \
  -out expired.pem -startdate 20200101000000Z -enddate 20200102000000Z -extensions server \
  -notext 2>/dev/null
rm -rf "$work" expired.csr ca.srl stranger-ca.srl
