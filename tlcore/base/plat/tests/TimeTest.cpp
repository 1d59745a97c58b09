// Clocks, calendar conversions and ISO 8601 texts; calendar results are
// compared with Python's datetime (tests/support/time_reference.py).
#include "plat/Time.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "plat/numbers.h"
#include "testutil.h"

using plat::Time;

namespace {

// Local time in this process is 5:30 ahead of UTC; set before main so that
// the one tzset of the library sees it.
const int kTzSet = setenv("TZ", "TST-05:30", 1);

const Time kYear1 = -504911232000000000LL;            // 0001-01-01T00:00:00Z
const Time kYear10000 = 2650467744000000000LL;        // 10000-01-01T00:00:00Z

// Runs the reference script once over all requests and returns its answers,
// one per request.
std::vector<std::string> askPython(const std::vector<std::string>& requests)
{
  std::vector<std::string> answers =
      tltest::pythonLines(TL_TEST_SUPPORT_DIR "/time_reference.py", requests);
  EXPECT_EQ(answers.size(), requests.size());
  answers.resize(requests.size());
  return answers;
}

std::string iso(Time t, bool millis)
{
  plat::DString s;
  plat::formatTimeIso(s, t, millis);
  return s.get();
}

Time ticksOf(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
  return plat::makeTime(y, mo, d, h, mi, s);
}

// --- Agreement with Python over years 1 to 9999 -----------------------------

TEST(TimeVsPython, DateToTimeAndValidity)
{
  std::mt19937 rng(1601);
  struct Fields {
    int y, mo, d, h, mi, s;
  };
  std::vector<Fields> fields;
  std::vector<std::string> requests;
  for (int i = 0; i < 3000; i++) {
    Fields f{std::uniform_int_distribution<int>(1, 9999)(rng),
             std::uniform_int_distribution<int>(1, 12)(rng),
             std::uniform_int_distribution<int>(1, 31)(rng),
             std::uniform_int_distribution<int>(0, 23)(rng),
             std::uniform_int_distribution<int>(0, 59)(rng),
             std::uniform_int_distribution<int>(0, 59)(rng)};
    // Bias towards the leap-year rules.
    if (i % 4 == 0) {
      f.mo = 2;
      f.d = 29;
      f.y = (f.y / 100) * 100 + (i % 8 == 0 ? 0 : 4) + (f.y < 100 ? 100 : 0);
    }
    fields.push_back(f);
    char buf[96];
    snprintf(buf, sizeof(buf), "date %d %d %d %d %d %d", f.y, f.mo, f.d, f.h, f.mi, f.s);
    requests.push_back(buf);
  }
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < fields.size(); i++) {
    const Fields& f = fields[i];
    Time t = 12345;
    bool ok = plat::dateToTime(&t, f.y, f.mo, f.d, f.h, f.mi, f.s);
    bool valid = plat::isValidDateTime(f.y, f.mo, f.d, f.h, f.mi, f.s);
    SCOPED_TRACE(requests[i]);
    if (answers[i] == "invalid") {
      EXPECT_FALSE(ok);
      EXPECT_FALSE(valid);
      EXPECT_EQ(t, 12345);
    } else {
      ASSERT_TRUE(ok);
      EXPECT_TRUE(valid);
      EXPECT_EQ(std::to_string(t), answers[i]);
    }
  }
}

TEST(TimeVsPython, UtcFieldsAndIsoTexts)
{
  std::mt19937_64 rng(1970);
  std::uniform_int_distribution<Time> anyTick(kYear1, kYear10000 - 1);
  std::vector<Time> ticks = {kYear1, kYear10000 - 1, -1, 0, -10000, plat::kUnixEpochTicks - 1};
  for (int i = 0; i < 3000; i++)
    ticks.push_back(anyTick(rng));
  std::vector<std::string> requests;
  for (Time t : ticks) {
    requests.push_back("tm " + std::to_string(t));
    requests.push_back("fmt " + std::to_string(t));
  }
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < ticks.size(); i++) {
    Time t = ticks[i];
    SCOPED_TRACE(t);
    struct tm tm;
    plat::timeToTmUtc(&tm, t);
    char fields[128];
    snprintf(fields, sizeof(fields), "%d %d %d %d %d %d %d %d", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday, tm.tm_yday);
    EXPECT_EQ(fields, answers[2 * i]);
    EXPECT_EQ(iso(t, false) + " " + iso(t, true), answers[2 * i + 1]);
  }
}

TEST(TimeVsPython, ParseIsoWithFractionsAndOffsets)
{
  std::mt19937 rng(8601);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; i++) {
    char buf[96];
    int y = pick(1, 9999), mo = pick(1, 12), d = pick(1, 28);
    int n = snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, pick(0, 23),
                     pick(0, 59), pick(0, 59));
    int digits = pick(0, 12);
    if (digits) {
      buf[n++] = '.';
      for (int k = 0; k < digits; k++)
        buf[n++] = (char)('0' + pick(0, 9));
      buf[n] = 0;
    }
    int zone = pick(0, 4);
    int oh = pick(0, 23), om = pick(0, 59);
    char sign = pick(0, 1) ? '+' : '-';
    if (sign == '-' && oh == 0 && om == 0)
      oh = 1;
    // Keep the result inside Python's year range.
    if ((y == 1 && mo == 1 && sign == '+') || (y == 9999 && mo == 12 && sign == '-'))
      sign = sign == '+' ? '-' : '+';
    if (zone == 1)
      snprintf(buf + n, sizeof(buf) - n, "Z");
    else if (zone == 2)
      snprintf(buf + n, sizeof(buf) - n, "%c%02d:%02d", sign, oh, om);
    else if (zone == 3)
      snprintf(buf + n, sizeof(buf) - n, "%c%02d%02d", sign, oh, om);
    else if (zone == 4)
      snprintf(buf + n, sizeof(buf) - n, "%c%02d", sign, oh ? oh : 1);
    texts.push_back(buf);
  }
  std::vector<std::string> requests;
  for (const std::string& t : texts)
    requests.push_back("parse " + t);
  std::vector<std::string> answers = askPython(requests);
  for (size_t i = 0; i < texts.size(); i++) {
    Time t = 0;
    EXPECT_TRUE(plat::parseIsoTime(&t, texts[i].c_str())) << texts[i];
    EXPECT_EQ(std::to_string(t), answers[i]) << texts[i];
  }
}

// --- The ISO 8601 parser, rule by rule --------------------------------------

TEST(ParseIsoTime, Table)
{
  const Time noon = ticksOf(2024, 1, 1, 12, 0, 0);
  const Time hour = 36000000000LL;
  struct Case {
    const char* text;
    bool ok;
    Time expected;
  };
  const Case cases[] = {
      // Anchors.
      {"1970-01-01T00:00:00Z", true, 116444736000000000LL},
      {"1601-01-01T00:00:00Z", true, 0},
      {"0001-01-01T00:00:00Z", true, kYear1},
      {"9999-12-31T23:59:59Z", true, kYear10000 - plat::kTicksPerSecond},
      // Calendar checks and the leap second.
      {"2024-02-29T12:00:00Z", true, ticksOf(2024, 2, 29, 12)},
      {"2023-02-29T12:00:00Z", false, 0},
      {"2024-03-05T07:08:60Z", true, ticksOf(2024, 3, 5, 7, 9, 0)},
      {"2024-12-31T23:59:60Z", true, ticksOf(2025, 1, 1)},
      {"2024-13-01T00:00:00Z", false, 0},
      {"2024-00-01T00:00:00Z", false, 0},
      {"2024-04-31T00:00:00Z", false, 0},
      {"2024-01-01T24:00:00Z", false, 0},
      {"2024-01-01T23:60:00Z", false, 0},
      {"2024-01-01T23:59:61Z", false, 0},
      // Year 1 to 9999; the date fields are numbers of any width.
      {"0000-01-01T00:00:00Z", false, 0},
      {"10000-01-01T00:00:00Z", false, 0},
      {"1-1-1T00:00:00Z", true, kYear1},
      {"02024-001-01T12:00:00Z", true, noon},
      // Separators: 'T' upper case, no space.
      {"2024-01-01 12:00:00Z", false, 0},
      {"2024-01-01t12:00:00Z", false, 0},
      {"2024-01-01T12-00-00Z", false, 0},
      {"2024-01-01", false, 0},
      {"2024-01-01T12:00", false, 0},
      {"", false, 0},
      // Hour, minute and second are exactly two digits.
      {"2024-01-01T1:00:00Z", false, 0},
      {"2024-01-01T012:00:00Z", false, 0},
      {"2024-01-01T12:0:00Z", false, 0},
      {"2024-01-01T12:00:0Z", false, 0},
      {"2024-01-01T12:00:000Z", false, 0},
      {"2024-01-01T12:00:00x", false, 0},
      // Fields are plain digits: no signs, no blanks.
      {"+2024-01-01T12:00:00Z", false, 0},
      {" 2024-01-01T12:00:00Z", false, 0},
      {"2024- 1-01T12:00:00Z", false, 0},
      {"2024-01-01T+1:00:00Z", false, 0},
      {"2024-01-01T 1:00:00Z", false, 0},
      // No zone designator means UTC.
      {"2024-01-01T12:00:00", true, noon},
      // Fractions: 1 to 12 digits, at most 7 significant.
      {"2024-01-01T12:00:00.5Z", true, noon + 5000000},
      {"2024-01-01T12:00:00.5", true, noon + 5000000},
      {"2024-01-01T12:00:00.1234567891Z", true, noon + 1234567},
      {"2024-01-01T12:00:00.999999999999Z", true, noon + 9999999},
      {"2024-01-01T12:00:00.0000001Z", true, noon + 1},
      {"2024-01-01T12:00:00.00000009Z", true, noon},
      {"2024-01-01T12:00:00.9999999999999Z", false, 0},
      {"2024-01-01T12:00:00.Z", false, 0},
      {"2024-01-01T12:00:00.", false, 0},
      {"2024-01-01T12:00:00.5a", false, 0},
      {"2024-01-01T12:00:00.5.5Z", false, 0},
      {"2024-01-01T12:00:60.5Z", true, noon + 60 * plat::kTicksPerSecond + 5000000},
      // 'Z' ends the text.
      {"2024-01-01T12:00:00Z", true, noon},
      {"2024-01-01T12:00:00Zx", false, 0},
      {"2024-01-01T12:00:00ZZ", false, 0},
      {"2024-01-01T12:00:00z", false, 0},
      // Offsets: hh:mm, hhmm or hh; '+' is ahead of UTC.
      {"2024-01-01T12:00:00+02:00", true, noon - 2 * hour},
      {"2024-01-01T12:00:00+0200", true, noon - 2 * hour},
      {"2024-01-01T12:00:00+02", true, noon - 2 * hour},
      {"2024-01-01T12:00:00-01:30", true, noon + hour + hour / 2},
      {"2024-01-01T12:00:00-0130", true, noon + hour + hour / 2},
      {"2024-01-01T12:00:00+00:00", true, noon},
      {"2024-01-01T12:00:00+00", true, noon},
      {"2024-01-01T12:00:00.25+01:00", true, noon - hour + 2500000},
      {"2024-01-01T12:00:00+99:99", true, noon - 99 * hour - 99 * 600000000LL},
      {"2024-01-01T00:00:00+05", true, ticksOf(2023, 12, 31, 19)},
      // "-00:00" (offset unknown) and malformed offsets are refused.
      {"2024-01-01T12:00:00-00:00", false, 0},
      {"2024-01-01T12:00:00-0000", false, 0},
      {"2024-01-01T12:00:00-00", false, 0},
      {"2024-01-01T12:00:00+2:00", false, 0},
      {"2024-01-01T12:00:00+2", false, 0},
      {"2024-01-01T12:00:00+020", false, 0},
      {"2024-01-01T12:00:00+02:0", false, 0},
      {"2024-01-01T12:00:00+02-00", false, 0},
      {"2024-01-01T12:00:00+02:00Z", false, 0},
      {"2024-01-01T12:00:00+0a:00", false, 0},
      {"2024-01-01T12:00:00+", false, 0},
      {"2024-01-01T12:00:00Z+02:00", false, 0},
  };
  for (const Case& c : cases) {
    Time t = 777;
    bool ok = plat::parseIsoTime(&t, c.text);
    EXPECT_EQ(ok, c.ok) << c.text;
    EXPECT_EQ(t, c.ok ? c.expected : 777) << c.text;
  }
  Time t = 777;
  EXPECT_FALSE(plat::parseIsoTime(&t, nullptr));
}

TEST(ParseIsoTime, OrThrow)
{
  EXPECT_EQ(plat::parseIsoTimeOrThrow("1970-01-01T00:00:00Z"), plat::kUnixEpochTicks);
  try {
    plat::parseIsoTimeOrThrow("2023-02-29T12:00:00Z");
    FAIL() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "invalid date (2023-02-29T12:00:00Z)");
  }
}

TEST(ParseMonthDayYear, Table)
{
  struct Case {
    const char* text;
    bool ok;
    int y, m, d;
  };
  const Case cases[] = {
      {"Jan 1 2024", true, 2024, 1, 1},
      {"Dec 31 9999", true, 9999, 12, 31},
      {"  Feb   29   1  ", true, 1, 2, 29},
      {"Sep 07 2001", true, 2001, 9, 7},
      {"jan 1 2024", false, 0, 0, 0},
      {"January 1 2024", false, 0, 0, 0},
      {"Jan 0 2024", false, 0, 0, 0},
      {"Jan 32 2024", false, 0, 0, 0},
      {"Jan 1 0", false, 0, 0, 0},
      {"Jan 1 10000", false, 0, 0, 0},
      {"Jan 1", false, 0, 0, 0},
      {"Jan 1 2024 x", false, 0, 0, 0},
      {"Jan\t1 2024", false, 0, 0, 0},
      {"Jan +1 2024", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int y = -1, m = -1, d = -1;
    EXPECT_EQ(plat::parseMonthDayYear(&y, &m, &d, c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(y, c.y) << c.text;
      EXPECT_EQ(m, c.m) << c.text;
      EXPECT_EQ(d, c.d) << c.text;
    }
  }
}

// --- Formatting -------------------------------------------------------------

TEST(FormatTime, IsoAndMillis)
{
  EXPECT_EQ(iso(116444736001234567LL, true), "1970-01-01T00:00:00.123Z");
  EXPECT_EQ(iso(116444736001234567LL, false), "1970-01-01T00:00:00Z");
  // Before 1601 the milliseconds still count up within the second.
  EXPECT_EQ(iso(-1, true), "1600-12-31T23:59:59.999Z");
  EXPECT_EQ(iso(-2340000, true), "1600-12-31T23:59:59.766Z");
  EXPECT_EQ(iso(INT64_MAX, true), "30828-09-14T02:48:05.477Z");
  EXPECT_EQ(iso(INT64_MIN, true), "-27627-04-19T21:11:54.522Z");

  plat::DString s;
  s.append("stale");
  struct tm tm;
  plat::timeToTmUtc(&tm, -2340000);
  EXPECT_TRUE(plat::formatTmIso(s, tm, -2340000, true));
  EXPECT_STREQ(s.get(), "1600-12-31T23:59:59.766");
}

TEST(FormatTime, YearOverflowIsDateError)
{
  struct tm tm = {};
  tm.tm_year = INT_MAX - 1899;
  tm.tm_mday = 1;
  plat::DString s;
  EXPECT_FALSE(plat::formatTmIso(s, tm, 0, true));
  EXPECT_STREQ(s.get(), "<date error>");
  EXPECT_FALSE(plat::formatTm(s, "%Y", tm));
  EXPECT_STREQ(s.get(), "<date error>");
  EXPECT_STREQ(plat::formatTmIsoOffset(tm, 0, false).get(), "<date error>");
  tm.tm_year = INT_MAX - 1900;
  EXPECT_TRUE(plat::formatTmIso(s, tm, 0, false));
  EXPECT_STREQ(s.get(), "2147483647-01-01T00:00:00");
}

TEST(FormatTime, OffsetFromLocalTime)
{
  ASSERT_EQ(kTzSet, 0);
  const Time t = plat::kUnixEpochTicks + 1230000;
  struct tm local;
  plat::timeToTmLocal(&local, t);
  EXPECT_EQ(local.tm_hour, 5);
  EXPECT_EQ(local.tm_min, 30);
  EXPECT_STREQ(plat::formatTmIsoOffset(local, t, true).get(), "1970-01-01T05:30:00.123+05:30");

  struct tm utc;
  plat::timeToTmUtc(&utc, t);
  EXPECT_STREQ(plat::formatTmIsoOffset(utc, t, false).get(), "1970-01-01T00:00:00+00:00");
  // A broken-down time behind the tick count.
  const Time later = t + 3 * 36000000000LL + 45 * 600000000LL;
  EXPECT_STREQ(plat::formatTmIsoOffset(utc, later, false).get(), "1970-01-01T00:00:00-03:45");
  // Negative ticks keep whole milliseconds.
  plat::timeToTmUtc(&utc, -2340000);
  EXPECT_STREQ(plat::formatTmIsoOffset(utc, -2340000, true).get(),
               "1600-12-31T23:59:59.766+00:00");
}

TEST(FormatTime, Strftime)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticksOf(5, 1, 2, 3, 4, 5));
  plat::DString s;
  struct Case {
    const char* format;
    const char* expected;
  };
  const Case cases[] = {
      {"%Y-%m-%d %H:%M:%S", "0005-01-02 03:04:05"},
      {"%Y%Y", "00050005"},
      {"%%Y %Y%%", "%Y 0005%"},
      {"%a %b", "Sun Jan"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(plat::formatTm(s, c.format, tm)) << c.format;
    EXPECT_STREQ(s.get(), c.expected) << c.format;
  }

  // The buffer grows to 2048 bytes and no further.
  std::string fits(2047, 'x');
  EXPECT_TRUE(plat::formatTm(s, fits.c_str(), tm));
  EXPECT_EQ(std::string(s.get()), fits);
  std::string tooLong;
  for (int i = 0; i < 300; i++)
    tooLong += "%Y-%m-%d ";
  EXPECT_FALSE(plat::formatTm(s, tooLong.c_str(), tm));
  EXPECT_STREQ(s.get(), "<date error>");
  EXPECT_FALSE(plat::formatTm(s, "", tm));
  EXPECT_STREQ(s.get(), "<date error>");
}

// --- Conversions and limits -------------------------------------------------

TEST(TimeConversions, Saturation)
{
  struct Case {
    Time got, expected;
  };
  const Case cases[] = {
      {plat::unixSecondsToTime(0), plat::kUnixEpochTicks},
      {plat::unixSecondsToTime(910692730085LL), 9223372036850000000LL},
      {plat::unixSecondsToTime(910692730086LL), INT64_MAX},
      {plat::unixSecondsToTime(INT64_MAX), INT64_MAX},
      {plat::unixSecondsToTime(-933981677285LL), -9223372036850000000LL},
      {plat::unixSecondsToTime(-933981677286LL), INT64_MIN},
      {plat::unixSecondsToTime(INT64_MIN), INT64_MIN},
      {plat::timevalToTime(0, 0), plat::kUnixEpochTicks},
      {plat::timevalToTime(1, 999999), plat::kUnixEpochTicks + 19999990},
      {plat::timevalToTime(-1, 0), plat::kUnixEpochTicks - plat::kTicksPerSecond},
      {plat::timevalToTime(910692730085LL, 477580), INT64_MAX - 7},
      {plat::timevalToTime(910692730085LL, 477581), INT64_MAX},
      {plat::timevalToTime(INT64_MAX, INT64_MAX), INT64_MAX},
      {plat::timevalToTime(INT64_MIN, 0), INT64_MIN},
      {plat::timevalToTime(-933981677285LL, -477581), INT64_MIN},
      {plat::timespecToTime(0, 999), plat::kUnixEpochTicks + 9},
      {plat::timespecToTime(INT64_MAX, 0), INT64_MAX},
      {plat::timespecToTime(INT64_MIN, 0), INT64_MIN},
      {plat::addTimeSat(INT64_MIN, -1), INT64_MIN},
      {plat::addTimeSat(INT64_MAX, INT64_MIN), -1},
      {plat::subTimeSat(-2, INT64_MAX), INT64_MIN},
      {plat::subTimeSat(0, INT64_MIN), INT64_MAX},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
    EXPECT_EQ(cases[i].got, cases[i].expected) << "case " << i;
}

TEST(TimeConversions, TimevalFloor)
{
  struct Case {
    Time t;
    int64_t sec, usec;
  };
  const Case cases[] = {
      {plat::kUnixEpochTicks, 0, 0},
      {plat::kUnixEpochTicks + 19, 0, 1},
      {plat::kUnixEpochTicks - 1, -1, 999999},
      {plat::kUnixEpochTicks - 10, -1, 999999},
      {plat::kUnixEpochTicks - 11, -1, 999998},
      {0, -11644473600LL, 0},
      {INT64_MIN, -933981677286LL, 522419},
      {INT64_MAX, 910692730085LL, 477580},
  };
  for (const Case& c : cases) {
    struct timeval tv = plat::timeToTimeval(c.t);
    EXPECT_EQ(tv.tv_sec, c.sec) << c.t;
    EXPECT_EQ(tv.tv_usec, c.usec) << c.t;
  }
}

TEST(TimeConversions, DateToTimeLimits)
{
  struct Case {
    int y, mo, d, h, mi, s;
    bool ok;
    Time expected;
  };
  const Case cases[] = {
      {1601, 1, 1, 0, 0, 0, true, 0},
      {1970, 1, 1, 0, 0, 0, true, 116444736000000000LL},
      {1600, 12, 31, 23, 59, 59, true, -plat::kTicksPerSecond},
      {2000, 2, 29, 0, 0, 60, true, ticksOf(2000, 2, 29, 0, 1, 0)},
      // Last day count and the 64-bit sum within it.
      {30828, 9, 14, 2, 48, 5, true, 9223372036850000000LL},
      {30828, 9, 14, 2, 48, 6, false, 0},
      {30828, 9, 15, 0, 0, 0, false, 0},
      // First day count; the early part of that day is below the 64-bit range.
      {-27627, 4, 19, 21, 11, 55, true, -9223372036850000000LL},
      {-27627, 4, 19, 21, 11, 54, false, 0},
      {-27627, 4, 18, 23, 59, 59, false, 0},
      {1000000, 1, 1, 0, 0, 0, false, 0},
      {1000001, 1, 1, 0, 0, 0, false, 0},
      {-1000001, 1, 1, 0, 0, 0, false, 0},
      {INT_MAX, 1, 1, 0, 0, 0, false, 0},
      {INT_MIN, 1, 1, 0, 0, 0, false, 0},
      // Negative time fields are refused, not wrapped.
      {2000, 1, 1, -1, 0, 0, false, 0},
      {2000, 1, 1, 0, -1, 0, false, 0},
      {2000, 1, 1, 0, 0, -1, false, 0},
      {2000, 1, 0, 0, 0, 0, false, 0},
  };
  for (const Case& c : cases) {
    Time t = 42;
    EXPECT_EQ(plat::dateToTime(&t, c.y, c.mo, c.d, c.h, c.mi, c.s), c.ok) << c.y << "-" << c.mo;
    EXPECT_EQ(t, c.ok ? c.expected : 42) << c.y << "-" << c.mo;
  }
}

TEST(TimeConversions, ValidDateTime)
{
  EXPECT_TRUE(plat::isValidDateTime(2000, 2, 29, 0, 0, 0));
  EXPECT_FALSE(plat::isValidDateTime(1900, 2, 29, 0, 0, 0));
  EXPECT_FALSE(plat::isValidDateTime(2023, 4, 31, 0, 0, 0));
  EXPECT_TRUE(plat::isValidDateTime(2023, 4, 30, 23, 59, 60));
  EXPECT_FALSE(plat::isValidDateTime(2023, 4, 30, 23, 59, 61));
  // The year is not limited; the proleptic rules hold for it too.
  EXPECT_TRUE(plat::isValidDateTime(-4, 2, 29, 0, 0, 0));
  EXPECT_TRUE(plat::isValidDateTime(2000000000, 2, 29, 0, 0, 0));
  EXPECT_FALSE(plat::isValidDateTime(INT_MIN + 1, 2, 29, 0, 0, 0));
}

TEST(TimeConversions, UtcFieldsAtTheEdges)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, INT64_MAX);
  EXPECT_EQ(tm.tm_year + 1900, 30828);
  EXPECT_EQ(tm.tm_wday, 4);
  EXPECT_EQ(tm.tm_yday, 257);
  plat::timeToTmUtc(&tm, INT64_MIN);
  EXPECT_EQ(tm.tm_year + 1900, -27627);
  EXPECT_EQ(tm.tm_mon, 3);
  EXPECT_EQ(tm.tm_mday, 19);
  EXPECT_EQ(tm.tm_wday, 4);
  EXPECT_EQ(tm.tm_yday, 108);
  plat::timeToTmUtc(&tm, plat::kUnixEpochTicks);
  EXPECT_EQ(tm.tm_wday, 4);
  EXPECT_EQ(tm.tm_isdst, 0);
  EXPECT_EQ(tm.tm_gmtoff, 0);
  EXPECT_STREQ(tm.tm_zone, "UTC");
}

TEST(TimeConversions, TmRoundTripsAndErrors)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticksOf(1970, 1, 1));
  EXPECT_EQ(plat::tmToTime(tm), plat::kUnixEpochTicks);
  EXPECT_EQ(plat::tmToSeconds(tm), 11644473600LL);
  // tmToSeconds works in 400-year periods beyond dateToTime's range.
  const int64_t base = plat::tmToSeconds(tm);
  tm.tm_year += 400 * 5000;
  EXPECT_EQ(plat::tmToSeconds(tm), base + 5000 * 12622780800LL);
  tm.tm_year = 70 - 400 * 5000;
  EXPECT_EQ(plat::tmToSeconds(tm), base - 5000 * 12622780800LL);
  for (int y = -2000; y <= 3000; y += 37) {
    tm.tm_year = y - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 1;
    EXPECT_EQ(plat::tmToSeconds(tm) * plat::kTicksPerSecond, ticksOf(y, 3, 1)) << y;
  }

  struct Case {
    int year, mon, mday;
    const char* message;
  };
  const Case bad[] = {
      {123, 1, 29, "invalid date (2023-02-29T01:02:03)"},
      {INT_MAX, 0, 1, "invalid date (2147483647-01-01T01:02:03)"},
      {100, INT_MAX, 1, "invalid date (2000-2147483647-01T01:02:03)"},
  };
  for (const Case& c : bad) {
    tm = {};
    tm.tm_year = c.year;
    tm.tm_mon = c.mon;
    tm.tm_mday = c.mday;
    tm.tm_hour = 1;
    tm.tm_min = 2;
    tm.tm_sec = 3;
    try {
      plat::tmToTime(tm);
      ADD_FAILURE() << c.message;
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), c.message);
    }
  }
  try {
    plat::makeTime(2023, 2, 29, 1, 2, 3);
    ADD_FAILURE();
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "invalid date (2023-02-29T01:02:03)");
  }
}

// --- Clocks -----------------------------------------------------------------

Time fakeWall()
{
  return 42;
}

TEST(Clocks, WallClock)
{
  const Time before = plat::unixSecondsToTime(time(nullptr));
  const Time now = plat::getTime();
  EXPECT_GE(now, before);
  EXPECT_LT(now, before + 3600 * plat::kTicksPerSecond);

  ASSERT_EQ(plat::setWallClock(fakeWall), nullptr);
  EXPECT_EQ(plat::getTime(), 42);
  EXPECT_EQ(plat::setWallClock(nullptr), fakeWall);
  EXPECT_GE(plat::getTime(), before);
}

Time gotLimit;
Time fakeMono(Time limit, bool* jumped)
{
  gotLimit = limit;
  if (jumped)
    *jumped = true;
  return 1000;
}

TEST(Clocks, MonotonicAndReplacement)
{
  bool jumped = true;
  const Time a = plat::getMonoTime(-1, &jumped);
  EXPECT_FALSE(jumped);
  EXPECT_GE(a, 0);
  const Time b = plat::getMonoTime();
  EXPECT_GE(b, a);

  EXPECT_EQ(plat::setMonoClock(fakeMono), nullptr);
  EXPECT_EQ(plat::getMonoTime(555, &jumped), 1000);
  EXPECT_TRUE(jumped);
  EXPECT_EQ(gotLimit, 555);
  EXPECT_EQ(plat::getMonoTime(), 1000);
  EXPECT_EQ(plat::setMonoClock(nullptr), fakeMono);
  EXPECT_GE(plat::getMonoTime(), b);
}

void onAlarm(int) {}

int64_t monoNs()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

TEST(Clocks, SleepGoesOnAfterSignals)
{
  struct sigaction sa = {};
  sa.sa_handler = onAlarm;  // no SA_RESTART: select returns EINTR
  struct sigaction old;
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  struct itimerval it = {{0, 10000}, {0, 10000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &it, nullptr), 0);
  const int64_t start = monoNs();
  plat::sleepMs(120);
  const int64_t elapsed = monoNs() - start;
  struct itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_GE(elapsed, 120000000);
}

} // namespace
