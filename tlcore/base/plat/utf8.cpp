#include "plat/utf8.h"

#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "plat/ConfigParameter.h"

namespace plat {

namespace {

// Hidden: for finding where bad text is made.
BoolParameter badUtf8Assert("_BadUtf8Assert",
                            "Make bad UTF-8 cause an assertion failure for debugging", false,
                            ParamLevel::kAdvanced);

inline bool isCont(unsigned char c)
{
  return (c & 0xC0) == 0x80;
}

inline bool isNonCharacter(int cp)
{
  return (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
}

// Unrolled per length: validation of multibyte-heavy text spends its time
// here. Each length checks its own over-long bound.
inline int decodeRest(unsigned lead, const char** p, ptrdiff_t available)
{
  const unsigned char* q = reinterpret_cast<const unsigned char*>(*p);
  if (lead < 0xC0) // ASCII or a stray continuation byte
    return -1;
  if (lead < 0xE0) {
    if (available < 2 || !isCont(q[0]))
      return -1;
    *p += 1;
    int cp = (lead & 0x1F) << 6 | (q[0] & 0x3F);
    return cp >= 0x80 ? cp : -1;
  }
  if (lead < 0xF0) {
    if (available < 3 || !isCont(q[0]))
      return -1;
    if (!isCont(q[1])) {
      *p += 1;
      return -1;
    }
    *p += 2;
    int cp = (lead & 0x0F) << 12 | (q[0] & 0x3F) << 6 | (q[1] & 0x3F);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || isNonCharacter(cp))
      return -1;
    return cp;
  }
  if (lead < 0xF8) {
    if (available < 4 || !isCont(q[0]))
      return -1;
    if (!isCont(q[1])) {
      *p += 1;
      return -1;
    }
    if (!isCont(q[2])) {
      *p += 2;
      return -1;
    }
    *p += 3;
    int cp = (lead & 0x07) << 18 | (q[0] & 0x3F) << 12 | (q[1] & 0x3F) << 6 | (q[2] & 0x3F);
    if (cp < 0x10000 || cp > 0x10FFFF || (cp & 0xFFFE) == 0xFFFE)
      return -1;
    return cp;
  }
  return -1;
}

// Decodes the character at *p (ASCII included), bounded by end or, when end
// is null, by the NUL; *p moves past what was consumed.
inline int decodeNext(const char** p, const char* end)
{
  unsigned char c = **p;
  ++*p;
  if (c < 0x80)
    return c;
  return decodeRest(c, p, end ? end - *p + 1 : 4);
}

// The results are counted in int (the interfaces' lengths); anything
// larger is refused rather than wrapped.
int checkedLength(size_t n)
{
  PLAT_CHECK(n < static_cast<size_t>(INT_MAX));
  return static_cast<int>(n);
}

// Output built in two passes: the first only counts (buf null), the second
// writes into an exact allocation, so the String carries no slack.
struct Sink {
  char* buf = nullptr;
  size_t n = 0;

  void put(char c)
  {
    if (buf)
      buf[n] = c;
    n++;
  }
  void put(const char* s, size_t len)
  {
    if (buf)
      memcpy(buf + n, s, len);
    n += len;
  }
};

template <typename Fn> String buildString(Fn fill)
{
  Sink counter;
  fill(counter);
  checkedLength(counter.n);
  Sink writer;
  writer.buf = new char[counter.n + 1];
  fill(writer);
  writer.buf[writer.n] = 0;
  return String::adopt(writer.buf);
}

const char kReplacement[] = "\xEF\xBF\xBD";

void sanitise(Sink& out, const char* s, const char* end, int maxBytes)
{
  while ((!end || s < end) && *s) {
    const char* start = s;
    const char* bytes = start;
    size_t len;
    if (decodeNext(&s, end) >= 0) {
      len = s - start;
    } else {
      bytes = kReplacement;
      len = 3;
    }
    if (maxBytes >= 0 && out.n + len > static_cast<size_t>(maxBytes))
      break;
    out.put(bytes, len);
  }
}

void escapeByte(Sink& out, unsigned char b, char escape)
{
  out.put(escape);
  unsigned v = b;
  bool high = v >= 0x80;
  if (high) {
    out.put('M');
    v &= 0x7F;
  }
  if (v < 33 || (high ? v > 126 : v == 127)) {
    out.put('^');
    out.put(static_cast<char>(v ^ 64));
  } else {
    out.put('-');
    out.put(static_cast<char>(v));
  }
}

void escapeText(Sink& out, const char* s, char escape)
{
  while (*s) {
    const char* start = s;
    int cp = decodeNext(&s, nullptr);
    if (cp < 0) {
      for (const char* b = start; b < s; b++)
        escapeByte(out, *b, escape);
    } else if (cp >= 0x80) {
      out.put(start, s - start);
    } else if (cp == static_cast<unsigned char>(escape)) {
      out.put(escape);
      out.put(escape);
    } else if (cp < 32 || cp == 127) {
      out.put(escape);
      out.put('^');
      out.put(static_cast<char>(cp ^ 64));
    } else {
      out.put(static_cast<char>(cp));
    }
  }
}

// Latin-1 bytes of the text; returns the count. out may be null to count.
int toLatin1(const char* s, int len, unsigned char* out)
{
  const char* end = len < 0 ? nullptr : s + len;
  size_t n = 0;
  while ((!end || s < end) && *s) {
    int cp = decodeNext(&s, end);
    unsigned char b;
    if (cp == 0x20AC)
      b = 0x80;
    else if (cp >= 0 && cp < 256)
      b = static_cast<unsigned char>(cp);
    else
      b = '?';
    if (out)
      out[n] = b;
    n++;
  }
  return checkedLength(n);
}

// UTF-8 bytes of the Latin-1 text; returns the count. out may be null to
// count.
int fromLatin1(const unsigned char* s, int len, unsigned char* out)
{
  size_t n = 0;
  for (size_t i = 0; (len < 0 || i < static_cast<size_t>(len)) && s[i]; i++) {
    unsigned cp = s[i] == 0x80 ? 0x20AC : s[i];
    char tmp[4];
    char* t = tmp;
    utf8Encode(cp, &t);
    if (out)
      memcpy(out + n, tmp, t - tmp);
    n += t - tmp;
  }
  return checkedLength(n);
}

// The converters above run twice: once to count, once to fill.
template <typename Char> using Converter = int (*)(const Char*, int, unsigned char*);

template <typename Char>
void convertToString(Converter<Char> convert, String& out, const Char* s, int len, int* outLen)
{
  int n = s ? convert(s, len, nullptr) : 0;
  char* buf = new char[n + 1];
  if (n)
    convert(s, len, reinterpret_cast<unsigned char*>(buf));
  buf[n] = 0;
  out.reset(buf);
  if (outLen)
    *outLen = n;
}

template <typename Char>
MBuf<unsigned char> convertToBuf(Converter<Char> convert, const Char* s, int len)
{
  MBuf<unsigned char> buf(s ? convert(s, len, nullptr) : 0);
  if (buf.length())
    convert(s, len, buf.data());
  return buf;
}

} // namespace

int utf8DecodeRest(int leadByte, const char** p, int available)
{
  // Callers pass the byte either as unsigned or as a plain (signed) char.
  return decodeRest(static_cast<unsigned>(leadByte) & 0xFF, p, available);
}

void utf8Encode(unsigned cp, char** p)
{
  unsigned char* q = reinterpret_cast<unsigned char*>(*p);
  if (cp < 0x80) {
    *q++ = cp;
  } else if (cp < 0x800) {
    *q++ = 0xC0 | cp >> 6;
    *q++ = 0x80 | (cp & 0x3F);
  } else if (cp < 0x10000) {
    *q++ = 0xE0 | cp >> 12;
    *q++ = 0x80 | (cp >> 6 & 0x3F);
    *q++ = 0x80 | (cp & 0x3F);
  } else if (cp <= 0x10FFFF) {
    *q++ = 0xF0 | cp >> 18;
    *q++ = 0x80 | (cp >> 12 & 0x3F);
    *q++ = 0x80 | (cp >> 6 & 0x3F);
    *q++ = 0x80 | (cp & 0x3F);
  } else {
    throw Exception("Unicode out of range");
  }
  *p = reinterpret_cast<char*>(q);
}

void utf8Back(const char** p, const char* begin)
{
  const char* q = *p;
  if (begin && q <= begin)
    return;
  q--;
  for (int steps = 1; isCont(*q) && (begin ? q > begin : steps < 4); steps++)
    q--;
  *p = q;
}

bool isValidUtf8(const char* s, const char* end)
{
  if (!s)
    return true;
  if (!end)
    end = s + strlen(s); // a NUL never occurs inside a sequence
  while (s < end) {
    unsigned char c = *s++;
    if (c < 0x80) {
      // Most text is ASCII: skip runs of it a word at a time.
      while (end - s >= 8) {
        uint64_t w;
        memcpy(&w, s, 8);
        if (w & 0x8080808080808080ull)
          break;
        s += 8;
      }
    } else if (decodeRest(c, &s, end - s + 1) < 0) {
      return false;
    }
  }
  return true;
}

String utf8Sanitise(const char* s, const char* end, int maxBytes)
{
  if (!s)
    return String("");
  return buildString([&](Sink& out) { sanitise(out, s, end, maxBytes); });
}

void utf8AlignRange(const char* s, int* pos, int* len)
{
  int n = strLen(s);
  int p = *pos < 0 ? 0 : (*pos > n ? n : *pos);
  int l = 0;
  if (len)
    l = *len < 0 ? n - p : *len;
  while (p < n && isCont(s[p])) {
    p++;
    l--;
  }
  *pos = p;
  if (!len)
    return;
  if (l < 0)
    l = 0;
  if (l > n - p)
    l = n - p;
  while (p + l < n && isCont(s[p + l]))
    l++;
  *len = l;
}

int utf8DisplayWidth(const char* s, const char* end)
{
  if (!s)
    return 0;
  int width = 0;
  while ((!end || s < end) && *s) {
    int cp = decodeNext(&s, end);
    if (cp < 0)
      break;
    int w = wcwidth(static_cast<wchar_t>(cp));
    width += w < 0 ? 1 : w;
  }
  return width;
}

void utf8ToLatin1(String& out, const char* s, int len, int* outLen)
{
  convertToString(toLatin1, out, s, len, outLen);
}

MBuf<unsigned char> utf8ToLatin1Buf(int len, const char* s)
{
  return convertToBuf(toLatin1, s, len);
}

void latin1ToUtf8(String& out, const unsigned char* s, int len, int* outLen)
{
  convertToString(fromLatin1, out, s, len, outLen);
}

MBuf<unsigned char> latin1ToUtf8Buf(int len, const unsigned char* s)
{
  return convertToBuf(fromLatin1, s, len);
}

String escapeControlChars(const char* s, char escape)
{
  if (!s)
    return String("");
  return buildString([&](Sink& out) { escapeText(out, s, escape); });
}

// With the debugging flag set, bad text is a fatal assertion so that the
// stack trace shows where it was made.
static void assertIfRequested(const char* message)
{
  if (!badUtf8Assert)
    return;
  PLAT_FAIL_FMT("0", "%s", message);
}

BadUtf8::BadUtf8(const char* message) : Exception(message)
{
  assertIfRequested(str());
}

BadUtf8::BadUtf8(int, const char* fmt, ...) : Exception()
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  assertIfRequested(str());
}

} // namespace plat
