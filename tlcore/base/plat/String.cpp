#include "plat/String.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "plat/DString.h"

namespace plat {

namespace {

bool isBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isContinuation(unsigned char c)
{
  return (c & 0xc0) == 0x80;
}

// Cuts a partial UTF-8 sequence off the end of buf[0, end). Only the last
// four bytes are examined: a lead byte further back cannot start a sequence
// that reaches the end.
void dropPartialSequence(char* buf, int end)
{
  int i = end - 1;
  int lowest = end - 4 < 0 ? 0 : end - 4;
  while (i >= lowest && isContinuation(buf[i]))
    i--;
  if (i < lowest)
    return;
  unsigned char lead = buf[i];
  int seqLen = 0;
  while (seqLen < 8 && (lead & (0x80 >> seqLen)))
    seqLen++;
  if (seqLen >= 2 && seqLen <= 4 && i + seqLen > end)
    buf[i] = 0;
}

// The length of the text already in a fixed array; an array that holds no
// NUL is terminated at its last byte first.
int fixedLength(char* buf, int size)
{
  int len = (int)strnlen(buf, size);
  if (len >= size) {
    len = size - 1;
    buf[len] = 0;
  }
  return len;
}

int encodeUtf8(unsigned cp, char* out)
{
  if (cp > 0x10ffff)
    cp = 0xfffd;
  if (cp < 0x80) {
    out[0] = (char)cp;
    return 1;
  }
  if (cp < 0x800) {
    out[0] = (char)(0xc0 | (cp >> 6));
    out[1] = (char)(0x80 | (cp & 0x3f));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = (char)(0xe0 | (cp >> 12));
    out[1] = (char)(0x80 | ((cp >> 6) & 0x3f));
    out[2] = (char)(0x80 | (cp & 0x3f));
    return 3;
  }
  out[0] = (char)(0xf0 | (cp >> 18));
  out[1] = (char)(0x80 | ((cp >> 12) & 0x3f));
  out[2] = (char)(0x80 | ((cp >> 6) & 0x3f));
  out[3] = (char)(0x80 | (cp & 0x3f));
  return 4;
}

} // namespace

// --- Functions on NUL-terminated character arrays ------------------------

char* strDup(const char* s, int len)
{
  if (!s)
    return nullptr;
  int n = strnLen(s, len);
  char* r = new char[n + 1];
  memcpy(r, s, n);
  r[n] = 0;
  return r;
}

char* strDupMalloc(const char* s)
{
  if (!s)
    return nullptr;
  char* r = strdup(s);
  if (!r)
    throw std::bad_alloc();
  return r;
}

int strLen(const char* s)
{
  return s ? (int)strlen(s) : 0;
}

int strnLen(const char* s, int max)
{
  if (!s || max == 0)
    return 0;
  if (max < 0)
    return (int)strlen(s);
  return (int)strnlen(s, max);
}

int strCopy(char* target, const char* source, int size)
{
  int len = strLen(source);
  if (size <= 0)
    return len;
  int n = len < size - 1 ? len : size - 1;
  if (n > 0)
    memmove(target, source, n);
  target[n] = 0;
  return len;
}

int strCmpNull(const char* a, const char* b)
{
  if (!a || !b)
    return a == b ? 0 : a ? 1 : -1;
  // strcmp already compares as unsigned char.
  int r = strcmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

void strReplace(const char*& slot, const char* value)
{
  if (strCmpNull(slot, value) == 0)
    return;
  delete[] slot;
  slot = strDup(value);
}

namespace {

// Prefix and suffix tests with one comparison of n bytes (case-sensitive or
// not); a null prefix or suffix matches everything.
template <int (*Cmp)(const char*, const char*, size_t)>
bool startsWith(const char* s, const char* prefix)
{
  if (!prefix)
    return true;
  size_t n = strlen(prefix);
  if (!s)
    return n == 0;
  return Cmp(s, prefix, n) == 0;
}

template <int (*Cmp)(const char*, const char*, size_t)>
bool endsWith(const char* s, const char* suffix)
{
  if (!suffix)
    return true;
  size_t n = strlen(suffix);
  size_t len = s ? strlen(s) : 0;
  if (n > len)
    return false;
  return n == 0 || Cmp(s + len - n, suffix, n) == 0;
}

} // namespace

bool strStartsWith(const char* s, const char* prefix)
{
  return startsWith<strncmp>(s, prefix);
}

bool strEndsWith(const char* s, const char* suffix)
{
  return endsWith<strncmp>(s, suffix);
}

bool strStartsWithNoCase(const char* s, const char* prefix)
{
  return startsWith<strncasecmp>(s, prefix);
}

bool strEndsWithNoCase(const char* s, const char* suffix)
{
  return endsWith<strncasecmp>(s, suffix);
}

const char* strCaseStr(const char* haystack, const char* needle)
{
  if (!haystack || !needle || !*needle)
    return haystack;
  return strcasestr(haystack, needle);
}

bool strHasCharBefore(const char* s, const char* end, char c)
{
  if (!s)
    return false;
  for (const char* p = s; (!end || p < end) && *p; p++) {
    if (*p == c)
      return true;
  }
  return false;
}

void strTrimLeft(char* s)
{
  if (!s)
    return;
  char* p = s;
  while (isBlank(*p))
    p++;
  if (p != s)
    memmove(s, p, strlen(p) + 1);
}

void strTrimRight(char* s)
{
  if (!s)
    return;
  size_t n = strlen(s);
  while (n > 0 && isBlank(s[n - 1]))
    n--;
  s[n] = 0;
}

bool strHasNonBlank(const char* s)
{
  if (!s)
    return false;
  for (; *s; s++) {
    if (!isBlank(*s))
      return true;
  }
  return false;
}

void strRemoveChars(char* s, const char* set)
{
  if (!s || !set || !*set)
    return;
  char* out = s;
  for (const char* p = s; *p; p++) {
    if (!strchr(set, *p))
      *out++ = *p;
  }
  *out = 0;
}

namespace {

// The common tail of the tokenisers: token starts at s; sep (or null) is
// where the separator of sepLen bytes begins; skip (or null) steps over a
// run of further separators.
char* cutToken(char** cursor, char* s, char* sep, size_t sepLen,
               size_t (*skip)(const char*, const void*), const void* skipArg)
{
  if (!sep) {
    *cursor = nullptr;
    return s;
  }
  *sep = 0;
  char* next = sep + sepLen;
  if (skip) {
    next += skip(next, skipArg);
    if (!*next)
      next = nullptr;
  }
  *cursor = next;
  return s;
}

size_t skipChar(const char* s, const void* arg)
{
  char c = *(const char*)arg;
  size_t n = 0;
  while (s[n] == c)
    n++;
  return n;
}

size_t skipAny(const char* s, const void* arg)
{
  return strspn(s, (const char*)arg);
}

size_t skipStr(const char* s, const void* arg)
{
  const char* sep = (const char*)arg;
  size_t len = strlen(sep);
  size_t n = 0;
  while (strncmp(s + n, sep, len) == 0)
    n += len;
  return n;
}

} // namespace

char* strTok(char** cursor, char separator, bool skipRepeats)
{
  if (!cursor || !*cursor)
    return nullptr;
  char* s = *cursor;
  if (skipRepeats && separator) {
    s += skipChar(s, &separator);
    if (!*s) {
      *cursor = nullptr;
      return nullptr;
    }
  }
  char* sep = separator ? strchr(s, separator) : nullptr;
  return cutToken(cursor, s, sep, 1, skipRepeats ? skipChar : nullptr, &separator);
}

char* strTokAny(char** cursor, const char* separators, char* found, bool skipRepeats)
{
  if (found)
    *found = 0;
  if (!cursor || !*cursor)
    return nullptr;
  if (!separators)
    separators = "";
  char* s = *cursor;
  if (skipRepeats) {
    s += strspn(s, separators);
    if (!*s) {
      *cursor = nullptr;
      return nullptr;
    }
  }
  char* sep = strpbrk(s, separators);
  if (sep && found)
    *found = *sep;
  return cutToken(cursor, s, sep, 1, skipRepeats ? skipAny : nullptr, separators);
}

char* strTokStr(char** cursor, const char* separator, bool skipRepeats)
{
  if (!cursor || !*cursor)
    return nullptr;
  char* s = *cursor;
  // An empty separator would match everywhere; the rest is one token.
  bool usable = separator && *separator;
  if (skipRepeats && usable) {
    s += skipStr(s, separator);
    if (!*s) {
      *cursor = nullptr;
      return nullptr;
    }
  }
  char* sep = usable ? strstr(s, separator) : nullptr;
  return cutToken(cursor, s, sep, usable ? strlen(separator) : 0, skipRepeats ? skipStr : nullptr,
                  separator);
}

char* strSplitLast(char** cursor, char c)
{
  if (!cursor || !*cursor)
    return nullptr;
  char* s = *cursor;
  char* p = c ? strrchr(s, c) : nullptr;
  if (!p) {
    *cursor = nullptr;
    return s;
  }
  *p = 0;
  return p + 1;
}

uint64_t fnv1aHash(const char* s)
{
  uint64_t h = 0xcbf29ce484222325ull;
  if (!s)
    return h;
  for (; *s; s++) {
    h ^= (uint64_t)(int64_t)(signed char)*s;
    h *= 0x100000001b3ull;
  }
  return h;
}

void secureZero(void* p, size_t n)
{
  if (p && n)
    explicit_bzero(p, n);
}

bool secureEqual(const void* a, const void* b, size_t n)
{
  const volatile unsigned char* x = (const volatile unsigned char*)a;
  const volatile unsigned char* y = (const volatile unsigned char*)b;
  unsigned char diff = 0;
  for (size_t i = 0; i < n; i++)
    diff |= x[i] ^ y[i];
  return diff == 0;
}

void secureCopy(void* target, const void* source, size_t n)
{
  volatile unsigned char* t = (volatile unsigned char*)target;
  const volatile unsigned char* s = (const volatile unsigned char*)source;
  for (size_t i = 0; i < n; i++)
    t[i] = s[i];
}

// --- Bounded formatting into fixed arrays ---------------------------------

char* strCatVFormat(char* buf, int size, const char* fmt, va_list ap)
{
  if (!buf || size <= 0)
    return buf;
  int len = fixedLength(buf, size);
  if (!fmt)
    return buf;
  int room = size - len;
  va_list aq;
  va_copy(aq, ap);
  int n = vsnprintf(buf + len, room, fmt, aq);
  va_end(aq);
  if (n < 0) {
    buf[len] = 0;
  } else if (n >= room) {
    dropPartialSequence(buf, size - 1);
  }
  buf[size - 1] = 0;
  return buf;
}

char* strCatFormat(char* buf, int size, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  strCatVFormat(buf, size, fmt, ap);
  va_end(ap);
  return buf;
}

char* strCat(char* buf, int size, const char* s, int len)
{
  if (!buf || size <= 0)
    return buf;
  int cur = fixedLength(buf, size);
  int n = strnLen(s, len);
  int room = size - cur - 1;
  if (n <= room) {
    if (n > 0)
      memmove(buf + cur, s, n);
    buf[cur + n] = 0;
    return buf;
  }
  memmove(buf + cur, s, room);
  buf[size - 1] = 0;
  dropPartialSequence(buf, size - 1);
  return buf;
}

char* strCatChar(char* buf, int size, unsigned codePoint, int count)
{
  if (!buf || size <= 0)
    return buf;
  int cur = fixedLength(buf, size);
  char enc[4];
  int encLen = encodeUtf8(codePoint, enc);
  int fits = (size - cur - 1) / encLen;
  if (count > fits)
    count = fits;
  for (int i = 0; i < count; i++) {
    memcpy(buf + cur, enc, encLen);
    cur += encLen;
  }
  buf[cur] = 0;
  return buf;
}

// --- String --------------------------------------------------------------

namespace detail {

void freeText(char* buf)
{
  delete[] buf;
}

void wipeAndFreeText(char* buf)
{
  if (buf) {
    secureZero(buf, strlen(buf));
    delete[] buf;
  }
}

} // namespace detail

String String::adopt(char* buf)
{
  String s;
  s.buf_ = buf;
  return s;
}

String& String::toUpper()
{
  for (char* p = buf_; p && *p; p++)
    *p = (char)toupper((unsigned char)*p);
  return *this;
}

String& String::toLower()
{
  for (char* p = buf_; p && *p; p++)
    *p = (char)tolower((unsigned char)*p);
  return *this;
}

String& String::toUpperAscii()
{
  for (char* p = buf_; p && *p; p++) {
    if (*p >= 'a' && *p <= 'z')
      *p = (char)(*p - 'a' + 'A');
  }
  return *this;
}

String& String::toLowerAscii()
{
  for (char* p = buf_; p && *p; p++) {
    if (*p >= 'A' && *p <= 'Z')
      *p = (char)(*p - 'A' + 'a');
  }
  return *this;
}

String String::insertEvery(char sep, int n) const
{
  if (!buf_ || n <= 0)
    return *this;
  int len = length();
  char* out = new char[len + (len - 1) / n + 1];
  char* p = out;
  for (int i = 0; i < len; i++) {
    if (i > 0 && i % n == 0)
      *p++ = sep;
    *p++ = buf_[i];
  }
  *p = 0;
  return adopt(out);
}

bool operator==(const String& a, const String& b)
{
  return strCmpNull(a.get(), b.get()) == 0;
}

String format(const char* fmt, ...)
{
  DString d;
  va_list ap;
  va_start(ap, fmt);
  d.vappendf(fmt, ap);
  va_end(ap);
  return d.takeString();
}

// --- SecureString ----------------------------------------------------------

void SecureString::assign(const char* s, int len)
{
  // Copy first: s may point into the text being wiped.
  reset(strDup(s, len));
}

// --- StringVector ----------------------------------------------------------

StringVector::StringVector(const StringVector& other)
{
  v_.reserve(other.v_.size());
  for (const char* s : other.v_)
    v_.push_back(strDup(s));
}

StringVector& StringVector::operator=(const StringVector& other)
{
  if (this != &other) {
    StringVector copy(other);
    *this = std::move(copy);
  }
  return *this;
}

StringVector::StringVector(StringVector&& other) noexcept : v_(std::move(other.v_))
{
  other.v_.clear();
}

StringVector& StringVector::operator=(StringVector&& other) noexcept
{
  if (this != &other) {
    clear();
    v_.swap(other.v_);
  }
  return *this;
}

StringVector::~StringVector()
{
  clear();
}

void StringVector::push_back(const char* s)
{
  String copy(s);
  v_.push_back(copy.data());
  copy.release();
}

void StringVector::addUnique(const char* s)
{
  for (const char* e : v_) {
    if (strCmpNull(e, s) == 0)
      return;
  }
  push_back(s);
}

void StringVector::clear()
{
  for (char* s : v_)
    delete[] s;
  v_.clear();
}

std::vector<char*> StringVector::argv() const
{
  std::vector<char*> r(v_);
  r.push_back(nullptr);
  return r;
}

// --- StringSet and joining -------------------------------------------------

StringSet::StringSet(const char* list, char separator)
{
  if (!list)
    return;
  const char* start = list;
  for (;;) {
    const char* p = separator ? strchr(start, separator) : nullptr;
    if (!p) {
      emplace(start);
      return;
    }
    emplace(start, (int)(p - start));
    start = p + 1;
  }
}

DString& joinStrings(DString& out, StringSet::const_iterator first, StringSet::const_iterator last,
                     const char* sep)
{
  bool isFirst = true;
  for (; first != last; ++first) {
    if (!isFirst && out.length() > 0)
      out.append(sep);
    out.append(first->get());
    isFirst = false;
  }
  return out;
}

// --- Word wrapping ---------------------------------------------------------

void wordWrap(String& s, int width, int indent)
{
  if (s.isNull())
    return;
  DString out;
  out.reserve(s.length() + 1);
  int column = 0;
  int pending = 0;
  const char* p = s.get();
  while (*p) {
    if (*p == ' ') {
      pending++;
      p++;
      continue;
    }
    if (*p == '\n') {
      out.append("\n", 1);
      column = 0;
      pending = 0;
      p++;
      continue;
    }
    const char* word = p;
    int wordWidth = 0;
    for (; *p && *p != ' ' && *p != '\n'; p++) {
      if (!isContinuation(*p))
        wordWidth++;
    }
    if (column == 0 || column + pending + wordWidth <= width) {
      out.appendChar(' ', pending);
      column += pending + wordWidth;
    } else {
      out.append("\n", 1);
      out.appendChar(' ', indent);
      column = indent + wordWidth;
    }
    out.append(word, (int)(p - word));
    pending = 0;
  }
  s = out.takeString();
}

} // namespace plat
