#include "crypto/RsaKey.h"

#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <string.h>

#include "crypto/MbedTlsException.h"
#include "crypto/RandomStream.h"
#include "crypto/Sha.h"
#include "crypto/mbedtls/BigNum.h"
#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace crypto {

plat::IntParameter
    RsaModulusBits("RsaModulusBits",
                   "Total number of bits to use when generating public and private keys", 2048,
                   plat::ParamLevel::kBasic, nullptr, 512, 8192);
plat::ParameterAlias RsaModulusBitsAlias("RSA_Modulus_Bits", RsaModulusBits);

namespace {

plat::LogSrc rsaLog("RsaPrivateKey");

constexpr uint32_t kNoKey = 0xFFFFFFFF;
constexpr int kMinBits = 512;
constexpr int kMaxBits = 8192;

// Slice length of an asynchronous generation, in 100-ns ticks.
constexpr plat::Time kSliceTicks = 100000;

int byteLength(int bits)
{
  return (bits + 7) / 8;
}
int halfLength(int bits)
{
  return (((bits + 1) / 2) + 7) / 8;
}

void check(int ret)
{
  if (ret)
    throw MbedTlsException("MbedTls error", ret);
}

mbedtls_md_type_t mdType(int digestBits)
{
  switch (digestBits) {
  case 160:
    return MBEDTLS_MD_SHA1;
  case 256:
    return MBEDTLS_MD_SHA256;
  default:
    return MBEDTLS_MD_SHA512;
  }
}

// The digest of the message, as the signature schemes sign it.
plat::MBuf<unsigned char> digestOf(int digestBits, int length, const void* data)
{
  plat::MBuf<unsigned char> hash;
  Sha::digest(digestBits, length, data, hash, digestBits == 160);
  return hash;
}

} // namespace

// --- The shared state ---------------------------------------------------------

struct RsaKeyImpl {
  RsaKeyImpl() { init(); }
  ~RsaKeyImpl() { mbedtls_rsa_free(&ctx); }
  RsaKeyImpl(const RsaKeyImpl&) = delete;
  RsaKeyImpl& operator=(const RsaKeyImpl&) = delete;

  void init()
  {
    mbedtls_rsa_init(&ctx, MBEDTLS_RSA_PKCS_V15, 0);
    unsetPadding();
  }
  void reset()
  {
    mbedtls_rsa_free(&ctx);
    init();
  }
  void unsetPadding() { mbedtls_rsa_set_padding(&ctx, -1, -1); }
  int len() const { return (int)ctx.len; }

  // Reads the public part, then (private) the rest; see RsaKey.h.
  bool read(rdr::InStream& in, RsaExponent exponent, bool privateForm);
  void write(rdr::OutStream& out, RsaExponent exponent, bool privateForm) const;
  // The framed block (16-bit length, then the modulus length in bytes);
  // null while incomplete.
  const uint8_t* readFramed(rdr::InStream& in);
  // Ends a framed read, also when its operation failed.
  void endFramed(rdr::InStream& in)
  {
    cursor.next(in);
    cursor.reset();
  }

  mbedtls_rsa_context ctx;
  // Bit count of a read in progress; 0 when none.
  uint32_t stage = 0;
  FieldCursor cursor;
};

namespace {

// Sets the scheme for one library call and unsets it afterwards, also
// when the call fails.
class PaddingScope {
public:
  PaddingScope(RsaKeyImpl& key, int padding, int digestBits) : key_(key)
  {
    mbedtls_rsa_set_padding(&key.ctx, padding, digestBits ? mdType(digestBits) : MBEDTLS_MD_NONE);
  }
  ~PaddingScope() { key_.unsetPadding(); }

private:
  RsaKeyImpl& key_;
};

} // namespace

bool RsaKeyImpl::read(rdr::InStream& in, RsaExponent exponent, bool privateForm)
{
  cursor.attach(in);
  try {
    if (cursor.field == 0) {
      reset();
      uint32_t bits;
      if (!cursor.getU32(in, &bits))
        return false;
      if (bits == kNoKey) {
        cursor.reset();
        return true;
      }
      if (bits < (uint32_t)kMinBits || bits > (uint32_t)kMaxBits)
        throw MbedTlsException(0, "Unsupported RSA key length");
      stage = bits;
      cursor.field = 1;
    }
    int b = byteLength((int)stage), h = halfLength((int)stage);
    mbedtls_mpi* fields[] = {&ctx.N, &ctx.E, &ctx.D, &ctx.P, &ctx.Q, &ctx.DP, &ctx.DQ, &ctx.QP};
    int last = privateForm ? 8 : 2;
    while (cursor.field <= last) {
      int i = cursor.field - 1;
      bool done;
      if (i == 1 && exponent == RsaExponent::Variable)
        done = bigNumReadV(in, fields[i], cursor, b);
      else
        done = bigNumReadF(in, fields[i], i < 3 ? b : h, cursor);
      if (!done)
        return false;
      cursor.field++;
    }
    ctx.len = b;
    stage = 0;
    cursor.reset();
    return true;
  } catch (...) {
    // A failed read leaves an empty key, ready to read the next one.
    stage = 0;
    cursor.reset();
    reset();
    throw;
  }
}

void RsaKeyImpl::write(rdr::OutStream& out, RsaExponent exponent, bool privateForm) const
{
  int bits = (int)mbedtls_mpi_bitlen(&ctx.N);
  if (bits == 0) {
    out.writeU32(kNoKey);
    return;
  }
  int b = byteLength(bits), h = halfLength(bits);
  out.writeU32((uint32_t)bits);
  bigNumWriteF(out, &ctx.N, b);
  if (exponent == RsaExponent::Variable)
    bigNumWriteV(out, &ctx.E, b, 0);
  else
    bigNumWriteF(out, &ctx.E, b);
  if (!privateForm)
    return;
  bigNumWriteF(out, &ctx.D, b);
  for (const mbedtls_mpi* x : {&ctx.P, &ctx.Q, &ctx.DP, &ctx.DQ, &ctx.QP})
    bigNumWriteF(out, x, h);
}

const uint8_t* RsaKeyImpl::readFramed(rdr::InStream& in)
{
  cursor.attach(in);
  if (cursor.length < 0) {
    uint32_t length;
    if (!cursor.getU16(in, &length))
      return nullptr;
    if ((int)length != len()) {
      cursor.reset();
      throw MbedTlsException(0, "RSA decrypt/check error: bad length %d (should be %d)",
                             (int)length, len());
    }
    cursor.length = (int)length;
  }
  return cursor.get(in, len());
}

namespace {

void writeFramed(rdr::OutStream& out, const plat::MBuf<unsigned char>& block)
{
  out.writeU16((uint16_t)block.length());
  out.writeBytes(block.data(), block.length());
}

struct PkContext {
  PkContext() { mbedtls_pk_init(&v); }
  ~PkContext() { mbedtls_pk_free(&v); }
  PkContext(const PkContext&) = delete;
  PkContext& operator=(const PkContext&) = delete;
  mbedtls_pk_context v;
};

// The decryption core: out becomes the plaintext (secure).
template <class Op>
void decryptCore(RsaKeyImpl& key, const uint8_t* input, plat::MBuf<unsigned char>& out, Op op)
{
  out.setSecure(true);
  out.resize(key.len());
  size_t olen = 0;
  int ret = op(input, &olen);
  if (ret) {
    out.clear();
    throw MbedTlsException("RSA decrypt error", ret);
  }
  out.resize((int)olen);
}

// Reads a framed block and runs op over it once it has all come.
template <class Op> bool readFramedAnd(RsaKeyImpl& key, rdr::InStream& in, Op op)
{
  const uint8_t* block = key.readFramed(in);
  if (!block)
    return false;
  try {
    op(block);
  } catch (...) {
    key.endFramed(in);
    throw;
  }
  key.endFramed(in);
  return true;
}

} // namespace

// --- RsaKey -------------------------------------------------------------------

RsaKey::RsaKey() : impl_(new RsaKeyImpl)
{
}
RsaKey::~RsaKey() = default;

int RsaKey::bits() const
{
  return (int)mbedtls_mpi_bitlen(&impl_->ctx.N);
}

plat::String RsaKey::description() const
{
  return plat::format("RSA key with %d bits", bits());
}

// --- RsaPublicKey -------------------------------------------------------------

RsaPublicKey::RsaPublicKey() = default;

RsaPublicKey::RsaPublicKey(const RsaPublicKey& other)
{
  int ret = mbedtls_rsa_copy(&impl_->ctx, &other.impl_->ctx);
  if (ret)
    throw MbedTlsException("mbedtls_rsa_copy", ret);
  impl_->unsetPadding();
}

RsaPublicKey& RsaPublicKey::operator=(const RsaPublicKey& other)
{
  // Resetting first would empty a key assigned to itself.
  if (this == &other)
    return *this;
  impl_->reset();
  impl_->stage = 0;
  impl_->cursor.reset();
  int ret = mbedtls_rsa_copy(&impl_->ctx, &other.impl_->ctx);
  if (ret)
    throw MbedTlsException("mbedtls_rsa_copy", ret);
  impl_->unsetPadding();
  return *this;
}

RsaPublicKey::RsaPublicKey(RsaPublicKey&& other) noexcept
{
  impl_.swap(other.impl_);
}

RsaPublicKey::~RsaPublicKey() = default;

bool RsaPublicKey::operator==(const RsaPublicKey& other) const
{
  return mbedtls_mpi_cmp_mpi(&impl_->ctx.N, &other.impl_->ctx.N) == 0 &&
         mbedtls_mpi_cmp_mpi(&impl_->ctx.E, &other.impl_->ctx.E) == 0;
}

bool RsaPublicKey::read(rdr::InStream& in, RsaExponent exponent)
{
  return impl_->read(in, exponent, false);
}

void RsaPublicKey::write(rdr::OutStream& out, RsaExponent exponent) const
{
  impl_->write(out, exponent, false);
}

void RsaPublicKey::setFromText(const char* text, int length)
{
  impl_->reset();
  // PEM is parsed with the text's terminating NUL; DER must be given
  // exactly, as the parser refuses any byte after it.
  static const char kPem[] = "-----BEGIN ";
  plat::MBuf<unsigned char> copy;
  const unsigned char* buf = reinterpret_cast<const unsigned char*>(text);
  size_t bufLength;
  if (length < 0) {
    bufLength = strlen(text) + 1;
  } else if (!memmem(text, length, kPem, sizeof(kPem) - 1) || (length > 0 && !text[length - 1])) {
    bufLength = length;
  } else {
    copy.resize(length + 1);
    memcpy(copy.data(), text, length);
    copy[length] = 0;
    buf = copy.data();
    bufLength = length + 1;
  }
  PkContext pk;
  int ret = mbedtls_pk_parse_public_key(&pk.v, buf, bufLength);
  if (ret)
    throw MbedTlsException("mbedtls_pk_parse_public_key", ret);
  if (mbedtls_pk_get_type(&pk.v) != MBEDTLS_PK_RSA)
    throw plat::Exception("Invalid key type, expected an RSA public key");
  const mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk.v);
  check(mbedtls_mpi_copy(&impl_->ctx.N, &rsa->N));
  check(mbedtls_mpi_copy(&impl_->ctx.E, &rsa->E));
  impl_->ctx.len = rsa->len;
}

std::vector<RsaPublicKey> RsaPublicKey::keysFromBundle(const char* text)
{
  static const char kMarker[] = "-----BEGIN ";
  std::vector<RsaPublicKey> keys;
  if (!text)
    return keys;
  for (const char* p = strstr(text, kMarker); p; p = strstr(p + 1, kMarker)) {
    // Each block is parsed on its own: the parser would otherwise look
    // past a block of another kind and find the next key twice.
    const char* next = strstr(p + 1, kMarker);
    int length = next ? (int)(next - p) : (int)strlen(p);
    RsaPublicKey key;
    try {
      key.setFromText(p, length);
    } catch (plat::Exception&) {
      continue;
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

plat::MBuf<unsigned char> RsaPublicKey::der() const
{
  PkContext pk;
  check(mbedtls_pk_setup(&pk.v, mbedtls_pk_info_from_type(MBEDTLS_PK_RSA)));
  mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk.v);
  check(mbedtls_mpi_copy(&rsa->N, &impl_->ctx.N));
  check(mbedtls_mpi_copy(&rsa->E, &impl_->ctx.E));
  rsa->len = mbedtls_mpi_size(&rsa->N);
  int size = 2 * byteLength(bits()) + 20;
  plat::MBuf<unsigned char> out(size);
  unsigned char* p = out.data() + size;
  int ret = mbedtls_pk_write_pubkey(&p, out.data(), &pk.v);
  if (ret < 0)
    throw MbedTlsException("MbedTls error", ret);
  memmove(out.data(), p, ret);
  out.resize(ret);
  return out;
}

bool RsaPublicKey::verifyPss(int sigLength, const unsigned char* sig, int length, const void* data,
                             int digestBits, PssSalt salt)
{
  PLAT_ASSERT(digestBits == 256 || digestBits == 512);
  if (sigLength != impl_->len())
    throw MbedTlsException(0, "RSA verify error: bad length %d (should be %d)", sigLength,
                           impl_->len());
  plat::MBuf<unsigned char> hash = digestOf(digestBits, length, data);
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V21, digestBits);
  int ret = mbedtls_rsa_rsassa_pss_verify_ext(
      &impl_->ctx, nullptr, nullptr, MBEDTLS_RSA_PUBLIC, mdType(digestBits), hash.length(),
      hash.data(), mdType(digestBits),
      salt == PssSalt::AnyLength ? MBEDTLS_RSA_SALT_LEN_ANY : hash.length(), sig);
  if (ret)
    throw MbedTlsException("RSA verify error", ret);
  return true;
}

void RsaPublicKey::verifyPkcs1v15(int sigLength, const unsigned char* sig, int length,
                                  const void* data, int digestBits)
{
  PLAT_ASSERT(digestBits == 160 || digestBits == 256 || digestBits == 512);
  if (sigLength != impl_->len())
    throw MbedTlsException(0, "RSA verify error: bad length %d (should be %d)", sigLength,
                           impl_->len());
  plat::MBuf<unsigned char> hash = digestOf(digestBits, length, data);
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V15, 0);
  int ret =
      mbedtls_rsa_rsassa_pkcs1_v15_verify(&impl_->ctx, nullptr, nullptr, MBEDTLS_RSA_PUBLIC,
                                          mdType(digestBits), hash.length(), hash.data(), sig);
  if (ret)
    throw MbedTlsException("RSA verify error", ret);
}

bool RsaPublicKey::readAndVerifyPss(rdr::InStream& in, int length, const void* data, int digestBits,
                                    PssSalt salt)
{
  return readFramedAnd(*impl_, in, [&](const uint8_t* sig) {
    verifyPss(impl_->len(), sig, length, data, digestBits, salt);
  });
}

bool RsaPublicKey::readAndVerifyPkcs1v15(rdr::InStream& in, int length, const void* data,
                                         int digestBits)
{
  return readFramedAnd(*impl_, in, [&](const uint8_t* sig) {
    verifyPkcs1v15(impl_->len(), sig, length, data, digestBits);
  });
}

void RsaPublicKey::encryptOaep(rdr::OutStream& out, int length, const void* data, int digestBits)
{
  PLAT_ASSERT(digestBits == 256 || digestBits == 512);
  plat::MBuf<unsigned char> block(impl_->len());
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V21, digestBits);
  int ret = mbedtls_rsa_rsaes_oaep_encrypt(&impl_->ctx, mbedTlsRandom, nullptr, MBEDTLS_RSA_PUBLIC,
                                           nullptr, 0, length,
                                           static_cast<const unsigned char*>(data), block.data());
  if (ret)
    throw MbedTlsException("RSA encrypt error", ret);
  writeFramed(out, block);
}

void RsaPublicKey::encryptPkcs1v15(rdr::OutStream& out, int length, const void* data)
{
  plat::MBuf<unsigned char> block(impl_->len());
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V15, 0);
  int ret = mbedtls_rsa_rsaes_pkcs1_v15_encrypt(
      &impl_->ctx, mbedTlsRandom, nullptr, MBEDTLS_RSA_PUBLIC, length,
      static_cast<const unsigned char*>(data), block.data());
  if (ret)
    throw MbedTlsException("RSA encrypt error", ret);
  writeFramed(out, block);
}

bool RsaPublicKey::readAndDecryptPublic(rdr::InStream& in, plat::MBuf<unsigned char>& out)
{
  RsaKeyImpl& key = *impl_;
  return readFramedAnd(key, in, [&](const uint8_t* block) {
    PaddingScope scope(key, MBEDTLS_RSA_PKCS_V15, 0);
    decryptCore(key, block, out, [&](const uint8_t* input, size_t* olen) {
      return mbedtls_rsa_rsaes_pkcs1_v15_decrypt(&key.ctx, mbedTlsRandom, nullptr,
                                                 MBEDTLS_RSA_PUBLIC, olen, input, out.data(),
                                                 out.length());
    });
  });
}

// --- RsaPrivateKey ------------------------------------------------------------

RsaPrivateKey::RsaPrivateKey() : timer_(this)
{
}

RsaPrivateKey::~RsaPrivateKey()
{
  timer_.stop();
}

bool RsaPrivateKey::read(rdr::InStream& in)
{
  return impl_->read(in, RsaExponent::Fixed, true);
}

void RsaPrivateKey::write(rdr::OutStream& out) const
{
  impl_->write(out, RsaExponent::Fixed, true);
}

void RsaPrivateKey::signPss(rdr::OutStream& out, int length, const void* data, int digestBits)
{
  PLAT_ASSERT(digestBits == 256 || digestBits == 512);
  plat::MBuf<unsigned char> hash = digestOf(digestBits, length, data);
  plat::MBuf<unsigned char> sig(impl_->len());
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V21, digestBits);
  int ret = mbedtls_rsa_rsassa_pss_sign(&impl_->ctx, mbedTlsRandom, nullptr, MBEDTLS_RSA_PRIVATE,
                                        mdType(digestBits), hash.length(), hash.data(), sig.data());
  if (ret)
    throw MbedTlsException("RSA signature error", ret);
  writeFramed(out, sig);
}

void RsaPrivateKey::signPkcs1v15(rdr::OutStream& out, int length, const void* data, int digestBits)
{
  PLAT_ASSERT(digestBits == 160 || digestBits == 256 || digestBits == 512);
  plat::MBuf<unsigned char> hash = digestOf(digestBits, length, data);
  plat::MBuf<unsigned char> sig(impl_->len());
  PaddingScope scope(*impl_, MBEDTLS_RSA_PKCS_V15, 0);
  int ret =
      mbedtls_rsa_rsassa_pkcs1_v15_sign(&impl_->ctx, mbedTlsRandom, nullptr, MBEDTLS_RSA_PRIVATE,
                                        mdType(digestBits), hash.length(), hash.data(), sig.data());
  if (ret)
    throw MbedTlsException("RSA signature error", ret);
  writeFramed(out, sig);
}

bool RsaPrivateKey::readAndDecryptOaep(rdr::InStream& in, plat::MBuf<unsigned char>& out,
                                       int digestBits)
{
  PLAT_ASSERT(digestBits == 256 || digestBits == 512);
  RsaKeyImpl& key = *impl_;
  return readFramedAnd(key, in, [&](const uint8_t* block) {
    PaddingScope scope(key, MBEDTLS_RSA_PKCS_V21, digestBits);
    decryptCore(key, block, out, [&](const uint8_t* input, size_t* olen) {
      return mbedtls_rsa_rsaes_oaep_decrypt(&key.ctx, mbedTlsRandom, nullptr, MBEDTLS_RSA_PRIVATE,
                                            nullptr, 0, olen, input, out.data(), out.length());
    });
  });
}

bool RsaPrivateKey::readAndDecryptPkcs1v15(rdr::InStream& in, plat::MBuf<unsigned char>& out,
                                           int expectedLength)
{
  RsaKeyImpl& key = *impl_;
  bool complete;
  bool badPadding = false;
  try {
    complete = readFramedAnd(key, in, [&](const uint8_t* block) {
      PaddingScope scope(key, MBEDTLS_RSA_PKCS_V15, 0);
      decryptCore(key, block, out, [&](const uint8_t* input, size_t* olen) {
        return mbedtls_rsa_rsaes_pkcs1_v15_decrypt(&key.ctx, mbedTlsRandom, nullptr,
                                                   MBEDTLS_RSA_PRIVATE, olen, input, out.data(),
                                                   out.length());
      });
    });
  } catch (MbedTlsException& e) {
    if (expectedLength < 0 || e.getCode() != MBEDTLS_ERR_RSA_INVALID_PADDING)
      throw;
    rsaLog.info("Ignoring RSA decrypt error (PKCS#1 v1.5 padding: %s)", e.str());
    complete = badPadding = true;
  }
  if (!complete || expectedLength < 0)
    return complete;
  if (!badPadding) {
    if (out.length() == expectedLength)
      return true;
    rsaLog.info("Ignoring RSA decrypt length mismatch");
  }
  // Random bytes in place of an error give a padding oracle nothing.
  out.setSecure(true);
  out.resize(expectedLength);
  RandomStream random;
  random.readBytes(out.data(), expectedLength);
  return true;
}

void RsaPrivateKey::check() const
{
  int ret = mbedtls_rsa_check_privkey(&impl_->ctx);
  if (ret)
    throw MbedTlsException("RSA key invalid", ret);
}

// --- Generation -----------------------------------------------------------------

namespace {

// A random odd number of exactly bits bits, then the candidates after it
// until one is probably prime: true, or false with x = 0 when the deadline
// passed (checked every fifth candidate).
bool findPrime(mbedtls_mpi* x, int bits, plat::Time deadline)
{
  check(mbedtls_mpi_fill_random(x, (bits + 7) / 8, mbedTlsRandom, nullptr));
  int length = (int)mbedtls_mpi_bitlen(x);
  if (length > bits)
    check(mbedtls_mpi_shift_r(x, length - bits + 1));
  check(mbedtls_mpi_set_bit(x, bits - 1, 1));
  check(mbedtls_mpi_set_bit(x, 0, 1));
  for (int i = 1;; i++) {
    int ret = mbedtls_mpi_is_prime_ext(x, 40, mbedTlsRandom, nullptr);
    if (ret == 0)
      return true;
    if (ret != MBEDTLS_ERR_MPI_NOT_ACCEPTABLE)
      throw MbedTlsException("MbedTls error", ret);
    if (i % 5 == 0 && plat::getMonoTime() >= deadline) {
      check(mbedtls_mpi_lset(x, 0));
      return false;
    }
    check(mbedtls_mpi_add_int(x, x, 2));
  }
}

// One resumable step of the generation: P first, then Q until the modulus
// has exactly nbits bits and E is invertible. N is set only once the key
// is complete, so a half-made key never counts as finished.
bool generateStep(mbedtls_rsa_context& ctx, int nbits, plat::Time deadline)
{
  if (mbedtls_mpi_cmp_int(&ctx.P, 0) == 0 && !findPrime(&ctx.P, (nbits + 1) / 2, deadline))
    return false;
  Mpi n, p1, q1, h, g;
  for (;;) {
    if (!findPrime(&ctx.Q, nbits / 2, deadline))
      return false;
    if (mbedtls_mpi_cmp_mpi(&ctx.P, &ctx.Q) == 0)
      continue;
    if (mbedtls_mpi_cmp_mpi(&ctx.P, &ctx.Q) < 0)
      mbedtls_mpi_swap(&ctx.P, &ctx.Q);
    check(mbedtls_mpi_mul_mpi(&n.v, &ctx.P, &ctx.Q));
    if ((int)mbedtls_mpi_bitlen(&n.v) != nbits)
      continue;
    check(mbedtls_mpi_sub_int(&p1.v, &ctx.P, 1));
    check(mbedtls_mpi_sub_int(&q1.v, &ctx.Q, 1));
    check(mbedtls_mpi_mul_mpi(&h.v, &p1.v, &q1.v));
    check(mbedtls_mpi_gcd(&g.v, &ctx.E, &h.v));
    if (mbedtls_mpi_cmp_int(&g.v, 1) != 0)
      continue;
    check(mbedtls_mpi_inv_mod(&ctx.D, &ctx.E, &h.v));
    check(mbedtls_mpi_mod_mpi(&ctx.DP, &ctx.D, &p1.v));
    check(mbedtls_mpi_mod_mpi(&ctx.DQ, &ctx.D, &q1.v));
    check(mbedtls_mpi_inv_mod(&ctx.QP, &ctx.Q, &ctx.P));
    mbedtls_mpi_swap(&ctx.N, &n.v);
    ctx.len = (nbits + 7) / 8;
    return true;
  }
}

} // namespace

void RsaPrivateKey::generate(GenerateCallback* callback, Generation mode)
{
  rsaLog.status("Generating RSA private key");
  GenerateCallback* generateCb = generateCb_;
  PLAT_ASSERT(!generateCb && callback);
  generateCb_ = callback;
  impl_->reset();
  impl_->stage = 0;
  impl_->cursor.reset();
  generateBits_ = RsaModulusBits;
  int ret = mbedtls_mpi_lset(&impl_->ctx.E, 65537);
  if (ret) {
    generateCb_ = nullptr;
    generateBits_ = 0;
    throw MbedTlsException("MbedTls error", ret);
  }
  if (mode == Generation::Synchronous) {
    while (!generateSlice()) {
    }
  } else {
    timer_.start(0);
  }
}

bool RsaPrivateKey::generateSlice()
{
  try {
    if (bits() != generateBits_ &&
        !generateStep(impl_->ctx, generateBits_, plat::getMonoTime() + kSliceTicks))
      return false;
  } catch (...) {
    generateCb_ = nullptr;
    generateBits_ = 0;
    impl_->reset();
    throw;
  }
  auto mBits = [this] { return bits(); };
  int generateBits = generateBits_;
  PLAT_ASSERT(mBits() == generateBits);
  generateBits_ = 0;
  GenerateCallback* callback = generateCb_;
  generateCb_ = nullptr;
  // The callback may destroy the key: nothing here touches it afterwards.
  callback->rsaKeyGenerated(this);
  return true;
}

bool RsaPrivateKey::timerExpired(plat::Timer*)
{
  return !generateSlice();
}

} // namespace crypto
