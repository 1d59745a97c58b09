#include "plat/Time.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>

#include <atomic>
#include <mutex>
#include <string>

#include "plat/Exception.h"
#include "plat/calendar.h"
#include "plat/numbers.h"

namespace plat {

namespace {

std::atomic<MonoClockFn> monoClockFn{nullptr};
std::atomic<WallClockFn> wallClockFn{nullptr};

const int64_t kSeconds1601To1970 = 11644473600LL;
// 400 Gregorian years (146,097 days) in seconds.
const int64_t kSecondsPer400Years = 12622780800LL;
const char kDateError[] = "<date error>";

// Division rounding towards minus infinity, with a remainder in [0, d).
// Never overflows, even for INT64_MIN.
void floorDivMod(int64_t n, int64_t d, int64_t* q, int64_t* r)
{
  *q = n / d;
  *r = n % d;
  if (*r < 0) {
    *r += d;
    --*q;
  }
}

int64_t floorDiv(int64_t n, int64_t d)
{
  int64_t q, r;
  floorDivMod(n, d, &q, &r);
  return q;
}

int64_t floorMod(int64_t n, int64_t d)
{
  int64_t q, r;
  floorDivMod(n, d, &q, &r);
  return r;
}

Time timespecTicks(const struct timespec& ts)
{
  return (Time)ts.tv_sec * kTicksPerSecond + ts.tv_nsec / 100;
}

int dayOfYear(int64_t year, int month, int day)
{
  static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return kBefore[month - 1] + (month > 2 && isLeapYear(year) ? 1 : 0) + day - 1;
}

// The fields are printed as 64-bit values so that out-of-range tm fields
// cannot overflow on the way into the message.
[[noreturn]] void throwInvalidDate(long long year, long long month, int day, int hour, int minute,
                                   int second)
{
  throw Exception(1, "invalid date (%04lld-%02lld-%02dT%02d:%02d:%02d)", year, month, day, hour,
                  minute, second);
}

// tm_mon + 1 without overflow; a month this large is refused anyway.
int tmMonth(const struct tm& tm)
{
  return (tm.tm_mon < INT_MAX ? tm.tm_mon : INT_MAX - 1) + 1;
}

bool yearOverflows(const struct tm& tm)
{
  return tm.tm_year > INT_MAX - 1900;
}

struct MonoClock {
  clockid_t id;
  Time base;
};

// The coarse clock is cheap to read; it is used only when it is at least
// as fine as a millisecond.
MonoClock chooseMonoClock()
{
  struct timespec res, now;
  if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) == 0 && timespecTicks(res) <= 10000 &&
      clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0)
    return {CLOCK_MONOTONIC_COARSE, timespecTicks(now)};
  bool gotMonoTime = clock_gettime(CLOCK_MONOTONIC, &now) == 0;
  PLAT_ASSERT(gotMonoTime);
  return {CLOCK_MONOTONIC, timespecTicks(now)};
}

// A non-empty run of decimal digits [begin, end) that fits in unsigned.
bool readDigits(const char* begin, const char* end, unsigned* out)
{
  if (begin == end || end - begin > 9)
    return false;
  unsigned v = 0;
  for (const char* c = begin; c != end; ++c) {
    if (*c < '0' || *c > '9')
      return false;
    v = v * 10 + (unsigned)(*c - '0');
  }
  *out = v;
  return true;
}

// Leading zeros are allowed in the date fields: only the value counts.
bool readDateDigits(const char* begin, const char* end, unsigned* out)
{
  while (end - begin > 1 && *begin == '0')
    ++begin;
  return readDigits(begin, end, out);
}

// Moves *cur past the next byte of seps and returns the token before it;
// null when none of seps follows.
const char* cutAt(const char** cur, const char* seps, const char** tokEnd, char* found)
{
  const char* tok = *cur;
  const char* sep = strpbrk(tok, seps);
  if (!sep)
    return nullptr;
  *tokEnd = sep;
  *found = *sep;
  *cur = sep + 1;
  return tok;
}

} // namespace

// --- Clocks -----------------------------------------------------------------

Time getTime()
{
  if (WallClockFn fn = wallClockFn.load())
    return fn();
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return timevalToTime(tv.tv_sec, tv.tv_usec);
}

Time getMonoTime(Time limit, bool* jumped)
{
  if (jumped)
    *jumped = false;
  if (MonoClockFn fn = monoClockFn.load())
    return fn(limit, jumped);
  static const MonoClock clock = chooseMonoClock();
  struct timespec now;
  bool gotMonoTime = clock_gettime(clock.id, &now) == 0;
  PLAT_ASSERT(gotMonoTime);
  return timespecTicks(now) - clock.base;
}

MonoClockFn setMonoClock(MonoClockFn fn)
{
  return monoClockFn.exchange(fn);
}

WallClockFn setWallClock(WallClockFn fn)
{
  return wallClockFn.exchange(fn);
}

void sleepMs(int milliseconds)
{
  // Measured on the system clock itself: a replaced test clock may stand
  // still.
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const int64_t deadline = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec +
                           (int64_t)milliseconds * 1000000;
  for (;;) {
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const int64_t left = deadline - ((int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec);
    if (left <= 0)
      return;
    struct timeval tv;
    tv.tv_sec = left / 1000000000;
    tv.tv_usec = (left % 1000000000 + 999) / 1000;
    if (select(0, nullptr, nullptr, nullptr, &tv) < 0 && errno != EINTR)
      return;
  }
}

// --- Conversions ------------------------------------------------------------

Time timevalToTime(int64_t seconds, int64_t microseconds)
{
  return saturateTicks((__int128)seconds * kTicksPerSecond + (__int128)microseconds * 10 +
                  kUnixEpochTicks);
}

Time timespecToTime(int64_t seconds, int64_t nanoseconds)
{
  return saturateTicks((__int128)seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochTicks);
}

struct timeval timeToTimeval(Time t)
{
  int64_t secs, rest;
  floorDivMod(t, kTicksPerSecond, &secs, &rest);
  struct timeval tv;
  tv.tv_sec = secs - kSeconds1601To1970;
  tv.tv_usec = rest / 10;
  return tv;
}

Time makeTime(int year, int month, int day, int hour, int minute, int second)
{
  Time t;
  if (!dateToTime(&t, year, month, day, hour, minute, second))
    throwInvalidDate(year, month, day, hour, minute, second);
  return t;
}

Time tmToTime(const struct tm& tm)
{
  const int year = (tm.tm_year < 2147481747 ? tm.tm_year : 2147481747) + 1900;
  return makeTime(year, tmMonth(tm), tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

int64_t tmToSeconds(const struct tm& tm)
{
  const int q = tm.tm_year / 400;
  Time t;
  if (!dateToTime(&t, tm.tm_year - q * 400 + 1900, tmMonth(tm), tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec))
    throwInvalidDate((long long)tm.tm_year + 1900, (long long)tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec);
  return t / kTicksPerSecond + (int64_t)q * kSecondsPer400Years;
}

void timeToTmUtc(struct tm* out, Time t)
{
  int64_t days, rest;
  floorDivMod(t, kTicksPerDay, &days, &rest);
  int64_t year;
  int month, day;
  civilFromDays(days - kDays1601To1970, &year, &month, &day);
  const int64_t secs = rest / kTicksPerSecond;

  memset(out, 0, sizeof(*out));
  out->tm_year = (int)(year - 1900);
  out->tm_mon = month - 1;
  out->tm_mday = day;
  out->tm_hour = (int)(secs / 3600);
  out->tm_min = (int)(secs / 60 % 60);
  out->tm_sec = (int)(secs % 60);
  // 1601-01-01 was a Monday.
  out->tm_wday = (int)floorMod(days + 1, 7);
  out->tm_yday = dayOfYear(year, month, day);
  out->tm_isdst = 0;
  out->tm_gmtoff = 0;
  out->tm_zone = "UTC";
}

void timeToTmLocal(struct tm* out, Time t)
{
  static std::once_flag tzsetOnce;
  std::call_once(tzsetOnce, tzset);
  const time_t secs = (time_t)(floorDiv(t, kTicksPerSecond) - kSeconds1601To1970);
  if (!localtime_r(&secs, out))
    timeToTmUtc(out, t);
}

// --- Texts ------------------------------------------------------------------

bool formatTmIso(DString& out, const struct tm& tm, Time t, bool withMillis)
{
  out.clear();
  if (yearOverflows(tm)) {
    out.append(kDateError);
    return false;
  }
  out.appendf("%04d-%02lld-%02dT%02d:%02d:%02d", tm.tm_year + 1900, (long long)tm.tm_mon + 1,
              tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  // Floor division, so that times before 1601 still show 0-999.
  if (withMillis)
    out.appendf(".%03d", (int)floorMod(floorDiv(t, kTicksPerMilli), 1000));
  return true;
}

void formatTimeIso(DString& out, Time t, bool withMillis)
{
  struct tm tm;
  timeToTmUtc(&tm, t);
  formatTmIso(out, tm, t, withMillis);
  out.append("Z");
}

String formatTmIsoOffset(const struct tm& local, Time t, bool withMillis)
{
  DString out;
  if (!formatTmIso(out, local, t, withMillis))
    return out.takeString();
  const int64_t offSecs = tmToSeconds(local) - floorDiv(t, kTicksPerSecond);
  PLAT_ASSERT(offSecs < 365*86400 && offSecs > -365*86400);
  const int64_t absSecs = offSecs < 0 ? -offSecs : offSecs;
  out.appendf("%c%02d:%02d", offSecs >= 0 ? '+' : '-', (int)(absSecs / 3600),
              (int)(absSecs / 60 % 60));
  return out.takeString();
}

bool formatTm(DString& out, const char* format, const struct tm& tm)
{
  out.clear();
  if (yearOverflows(tm) || !format) {
    out.append(kDateError);
    return false;
  }
  // strftime's %Y has no fixed width; years below 1000 must keep four
  // digits. "%%" is a literal percent sign, so "%%Y" is left alone.
  char year[16];
  snprintf(year, sizeof(year), "%04d", tm.tm_year + 1900);
  std::string fmt;
  for (const char* c = format; *c; ++c) {
    if (c[0] == '%' && c[1] == 'Y') {
      fmt += year;
      ++c;
    } else if (c[0] == '%' && c[1] == '%') {
      fmt += "%%";
      ++c;
    } else {
      fmt += *c;
    }
  }
  for (size_t size = 16;; size *= 2) {
    std::string buf(size, '\0');
    const size_t n = strftime(&buf[0], size, fmt.c_str(), &tm);
    if (n > 0) {
      out.append(buf.c_str(), (int)n);
      return true;
    }
    if (size >= 1025)
      break;
  }
  out.append(kDateError);
  return false;
}

bool parseIsoTime(Time* out, const char* text)
{
  if (!text)
    return false;
  const char* cur = text;
  const char* end;
  char sep;
  unsigned fields[6];
  // Year, month, day, hour and minute, each with the separator that must
  // follow it.
  static const char* const kSeps[5] = {"-", "-", "T", ":", ":"};
  for (int i = 0; i < 5; i++) {
    const char* tok = cutAt(&cur, kSeps[i], &end, &sep);
    if (!tok)
      return false;
    if (i >= 3 ? end - tok != 2 || !readDigits(tok, end, &fields[i])
               : !readDateDigits(tok, end, &fields[i]))
      return false;
  }
  // Seconds end at a fraction, a zone designator or the end of the text.
  const char* tok = cur;
  const char* stop = strpbrk(cur, ".Z+-");
  end = stop ? stop : cur + strlen(cur);
  sep = stop ? *stop : 0;
  if (end - tok != 2 || !readDigits(tok, end, &fields[5]))
    return false;
  cur = stop ? stop + 1 : end;

  if (fields[0] < 1 || fields[0] > 9999)
    return false;
  Time t;
  if (!dateToTime(&t, (int)fields[0], (int)fields[1], (int)fields[2], (int)fields[3],
                  (int)fields[4], (int)fields[5]))
    return false;

  if (sep == '.') {
    stop = strpbrk(cur, "Z+-");
    end = stop ? stop : cur + strlen(cur);
    sep = stop ? *stop : 0;
    const int digits = (int)(end - cur);
    if (digits < 1 || digits > 12)
      return false;
    // At most seven digits are significant (100 ns); the rest is cut off,
    // scaling down instead of up so that twelve digits cannot overflow.
    uint64_t frac = 0;
    for (const char* c = cur; c != end; ++c) {
      if (*c < '0' || *c > '9')
        return false;
      if (c - cur < 7)
        frac = frac * 10 + (uint64_t)(*c - '0');
    }
    for (int i = digits; i < 7; i++)
      frac *= 10;
    t = addTimeSat(t, (Time)frac);
    cur = stop ? stop + 1 : end;
  }

  if (sep == 'Z') {
    if (*cur)
      return false;
  } else if (sep == '+' || sep == '-') {
    const size_t len = strlen(cur);
    unsigned hours, minutes = 0;
    if (len == 5 && cur[2] == ':') {
      if (!readDigits(cur, cur + 2, &hours) || !readDigits(cur + 3, cur + 5, &minutes))
        return false;
    } else if (len == 4) {
      unsigned v;
      if (!readDigits(cur, cur + 4, &v))
        return false;
      hours = v / 100;
      minutes = v % 100;
    } else if (len == 2) {
      if (!readDigits(cur, cur + 2, &hours))
        return false;
    } else {
      return false;
    }
    // "-00:00" means "offset unknown" in ISO 8601, not UTC.
    if (sep == '-' && hours == 0 && minutes == 0)
      return false;
    const Time offset = ((Time)hours * 3600 + (Time)minutes * 60) * kTicksPerSecond;
    t = addTimeSat(t, sep == '+' ? -offset : offset);
  }
  *out = t;
  return true;
}

Time parseIsoTimeOrThrow(const char* text)
{
  Time t;
  if (!parseIsoTime(&t, text))
    throw Exception(1, "invalid date (%s)", text ? text : "");
  return t;
}

bool parseMonthDayYear(int* year, int* month, int* day, const char* text)
{
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (!text)
    return false;
  const char* tok[3];
  const char* tokEnd[3];
  const char* c = text;
  for (int i = 0; i < 3; i++) {
    while (*c == ' ')
      ++c;
    if (!*c)
      return false;
    tok[i] = c;
    while (*c && *c != ' ')
      ++c;
    tokEnd[i] = c;
  }
  while (*c == ' ')
    ++c;
  if (*c)
    return false;

  int m = 0;
  for (int i = 0; i < 12 && !m; i++) {
    if (tokEnd[0] - tok[0] == 3 && memcmp(tok[0], kMonths[i], 3) == 0)
      m = i + 1;
  }
  unsigned d, y;
  if (!m || !readDateDigits(tok[1], tokEnd[1], &d) || d < 1 || d > 31 ||
      !readDateDigits(tok[2], tokEnd[2], &y) || y < 1 || y > 9999)
    return false;
  *year = (int)y;
  *month = m;
  *day = (int)d;
  return true;
}

} // namespace plat
