#include "crypto/EcKey.h"

#include <mbedtls/ecdh.h>
#include <mbedtls/ecdsa.h>
#include <mbedtls/ecp.h>

#include <string.h>

#include <algorithm>

#include "crypto/MbedTlsException.h"
#include "crypto/RandomStream.h"
#include "crypto/Sha.h"
#include "crypto/mbedtls/BigNum.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace crypto {

namespace {

struct CurveInfo {
  const char* name;
  mbedtls_ecp_group_id group;
  bool montgomery;
  int keyBytes;
};

const CurveInfo kCurves[] = {
    {"Curve25519", MBEDTLS_ECP_DP_CURVE25519, true, 32},
    {"Curve448", MBEDTLS_ECP_DP_CURVE448, true, 56},
    {"P224", MBEDTLS_ECP_DP_SECP224R1, false, 28},
    {"P256", MBEDTLS_ECP_DP_SECP256R1, false, 32},
    {"P384", MBEDTLS_ECP_DP_SECP384R1, false, 48},
    {"P521", MBEDTLS_ECP_DP_SECP521R1, false, 66},
};

const uint8_t kWeierstrassMarker[4] = {0xFF, 0xFE, 0xCD, 0x5A};
// Private values are at most 66 bytes (P-521).
constexpr int kMaxPrivateLength = 67;

void reverse(unsigned char* p, int n)
{
  std::reverse(p, p + n);
}

} // namespace

struct EcKeyImpl {
  explicit EcKeyImpl(int c) : curve(c)
  {
    mbedtls_ecp_group_init(&grp);
    mbedtls_mpi_init(&d);
    mbedtls_ecp_point_init(&Q);
    int ret = mbedtls_ecp_group_load(&grp, kCurves[curve].group);
    if (ret) {
      mbedtls_ecp_group_free(&grp);
      throw MbedTlsException("mbedtls_ecp_group_load", ret);
    }
  }
  ~EcKeyImpl()
  {
    mbedtls_ecp_point_free(&Q);
    mbedtls_mpi_free(&d);
    mbedtls_ecp_group_free(&grp);
  }
  EcKeyImpl(const EcKeyImpl&) = delete;
  EcKeyImpl& operator=(const EcKeyImpl&) = delete;

  const CurveInfo& info() const { return kCurves[curve]; }
  bool montgomery() const { return info().montgomery; }
  void clear()
  {
    mbedtls_ecp_point_free(&Q);
    mbedtls_mpi_free(&d);
    mbedtls_ecp_point_init(&Q);
    mbedtls_mpi_init(&d);
  }
  void copyFrom(const EcKeyImpl& other)
  {
    int ret = mbedtls_mpi_copy(&d, &other.d);
    if (!ret)
      ret = mbedtls_ecp_copy(&Q, &other.Q);
    if (ret)
      throw MbedTlsException("mbedtls_ecp_copy", ret);
  }

  // The uncompressed SEC1 point; its length.
  int encodePoint(unsigned char (&point)[256]) const
  {
    size_t len = 0;
    int ret = mbedtls_ecp_point_write_binary(&grp, &Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &len, point,
                                             sizeof(point));
    PLAT_ASSERT(!ret && len <= 256);
    return (int)len;
  }

  int curve;
  mbedtls_ecp_group grp;
  mbedtls_mpi d;
  mbedtls_ecp_point Q;
  FieldCursor cursor;
};

namespace {

// Runs a step of an incremental read: once it completes, the stream's
// checkpoint moves past the item and the progress is forgotten; a failure
// leaves an empty key.
template <class Step> bool readStep(EcKeyImpl& k, rdr::InStream& in, Step step)
{
  k.cursor.attach(in);
  try {
    if (!step())
      return false;
    k.cursor.next(in);
    k.cursor.reset();
    return true;
  } catch (...) {
    k.cursor.reset();
    k.clear();
    throw;
  }
}

} // namespace

EcKey::EcKey(Curve curve) : impl_(new EcKeyImpl(curve))
{
}

EcKey::EcKey(const EcKey& other) : impl_(new EcKeyImpl(other.impl_->curve))
{
  impl_->copyFrom(*other.impl_);
}

EcKey& EcKey::operator=(const EcKey& other)
{
  if (this != &other) {
    std::unique_ptr<EcKeyImpl> copy(new EcKeyImpl(other.impl_->curve));
    copy->copyFrom(*other.impl_);
    impl_.swap(copy);
  }
  return *this;
}

EcKey::~EcKey() = default;

EcKey::Curve EcKey::curve() const
{
  return (Curve)impl_->curve;
}

int EcKey::keyBytes() const
{
  return impl_->info().keyBytes;
}

plat::String EcKey::description() const
{
  return plat::format("EC key with curve %s", impl_->info().name);
}

bool EcKey::operator==(const EcKey& other) const
{
  return impl_->curve == other.impl_->curve &&
         mbedtls_ecp_point_cmp(&impl_->Q, &other.impl_->Q) == 0;
}

void EcKey::clear()
{
  impl_->cursor.reset();
  impl_->clear();
}

bool EcKey::readPublic(rdr::InStream& in, plat::MBuf<unsigned char>* raw)
{
  EcKeyImpl& k = *impl_;
  FieldCursor& c = k.cursor;
  return readStep(k, in, [&] {
    if (c.field == 0) {
      k.clear();
      if (!k.montgomery()) {
        const uint8_t* marker = c.get(in, 4);
        if (!marker)
          return false;
        if (memcmp(marker, kWeierstrassMarker, 4) != 0)
          throw plat::Exception("Invalid public key");
        c.next(in);
      }
      c.field = 1;
    }
    if (c.field == 1) {
      const uint8_t* p = c.get(in, 1);
      if (!p)
        return false;
      int len = *p;
      if (k.montgomery()) {
        if (len != k.info().keyBytes)
          throw plat::Exception("Bad length");
      } else if (len != 1 && len != 2 * k.info().keyBytes + 1) {
        throw plat::Exception("Invalid public key");
      }
      c.next(in);
      c.length = len;
      c.field = 2;
    }
    const uint8_t* p = c.get(in, c.length);
    if (!p)
      return false;
    int len = c.length;
    if (k.montgomery()) {
      plat::MBuf<unsigned char> u(p, len);
      reverse(u.data(), len);
      // RFC 7748: the unused top bit of an X25519 u-coordinate is ignored.
      if (k.curve == Curve25519)
        u[0] &= 0x7F;
      int ret = mbedtls_mpi_read_binary(&k.Q.X, u.data(), len);
      if (!ret)
        ret = mbedtls_mpi_lset(&k.Q.Z, 1);
      if (ret)
        throw MbedTlsException("Error reading public value", ret);
    } else {
      int ret = mbedtls_ecp_point_read_binary(&k.grp, &k.Q, p, len);
      if (!ret)
        ret = mbedtls_ecp_check_pubkey(&k.grp, &k.Q);
      if (ret)
        throw MbedTlsException("Invalid public key", ret);
    }
    if (raw) {
      if (k.montgomery()) {
        raw->resize(len + 1);
        (*raw)[0] = (unsigned char)len;
        memcpy(raw->data() + 1, p, len);
      } else {
        raw->assign(p, len);
      }
    }
    return true;
  });
}

void EcKey::writePublic(rdr::OutStream& out) const
{
  const EcKeyImpl& k = *impl_;
  int n = k.info().keyBytes;
  if (k.montgomery()) {
    unsigned char u[56];
    if (mbedtls_mpi_write_binary(&k.Q.X, u, n) != 0)
      throw BigNumOverflow("bigNumWriteF overflow");
    reverse(u, n);
    out.writeU8((uint8_t)n);
    out.writeBytes(u, n);
    return;
  }
  unsigned char point[256];
  int len = k.encodePoint(point);
  out.writeBytes(kWeierstrassMarker, 4);
  out.writeU8((uint8_t)len);
  out.writeBytes(point, len);
}

void EcKey::writeRawPublic(rdr::OutStream& out) const
{
  const EcKeyImpl* impl = impl_.get();
  PLAT_ASSERT(impl->curve != Curve25519 && impl->curve != Curve448);
  unsigned char point[256];
  out.writeBytes(point, impl->encodePoint(point));
}

bool EcKey::readPrivate(rdr::InStream& in)
{
  EcKeyImpl& k = *impl_;
  FieldCursor& c = k.cursor;
  return readStep(k, in, [&] {
    if (c.field == 0) {
      k.clear();
      uint32_t len;
      if (!c.getU16(in, &len))
        return false;
      if (len >= (uint32_t)kMaxPrivateLength)
        throw plat::Exception("Invalid private key");
      c.length = (int)len;
      c.field = 1;
    }
    const uint8_t* p = c.get(in, c.length);
    if (!p)
      return false;
    int ret = mbedtls_mpi_read_binary(&k.d, p, c.length);
    if (!ret)
      ret = mbedtls_ecp_check_privkey(&k.grp, &k.d);
    if (!ret)
      ret = mbedtls_ecp_mul(&k.grp, &k.Q, &k.d, &k.grp.G, mbedTlsRandom, nullptr);
    if (ret)
      throw MbedTlsException("Invalid private key", ret);
    return true;
  });
}

void EcKey::writePrivate(rdr::OutStream& out) const
{
  int size = (int)mbedtls_mpi_size(&impl_->d);
  bigNumWriteV(out, &impl_->d, size, size);
}

void EcKey::generate()
{
  EcKeyImpl& k = *impl_;
  k.clear();
  int ret = mbedtls_ecp_gen_keypair(&k.grp, &k.d, &k.Q, mbedTlsRandom, nullptr);
  if (ret)
    throw MbedTlsException("mbedtls_ecp_gen_keypair", ret);
}

void EcKey::copyPublicFrom(const EcKey& pubKey)
{
  const EcKeyImpl* impl = impl_.get();
  PLAT_ASSERT(pubKey.impl_->curve == impl->curve);
  impl_->clear();
  int ret = mbedtls_ecp_copy(&impl_->Q, &pubKey.impl_->Q);
  if (ret)
    throw MbedTlsException("mbedtls_ecp_copy", ret);
}

void EcKey::setFromNcwSeed(const plat::MBuf<unsigned char>& seed, bool shift)
{
  EcKeyImpl& k = *impl_;
  mbedtls_ecp_group& grp = k.grp;
  PLAT_ASSERT(grp.nbits == 254);
  PLAT_ASSERT(seed.length() == keyBytes());
  PLAT_ASSERT(mbedtls_ecp_get_type(&grp) == MBEDTLS_ECP_TYPE_MONTGOMERY);
  k.clear();
  mbedtls_mpi& d = k.d;
  auto step = [](int ret) {
    if (ret)
      throw MbedTlsException("setFromNcwSeed", ret);
  };
  step(mbedtls_mpi_read_binary(&d, seed.data(), seed.length()));
  if (shift) {
    step(mbedtls_mpi_shift_r(&d, 1));
    step(mbedtls_mpi_set_bit(&d, 254, 1));
  } else {
    int top = (int)mbedtls_mpi_bitlen(&d) - 1;
    if (top <= 254)
      step(mbedtls_mpi_set_bit(&d, 254, 1));
    else
      step(mbedtls_mpi_shift_r(&d, top - 254));
  }
  for (int bit = 0; bit < 3; bit++)
    step(mbedtls_mpi_set_bit(&d, bit, 0));
  int ret = mbedtls_ecp_mul(&grp, &k.Q, &d, &grp.G, mbedTlsRandom, nullptr);
  if (ret) {
    k.clear();
    throw MbedTlsException("mbedtls_ecp_mul", ret);
  }
}

plat::MBuf<unsigned char> EcKey::sharedSecret(const EcKey& peerKey)
{
  EcKeyImpl& k = *impl_;
  if (!k.montgomery())
    throw plat::Exception("Operation not supported for key type");
  const EcKeyImpl* impl = impl_.get();
  PLAT_ASSERT(peerKey.impl_->curve == impl->curve);
  Mpi z;
  int n = k.info().keyBytes;
  plat::MBuf<unsigned char> secret(n, true);
  int ret =
      mbedtls_ecdh_compute_shared(&k.grp, &z.v, &peerKey.impl_->Q, &k.d, mbedTlsRandom, nullptr);
  if (!ret)
    ret = mbedtls_mpi_write_binary(&z.v, secret.data(), n);
  if (ret)
    throw MbedTlsException("Error generating secret key", ret);
  reverse(secret.data(), n);
  return secret;
}

void EcKey::sign(rdr::OutStream& out, int length, const void* data, int digestBits)
{
  EcKeyImpl& k = *impl_;
  if (k.montgomery())
    throw plat::Exception("Operation not supported for key type");
  plat::MBuf<unsigned char> hash;
  Sha::digest(digestBits, length, data, hash, false);
  Mpi r, s;
  // The nonce is derived with SHA-256 whatever the message digest.
  int ret = mbedtls_ecdsa_sign_det_ext(&k.grp, &r.v, &s.v, &k.d, hash.data(), hash.length(),
                                       MBEDTLS_MD_SHA256, mbedTlsRandom, nullptr);
  if (ret)
    throw MbedTlsException("mbedtls_ecdsa_sign_det", ret);
  int half = (int)std::max(mbedtls_mpi_size(&r.v), mbedtls_mpi_size(&s.v));
  out.writeU16((uint16_t)(2 * half));
  bigNumWriteF(out, &r.v, half);
  bigNumWriteF(out, &s.v, half);
}

bool EcKey::verify(rdr::InStream& in, int length, const void* data, int digestBits)
{
  EcKeyImpl& k = *impl_;
  if (k.montgomery())
    throw plat::Exception("Operation not supported for key type");
  int total = in.readU16();
  int half = total / 2;
  if (total == 0 || total % 2 != 0 || half > (int)((k.grp.nbits + 7) / 8))
    throw plat::Exception("Invalid signature length");
  unsigned char rs[2 * 66];
  in.readBytes(rs, total);
  plat::MBuf<unsigned char> hash;
  Sha::digest(digestBits, length, data, hash, false);
  Mpi r, s;
  int ret = mbedtls_mpi_read_binary(&r.v, rs, half);
  if (!ret)
    ret = mbedtls_mpi_read_binary(&s.v, rs + half, half);
  if (!ret)
    ret = mbedtls_ecdsa_verify(&k.grp, hash.data(), hash.length(), &k.Q, &r.v, &s.v);
  if (ret)
    throw MbedTlsException("Invalid signature", ret);
  return true;
}

} // namespace crypto
