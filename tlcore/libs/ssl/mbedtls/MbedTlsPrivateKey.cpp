#include "ssl/mbedtls/MbedTlsPrivateKey.h"

#include <string.h>

#include "crypto/EcKey.h"
#include "crypto/RsaKey.h"
#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "rdr/MemInStream.h"
#include "ssl/SslException.h"
#include "ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl {

namespace {

class KeyException : public SslException {
public:
  explicit KeyException(int ret) : SslException(17, mbedTlsErrorText(ret).str())
  {
    if (ret == MBEDTLS_ERR_PK_PASSWORD_REQUIRED || ret == MBEDTLS_ERR_PK_PASSWORD_MISMATCH)
      setType("BadPassword");
  }
};

// Appends n big-endian bytes of x; the buffer is secure.
void putNumber(plat::MBuf<unsigned char>& out, int& pos, const mbedtls_mpi& x, int n)
{
  PLAT_ASSERT(!mbedtls_mpi_write_binary(&x, out.data() + pos, n));
  pos += n;
}

} // namespace

SslPrivateKey::~SslPrivateKey() = default;

SslPrivateKeyPtr SslPrivateKey::createFromPem(const char* pem, const char* password)
{
  try {
    return SslPrivateKeyPtr(new MbedTlsPrivateKey(pem, password));
  } catch (const SslException& e) {
    if (strcmp(e.getType(), "BadPassword") == 0)
      return SslPrivateKeyPtr();
    throw;
  }
}

MbedTlsPrivateKey::MbedTlsPrivateKey(const char* pem, const char* password)
{
  mbedtls_pk_init(&pk_);
  // The length counts the NUL, which the library needs for PEM input; the
  // password is passed without its NUL.
  int ret = mbedtls_pk_parse_key(&pk_, reinterpret_cast<const unsigned char*>(pem), strlen(pem) + 1,
                                 reinterpret_cast<const unsigned char*>(password),
                                 password ? strlen(password) : 0);
  if (ret) {
    mbedtls_pk_free(&pk_);
    throw KeyException(ret);
  }
  keyKind_ = keyKindOf(pk_);
}

MbedTlsPrivateKey::~MbedTlsPrivateKey()
{
  mbedtls_pk_free(&pk_);
}

std::unique_ptr<crypto::RsaPrivateKey> MbedTlsPrivateKey::rsaPrivateKey() const
{
  if (mbedtls_pk_get_type(&pk_) != MBEDTLS_PK_RSA)
    throw plat::Exception("Private key is not an RSA key");
  const mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk_);
  int bits = (int)mbedtls_pk_get_bitlen(&pk_);
  int b = (bits + 7) / 8, h = ((bits + 1) / 2 + 7) / 8;
  // The interchange form: bit count, N, E, D in the modulus's size, then
  // P, Q, DP, DQ and QP in half of it.
  plat::MBuf<unsigned char> form(4 + 3 * b + 5 * h, true);
  unsigned char* p = form.data();
  p[0] = bits >> 24;
  p[1] = bits >> 16;
  p[2] = bits >> 8;
  p[3] = bits;
  int pos = 4;
  const mbedtls_mpi* whole[] = {&rsa->N, &rsa->E, &rsa->D};
  const mbedtls_mpi* halves[] = {&rsa->P, &rsa->Q, &rsa->DP, &rsa->DQ, &rsa->QP};
  for (const mbedtls_mpi* x : whole)
    putNumber(form, pos, *x, b);
  for (const mbedtls_mpi* x : halves)
    putNumber(form, pos, *x, h);
  auto key = std::make_unique<crypto::RsaPrivateKey>();
  rdr::MemInStream in(form.data(), form.length());
  key->read(in);
  return key;
}

std::unique_ptr<crypto::EcKey> MbedTlsPrivateKey::ecPrivateKey() const
{
  mbedtls_pk_type_t type = mbedtls_pk_get_type(&pk_);
  if (type != MBEDTLS_PK_ECKEY && type != MBEDTLS_PK_ECDSA)
    throw plat::Exception("Private key is not an ECDSA key");
  const mbedtls_ecp_keypair* ec = mbedtls_pk_ec(pk_);
  crypto::EcKey::Curve curve = ecCurveOf(ec->grp.id);
  int n = (int)((ec->grp.nbits + 7) / 8);
  // A 16-bit length, then the scalar.
  plat::MBuf<unsigned char> form(2 + n, true);
  form[0] = (unsigned char)(n >> 8);
  form[1] = (unsigned char)n;
  int ret = mbedtls_mpi_write_binary(&ec->d, form.data() + 2, n);
  PLAT_ASSERT(!ret);
  auto key = std::make_unique<crypto::EcKey>(curve);
  rdr::MemInStream in(form.data(), form.length());
  key->readPrivate(in);
  return key;
}

} // namespace ssl
