// PEM certificate bundles from outside ("cacerts.pem", a downloaded
// bundle): certificates or nothing, never a crash.
#include <stdint.h>

#include "fuzz_util.h"
#include "ssl/SslCertLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<ssl::SslCertificatePtr> certs = ssl::parsePemCertificates((int)size, text);
  ssl::SslCertLookupCustom store;
  store.addCertsFromPem((int)size, text);
  FUZZ_CHECK(store.size() <= certs.size());
  for (const ssl::SslCertificatePtr& c : certs)
    FUZZ_CHECK(store.find(c->subjectDer().length(), c->subjectDer().data()));
  return 0;
}
