#!/bin/bash
# Certificates for RTMPS tests, made fresh in DIR: a test CA (ca.crt), a server
# certificate for 127.0.0.1 and localhost that it signed (server.crt, server.key), and
# one for the same names that nobody vouches for (self.crt, self.key).
#
#   tools/test-certs.sh DIR
set -euo pipefail
dir=${1:?folder}
mkdir -p "$dir"
cd "$dir"
names="subjectAltName=IP:127.0.0.1,DNS:localhost"
quiet() { "$@" >/dev/null 2>&1; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=publish_tavisk test CA" \
  -keyout ca.key -out ca.crt -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=keyCertSign"
quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr
quiet openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
  -extfile <(echo "$names") -out server.crt
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" -addext "$names" \
  -keyout self.key -out self.crt
rm -f server.csr ca.srl
