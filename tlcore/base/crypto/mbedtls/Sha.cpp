#include "crypto/Sha.h"

#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>
#include <mbedtls/sha512.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "crypto/Sha256Ni.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace crypto {

// Whichever library context the size needs: SHA-224 runs in the SHA-256
// context, SHA-384 in the SHA-512 one.
struct Sha::Context {
  union {
    mbedtls_sha1_context sha1;
    mbedtls_sha256_context sha256;
    mbedtls_sha512_context sha512;
  };
};

namespace {

// A failing digest call means the library or the context is broken.
inline void check(int ret)
{
  PLAT_ASSERT(ret == 0);
}

// The saved state's layout: the context's raw fields in order, then (for
// the SHA-2 families) one byte telling the truncated variant.
constexpr int kSha1StateSize = 8 + 20 + 64;
constexpr int kSha256StateSize = 8 + 32 + 64 + 1;
constexpr int kSha512StateSize = 16 + 64 + 128 + 1;
constexpr int kMaxStateSize = kSha512StateSize;

#ifdef TL_TEST_HOOKS
bool portableSha256 = false;
#endif

// Set once the CPU has been asked.
std::atomic<bool> sha256NiAsked{false};

bool sha256Ni()
{
#ifdef TL_TEST_HOOKS
  if (portableSha256)
    return false;
#endif
  bool have = haveSha256Ni();
  sha256NiAsked.store(true, std::memory_order_relaxed);
  return have;
}

// Asking the CPU takes four cpuid instructions, each a trip to the
// hypervisor on a virtual machine (some microseconds): short runs of blocks
// (the random stream's HMAC steps at start-up) take the portable code until
// a longer run, or usesSha256Extensions, has asked.
constexpr size_t kBlocksWorthAsking = 8;

// SHA-224 and SHA-256 over the library's context: its byte count, state
// and pending block, kept exactly as its own code keeps them. Only the
// block function differs.
void sha256Blocks(mbedtls_sha256_context& c, const unsigned char* p, size_t n)
{
  bool ask = n >= kBlocksWorthAsking || sha256NiAsked.load(std::memory_order_relaxed);
  if (ask && sha256Ni()) {
    sha256BlocksNi(c.state, p, n);
    return;
  }
  for (; n > 0; n--, p += 64)
    check(mbedtls_internal_sha256_process(&c, p));
}

void sha256Update(mbedtls_sha256_context& c, const unsigned char* p, size_t length)
{
  size_t used = c.total[0] & 63;
  c.total[0] += (uint32_t)length;
  if (c.total[0] < (uint32_t)length)
    c.total[1]++;
  if (used > 0 && length >= 64 - used) {
    memcpy(c.buffer + used, p, 64 - used);
    sha256Blocks(c, c.buffer, 1);
    p += 64 - used;
    length -= 64 - used;
    used = 0;
  }
  if (length >= 64) {
    sha256Blocks(c, p, length / 64);
    p += length & ~(size_t)63;
    length &= 63;
  }
  if (length > 0)
    memcpy(c.buffer + used, p, length);
}

void putBigEndian(unsigned char* p, uint32_t v)
{
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

// Writes 28 or 32 bytes.
void sha256Finish(mbedtls_sha256_context& c, unsigned char* out)
{
  size_t used = c.total[0] & 63;
  c.buffer[used++] = 0x80;
  if (used > 56) {
    memset(c.buffer + used, 0, 64 - used);
    sha256Blocks(c, c.buffer, 1);
    used = 0;
  }
  memset(c.buffer + used, 0, 56 - used);
  putBigEndian(c.buffer + 56, (c.total[0] >> 29) | (c.total[1] << 3));
  putBigEndian(c.buffer + 60, c.total[0] << 3);
  sha256Blocks(c, c.buffer, 1);
  for (int i = 0; i < (c.is224 ? 7 : 8); i++)
    putBigEndian(out + 4 * i, c.state[i]);
}

} // namespace

bool Sha::usesSha256Extensions()
{
  return sha256Ni();
}

#ifdef TL_TEST_HOOKS
void Sha::setPortableSha256ForTests(bool portable)
{
  portableSha256 = portable;
}
#endif

Sha::Sha(int digestBits, bool allowSha1ForLegacyCode) : digestBits_(digestBits), ctx_(nullptr)
{
  PLAT_ASSERT((digestBits == 160 && allowSha1ForLegacyCode) || digestBits == 224 ||
              digestBits == 256 || digestBits == 384 || digestBits == 512);
  ctx_ = new Context;
  switch (digestBits_) {
  case 160:
    mbedtls_sha1_init(&ctx_->sha1);
    break;
  case 224:
  case 256:
    mbedtls_sha256_init(&ctx_->sha256);
    break;
  default:
    mbedtls_sha512_init(&ctx_->sha512);
    break;
  }
  start();
}

Sha::~Sha()
{
  plat::secureZero(ctx_, sizeof(*ctx_));
  delete ctx_;
}

void Sha::start()
{
  switch (digestBits_) {
  case 160:
    check(mbedtls_sha1_starts_ret(&ctx_->sha1));
    break;
  case 224:
  case 256:
    check(mbedtls_sha256_starts_ret(&ctx_->sha256, digestBits_ == 224));
    break;
  default:
    check(mbedtls_sha512_starts_ret(&ctx_->sha512, digestBits_ == 384));
    break;
  }
}

void Sha::update(int length, const void* data)
{
  if (length <= 0)
    return;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  switch (digestBits_) {
  case 160:
    check(mbedtls_sha1_update_ret(&ctx_->sha1, p, length));
    break;
  case 224:
  case 256:
    sha256Update(ctx_->sha256, p, (size_t)length);
    break;
  default:
    check(mbedtls_sha512_update_ret(&ctx_->sha512, p, length));
    break;
  }
}

void Sha::final(unsigned char* buffer, int bufSize)
{
  int digestBits = digestBits_;
  PLAT_ASSERT(bufSize >= digestBits/8);
  switch (digestBits) {
  case 160:
    check(mbedtls_sha1_finish_ret(&ctx_->sha1, buffer));
    break;
  case 224:
  case 256:
    sha256Finish(ctx_->sha256, buffer);
    break;
  case 512:
    check(mbedtls_sha512_finish_ret(&ctx_->sha512, buffer));
    break;
  default: {
    // SHA-384 still writes the full 64 bytes.
    unsigned char full[64];
    check(mbedtls_sha512_finish_ret(&ctx_->sha512, full));
    memcpy(buffer, full, digestBits / 8);
    plat::secureZero(full, sizeof(full));
    break;
  }
  }
}

void Sha::copyStateFrom(const Sha& other)
{
  PLAT_ASSERT(other.digestBits_ == digestBits_);
  memcpy(ctx_, other.ctx_, sizeof(*ctx_));
}

void Sha::writeState(rdr::OutStream& out) const
{
  unsigned char buf[kMaxStateSize];
  unsigned char* p = buf;
  auto put = [&p](const void* field, size_t size) {
    memcpy(p, field, size);
    p += size;
  };
  switch (digestBits_) {
  case 160:
    put(ctx_->sha1.total, sizeof(ctx_->sha1.total));
    put(ctx_->sha1.state, sizeof(ctx_->sha1.state));
    put(ctx_->sha1.buffer, sizeof(ctx_->sha1.buffer));
    break;
  case 224:
  case 256:
    put(ctx_->sha256.total, sizeof(ctx_->sha256.total));
    put(ctx_->sha256.state, sizeof(ctx_->sha256.state));
    put(ctx_->sha256.buffer, sizeof(ctx_->sha256.buffer));
    *p++ = ctx_->sha256.is224 ? 1 : 0;
    break;
  default:
    put(ctx_->sha512.total, sizeof(ctx_->sha512.total));
    put(ctx_->sha512.state, sizeof(ctx_->sha512.state));
    put(ctx_->sha512.buffer, sizeof(ctx_->sha512.buffer));
    *p++ = ctx_->sha512.is384 ? 1 : 0;
    break;
  }
  out.writeBytes(buf, static_cast<int>(p - buf));
  plat::secureZero(buf, sizeof(buf));
}

void Sha::readState(rdr::InStream& in)
{
  int size = digestBits_ == 160 ? kSha1StateSize
           : digestBits_ <= 256 ? kSha256StateSize
                                : kSha512StateSize;
  unsigned char buf[kMaxStateSize];
  in.readBytes(buf, size);
  // A state of the other variant would finish with the wrong initial
  // values and output length: refuse it rather than digest wrongly.
  if (digestBits_ != 160) {
    bool truncated = digestBits_ == 224 || digestBits_ == 384;
    if (buf[size - 1] != (truncated ? 1 : 0)) {
      plat::secureZero(buf, sizeof(buf));
      throw plat::Exception(0, "Digest state is not SHA-%d", digestBits_);
    }
  }
  const unsigned char* p = buf;
  auto get = [&p](void* field, size_t size) {
    memcpy(field, p, size);
    p += size;
  };
  switch (digestBits_) {
  case 160:
    get(ctx_->sha1.total, sizeof(ctx_->sha1.total));
    get(ctx_->sha1.state, sizeof(ctx_->sha1.state));
    get(ctx_->sha1.buffer, sizeof(ctx_->sha1.buffer));
    break;
  case 224:
  case 256:
    get(ctx_->sha256.total, sizeof(ctx_->sha256.total));
    get(ctx_->sha256.state, sizeof(ctx_->sha256.state));
    get(ctx_->sha256.buffer, sizeof(ctx_->sha256.buffer));
    ctx_->sha256.is224 = digestBits_ == 224;
    break;
  default:
    get(ctx_->sha512.total, sizeof(ctx_->sha512.total));
    get(ctx_->sha512.state, sizeof(ctx_->sha512.state));
    get(ctx_->sha512.buffer, sizeof(ctx_->sha512.buffer));
    ctx_->sha512.is384 = digestBits_ == 384;
    break;
  }
  plat::secureZero(buf, sizeof(buf));
}

void Sha::digest(int digestBits, int length, const void* data, plat::MBuf<unsigned char>& out,
                 bool allowSha1ForLegacyCode)
{
  Sha sha(digestBits, allowSha1ForLegacyCode);
  sha.update(length, data);
  out.resize(digestBits / 8);
  sha.final(out.data(), out.length());
}

plat::MBuf<unsigned char> Sha::digestStream(int digestBits, rdr::InStream& in,
                                            bool allowSha1ForLegacyCode)
{
  Sha sha(digestBits, allowSha1ForLegacyCode);
  // Exceptions other than the end of the stream leave through the
  // destructor, which wipes the context.
  for (;;) {
    if (in.nUnread() == 0) {
      try {
        if (!in.check(false, 1))
          break;
      } catch (rdr::EndOfStream&) {
        break;
      }
    }
    int n = std::min(in.nUnread(), 4096);
    sha.update(n, in.getPtr());
    in.consume(n);
    // Lets a rewindable stream drop what is already digested.
    in.setCheckpoint();
  }
  plat::MBuf<unsigned char> out(digestBits / 8);
  sha.final(out.data(), out.length());
  return out;
}

} // namespace crypto
