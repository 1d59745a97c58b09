// ISO 8601 times, month-day-year dates and strftime formats from arbitrary
// text. A parsed time must lie in the representable years and survive a
// format/parse round trip within the printed precision.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstdint>
#include <string>

#include "plat/Time.h"
#include "plat/numbers.h"

#include "fuzz_util.h"

namespace {

const plat::Time kYear1 = -504911232000000000LL;     // 0001-01-01T00:00:00Z
const plat::Time kYear10000 = 2650467744000000000LL; // 10000-01-01T00:00:00Z
// Offsets reach 99 hours and 99 minutes.
const plat::Time kMaxOffset = (99 * 3600 + 99 * 60) * plat::kTicksPerSecond;

plat::Time floorTo(plat::Time t, plat::Time unit)
{
  plat::Time r = t % unit;
  return t - (r < 0 ? r + unit : r);
}

void checkRoundTrip(plat::Time t, bool withMillis)
{
  plat::DString text;
  plat::formatTimeIso(text, t, withMillis);
  struct tm tm;
  plat::timeToTmUtc(&tm, t);
  const int year = tm.tm_year + 1900;
  plat::Time back = 0;
  const bool ok = plat::parseIsoTime(&back, text.get());
  FUZZ_CHECK(ok == (year >= 1 && year <= 9999));
  if (ok)
    FUZZ_CHECK(back == floorTo(t, withMillis ? plat::kTicksPerMilli : plat::kTicksPerSecond));
}

void checkIso(const char* s)
{
  plat::Time t = 0;
  if (!plat::parseIsoTime(&t, s)) {
    try {
      plat::parseIsoTimeOrThrow(s);
      FUZZ_CHECK(!"parseIsoTimeOrThrow accepted a refused text");
    } catch (const plat::Exception& e) {
      FUZZ_CHECK(strncmp(e.str(), "invalid date (", 14) == 0);
    }
    return;
  }
  FUZZ_CHECK(plat::parseIsoTimeOrThrow(s) == t);
  FUZZ_CHECK(t >= kYear1 - kMaxOffset && t < kYear10000 + kMaxOffset + plat::kTicksPerSecond);
  checkRoundTrip(t, true);
  checkRoundTrip(t, false);
  // The UTC fields convert back to the same second.
  struct tm tm;
  plat::timeToTmUtc(&tm, t);
  plat::Time fromFields;
  FUZZ_CHECK(plat::dateToTime(&fromFields, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                              tm.tm_hour, tm.tm_min, tm.tm_sec));
  FUZZ_CHECK(fromFields == floorTo(t, plat::kTicksPerSecond));
}

void checkMonthDayYear(const char* s)
{
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int y, m, d;
  if (!plat::parseMonthDayYear(&y, &m, &d, s))
    return;
  FUZZ_CHECK(y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= 31);
  char back[32];
  snprintf(back, sizeof(back), "%s %d %d", kMonths[m - 1], d, y);
  int y2, m2, d2;
  FUZZ_CHECK(plat::parseMonthDayYear(&y2, &m2, &d2, back) && y2 == y && m2 == m && d2 == d);
}

void checkFormat(const char* s, size_t len)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, (plat::Time)len * 7777777777777LL);
  plat::DString out;
  if (plat::formatTm(out, s, tm))
    FUZZ_CHECK(out.length() > 0 && out.length() < 2048);
  else
    FUZZ_CHECK(strcmp(out.get(), "<date error>") == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string text((const char*)data, size);
  checkIso(text.c_str());
  checkMonthDayYear(text.c_str());
  if (size < 4096)
    checkFormat(text.c_str(), size);
  return 0;
}
