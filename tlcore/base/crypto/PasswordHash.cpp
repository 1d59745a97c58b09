#include "crypto/PasswordHash.h"

#include <string.h>

#include <algorithm>
#include <utility>

#include "crypto/Hmac.h"
#include "crypto/RandomStream.h"
#include "plat/ConfigParameter.h"
#include "plat/Exception.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

namespace crypto {

plat::IntParameter
    PasswordHashRounds("PasswordHashRounds",
                       "Number of rounds to use when generating hashes for new passwords", 20000,
                       plat::ParamLevel::kBasic, nullptr, 1000, (int)kMaxPasswordHashRounds);

namespace {

const char kTag[] = "P2a";
constexpr int kSaltLength = 16;
constexpr int kKeyLength = 64;
constexpr int kRecordDigestBits = 512;

// Timed derivation: rounds are run in batches of this many, up to the cap.
constexpr uint32_t kBatch = 10000;
constexpr uint32_t kMaxTimedRounds = 10000000;

// The derivation between the first pass and the final cut: the key blocks
// (T) and, per block, the latest U.
class Derivation {
public:
  Derivation(const char* password, const plat::MBuf<unsigned char>& salt, int keyLength,
             int digestBits)
      : hmac_(digestBits, password ? (int)strlen(password) : 0, password),
        h_(hmac_.getDigestBytes()), blocks_((keyLength + h_ - 1) / h_), key_(blocks_ * h_, true)
  {
    for (int i = 0; i < blocks_; i++) {
      unsigned char index[4] = {(unsigned char)((i + 1) >> 24), (unsigned char)((i + 1) >> 16),
                                (unsigned char)((i + 1) >> 8), (unsigned char)(i + 1)};
      hmac_.update(salt);
      hmac_.update(4, index);
      hmac_.final(key_.data() + i * h_, h_);
      hmac_.reset();
    }
    chain_.setSecure(true);
    chain_.assign(key_);
  }

  // count further rounds on every block.
  void run(uint32_t count)
  {
    for (int i = 0; i < blocks_; i++) {
      unsigned char* u = chain_.data() + i * h_;
      unsigned char* t = key_.data() + i * h_;
      for (uint32_t r = 0; r < count; r++) {
        hmac_.update(h_, u);
        hmac_.final(u, h_);
        xorInto(t, u);
        hmac_.reset();
      }
    }
  }

  Pbkdf2Result result(int keyLength, uint32_t rounds, plat::MBuf<unsigned char> salt)
  {
    key_.resize(keyLength);
    return Pbkdf2Result{std::move(key_), rounds, std::move(salt), h_};
  }

private:
  void xorInto(unsigned char* t, const unsigned char* u) const
  {
    for (int j = 0; j < h_; j += 4) {
      uint32_t a, b;
      memcpy(&a, t + j, 4);
      memcpy(&b, u + j, 4);
      a ^= b;
      memcpy(t + j, &a, 4);
    }
  }

  Hmac hmac_;
  int h_;
  int blocks_;
  plat::MBuf<unsigned char> key_;
  plat::MBuf<unsigned char> chain_;
};

bool equalInConstantTime(const unsigned char* a, const unsigned char* b, int n)
{
  volatile unsigned char diff = 0;
  for (int i = 0; i < n; i++)
    diff = diff | (a[i] ^ b[i]);
  return diff == 0;
}

} // namespace

Pbkdf2Result pbkdf2(const char* password, plat::MBuf<unsigned char> salt, unsigned rounds,
                    int keyLength, int digestBits)
{
  // rounds - 1 further rounds: 0 would run 2^32 - 1 of them.
  if (rounds == 0)
    throw plat::Exception("PBKDF2 needs at least one round");
  PLAT_ASSERT(keyLength >= 0);
  salt.setSecure(true);
  Derivation derivation(password, salt, keyLength, digestBits);
  derivation.run(rounds - 1);
  return derivation.result(keyLength, rounds, std::move(salt));
}

Pbkdf2Result pbkdf2Timed(const char* password, int keyLength, int saltLength, int budgetMs,
                         int digestBits)
{
  PLAT_ASSERT(keyLength >= 0 && saltLength >= 0);
  plat::MBuf<unsigned char> salt(saltLength, true);
  {
    RandomStream random;
    random.readBytes(salt.data(), saltLength);
  }
  Derivation derivation(password, salt, keyLength, digestBits);
  plat::Time deadline = plat::getMonoTime() + (plat::Time)budgetMs * plat::kTicksPerMilli;
  derivation.run(kBatch - 1);
  uint32_t rounds = kBatch;
  while (plat::getMonoTime() < deadline && rounds < kMaxTimedRounds) {
    derivation.run(kBatch);
    rounds += kBatch;
  }
  return derivation.result(keyLength, rounds, std::move(salt));
}

plat::MBuf<unsigned char> hashPassword(const char* password, int rounds)
{
  plat::MBuf<unsigned char> record(0, true);
  if (!password)
    return record;
  plat::MBuf<unsigned char> salt(kSaltLength, true);
  {
    RandomStream random;
    random.readBytes(salt.data(), kSaltLength);
  }
  Pbkdf2Result derived =
      pbkdf2(password, std::move(salt), passwordHashRounds(rounds), kKeyLength, kRecordDigestBits);
  rdr::MemOutStream out(kPasswordHashLength);
  out.setSecure(true);
  out.writeBytes(kTag, 3);
  out.writeU32(derived.rounds);
  out.writeBytes(derived.salt.data(), derived.salt.length());
  out.writeBytes(derived.key.data(), derived.key.length());
  out.releaseInto(record);
  return record;
}

uint32_t passwordHashRounds(int requested)
{
  return requested >= 1 ? std::min((uint32_t)requested, kMaxPasswordHashRounds)
                        : (uint32_t)PasswordHashRounds.getValue();
}

bool isPasswordHash(int length, const unsigned char* data)
{
  return length == kPasswordHashLength && data && memcmp(data, kTag, 3) == 0;
}

bool verifyPassword(const char* password, int length, const unsigned char* record)
{
  if (!password || !record || length != kPasswordHashLength)
    return false;
  rdr::MemInStream in(record, length);
  if (strcmp(in.readFixedString(3, true).str(), kTag) != 0)
    return false;
  uint32_t rounds = in.readU32();
  if (rounds < 1 || rounds > kMaxPasswordHashRounds)
    return false;
  plat::MBuf<unsigned char> salt(kSaltLength, true);
  plat::MBuf<unsigned char> key(kKeyLength, true);
  in.readBytes(salt.data(), kSaltLength);
  in.readBytes(key.data(), kKeyLength);
  Pbkdf2Result derived = pbkdf2(password, std::move(salt), rounds, kKeyLength, kRecordDigestBits);
  return derived.key.length() == key.length() &&
         equalInConstantTime(derived.key.data(), key.data(), key.length());
}

} // namespace crypto
