// Certificate DER from outside: a certificate whose every extracted field is
// consistent, or an exception; never a crash.
#include <stdint.h>
#include <string.h>

#include "crypto/EcKey.h"
#include "crypto/RsaKey.h"
#include "fuzz_util.h"
#include "plat/Exception.h"
#include "ssl/SslCertificate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  try {
    ssl::SslCertificatePtr c = ssl::SslCertificate::createFromDer((int)size, data);
    FUZZ_CHECK(c->der().length() > 0 && (size_t)c->der().length() <= size);
    plat::MBuf<unsigned char> key = c->publicKeyDer();
    FUZZ_CHECK(key.length() > 0);
    FUZZ_CHECK(memmem(c->der().data(), c->der().length(), key.data(), key.length()));
    FUZZ_CHECK(c->fingerprint().length() == 20);
    c->displayName();
    for (const ssl::AltName& a : c->altNames())
      FUZZ_CHECK(a.kind >= 0 && a.kind <= 3);
    try {
      c->crlUrls();
    } catch (const plat::Exception&) {
    }
    try {
      c->ocspUrls();
    } catch (const plat::Exception&) {
    }
    try {
      c->rsaPublicKey();
    } catch (const plat::Exception&) {
    }
    try {
      c->ecPublicKey();
    } catch (const plat::Exception&) {
    }
  } catch (const plat::Exception&) {
  }
  return 0;
}
