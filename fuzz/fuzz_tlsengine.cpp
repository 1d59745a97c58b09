// The TLS engine fed arbitrary server bytes in arbitrary pieces: each step
// ends in "more data wanted", a completed handshake or a thrown error, never
// a crash or a hang. Entropy is fixed, so a run repeats exactly. The first
// byte of every piece is its length.
#include <stdint.h>
#include <string.h>

#include "crypto/RandomStream.h"
#include "fuzz_util.h"
#include "os/entropy.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslEngine.h"
#include "ssl/SslTrustManager.h"

namespace {

long fixedEntropy(void* buffer, size_t length, unsigned)
{
  memset(buffer, 0x5a, length);
  return (long)length;
}

const os::EntropyCalls kFixed = {fixedEntropy, nullptr, nullptr, nullptr};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  static bool ready = (fuzzQuietLogs(), os::setEntropyCallsForTest(&kFixed),
                       crypto::RandomStream::resetForTest(), true);
  (void)ready;
  if (size > 65536)
    return 0;
  auto tm = ssl::SslTrustManager::create(std::make_unique<ssl::SslCertLookupCustom>());
  const int tls12 = 2;
  auto engine =
      ssl::SslEngine::create(tm.get(), 32, ssl::kNormalSuites, 1, &tls12, "fuzz.site.test", nullptr);
  rdr::MemIoStream in(nullptr, -1);
  rdr::MemOutStream out;
  rdr::MemOutStream plain(-1, 4096);
  bool handshaken = false;
  try {
    size_t at = 0;
    while (at < size) {
      size_t len = data[at++];
      size_t n = std::min(len, size - at);
      in.writeBytes(data + at, (int)n);
      at += n;
      if (!handshaken)
        handshaken = engine->handshake(&in, &out);
      if (handshaken) {
        plain.clear();
        engine->read(&in, &plain);
      }
      out.clear();
    }
  } catch (const plat::Exception&) {
  }
  return 0;
}
