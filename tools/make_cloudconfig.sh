#!/usr/bin/env bash
# Makes the hosted configuration's RSA keys and a CA certificate with
# openssl in DIR/keys (kept between builds, never in the sources), then
# CloudConfig.pkg and Kelpie.pub in DIR. Usage: make_cloudconfig.sh TOOL DIR
set -euo pipefail
tool=$1
dir=$2
keys=$dir/keys
mkdir -p "$keys"
chmod 700 "$keys"
for k in live integration ca; do
  if [ ! -s "$keys/$k.key" ]; then
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$keys/$k.key.tmp" 2>/dev/null
    mv "$keys/$k.key.tmp" "$keys/$k.key"
  fi
done
if [ ! -s "$keys/ca.pem" ]; then
  openssl req -x509 -new -sha256 -days 3650 -key "$keys/ca.key" \
    -subj "/O=Daziziz/CN=Daziziz Hosted Services Root" -out "$keys/ca.pem.tmp" 2>/dev/null
  mv "$keys/ca.pem.tmp" "$keys/ca.pem"
fi
"$tool" --live-key "$keys/live.key" --integration-key "$keys/integration.key" \
  --certificate "$keys/ca.pem" --out "$dir"
