#include "plat/numbers.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "plat/calendar.h"

namespace plat {

namespace {

const char kIntMsg[] = "Failed to parse integer";
const char kS64Msg[] = "Failed to parse S64 integer";
const char kU64Msg[] = "Failed to parse U64 integer";

// Callers keep their errno: the strto* functions report through it, and a
// parse in the middle of error handling must not clobber the caller's value.
class ErrnoKeeper {
public:
  ErrnoKeeper() : saved_(errno) { errno = 0; }
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
  int saved_;
};

bool hasMinus(const char* begin, const char* end)
{
  return memchr(begin, '-', end - begin) != nullptr;
}

// Runs one strto* conversion with errno cleared; Conv(text, end, base).
// Returns false when nothing was consumed; rangeError tells whether ERANGE
// was reported.
template <typename T, typename Conv>
bool convert(Conv conv, const char* text, int base, T* value, const char** end, bool* rangeError)
{
  // The C library leaves the end pointer unset for a base it refuses.
  if (base < 0 || base == 1 || base > 36)
    return false;
  char* e = nullptr;
  errno = 0;
  *value = conv(text, &e, base);
  *rangeError = errno == ERANGE;
  *end = e;
  return e != nullptr && e != text;
}

// Whole-text check shared by the whole-text forms: a successful cursor
// parse that stopped at the NUL.
template <typename T, typename F>
bool parseWhole(F cursorForm, const char* text, int base, T* out)
{
  const char* p = text;
  return text && cursorForm(out, &p, base) && *p == '\0';
}

} // namespace

BadNum::BadNum(const char* message) : Exception(message) {}
BadNum::~BadNum() = default;

bool strToInt(int* out, const char** p, int base)
{
  ErrnoKeeper keep;
  *out = 0;
  if (!p || !*p)
    return false;
  long v;
  const char* end;
  bool range;
  if (!convert(strtol, *p, base, &v, &end, &range) || range || v < INT_MIN || v > INT_MAX)
    return false;
  *out = (int)v;
  *p = end;
  return true;
}

int parseIntAt(const char** p, int base)
{
  int v;
  if (!strToInt(&v, p, base))
    throw BadNum(kIntMsg);
  return v;
}

bool strToUInt(unsigned* out, const char** p, int base)
{
  ErrnoKeeper keep;
  *out = 0;
  if (!p || !*p)
    return false;
  unsigned long v;
  const char* end;
  bool range;
  if (!convert(strtoul, *p, base, &v, &end, &range) || range || v > 0xFFFFFFFFul ||
      hasMinus(*p, end))
    return false;
  *out = (unsigned)v;
  *p = end;
  return true;
}

unsigned parseUIntAt(const char** p, int base)
{
  unsigned v;
  if (!strToUInt(&v, p, base))
    throw BadNum(kIntMsg);
  return v;
}

bool strToS64(int64_t* out, const char** p, int base)
{
  ErrnoKeeper keep;
  *out = 0;
  if (!p || !*p)
    return false;
  long long v;
  const char* end;
  bool range;
  if (!convert(strtoll, *p, base, &v, &end, &range) ||
      (range && (v == LLONG_MIN || v == LLONG_MAX)))
    return false;
  *out = v;
  *p = end;
  return true;
}

int64_t parseS64At(const char** p, int base)
{
  int64_t v;
  if (!strToS64(&v, p, base))
    throw BadNum(kS64Msg);
  return v;
}

bool strToU64(uint64_t* out, const char** p, int base)
{
  ErrnoKeeper keep;
  *out = 0;
  if (!p || !*p)
    return false;
  unsigned long long v;
  const char* end;
  bool range;
  if (!convert(strtoull, *p, base, &v, &end, &range) || hasMinus(*p, end) ||
      (range && v == ULLONG_MAX))
    return false;
  *out = v;
  *p = end;
  return true;
}

uint64_t parseU64At(const char** p, int base)
{
  uint64_t v;
  if (!strToU64(&v, p, base))
    throw BadNum(kU64Msg);
  return v;
}

int parseInt(const char* text, int base, const char* errMsg, int min, int max)
{
  int v;
  if (!parseWhole(strToInt, text, base, &v) || v < min || v > max)
    throw BadNum(errMsg ? errMsg : kIntMsg);
  return v;
}

unsigned parseUInt(const char* text, int base, const char* errMsg, unsigned min, unsigned max)
{
  unsigned v;
  if (!parseWhole(strToUInt, text, base, &v) || v < min || v > max)
    throw BadNum(errMsg ? errMsg : kIntMsg);
  return v;
}

int64_t parseS64(const char* text, int base)
{
  int64_t v;
  if (!parseWhole(strToS64, text, base, &v))
    throw BadNum(kS64Msg);
  return v;
}

uint64_t parseU64(const char* text, int base)
{
  uint64_t v;
  if (!parseWhole(strToU64, text, base, &v))
    throw BadNum(kU64Msg);
  return v;
}

bool isValidDateTime(int year, int month, int day, unsigned hour, unsigned minute,
                     unsigned second)
{
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 60)
    return false;
  return day <= daysInMonth(year, month);
}

bool dateToTime(Time* out, int year, int month, int day, int hour, int minute, int second)
{
  if (year < -1000000 || year > 1000000 ||
      !isValidDateTime(year, month, day, (unsigned)hour, (unsigned)minute, (unsigned)second))
    return false;
  const int64_t days = daysFromCivil(year, month, day) + kDays1601To1970;
  if (days < -10675200 || days > 10675199)
    return false;
  const __int128 ticks = (__int128)days * kTicksPerDay + (__int128)hour * 36000000000LL +
                         (__int128)minute * 600000000LL + (__int128)second * kTicksPerSecond;
  if (ticks > INT64_MAX || ticks < INT64_MIN)
    return false;
  *out = (Time)ticks;
  return true;
}

Time unixSecondsToTime(int64_t seconds)
{
  return saturateTicks((__int128)seconds * kTicksPerSecond + kUnixEpochTicks);
}

} // namespace plat
