// HMAC (RFC 2104) over crypto::Sha, with its own inner and outer pads.
//
// The pads are inline and the digest contexts are allocated once, so PBKDF2
// and the random generator run many rounds on one object through reset()
// rather than rebuilding it; the digest states after each pad are kept, so
// a message costs no pad compressions. Any digest size of crypto::Sha, SHA-1
// included. The pads and the context are wiped on destruction. One thread
// at a time per object.
#pragma once

#include "crypto/Sha.h"
#include "plat/MBuf.h"

namespace crypto {

class Hmac {
public:
  static constexpr int kPadSize = 128;

  Hmac(int digestBits, const plat::MBuf<unsigned char>& key);
  Hmac(int digestBits, int keyLength, const void* key);
  ~Hmac();
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;

  int getDigestBits() const { return sha_.getDigestBits(); }
  int getDigestBytes() const { return sha_.getDigestBytes(); }

  // A new key; the object is ready for a message under it.
  void setKey(const plat::MBuf<unsigned char>& key) { setKey(key.length(), key.data()); }
  void setKey(int keyLength, const void* key);

  void update(int length, const void* data) { sha_.update(length, data); }
  void update(const plat::MBuf<unsigned char>& data) { sha_.update(data.length(), data.data()); }
  // Writes getDigestBytes() bytes (outLength must allow them); reset()
  // before the next message.
  void final(unsigned char* out, int outLength);
  // Starts the next message under the same key.
  void reset();

  // The digest state, then the inner and the outer pad.
  void writeState(rdr::OutStream& out) const;
  void readState(rdr::InStream& in);

private:
  int blockSize() const { return sha_.getDigestBits() <= 256 ? 64 : 128; }

  // Digests ipad_ and opad_ into the saved states.
  void absorbPads();

  Sha sha_;
  Sha innerStart_; // the digest after the inner pad
  Sha outerStart_; // the digest after the outer pad
  unsigned char ipad_[kPadSize];
  unsigned char opad_[kPadSize];
};

} // namespace crypto
