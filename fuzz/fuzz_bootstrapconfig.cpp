// The bootstrap configuration over arbitrary bodies. The first byte picks
// the form: bit 0 requires a signature, bit 1 verifies against the built-in
// vendor configuration's trust manager and an https address. Every refusal
// is a bootstrap HostedException; an accepted configuration keeps its
// promises.
#include <stdint.h>

#include "fuzz_hosted.h"
#include "fuzz_util.h"
#include "hosted/BootstrapConfig.h"
#include "hosted/HostedException.h"

using namespace hosted;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzQuietLogs();
  const VendorConfig& vendor = builtInVendorConfig();
  if (size < 1 || size > (1 << 20))
    return 0;
  bool required = data[0] & 1;
  bool verify = data[0] & 2;
  try {
    BootstrapConfig c((int)size - 1, data + 1, verify ? &vendor.trustManager() : nullptr,
                      verify ? "https://127.0.0.1:8443/btp/0" : nullptr,
                      required ? BootstrapConfig::Signature::Required
                               : BootstrapConfig::Signature::Optional);
    FUZZ_CHECK(c.configCount() >= 1);
    FUZZ_CHECK(c.discoveryUris().size() <= 1);
    FUZZ_CHECK(c.maxBackoffSecs() <= 2147483647u);
    FUZZ_CHECK(!required || c.isSigned());
    FUZZ_CHECK(!c.isSigned() || verify);
    BootstrapConfig copy(c);
    FUZZ_CHECK(copy.parameters().size() == c.parameters().size());
    c.isValidNow();
  } catch (const HostedException& e) {
    FUZZ_CHECK(e.getCategory() == HostedException::kBootstrap);
  }
  return 0;
}
