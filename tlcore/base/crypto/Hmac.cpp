#include "crypto/Hmac.h"

#include <string.h>

#include "plat/String.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace crypto {

Hmac::Hmac(int digestBits, const plat::MBuf<unsigned char>& key)
    : Hmac(digestBits, key.length(), key.data())
{
}

// A missing key is an empty key: the pads are never left undefined.
Hmac::Hmac(int digestBits, int keyLength, const void* key)
    : sha_(digestBits, true), innerStart_(digestBits, true), outerStart_(digestBits, true)
{
  setKey(keyLength, key);
}

Hmac::~Hmac()
{
  plat::secureZero(ipad_, sizeof(ipad_));
  plat::secureZero(opad_, sizeof(opad_));
}

void Hmac::setKey(int keyLength, const void* key)
{
  int b = blockSize();
  int k0Length = keyLength > 0 ? keyLength : 0;
  if (k0Length > b) {
    // The digest goes straight into the pad area; its bits never pass
    // through a temporary.
    Sha keyDigest(sha_.getDigestBits(), true);
    keyDigest.update(keyLength, key);
    keyDigest.final(ipad_, kPadSize);
    k0Length = keyDigest.getDigestBytes();
  } else if (k0Length > 0) {
    memmove(ipad_, key, k0Length);
  }
  memset(ipad_ + k0Length, 0, kPadSize - k0Length);
  for (int i = 0; i < kPadSize; i++) {
    opad_[i] = ipad_[i] ^ 0x5c;
    ipad_[i] ^= 0x36;
  }
  absorbPads();
}

void Hmac::absorbPads()
{
  innerStart_.start();
  innerStart_.update(blockSize(), ipad_);
  outerStart_.start();
  outerStart_.update(blockSize(), opad_);
  reset();
}

void Hmac::reset()
{
  sha_.copyStateFrom(innerStart_);
}

void Hmac::final(unsigned char* out, int outLength)
{
  unsigned char inner[64];
  sha_.final(inner, sizeof(inner));
  sha_.copyStateFrom(outerStart_);
  sha_.update(sha_.getDigestBytes(), inner);
  sha_.final(out, outLength);
  plat::secureZero(inner, sizeof(inner));
}

void Hmac::writeState(rdr::OutStream& out) const
{
  sha_.writeState(out);
  out.writeBytes(ipad_, kPadSize);
  out.writeBytes(opad_, kPadSize);
}

void Hmac::readState(rdr::InStream& in)
{
  sha_.readState(in);
  in.readBytes(ipad_, kPadSize);
  in.readBytes(opad_, kPadSize);
  // The message state read above stays; only the saved starts follow the pads.
  Sha message(sha_.getDigestBits(), true);
  message.copyStateFrom(sha_);
  absorbPads();
  sha_.copyStateFrom(message);
}

} // namespace crypto
