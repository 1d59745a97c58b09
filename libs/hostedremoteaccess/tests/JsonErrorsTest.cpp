// Error bodies of the hosted services and the Date and Retry-After helpers,
// with the wall clock replaced.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "hosted/HostedException.h"
#include "hostedremoteaccess/JsonErrors.h"
#include "http/HttpError.h"
#include "plat/Time.h"

using namespace hostedremoteaccess;

namespace {

plat::MBuf<unsigned char> body(const std::string& s)
{
  return plat::MBuf<unsigned char>((const unsigned char*)s.data(), (int)s.size());
}

std::string joined(const plat::StringSet& set)
{
  std::string s;
  for (const plat::String& x : set)
    s += std::string(s.empty() ? "" : ",") + x.str();
  return s;
}

plat::Time now_;
plat::Time fakeNow() { return now_; }

struct FakeClock {
  explicit FakeClock(plat::Time t) : previous(plat::setWallClock(fakeNow)) { now_ = t; }
  ~FakeClock() { plat::setWallClock(previous); }
  plat::WallClockFn previous;
};

std::string httpDate(plat::Time t)
{
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm;
  plat::timeToTmUtc(&tm, t);
  char buf[64];
  snprintf(buf, sizeof(buf), "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
           months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

TEST(JsonErrors, CodesAndFields)
{
  const char* json = "application/json";
  struct {
    std::string text;
    std::string codes; // "!" when it throws
  } cases[] = {
      {R"({"errors":[{"code":"b"},{"code":"a","field":"f"},{"code":"b"}]})", "a,b"},
      {R"({"errors":[{"field":"f"},{}]})", ""},
      {R"({"errors":[]})", ""},
      {R"({"other":1})", "!"},
      {R"({"errors":{}})", "!"},
      {R"({"errors":[1]})", "!"},
      {R"({"errors":[{"code":1}]})", "!"},
      {R"([1])", "!"},
      {R"(not json)", "!"},
  };
  for (auto& c : cases) {
    std::string got;
    try {
      got = joined(errorCodes(body(c.text), json));
    } catch (plat::JsonException&) {
      got = "!";
    }
    EXPECT_EQ(c.codes, got) << c.text;
  }
  EXPECT_THROW(parseJsonBody(body("{}"), "text/html"), plat::JsonException);
  EXPECT_EQ(0, parseJsonBody(body("{}"), json)->size());

  std::string both = R"({"errors":[{"code":"taken","field":"name"}]})";
  hosted::HostedException conflict(8, http::HttpError(409));
  hosted::HostedException badRequest(8, http::HttpError(400));
  hosted::HostedException notFound(8, http::HttpError(404));
  EXPECT_EQ("taken", joined(conflictErrorCodes(conflict, body(both), json)));
  EXPECT_EQ("", joined(conflictErrorCodes(badRequest, body(both), json)));
  EXPECT_EQ("", joined(conflictErrorCodes(notFound, body("<html>"), json)));
  EXPECT_EQ("name", joined(badRequestErrorFields(badRequest, body(both), json)));
  EXPECT_EQ("", joined(badRequestErrorFields(conflict, body("<html>"), json)));
}

TEST(JsonErrors, RetryAfterAndSkew)
{
  FakeClock clock(plat::makeTime(2026, 5, 4, 12, 0, 0) + 5000000);
  struct {
    const char* header;
    int ms;
  } cases[] = {
      {"120", 120000},     {"0", 0},           {"2147483", 2147483000},
      {"2147484", 2147483647}, {"-1", -1},     {nullptr, -1},
      {"soon", -1},        {"12s", -1},        {"99999999999", -1},
  };
  for (auto& c : cases)
    EXPECT_EQ(c.ms, retryAfterMs(c.header, 0)) << (c.header ? c.header : "null");

  EXPECT_EQ(0, serverClockSkew(nullptr));
  EXPECT_EQ(0, serverClockSkew("yesterday"));
  // A server clock off by any amount: a date 10 s after the reply's Date
  // is a wait of 9 to 10 seconds here.
  for (int64_t offset : {0LL, 3600LL, -86400LL * 400, 7LL}) {
    plat::Time server = plat::makeTime(2026, 5, 4, 12, 0, 0) + offset * plat::kTicksPerSecond;
    int64_t skew = serverClockSkew(httpDate(server).c_str());
    EXPECT_EQ(-offset * plat::kTicksPerSecond, skew);
    int ms = retryAfterMs(httpDate(server + 10 * plat::kTicksPerSecond).c_str(), skew);
    EXPECT_GT(ms, 9000);
    EXPECT_LE(ms, 10000);
    EXPECT_EQ(0, retryAfterMs(httpDate(server - plat::kTicksPerSecond).c_str(), skew));
  }
  EXPECT_EQ(2147483647,
            retryAfterMs(httpDate(plat::makeTime(2099, 1, 1, 0, 0, 0)).c_str(), 0));
}

// Dates at the ends of what an HTTP date can say, on the real clock: the
// skew of a reply's Date is bounded (the fuzz target checks the bound), and
// a sum the skew carries past the range of plat::Time is no wait.
TEST(JsonErrors, ExtremeDates)
{
  const char* y100 = "Fri, 01 Jan 0100 00:00:00 GMT";
  const char* y30000 = "Sat, 01 Jan 30000 00:00:00 GMT";
  const std::tuple<int64_t, const char*, int> cases[] = {
      {serverClockSkew(y100), y30000, 2147483647},
      {serverClockSkew(y30000), y100, 0},
      {INT64_MAX / 4, "Wed, 21 Oct 25626 07:28:00 GMT", 0},
      {kMaxClockSkew, "Thu, 14 Sep 30828 02:48:05 GMT", 0},
  };
  for (auto [skew, retryAfter, ms] : cases)
    EXPECT_EQ(ms, retryAfterMs(retryAfter, skew)) << retryAfter << " " << skew;
}

} // namespace
