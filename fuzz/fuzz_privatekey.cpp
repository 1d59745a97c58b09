// Private-key PEM text from outside, with and without a password: a key,
// no key (password needed), or SslException code 17; never a crash.
#include <stdint.h>

#include <string>

#include "crypto/EcKey.h"
#include "crypto/RsaKey.h"
#include "fuzz_util.h"
#include "ssl/SslException.h"
#include "ssl/SslPrivateKey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* password : {(const char*)nullptr, "zoo-secret"}) {
    try {
      ssl::SslPrivateKeyPtr key = ssl::SslPrivateKey::createFromPem(text.c_str(), password);
      if (!key)
        continue;
      if (key->keyKind() == ssl::SslPrivateKey::kRsaKey)
        FUZZ_CHECK(key->rsaPrivateKey()->bits() > 0);
      else if (key->keyKind() == ssl::SslPrivateKey::kEcKey)
        key->ecPrivateKey();
    } catch (const ssl::SslException& e) {
      FUZZ_CHECK(e.getCode() == 17);
    } catch (const plat::Exception&) {
      // A key the crypto classes refuse (curve, size).
    }
  }
  return 0;
}
