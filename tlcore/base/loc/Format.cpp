#include <stdio.h>
#include <string.h>

#include <string>

#include "loc/LocPrivate.h"
#include "loc/Localize.h"
#include "plat/utf8.h"

namespace loc {

namespace {

// Reads a decimal number greater than 0 at *p. Numbers past what any text
// could mean are refused rather than overflowing.
bool readCount(const char** p, int* out)
{
  const char* s = *p;
  if (*s < '0' || *s > '9')
    return false;
  long long v = 0;
  while (*s >= '0' && *s <= '9') {
    v = v * 10 + (*s - '0');
    if (v > 0x7fffffff)
      return false;
    s++;
  }
  if (v == 0)
    return false;
  *p = s;
  *out = (int)v;
  return true;
}

// Writes the placeholder after the '%' at *p, moving *p past it; false on a
// placeholder error.
bool writePlaceholder(std::string& out, const char** p, const Arg* args, int count)
{
  const char* s = *p;
  const Arg* arg = nullptr;
  bool haveArg = false, sign = false;
  int precision = 0;
  char conv = 0;
  for (;;) {
    char c = *s;
    if (c == 0)
      return false;
    if (c == '+' && !sign) {
      sign = true;
      s++;
    } else if (c == '.' && !precision) {
      s++;
      if (!readCount(&s, &precision))
        return false;
    } else if (!haveArg && c >= '0' && c <= '9') {
      int pos;
      if (!readCount(&s, &pos) || *s != '$' || pos > count)
        return false;
      s++;
      arg = args;
      while (--pos)
        arg = arg->next;
      haveArg = true;
    } else {
      conv = c;
      s++;
      break;
    }
  }
  if (conv != 'S' && conv != 'D' && conv != 'X')
    return false;
  if (!haveArg) {
    // Texts with several placeholders must number them.
    if (count != 1)
      return false;
    arg = args;
  }
  if (precision && conv != 'S')
    return false;
  if (sign && (conv != 'D' || arg->kind != Arg::kSigned))
    return false;

  char num[16];
  switch (conv) {
  case 'S': {
    if (arg->kind != Arg::kString)
      return false;
    const char* str = arg->s ? arg->s : "";
    if (!precision) {
      out.append(str);
      break;
    }
    int end = (int)strnlen(str, precision);
    // Cut before a character whose bytes do not all fit.
    if (str[end] != 0) {
      int back = 0;
      while (back < 3 && end - back > 0 && (str[end - back] & 0xc0) == 0x80)
        back++;
      if ((str[end - back] & 0xc0) != 0x80)
        end -= back;
    }
    out.append(plat::utf8Sanitise(str, str + end, -1).str());
    break;
  }
  case 'X':
    if (arg->kind != Arg::kUnsigned)
      return false;
    snprintf(num, sizeof(num), "%x", arg->u);
    out.append(num);
    break;
  default: // 'D'
    if (arg->kind == Arg::kSigned)
      snprintf(num, sizeof(num), sign ? "%+d" : "%d", arg->i);
    else if (arg->kind == Arg::kUnsigned)
      snprintf(num, sizeof(num), "%u", arg->u);
    else
      return false;
    out.append(num);
    break;
  }
  *p = s;
  return true;
}

} // namespace

String& format(String& out, const char* fmt, const Arg* args)
{
  if (!fmt)
    fmt = "";
  int count = 0;
  for (const Arg* a = args; a; a = a->next)
    count++;

  std::string buf;
  buf.reserve(strlen(fmt) * 2);
  bool bad = false;
  const char* p = fmt;
  for (;;) {
    const char* pct = strchr(p, '%');
    if (!pct) {
      buf.append(p);
      break;
    }
    buf.append(p, pct - p);
    if (pct[1] == '%') {
      buf.push_back('%');
      p = pct + 2;
      continue;
    }
    p = pct + 1;
    if (!writePlaceholder(buf, &p, args, count)) {
      // Mark the spot and show the rest of the placeholder as plain text.
      buf.append("%%");
      bad = true;
    }
  }
  out = String(buf.c_str());
  if (bad)
    logSrc.error("Bad loc string for args - %s", fmt);
  return out;
}

const char* pluralSuffix(const char* locale, unsigned n)
{
  if (!locale)
    locale = "";
  size_t langLen = strcspn(locale, "_-.@");
  std::string lang(locale, langLen), country;
  if (locale[langLen] == '_' || locale[langLen] == '-') {
    const char* c = locale + langLen + 1;
    country.assign(c, strcspn(c, ".@"));
  }
  if (lang == "fr" || (lang == "pt" && (country.empty() || country == "BR")))
    return n < 2 ? "sing" : "many";
  if (lang == "ja" || lang == "vi" || lang == "ko" || lang == "zh")
    return "many";
  return n == 1 ? "sing" : "many";
}

} // namespace loc
