// The capabilities request's header readers on arbitrary texts: the input
// is "name\nheader"; Retry-After gives -1 or a wait within int range, and
// for an HTTP date a wait of 0 to 2147483647 ms under any skew: 0 when the
// date is not later than now, the longest when it lies beyond it (skew 0).
// The clock skew stays within its bound and the Link paging never fails. A
// page value is valid UTF-8, at most three bytes (U+FFFD for a bad one) per
// byte of the header.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "hostedremoteaccess/CapsRequest.h"
#include "hostedremoteaccess/JsonErrors.h"
#include "http/HttpUtil.h"
#include "plat/Time.h"
#include "plat/utf8.h"

// A fixed wall clock (2026-05-04T12:00:00Z), so that the checks against now
// are exact.
static constexpr plat::Time kNow = plat::kUnixEpochTicks + 1777896000LL * plat::kTicksPerSecond;
[[maybe_unused]] static const plat::WallClockFn systemClock =
    plat::setWallClock([] { return kNow; });

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
  FUZZ_CHECK(llabs(skew) <= hostedremoteaccess::kMaxClockSkew);
  plat::Time date;
  const bool isDate = http::parseDate(&date, text);
  for (int64_t s : {(int64_t)0, skew, (int64_t)-36000000000LL, INT64_MAX / 4, INT64_MIN}) {
    int ms = hostedremoteaccess::retryAfterMs(text, s);
    FUZZ_CHECK(ms >= (isDate ? 0 : -1));
    FUZZ_CHECK(!isDate || s || date > kNow || ms == 0);
    FUZZ_CHECK(!isDate || s || date <= kNow + 2147483648LL * plat::kTicksPerMilli ||
               ms == 2147483647);
  }
  plat::String value = hostedremoteaccess::linkNextPageParam(text, name.c_str());
  FUZZ_CHECK(value.isNull() ||
             (plat::isValidUtf8(value.get()) && strlen(value.get()) <= 3 * header.size()));
  return 0;
}
