// HTTP dates against python's email.utils and datetime, and the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpUtil.h"
#include "plat/Exception.h"
#include "testutil.h"

namespace {

// Random instants in the three forms, each with its Unix time, as python
// writes them.
const char* const kPython = R"(
import email.utils, random, time, datetime
rng = random.Random(5)
for _ in range(300):
    t = rng.randint(-2208988800, 253402300799)
    d = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=t)
    print(t, "|" + email.utils.formatdate(t, usegmt=True))
    if 1900 <= d.year < 2000:
        print(t, "|" + d.strftime("%A, %d-%b-%y %H:%M:%S GMT"))
    print(t, "|" + "%s %s %2d %s %04d" % (d.strftime("%a"), d.strftime("%b"), d.day,
                                        d.strftime("%H:%M:%S"), d.year))
)";

TEST(HttpDate, AgreesWithPython)
{
  tltest::TempFile script(kPython, "tltest_httpdate");
  std::vector<std::string> lines = tltest::commandLines("LC_ALL=C /usr/bin/python3 " + script.path());
  ASSERT_GT(lines.size(), 600u);
  for (const std::string& l : lines) {
    size_t bar = l.find('|');
    int64_t unix = std::stoll(l.substr(0, bar));
    std::string text = l.substr(bar + 1);
    plat::Time t = 0;
    ASSERT_TRUE(http::parseDate(&t, text.c_str())) << text;
    EXPECT_EQ(plat::kUnixEpochTicks + unix * plat::kTicksPerSecond, t) << text;
  }
}

TEST(HttpDate, FormsAndRefusals)
{
  plat::Time expected = plat::makeTime(1994, 11, 6, 8, 49, 37);
  struct {
    const char* text;
    plat::Time time; // -1: refused
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", expected},
      {"Sunday, 06-Nov-94 08:49:37 GMT", expected},
      {"Sun Nov  6 08:49:37 1994", expected},
      {"Thursday, 06-Nov-30 08:49:37 GMT", plat::makeTime(1930, 11, 6, 8, 49, 37)},
      {"Mon, 06 Nov 1994 08:49:37 GMT", -1},
      {"Sun, 6 Nov 1994 08:49:37 GMT", -1},
      {"Sun, 06 Nov 1994 08:49:37 UTC", -1},
      {"Sun, 06 nov 1994 08:49:37 GMT", -1},
      {"Sun Nov 06 08:49:37 1994", -1},
      {"Tue, 31 Feb 1994 08:49:37 GMT", -1},
      {"Sun, 06 Nov 1994 08:49:60 GMT", -1},
      {"Sun, 06 Nov 1994 08:49:37 GMT ", -1},
      {"Sun, 06 Nov 1994 08:49 GMT", -1},
      {"", -1},
      {"120", -1},
  };
  for (auto& c : cases) {
    plat::Time t = -1;
    EXPECT_EQ(c.time != -1, http::parseDate(&t, c.text)) << c.text;
    EXPECT_EQ(c.time, t) << c.text;
  }
  EXPECT_FALSE(http::parseDate(nullptr, nullptr));
  try {
    http::parseDateOrThrow("yesterday");
    FAIL();
  } catch (plat::Exception& e) {
    EXPECT_STREQ("invalid HTTP date (yesterday)", e.str());
  }
}

} // namespace
