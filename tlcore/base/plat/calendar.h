// Proleptic Gregorian calendar arithmetic shared by the time conversions
// and the date parsers, and saturation of wide tick counts.
#pragma once

#include <stdint.h>

#include "plat/Time.h"

namespace plat {

inline bool isLeapYear(int64_t year)
{
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days in month (1-12) of year.
inline int daysInMonth(int64_t year, int month)
{
  static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kMonthDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

// Days from 1970-01-01 to the given date (month 1-12); exact for every int
// year.
inline int64_t daysFromCivil(int64_t y, int m, int d)
{
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The date of a day count since 1970-01-01.
inline void civilFromDays(int64_t z, int64_t* year, int* month, int* day)
{
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = (int)(doy - (153 * mp + 2) / 5 + 1);
  *month = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

// A wide tick count clamped to the range of Time.
inline Time saturateTicks(__int128 v)
{
  if (v > INT64_MAX)
    return INT64_MAX;
  if (v < INT64_MIN)
    return INT64_MIN;
  return (Time)v;
}

} // namespace plat
