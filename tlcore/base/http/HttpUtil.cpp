#include "http/HttpUtil.h"

#include <stdarg.h>
#include <string.h>

#include "plat/DString.h"
#include "plat/encodings.h"
#include "plat/numbers.h"
#include "plat/String.h"

namespace http {

plat::StringParameter productUri("_ProductUri", "", "");

plat::DString makeProductUrl(const char* path)
{
  plat::DString url;
  url.append(productUri.getValue()).append(path);
  return url;
}

plat::DString makeProductUrlf(const char* fmt, ...)
{
  plat::DString url;
  url.append(productUri.getValue());
  va_list ap;
  va_start(ap, fmt);
  url.vappendf(fmt, ap);
  va_end(ap);
  return url;
}

void QueryBuilder::add(const char* key, const char* value)
{
  if (!value)
    return;
  if (added_)
    text_.append("&");
  else if (needsQuestionMark_)
    text_.append("?");
  text_.append(plat::percentEncode(key, true).str())
      .append("=")
      .append(plat::percentEncode(value, true).str());
  added_ = true;
}

const char* getReasonPhrase(int status)
{
  static const struct {
    int status;
    const char* phrase;
  } phrases[] = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {203, "Non-Authoritative Information"},
      {204, "No Content"},
      {205, "Reset Content"},
      {206, "Partial Content"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Request Entity Too Large"},
      {414, "Request-URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Requested Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {428, "Precondition Required"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
  };
  for (const auto& p : phrases)
    if (p.status == status)
      return p.phrase;
  return "Unknown Error";
}

} // namespace http

namespace http {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// The text up to sep (cut there) or the rest; null when nothing is left.
char* cut(char** cursor, char sep)
{
  char* start = *cursor;
  if (!start)
    return nullptr;
  char* at = strchr(start, sep);
  if (at) {
    *at = 0;
    *cursor = at + 1;
  } else {
    *cursor = nullptr;
  }
  return start;
}

bool number(const char* s, unsigned* out)
{
  if (!s || !*s)
    return false;
  const char* p = s;
  return plat::strToUInt(out, &p, 10) && !*p;
}

} // namespace

bool parseDate(plat::Time* out, const char* text)
{
  if (!text)
    return false;
  enum Form { kRfc1123, kRfc850, kAsctime };
  Form form = !strchr(text, ',') ? kAsctime : strchr(text, '-') ? kRfc850 : kRfc1123;
  plat::String copy(text);
  char* cur = copy.data();
  const char *day, *month, *year, *hour, *minute, *second;
  if (form == kAsctime) {
    cut(&cur, ' ');
    month = cut(&cur, ' ');
    while (cur && *cur == ' ')
      cur++;
    day = cut(&cur, ' ');
    hour = cut(&cur, ':');
    minute = cut(&cur, ':');
    second = cut(&cur, ' ');
    year = cur;
  } else {
    char sep = form == kRfc850 ? '-' : ' ';
    cut(&cur, ' ');
    day = cut(&cur, sep);
    month = cut(&cur, sep);
    year = cut(&cur, ' ');
    hour = cut(&cur, ':');
    minute = cut(&cur, ':');
    second = cut(&cur, ' ');
  }
  unsigned y, d, h, mi, s;
  if (!number(year, &y) || !number(day, &d) || !number(hour, &h) || !number(minute, &mi) ||
      !number(second, &s) || !month)
    return false;
  int mon = 0;
  for (int i = 0; i < 12; i++)
    if (!strcmp(month, kMonths[i]))
      mon = i + 1;
  if (!mon || y > 1000000)
    return false;
  if (y < 100)
    y += 1900;
  plat::Time t;
  if (!plat::isValidDateTime((int)y, mon, (int)d, h, mi, s) ||
      !plat::dateToTime(&t, (int)y, mon, (int)d, (int)h, (int)mi, (int)s))
    return false;
  // Written back in the chosen form, it must be the text itself.
  struct tm tm;
  plat::timeToTmUtc(&tm, t);
  plat::DString back;
  if (form == kRfc1123)
    back.appendf("%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                 kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  else if (form == kRfc850)
    back.appendf("%s, %02d-%s-%02d %02d:%02d:%02d GMT", kLongDays[tm.tm_wday], tm.tm_mday,
                 kMonths[tm.tm_mon], (tm.tm_year + 1900) % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
  else
    back.appendf("%s %s %2d %02d:%02d:%02d %04d", kDays[tm.tm_wday], kMonths[tm.tm_mon],
                 tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
  if (strcmp(back.get(), text) != 0)
    return false;
  *out = t;
  return true;
}

plat::Time parseDateOrThrow(const char* text)
{
  plat::Time t;
  if (!parseDate(&t, text))
    throw plat::Exception(0, "invalid HTTP date (%s)", text ? text : "(null)");
  return t;
}

} // namespace http
