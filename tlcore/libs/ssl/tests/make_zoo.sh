#!/usr/bin/env bash
# Makes the certificate zoo of the TLS tests in the directory given (made
# afresh): a root and intermediates, leaves of every kind the certificate,
# trust and verifier tests need, and private keys in the usual encodings.
# Certificates are <name>.pem (PEM) and <name>.der; keys <name>.key.
# Nothing made here is ever committed.
set -euo pipefail

out=$1
rm -rf "$out"
mkdir -p "$out/db"
cd "$out"
: > db/index.txt
echo 1000 > db/serial

cat > ca.cnf <<'CNF'
[ca]
default_ca = zoo

[zoo]
dir = .
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
preserve = yes
email_in_dn = yes

[anything]
countryName = optional
stateOrProvinceName = optional
localityName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
emailAddress = optional

[req]
distinguished_name = dn
[dn]

[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[inter]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = serverAuth, clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[inter_client]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[server]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $ENV::ZOO_SAN

[server_nosan]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth

[client_only]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
subjectAltName = DNS:client.site.test

[bad_ku]
basicConstraints = CA:false
keyUsage = critical, nonRepudiation, keyAgreement
extendedKeyUsage = serverAuth
subjectAltName = DNS:badku.site.test

[no_eku]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
subjectAltName = DNS:noeku.site.test

[revocation]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:revocation.site.test
crlDistributionPoints = URI:http://crl.site.test/zoo.crl, URI:ftp://crl.site.test/zoo.crl, URI:ldap://ldap.site.test/cn=zoo
authorityInfoAccess = OCSP;URI:http://ocsp.site.test/, caIssuers;URI:http://ca.site.test/inter.crt, OCSP;URI:ftp://ocsp.site.test/, OCSP;URI:https://ocsp2.site.test/

[unusable_crl]
basicConstraints = CA:false
extendedKeyUsage = serverAuth
subjectAltName = DNS:crl.site.test
crlDistributionPoints = crl_point

[crl_point]
relativename = crl_rdn
reasons = keyCompromise, CACompromise
CRLissuer = dirName:crl_issuer

[crl_rdn]
CN = Zoo CRL

[crl_issuer]
CN = Zoo CRL Issuer
CNF

export ZOO_SAN=DNS:unused.site.test
# Validity of everything that should be valid now: 2020 to 2049.
from=20200101000000Z
to=20491231235959Z

key() { # name type
  case $2 in
    ec) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null ;;
    rsa*) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"${2#rsa}" -out "$1.key" 2>/dev/null ;;
  esac
}

# sign name subject issuer extensions [key type] [start] [end] [md]
sign() {
  local name=$1 subj=$2 issuer=$3 ext=$4 type=${5:-ec} start=${6:-$from} end=${7:-$to} md=${8:-sha256}
  key "$name" "$type"
  openssl req -new -config ca.cnf -key "$name.key" -subj "$subj" -multivalue-rdn -out "$name.csr"
  local signer=(-cert "$issuer.pem" -keyfile "$issuer.key")
  if [ "$issuer" = self ]; then
    signer=(-selfsign -keyfile "$name.key")
  fi
  openssl ca -batch -config ca.cnf -notext -multivalue-rdn -preserveDN "${signer[@]}" \
    -extensions "$ext" -startdate "$start" -enddate "$end" -md "$md" \
    -in "$name.csr" -out "$name.pem" 2>/dev/null
  openssl x509 -in "$name.pem" -outform DER -out "$name.der"
  rm -f "$name.csr"
}

sign root "/C=US/O=Zoo Test/CN=Zoo Root CA" self root rsa2048
sign inter "/C=US/O=Zoo Test/OU=Issuing/CN=Zoo Intermediate CA" root inter
sign badinter "/C=US/O=Zoo Test/CN=Zoo Client Intermediate CA" root inter_client
sign otherroot "/O=Elsewhere/CN=Other Root CA" self root

ZOO_SAN=DNS:valid.site.test sign valid "/C=US/O=Zoo Test/CN=valid.site.test" inter server
ZOO_SAN=DNS:expired.site.test sign expired "/CN=expired.site.test" inter server ec \
  20200101000000Z 20210101000000Z
ZOO_SAN=DNS:future.site.test sign future "/CN=future.site.test" inter server ec \
  20900101000000Z 20910101000000Z
ZOO_SAN=DNS:self.site.test sign selfsigned "/CN=self.site.test" self server
ZOO_SAN=DNS:unknown.site.test sign unknown "/CN=unknown.site.test" otherroot server
ZOO_SAN=DNS:sha1.site.test sign sha1 "/CN=sha1.site.test" inter server ec "$from" "$to" sha1
ZOO_SAN=DNS:weak.site.test sign weak "/CN=weak.site.test" inter server rsa1024
ZOO_SAN=DNS:short.site.test sign short "/CN=short.site.test" inter server rsa2047
ZOO_SAN=DNS:rsa.site.test sign rsaleaf "/CN=rsa.site.test" inter server rsa2048
sign clientonly "/CN=client.site.test" inter client_only
sign badku "/CN=badku.site.test" inter bad_ku
sign noeku "/CN=noeku.site.test" inter no_eku
ZOO_SAN=DNS:underbad.site.test sign underbad "/CN=underbad.site.test" badinter server
ZOO_SAN=DNS:*.site.test sign wildcard "/CN=*.site.test" inter server
ZOO_SAN="IP:127.0.0.1, IP:::1" sign ip "/CN=127.0.0.1" inter server
sign twocn "/CN=one.site.test/CN=two.site.test" inter server_nosan
sign cnonly "/CN=cnonly.site.test" inter server_nosan
sign cnaddress "/CN=10.0.0.1" inter server_nosan
ZOO_SAN=email:someone@site.test sign emailonly "/C=US/L=Town" inter server
ZOO_SAN=email:mail@site.test sign emailcn "/CN=mail.site.test" inter server
sign ouonly "/O=Zoo Org/OU=Zoo Unit" inter server_nosan
sign oonly "/C=US/O=Zoo Org" inter server_nosan
sign emailattr "/C=US/emailAddress=attr@site.test" inter server_nosan
sign countryonly "/C=US" inter server_nosan
ZOO_SAN=DNS:self.site.test sign selfsigned2 "/CN=self.site.test" self server
sign revocation "/CN=revocation.site.test" inter revocation
sign unusablecrl "/CN=crl.site.test" inter unusable_crl
# Names that need escapes, and a multi-valued name.
ZOO_SAN=DNS:names.site.test sign names \
  '/C=US/O=Comma\, Semi; Quote" Inc/OU=a+OU=b/L=#hash <angle> back\\slash/CN= lead and trail ' \
  inter server

# A ladder of 12 intermediates under the root, with a leaf under the 6th
# and one under the 12th.
prev=root
for i in $(seq 1 12); do
  sign "ladder$i" "/O=Zoo Ladder/CN=Ladder CA $i" "$prev" inter
  prev=ladder$i
done
ZOO_SAN=DNS:six.site.test sign ladderleaf6 "/CN=six.site.test" ladder6 server
ZOO_SAN=DNS:twelve.site.test sign ladderleaf12 "/CN=twelve.site.test" ladder12 server

# Private keys in the usual encodings.
mkdir -p keys
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out keys/rsa-pkcs8.pem 2>/dev/null
openssl rsa -in keys/rsa-pkcs8.pem -traditional -out keys/rsa-pkcs1.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out keys/ec-pkcs8.pem 2>/dev/null
openssl ec -in keys/ec-pkcs8.pem -out keys/ec-sec1.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve \
  -out keys/ec256-pkcs8.pem 2>/dev/null
# PBES2 with a cipher and PRF that mbedtls 2.28 knows.
openssl pkcs8 -topk8 -in keys/ec-pkcs8.pem -v2 des3 -v2prf hmacWithSHA1 \
  -passout pass:zoo-secret -out keys/ec-encrypted.pem 2>/dev/null
openssl rsa -in keys/rsa-pkcs8.pem -traditional -aes128 -passout pass:zoo-secret \
  -out keys/rsa-encrypted.pem 2>/dev/null
touch done
