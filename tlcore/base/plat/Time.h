// Wall-clock and monotonic time, conversions between tick counts, calendar
// fields and the platform's broken-down time, and the ISO 8601 texts.
//
// plat::Time is a signed 64-bit count of 100-ns ticks since
// 1601-01-01T00:00:00 UTC (proleptic Gregorian, no leap seconds); durations
// are plain tick counts. Conversions saturate at the 64-bit limits rather
// than wrap. Everything here is a pure function safe on any thread, except
// the clock replacements, which tests install before the clocks are used
// concurrently. Building a Time from calendar fields (dateToTime,
// isValidDateTime, unixSecondsToTime) lives in plat/numbers.h.
#pragma once

#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#include "plat/DString.h"
#include "plat/String.h"

namespace plat {

typedef int64_t Time;

constexpr Time kTicksPerMilli = 10000;
constexpr Time kTicksPerSecond = 10000000;
constexpr Time kTicksPerDay = 864000000000LL;
// 1970-01-01T00:00:00Z.
constexpr Time kUnixEpochTicks = 116444736000000000LL;

// --- Clocks -----------------------------------------------------------------

// The current wall-clock time, saturating instead of overflowing.
Time getTime();

// Monotonic ticks since the first reading in the process. jumped (may be
// null) is cleared; only a replacement clock ever sets it. limit is passed
// on to a replacement clock (the timer manager's latest expected reading).
Time getMonoTime(Time limit = -1, bool* jumped = nullptr);

// Clock replacements for tests; null restores the system clock. Each setter
// returns the previous replacement so that a test can put it back.
typedef Time (*MonoClockFn)(Time limit, bool* jumped);
typedef Time (*WallClockFn)();
MonoClockFn setMonoClock(MonoClockFn fn);
WallClockFn setWallClock(WallClockFn fn);

// Waits the given time; signals do not cut the wait short.
void sleepMs(int milliseconds);

// --- Arithmetic -------------------------------------------------------------

// a + b and a - b clamped to the range of Time: the arithmetic for any time
// or span that comes from outside (a peer's date, a stored expiry, a
// configured period). saturated (may be null) tells whether it clamped.
inline Time addTimeSat(Time a, Time b, bool* saturated = nullptr)
{
  Time r;
  const bool over = __builtin_add_overflow(a, b, &r);
  if (saturated)
    *saturated = over;
  return over ? (b > 0 ? INT64_MAX : INT64_MIN) : r;
}

inline Time subTimeSat(Time a, Time b, bool* saturated = nullptr)
{
  Time r;
  const bool over = __builtin_sub_overflow(a, b, &r);
  if (saturated)
    *saturated = over;
  return over ? (b < 0 ? INT64_MAX : INT64_MIN) : r;
}

// --- Conversions ------------------------------------------------------------

// Seconds since 1970 plus micro- or nanoseconds (nanoseconds truncated to
// ticks), saturating at the 64-bit limits.
Time timevalToTime(int64_t seconds, int64_t microseconds);
Time timespecToTime(int64_t seconds, int64_t nanoseconds);
// Seconds since 1970 and microseconds, rounded down (tv_usec never negative).
struct timeval timeToTimeval(Time t);

// The UTC time of the fields; throws "invalid date (...)" when
// dateToTime refuses them.
Time makeTime(int year, int month, int day, int hour, int minute, int second);
// The same for a broken-down time (tm_year + 1900, tm_mon + 1).
Time tmToTime(const struct tm& tm);
// Seconds since 1601 for any tm_year (computed in 400-year periods); throws
// like makeTime for fields that are not a valid date.
int64_t tmToSeconds(const struct tm& tm);

// The UTC calendar fields of t (tm_zone "UTC", no daylight saving).
void timeToTmUtc(struct tm* out, Time t);
// The local calendar fields of t; the UTC fields when the C library cannot
// convert it.
void timeToTmLocal(struct tm* out, Time t);

// --- Texts ------------------------------------------------------------------

// "YYYY-MM-DDThh:mm:ss[.mmm]Z" in UTC.
void formatTimeIso(DString& out, Time t, bool withMillis);
// The fields of tm as "YYYY-MM-DDThh:mm:ss[.mmm]" with the milliseconds of
// t; false (and "<date error>") when the year cannot be represented.
bool formatTmIso(DString& out, const struct tm& tm, Time t, bool withMillis);
// As formatTmIso, followed by the offset of the local fields from t as
// "+hh:mm" or "-hh:mm".
String formatTmIsoOffset(const struct tm& local, Time t, bool withMillis);
// strftime with every %Y written as at least four digits; false (and
// "<date error>") when the output is empty or longer than about 2 KB.
bool formatTm(DString& out, const char* format, const struct tm& tm);

// Reads "YYYY-MM-DDThh:mm:ss[.fraction][Z|+hh:mm|+hhmm|+hh|-...]"; a text
// without zone is UTC. out is written only on success.
bool parseIsoTime(Time* out, const char* text);
// The same, throwing "invalid date (%s)" with the text.
Time parseIsoTimeOrThrow(const char* text);
// Reads "Mmm d yyyy" (English month abbreviation, day 1-31, year 1-9999,
// separated by runs of spaces).
bool parseMonthDayYear(int* year, int* month, int* day, const char* text);

} // namespace plat
