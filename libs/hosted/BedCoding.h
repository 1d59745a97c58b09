// The pieces of BED's wire form that the writer and the reader share:
// number widths, the packed time, the string index's hash, text checks and
// the nesting limit. Private to libs/hosted.
#pragma once

#include <string.h>

#include <string_view>

#include "hosted/Bed.h"
#include "plat/Time.h"
#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace hosted {
namespace bedcoding {

constexpr int kMaxDepth = 32;

// Smallest width code for a signed and an unsigned number.
inline int signedWidth(int64_t v)
{
  if (v >= -128 && v <= 127)
    return 0;
  if (v >= -32768 && v <= 32767)
    return 1;
  if (v >= INT32_MIN && v <= INT32_MAX)
    return 2;
  return 3;
}

inline int unsignedWidth(uint64_t v)
{
  if (v < 256)
    return 0;
  if (v < 65536)
    return 1;
  if (v <= 0xFFFFFFFFu)
    return 2;
  return 3;
}

// A header byte and a number of the width's size, straight into the window.
inline void writeItem(rdr::OutStream& out, int header, int width, uint64_t v)
{
  if (out.getEnd() - out.getPtr() < 9)
    out.overrun(9, 1);
  uint8_t* p = out.getPtr();
  const int n = 1 << width;
  p[0] = (uint8_t)header;
  // All eight bytes are stored; the window has room and only n count.
  const uint64_t be = __builtin_bswap64(v << (64 - 8 * n));
  memcpy(p + 1, &be, 8);
  out.setPtr(p + 1 + n);
}

// The string index's hash: a word at a time, good enough for texts.
inline uint32_t hashText(const char* s, size_t n)
{
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (; n >= 8; s += 8, n -= 8) {
    uint64_t w;
    memcpy(&w, s, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  // The tail in at most two loads, which may overlap.
  uint64_t w = 0;
  if (n >= 4) {
    uint32_t a, b;
    memcpy(&a, s, 4);
    memcpy(&b, s + n - 4, 4);
    w = (uint64_t)a << 32 | b;
  } else if (n) {
    w = (uint64_t)(uint8_t)s[0] << 16 | (uint64_t)(uint8_t)s[n / 2] << 8 | (uint8_t)s[n - 1];
  }
  h = (h ^ w) * 0xFF51AFD7ED558CCDull;
  h ^= h >> 29;
  h *= 0xC4CEB9FE1A85EC53ull;
  return (uint32_t)(h ^ h >> 32);
}

// Short texts compare in place; memcmp for the rest.
inline bool sameText(std::string_view a, const char* b, size_t n)
{
  if (a.size() != n)
    return false;
  if (n > 16)
    return memcmp(a.data(), b, n) == 0;
  for (size_t i = 0; i < n; i++)
    if (a[i] != b[i])
      return false;
  return true;
}

inline uint64_t readNumber(rdr::InStream& in, int width)
{
  switch (width) {
  case 0: return in.readU8();
  case 1: return in.readU16();
  case 2: return in.readU32();
  default: return in.readU64();
  }
}

inline int64_t signExtend(uint64_t v, int width)
{
  switch (width) {
  case 0: return (int8_t)v;
  case 1: return (int16_t)v;
  case 2: return (int32_t)v;
  default: return (int64_t)v;
  }
}

// Packed time field layout (bit positions).
constexpr int kMsShift = 11, kSecShift = 21, kMinShift = 27, kHourShift = 33, kDayShift = 38,
              kMonShift = 43, kYearShift = 47;

inline uint64_t packTime(plat::Time ticks)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticks);
  int64_t ms = ticks / plat::kTicksPerMilli % 1000;
  if (ms < 0)
    ms += 1000;
  uint64_t year = (uint64_t)(tm.tm_year + 1900);
  return ((uint64_t)ms & 0x3FF) << kMsShift | ((uint64_t)tm.tm_sec & 0x3F) << kSecShift |
         ((uint64_t)tm.tm_min & 0x3F) << kMinShift | ((uint64_t)tm.tm_hour & 0x1F) << kHourShift |
         ((uint64_t)tm.tm_mday & 0x1F) << kDayShift |
         ((uint64_t)(tm.tm_mon + 1) & 0xF) << kMonShift | (year & 0x3FFF) << kYearShift;
}

inline plat::Time unpackTime(uint64_t v)
{
  if (v >> 61)
    throw BedException("BED decode error");
  int offset = (int)(v & 0x7FF);
  if (offset & 0x400)
    offset -= 0x800;
  int ms = (int)(v >> kMsShift & 0x3FF);
  int sec = (int)(v >> kSecShift & 0x3F);
  int min = (int)(v >> kMinShift & 0x3F);
  int hour = (int)(v >> kHourShift & 0x1F);
  int day = (int)(v >> kDayShift & 0x1F);
  int mon = (int)(v >> kMonShift & 0xF);
  int year = (int)(v >> kYearShift & 0x3FFF);
  plat::Time t;
  if (ms > 999 || !plat::isValidDateTime(year, mon, day, hour, min, sec) ||
      !plat::dateToTime(&t, year, mon, day, hour, min, sec))
    throw BedException("BED decode error");
  return plat::addTimeSat(t, ms * plat::kTicksPerMilli - (plat::Time)offset * 600000000);
}

// Raises the reader's depth for one value and restores it on the way out.
class DepthGuard {
public:
  explicit DepthGuard(int& depth) : depth_(depth)
  {
    if (depth_ >= kMaxDepth)
      throw BedException("Unsupported nesting");
    depth_++;
  }
  ~DepthGuard() { depth_--; }

private:
  int& depth_;
};

// Valid UTF-8 without a NUL; ASCII runs a word at a time.
inline bool isCleanText(const char* s, int length)
{
  const char* end = s + length;
  constexpr uint64_t kHigh = 0x8080808080808080ull, kLow = 0x0101010101010101ull;
  while (end - s >= 8) {
    uint64_t w;
    memcpy(&w, s, 8);
    if ((w & kHigh) | ((w - kLow) & ~w & kHigh))
      break;
    s += 8;
  }
  while (s < end && (unsigned char)*s - 1u < 0x7Fu)
    s++;
  return s == end || (!memchr(s, 0, (size_t)(end - s)) && plat::isValidUtf8(s, end));
}

// Keys are mostly short and shared: the same text, or different at once.
inline bool sameKey(const char* a, int aLength, const char* b, int bLength)
{
  return a == b ||
         (aLength == bLength && a[0] == b[0] && memcmp(a, b, (size_t)aLength) == 0);
}

inline bool acceptedContentType(const char* type)
{
  static const char* const octet = "application/octet-stream";
  if (!strcmp(type, kBedMediaType) || !strcmp(type, octet))
    return true;
  plat::String copy(type);
  char* s = copy.data();
  size_t n = strlen(s);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (n && blank(s[n - 1]))
    s[--n] = 0;
  while (*s && blank(*s))
    s++;
  for (char* c = s; *c; c++)
    if (*c >= 'A' && *c <= 'Z')
      *c += 'a' - 'A';
  return !strcmp(s, kBedMediaType) || !strcmp(s, octet);
}

} // namespace bedcoding
} // namespace hosted
