// Checked conversions from text to 32- and 64-bit integers, and building a
// plat::Time from calendar fields.
//
// The parsers read with the C library's strto* functions in the given base
// (0 accepts the "0x" and leading-zero prefixes), so leading white space and
// a sign are accepted as those functions accept them. errno is left as the
// caller had it on every path, exceptions included. All functions are pure
// and safe on any thread.
#pragma once

#include <limits.h>
#include <stdint.h>

#include "plat/Exception.h"
#include "plat/Time.h"

namespace plat {

// A text that is not a number of the expected kind or range.
class BadNum : public Exception {
public:
  explicit BadNum(const char* message);
  ~BadNum() override;
};

// --- Cursor forms -----------------------------------------------------------
// *p moves past the characters consumed on success and stays put on
// failure. The bool forms set *out to 0 on failure; the others throw
// BadNum with the default message of their width.

bool strToInt(int* out, const char** p, int base = 10);
int parseIntAt(const char** p, int base = 10);
// Negative texts are refused, not wrapped.
bool strToUInt(unsigned* out, const char** p, int base = 10);
unsigned parseUIntAt(const char** p, int base = 10);
bool strToS64(int64_t* out, const char** p, int base = 10);
int64_t parseS64At(const char** p, int base = 10);
bool strToU64(uint64_t* out, const char** p, int base = 10);
uint64_t parseU64At(const char** p, int base = 10);

// --- Whole-text forms ---------------------------------------------------------
// Nothing may follow the number, not even white space. errMsg (when not
// null) replaces the default message.

int parseInt(const char* text, int base = 10, const char* errMsg = nullptr, int min = INT_MIN,
             int max = INT_MAX);
unsigned parseUInt(const char* text, int base = 10, const char* errMsg = nullptr,
                   unsigned min = 0, unsigned max = UINT_MAX);
int64_t parseS64(const char* text, int base = 10);
uint64_t parseU64(const char* text, int base = 10);

// --- Calendar -----------------------------------------------------------------

// Month 1-12, a day of that month, hour < 24, minute < 60, second <= 60
// (a leap second counts as the first second of the next minute). Any year.
bool isValidDateTime(int year, int month, int day, unsigned hour, unsigned minute,
                     unsigned second);
// The UTC time of the fields; false when they are not valid, the year is
// outside +-1,000,000 or the result does not fit. out is written only on
// success.
bool dateToTime(Time* out, int year, int month, int day, int hour, int minute, int second);
// Seconds since 1970 as a Time, saturating at the 64-bit limits.
Time unixSecondsToTime(int64_t seconds);

} // namespace plat
