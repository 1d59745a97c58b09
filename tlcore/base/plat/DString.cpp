#include "plat/DString.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "plat/Exception.h"
#include "plat/utf8.h"

namespace plat {

namespace {

// Growth never throws: callers build texts in destructors and handlers.
[[noreturn]] void outOfMemory(int64_t bytes)
{
  fprintf(stderr, "DString: out of memory (%lld bytes)\n", (long long)bytes);
  abort();
}

int capacityFor(int n)
{
  if (n < 8)
    return 8;
  if (n > (1 << 30))
    return INT_MAX; // the next power of two does not fit the capacity field
  int c = 8;
  while (c < n)
    c <<= 1;
  return c;
}

// A byte count the capacity field can hold, or the end of the process.
int checkedSize(int64_t n)
{
  if (n > INT_MAX)
    outOfMemory(n);
  return (int)n;
}

} // namespace

DString::DString(const DString& other)
{
  *this = other;
}

DString::DString(DString&& other) noexcept : buf_(other.buf_), capacity_(other.capacity_)
{
  other.buf_ = nullptr;
  other.capacity_ = 0;
}

DString& DString::operator=(const DString& other)
{
  if (this == &other)
    return *this;
  delete[] buf_;
  buf_ = nullptr;
  capacity_ = 0;
  if (other.buf_) {
    reserve(other.capacity_);
    memcpy(buf_, other.buf_, strlen(other.buf_) + 1);
  }
  return *this;
}

DString& DString::operator=(DString&& other) noexcept
{
  if (this != &other) {
    delete[] buf_;
    buf_ = other.buf_;
    capacity_ = other.capacity_;
    other.buf_ = nullptr;
    other.capacity_ = 0;
  }
  return *this;
}

DString::~DString()
{
  delete[] buf_;
}

DString DString::format(const char* fmt, ...)
{
  DString d;
  va_list ap;
  va_start(ap, fmt);
  d.vappendf(fmt, ap);
  va_end(ap);
  return d;
}

void DString::reserve(int n)
{
  if (n <= 0 || (buf_ && capacity_ >= n))
    return;
  int cap = capacityFor(n);
  char* nbuf = new (std::nothrow) char[cap];
  if (!nbuf)
    outOfMemory(cap);
  if (buf_) {
    memcpy(nbuf, buf_, capacity_);
    delete[] buf_;
  } else {
    nbuf[0] = 0;
  }
  buf_ = nbuf;
  capacity_ = cap;
}

int DString::length() const
{
  return buf_ ? (int)strlen(buf_) : 0;
}

DString& DString::append(const char* s, int len)
{
  if (!s)
    return *this;
  int n = strnLen(s, len);
  int l = length();
  bool alias = inBuf(s);
  size_t offset = alias ? s - buf_ : 0;
  reserve(checkedSize((int64_t)l + n + 1));
  if (alias)
    s = buf_ + offset;
  memmove(buf_ + l, s, n);
  buf_[l + n] = 0;
  return *this;
}

DString& DString::appendf(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vappendf(fmt, ap);
  va_end(ap);
  return *this;
}

DString& DString::vappendf(const char* fmt, va_list ap)
{
  if (!fmt)
    fmt = "";
  int l = length();
  int64_t estimate = strlen(fmt);
  bool failedOnce = false;
  for (;;) {
    int64_t want = l + 1 + estimate;
    if (want > INT_MAX) {
      truncate(l);
      throw SystemException("vsnprintf", EOVERFLOW);
    }
    reserve((int)want);
    int room = capacity_ - l;
    va_list aq;
    va_copy(aq, ap);
    errno = 0;
    int n = vsnprintf(buf_ + l, room, fmt, aq);
    int err = errno;
    va_end(aq);
    if (n >= 0 && n < room)
      return *this;
    buf_[l] = 0;
    if (n >= 0) {
      estimate = n;
      continue;
    }
    // A negative result is an encoding or overflow error, not a lack of
    // room: doubling for ever would only exhaust memory.
    if (failedOnce)
      throw SystemException("vsnprintf", err ? err : EOVERFLOW);
    failedOnce = true;
    estimate *= 2;
  }
}

DString& DString::appendChar(unsigned codePoint, int count)
{
  if (count < 1)
    return *this;
  char enc[8];
  enc[0] = 0;
  strCatChar(enc, sizeof(enc), codePoint, 1);
  int encLen = (int)strlen(enc);
  int l = length();
  reserve(checkedSize((int64_t)l + (int64_t)count * encLen + 1));
  char* p = buf_ + l;
  for (int i = 0; i < count; i++, p += encLen)
    memcpy(p, enc, encLen);
  *p = 0;
  return *this;
}

DString& DString::appendReplacing(const char* text, const char* find, const char* replacement)
{
  int findLen = strLen(find);
  PLAT_ASSERT(findLen);
  if (!text)
    return *this;
  // Growing the buffer would free arguments that point into it.
  String textCopy, findCopy, replacementCopy;
  if (inBuf(text) || inBuf(find) || inBuf(replacement)) {
    textCopy = String(text);
    findCopy = String(find);
    replacementCopy = String(replacement);
    text = textCopy.get();
    find = findCopy.get();
    replacement = replacementCopy.get();
  }
  const char* p = text;
  while (const char* hit = strstr(p, find)) {
    append(p, (int)(hit - p));
    append(replacement);
    p = hit + findLen;
  }
  append(p);
  return *this;
}

void DString::replace(int start, int end, const char* s, int len)
{
  int l = length();
  if (start < 0 || start > end || end > l)
    return;
  int n = strnLen(s, len);
  if (!buf_ && n == 0)
    return;
  String copy;
  if (inBuf(s)) {
    copy = String(s, n);
    s = copy.get();
  }
  reserve(checkedSize((int64_t)l - (end - start) + n + 1));
  memmove(buf_ + start + n, buf_ + end, l - end + 1);
  if (n > 0)
    memcpy(buf_ + start, s, n);
}

void DString::replaceAll(const char* find, const char* replacement)
{
  if (!buf_)
    return;
  char* old = buf_;
  int cap = capacity_;
  buf_ = nullptr;
  capacity_ = 0;
  reserve(cap);
  appendReplacing(old, find, replacement);
  delete[] old;
}

void DString::truncate(int length)
{
  if (!buf_)
    return;
  if (length < 0)
    length = 0;
  if ((size_t)length < strnlen(buf_, (size_t)length + 1))
    buf_[length] = 0;
}

bool DString::makeValidUtf8()
{
  if (!buf_ || isValidUtf8(buf_, nullptr))
    return false;
  String fixed = utf8Sanitise(buf_, nullptr, -1);
  if (fixed.isNull())
    fixed = String("");
  int len = fixed.length();
  delete[] buf_;
  buf_ = fixed.release();
  capacity_ = len + 1;
  return true;
}

char* DString::takeBuf()
{
  char* b = buf_;
  buf_ = nullptr;
  capacity_ = 0;
  return b;
}

void DString::adoptBuf(char* buf, int capacity)
{
  if (buf != buf_)
    delete[] buf_;
  buf_ = buf;
  capacity_ = buf ? capacity : 0;
}

} // namespace plat
