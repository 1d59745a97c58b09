// Integer parsers on arbitrary text. The first byte picks the base, the rest
// is the text. Checks that the forms agree with each other, that errno is
// kept, and that a whole-text success printed back in its base parses to
// the same value.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "plat/numbers.h"

#include "fuzz_util.h"

namespace {

const int kErrno = 4242;

std::string toBase(uint64_t magnitude, bool negative, int base)
{
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % base]);
    magnitude /= base;
  } while (magnitude);
  return negative ? "-" + digits : digits;
}

// Base 0 reads a decimal text without leading zeros as decimal.
int printBase(int base)
{
  return base == 0 ? 10 : base;
}

template <typename T, typename Cursor, typename Throwing>
bool cursorAgrees(Cursor cursor, Throwing throwing, const char* s, int base, T* value,
                  const char** end)
{
  const char* p = s;
  errno = kErrno;
  bool ok = cursor(value, &p, base);
  FUZZ_CHECK(errno == kErrno);
  FUZZ_CHECK(ok ? p > s : (p == s && *value == 0));
  *end = p;
  const char* q = s;
  try {
    T v = throwing(&q, base);
    FUZZ_CHECK(ok && v == *value && q == p);
  } catch (const plat::BadNum&) {
    FUZZ_CHECK(!ok && q == s);
  }
  FUZZ_CHECK(errno == kErrno);
  return ok;
}

void checkWholeInt(const char* s, int base)
{
  int v;
  try {
    v = plat::parseInt(s, base);
  } catch (const plat::BadNum&) {
    return;
  }
  const uint64_t mag = v < 0 ? 0 - (uint64_t)(int64_t)v : (uint64_t)v;
  const std::string back = toBase(mag, v < 0, printBase(base));
  FUZZ_CHECK(plat::parseInt(back.c_str(), base) == v);
  FUZZ_CHECK(plat::parseS64(back.c_str(), base) == v);
}

void checkWhole64(const char* s, int base)
{
  try {
    const int64_t v = plat::parseS64(s, base);
    const uint64_t mag = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    FUZZ_CHECK(plat::parseS64(toBase(mag, v < 0, printBase(base)).c_str(), base) == v);
  } catch (const plat::BadNum&) {
  }
  try {
    const uint64_t v = plat::parseU64(s, base);
    FUZZ_CHECK(plat::parseU64(toBase(v, false, printBase(base)).c_str(), base) == v);
    if (v <= 0xFFFFFFFFu)
      FUZZ_CHECK(plat::parseUInt(toBase(v, false, printBase(base)).c_str(), base) == v);
  } catch (const plat::BadNum&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  static const int kBases[8] = {0, 2, 8, 10, 16, 36, 1, 37};
  const int base = kBases[data[0] % 8];
  const std::string text((const char*)data + 1, size - 1);
  const char* s = text.c_str();

  int i;
  unsigned u;
  int64_t s64;
  uint64_t u64;
  const char *endI, *endU, *endS, *endV;
  const bool okI = cursorAgrees<int>(plat::strToInt, plat::parseIntAt, s, base, &i, &endI);
  const bool okU = cursorAgrees<unsigned>(plat::strToUInt, plat::parseUIntAt, s, base, &u, &endU);
  const bool okS = cursorAgrees<int64_t>(plat::strToS64, plat::parseS64At, s, base, &s64, &endS);
  const bool okV = cursorAgrees<uint64_t>(plat::strToU64, plat::parseU64At, s, base, &u64, &endV);

  // The narrow forms are the wide ones restricted to their range.
  FUZZ_CHECK(okI == (okS && s64 >= INT32_MIN && s64 <= INT32_MAX));
  if (okI)
    FUZZ_CHECK(i == s64 && endI == endS);
  FUZZ_CHECK(okU == (okV && u64 <= 0xFFFFFFFFu));
  if (okU)
    FUZZ_CHECK(u == u64 && endU == endV);
  if (okV && okS && s64 >= 0)
    FUZZ_CHECK((uint64_t)s64 == u64 && endS == endV);

  // Whole-text success is cursor success that stops at the end.
  bool whole = true;
  try {
    FUZZ_CHECK(plat::parseInt(s, base) == i);
  } catch (const plat::BadNum&) {
    whole = false;
  }
  FUZZ_CHECK(whole == (okI && *endI == '\0'));
  checkWholeInt(s, base);
  checkWhole64(s, base);
  FUZZ_CHECK(errno == kErrno);
  return 0;
}
