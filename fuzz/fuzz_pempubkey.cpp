// The PEM public-key bundle reader and the single-key reader (PEM or DER)
// on arbitrary text: keys or nothing, never a crash.
#include <stdint.h>

#include <string>

#include "crypto/RsaKey.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string text((const char*)data, size);
  for (const crypto::RsaPublicKey& key : crypto::RsaPublicKey::keysFromBundle(text.c_str()))
    FUZZ_CHECK(key.bits() > 0);
  crypto::RsaPublicKey key;
  try {
    key.setFromText(text.data(), (int)text.size());
    FUZZ_CHECK(key.bits() > 0);
  } catch (plat::Exception&) {
  }
  return 0;
}
