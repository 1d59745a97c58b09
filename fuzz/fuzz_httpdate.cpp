// HTTP dates on arbitrary text: a date that parses parses the same way
// through parseDateOrThrow and again from its RFC 1123 form; anything else
// is refused with the documented error.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "http/HttpUtil.h"
#include "http/UserAgent.h"
#include "plat/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string text((const char*)data, size);
  text = text.c_str();
  plat::Time t = 0;
  bool ok = http::parseDate(&t, text.c_str());
  try {
    FUZZ_CHECK(http::parseDateOrThrow(text.c_str()) == t && ok);
    plat::String again = http::formatHttpDate(t);
    plat::Time t2 = 0;
    FUZZ_CHECK(http::parseDate(&t2, again.str()) && t2 == t);
  } catch (plat::Exception& e) {
    FUZZ_CHECK(!ok);
    FUZZ_CHECK(strncmp(e.str(), "invalid HTTP date (", 19) == 0);
  }
  return 0;
}
