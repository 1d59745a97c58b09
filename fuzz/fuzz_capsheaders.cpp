// The capabilities request's header readers on arbitrary texts: the input
// is "name\nheader"; Retry-After gives -1 or a wait within int range, the
// clock skew and the Link paging never fail. A page value is valid UTF-8,
// at most three bytes (U+FFFD for a bad one) per byte of the header.
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "hostedremoteaccess/CapsRequest.h"
#include "hostedremoteaccess/JsonErrors.h"
#include "plat/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nl = input.find('\n');
  std::string name = nl == std::string::npos ? "page" : input.substr(0, nl);
  std::string header = nl == std::string::npos ? input : input.substr(nl + 1);
  const char* text = header.c_str();
  int64_t skew = hostedremoteaccess::serverClockSkew(text);
  for (int64_t s : {(int64_t)0, skew, (int64_t)-36000000000LL, (int64_t)INT64_MAX / 4}) {
    int ms = hostedremoteaccess::retryAfterMs(text, s);
    FUZZ_CHECK(ms >= -1);
  }
  plat::String value = hostedremoteaccess::linkNextPageParam(text, name.c_str());
  FUZZ_CHECK(value.isNull() ||
             (plat::isValidUtf8(value.get()) && strlen(value.get()) <= 3 * header.size()));
  return 0;
}
