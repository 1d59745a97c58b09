// The error-body readers on arbitrary bytes: a refusal is a JsonException,
// and the collected texts are valid UTF-8.
#include <stdint.h>

#include "fuzz_util.h"
#include "hosted/HostedException.h"
#include "hostedremoteaccess/JsonErrors.h"
#include "plat/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1 << 20))
    return 0;
  plat::MBuf<unsigned char> body(data, (int)size);
  hosted::HostedException badRequest(8, "HTTPBadRequest", nullptr);
  for (int which = 0; which < 2; which++) {
    try {
      plat::StringSet set = which ? hostedremoteaccess::errorCodes(body, "application/json")
                                  : hostedremoteaccess::badRequestErrorFields(
                                        badRequest, body, "application/json");
      for (const plat::String& s : set)
        FUZZ_CHECK(plat::isValidUtf8(s.str()));
    } catch (plat::JsonException&) {
    }
  }
  return 0;
}
