// The ticket redeemer's reply handling on arbitrary bodies and content
// types (input "content type\nbody"): an object, or a hosted error of kind
// "JSON"; nothing else escapes.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "hosted/HostedException.h"
#include "hostedremoteaccess/TicketRedeemer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  fuzzQuietLogs();
  const char* text = reinterpret_cast<const char*>(data);
  const char* nl = static_cast<const char*>(memchr(text, '\n', size));
  std::string type = nl ? std::string(text, nl - text) : "application/json";
  const char* body = nl ? nl + 1 : text;
  plat::MBuf<unsigned char> bytes(reinterpret_cast<const unsigned char*>(body),
                                  (int)(size - (body - text)));
  try {
    plat::JsonPtr<plat::JsonObject> reply = hostedremoteaccess::redeemReply(bytes, type.c_str());
    FUZZ_CHECK(reply);
  } catch (hosted::HostedException& e) {
    FUZZ_CHECK(strcmp(e.getKind(), "JSON") == 0 && e.getCategory() == 8);
  }
  return 0;
}
