// Checked integer parsing: accepted forms, range limits, error messages and
// errno preservation.
#include "plat/numbers.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace {

const int kCallerErrno = 12345;

// Expects fn to throw plat::BadNum with the message, and errno kept.
void expectBadNum(const std::function<void()>& fn, const char* message, const char* what)
{
  errno = kCallerErrno;
  try {
    fn();
    ADD_FAILURE() << what << ": no exception";
  } catch (const plat::BadNum& e) {
    EXPECT_STREQ(e.str(), message) << what;
  }
  EXPECT_EQ(errno, kCallerErrno) << what;
}

// One row per input: the expected outcome of each of the four cursor forms
// (ok flag and value), and how many characters a success consumes.
struct CursorCase {
  const char* text;
  int base;
  int consumed;
  bool intOk;
  int intVal;
  bool uintOk;
  unsigned uintVal;
  bool s64Ok;
  int64_t s64Val;
  bool u64Ok;
  uint64_t u64Val;
};

const CursorCase kCursorCases[] = {
    {"123", 10, 3, true, 123, true, 123, true, 123, true, 123},
    {"  -42xyz", 10, 5, true, -42, false, 0, true, -42, false, 0},
    {"+7 ", 10, 2, true, 7, true, 7, true, 7, true, 7},
    {"0x1f", 0, 4, true, 31, true, 31, true, 31, true, 31},
    {"0x1f", 16, 4, true, 31, true, 31, true, 31, true, 31},
    {"017", 0, 3, true, 15, true, 15, true, 15, true, 15},
    {"0x", 16, 1, true, 0, true, 0, true, 0, true, 0},
    {"z", 36, 1, true, 35, true, 35, true, 35, true, 35},
    {"2147483647", 10, 10, true, INT32_MAX, true, 2147483647u, true, INT32_MAX, true, 2147483647u},
    {"2147483648", 10, 10, false, 0, true, 2147483648u, true, 2147483648LL, true, 2147483648u},
    {"-2147483648", 10, 11, true, INT32_MIN, false, 0, true, INT32_MIN, false, 0},
    {"-2147483649", 10, 11, false, 0, false, 0, true, -2147483649LL, false, 0},
    {"4294967295", 10, 10, false, 0, true, UINT32_MAX, true, 4294967295LL, true, UINT32_MAX},
    {"0xFFFFFFFF", 16, 10, false, 0, true, UINT32_MAX, true, 4294967295LL, true, UINT32_MAX},
    {"4294967296", 10, 10, false, 0, false, 0, true, 4294967296LL, true, 4294967296ULL},
    // Negative numbers are refused by the unsigned forms, not wrapped.
    {"-1", 10, 2, true, -1, false, 0, true, -1, false, 0},
    {" -0", 10, 3, true, 0, false, 0, true, 0, false, 0},
    {"9223372036854775807", 10, 19, false, 0, false, 0, true, INT64_MAX, true, 9223372036854775807ULL},
    {"9223372036854775808", 10, 19, false, 0, false, 0, false, 0, true, 9223372036854775808ULL},
    {"-9223372036854775808", 10, 20, false, 0, false, 0, true, INT64_MIN, false, 0},
    {"-9223372036854775809", 10, 20, false, 0, false, 0, false, 0, false, 0},
    {"18446744073709551615", 10, 20, false, 0, false, 0, false, 0, true, UINT64_MAX},
    {"18446744073709551616", 10, 20, false, 0, false, 0, false, 0, false, 0},
    {"99999999999999999999999", 10, 23, false, 0, false, 0, false, 0, false, 0},
    // Nothing consumed.
    {"", 10, 0, false, 0, false, 0, false, 0, false, 0},
    {"abc", 10, 0, false, 0, false, 0, false, 0, false, 0},
    {"-", 10, 0, false, 0, false, 0, false, 0, false, 0},
    {"8", 8, 0, false, 0, false, 0, false, 0, false, 0},
    {"12", 1, 0, false, 0, false, 0, false, 0, false, 0},
    {"12", 37, 0, false, 0, false, 0, false, 0, false, 0},
};

// Runs one cursor form over a row; on success *p advances, on failure it
// stays, out is 0, and errno is the caller's either way.
template <typename T, typename F>
void checkCursor(F form, const CursorCase& c, bool ok, T expected, const char* name)
{
  const char* p = c.text;
  T out = 99;
  errno = kCallerErrno;
  EXPECT_EQ(form(&out, &p, c.base), ok) << name << " \"" << c.text << "\"";
  EXPECT_EQ(errno, kCallerErrno) << name << " \"" << c.text << "\"";
  EXPECT_EQ(out, ok ? expected : 0) << name << " \"" << c.text << "\"";
  EXPECT_EQ(p, ok ? c.text + c.consumed : c.text) << name << " \"" << c.text << "\"";
}

TEST(Numbers, CursorForms)
{
  for (const CursorCase& c : kCursorCases) {
    checkCursor<int>(plat::strToInt, c, c.intOk, c.intVal, "strToInt");
    checkCursor<unsigned>(plat::strToUInt, c, c.uintOk, c.uintVal, "strToUInt");
    checkCursor<int64_t>(plat::strToS64, c, c.s64Ok, c.s64Val, "strToS64");
    checkCursor<uint64_t>(plat::strToU64, c, c.u64Ok, c.u64Val, "strToU64");
  }
}

TEST(Numbers, CursorFormsRefuseNull)
{
  const char* p = nullptr;
  int i = 5;
  unsigned u = 5;
  int64_t s = 5;
  uint64_t v = 5;
  EXPECT_FALSE(plat::strToInt(&i, &p, 10));
  EXPECT_FALSE(plat::strToUInt(&u, &p, 10));
  EXPECT_FALSE(plat::strToS64(&s, &p, 10));
  EXPECT_FALSE(plat::strToU64(&v, &p, 10));
  EXPECT_EQ(i + u + s + v, 0u);
}

TEST(Numbers, ThrowingCursorForms)
{
  for (const CursorCase& c : kCursorCases) {
    std::string what = c.text;
    const char* p = c.text;
    errno = kCallerErrno;
    if (c.intOk) {
      EXPECT_EQ(plat::parseIntAt(&p, c.base), c.intVal);
      EXPECT_EQ(p, c.text + c.consumed);
      EXPECT_EQ(errno, kCallerErrno);
    } else {
      expectBadNum([&] { plat::parseIntAt(&p, c.base); }, "Failed to parse integer",
                   ("parseIntAt " + what).c_str());
    }
    p = c.text;
    if (c.uintOk)
      EXPECT_EQ(plat::parseUIntAt(&p, c.base), c.uintVal);
    else
      expectBadNum([&] { plat::parseUIntAt(&p, c.base); }, "Failed to parse integer",
                   ("parseUIntAt " + what).c_str());
    p = c.text;
    if (c.s64Ok)
      EXPECT_EQ(plat::parseS64At(&p, c.base), c.s64Val);
    else
      expectBadNum([&] { plat::parseS64At(&p, c.base); }, "Failed to parse S64 integer",
                   ("parseS64At " + what).c_str());
    p = c.text;
    if (c.u64Ok)
      EXPECT_EQ(plat::parseU64At(&p, c.base), c.u64Val);
    else
      expectBadNum([&] { plat::parseU64At(&p, c.base); }, "Failed to parse U64 integer",
                   ("parseU64At " + what).c_str());
  }
}

TEST(Numbers, WholeTextInt)
{
  struct Case {
    const char* text;
    int base;
    const char* errMsg;
    int min, max;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"12", 10, nullptr, INT32_MIN, INT32_MAX, true, 12},
      {" 12", 10, nullptr, INT32_MIN, INT32_MAX, true, 12},
      {"12 ", 10, nullptr, INT32_MIN, INT32_MAX, false, 0},
      {"12x", 10, "bad value", INT32_MIN, INT32_MAX, false, 0},
      {"0x1f", 0, nullptr, INT32_MIN, INT32_MAX, true, 31},
      {"-5", 10, "port out of range", 0, 65535, false, 0},
      {"65536", 10, "port out of range", 0, 65535, false, 0},
      {"65535", 10, "port out of range", 0, 65535, true, 65535},
      {"0", 10, nullptr, 0, 0, true, 0},
      {"2147483648", 10, nullptr, INT32_MIN, INT32_MAX, false, 0},
      {"", 10, nullptr, INT32_MIN, INT32_MAX, false, 0},
      {nullptr, 10, "missing", INT32_MIN, INT32_MAX, false, 0},
  };
  for (const Case& c : cases) {
    const char* what = c.text ? c.text : "(null)";
    if (c.ok) {
      errno = kCallerErrno;
      EXPECT_EQ(plat::parseInt(c.text, c.base, c.errMsg, c.min, c.max), c.value) << what;
      EXPECT_EQ(errno, kCallerErrno);
    } else {
      expectBadNum([&] { plat::parseInt(c.text, c.base, c.errMsg, c.min, c.max); },
                   c.errMsg ? c.errMsg : "Failed to parse integer", what);
    }
  }
}

TEST(Numbers, WholeTextUInt)
{
  struct Case {
    const char* text;
    int base;
    const char* errMsg;
    unsigned min, max;
    bool ok;
    unsigned value;
  };
  const Case cases[] = {
      {"4294967295", 10, nullptr, 0, UINT32_MAX, true, UINT32_MAX},
      {"ffffffff", 16, nullptr, 0, UINT32_MAX, true, UINT32_MAX},
      {"100000000", 16, nullptr, 0, UINT32_MAX, false, 0},
      {"-1", 10, "need a size", 0, UINT32_MAX, false, 0},
      {"7", 10, "need 10 to 20", 10, 20, false, 0},
      {"21", 10, "need 10 to 20", 10, 20, false, 0},
      {"20", 10, "need 10 to 20", 10, 20, true, 20},
      {"20\n", 10, nullptr, 0, UINT32_MAX, false, 0},
  };
  for (const Case& c : cases) {
    if (c.ok)
      EXPECT_EQ(plat::parseUInt(c.text, c.base, c.errMsg, c.min, c.max), c.value) << c.text;
    else
      expectBadNum([&] { plat::parseUInt(c.text, c.base, c.errMsg, c.min, c.max); },
                   c.errMsg ? c.errMsg : "Failed to parse integer", c.text);
  }
}

TEST(Numbers, WholeText64)
{
  EXPECT_EQ(plat::parseU64("18446744073709551615", 10), UINT64_MAX);
  EXPECT_EQ(plat::parseU64("0xffffffffffffffff", 0), UINT64_MAX);
  EXPECT_EQ(plat::parseS64("-9223372036854775808", 10), INT64_MIN);
  EXPECT_EQ(plat::parseS64("7fffffffffffffff", 16), INT64_MAX);
  const char* s64Bad[] = {"9223372036854775808", "-9223372036854775809", "1 ", "", "x"};
  for (const char* t : s64Bad)
    expectBadNum([&] { plat::parseS64(t, 10); }, "Failed to parse S64 integer", t);
  const char* u64Bad[] = {"184467440737095516150", "18446744073709551616", "-1", "1.0", ""};
  for (const char* t : u64Bad)
    expectBadNum([&] { plat::parseU64(t, 10); }, "Failed to parse U64 integer", t);
  expectBadNum([] { plat::parseU64(nullptr, 10); }, "Failed to parse U64 integer", "null");
}

} // namespace
