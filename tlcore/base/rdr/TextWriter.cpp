#include "rdr/TextWriter.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "plat/String.h"
#include "plat/utf8.h"

namespace rdr {

void TextWriter::terminate()
{
  if (os_->getPtr() >= os_->getEnd())
    os_->overrun(1, 1);
  *os_->getPtr() = 0;
}

void TextWriter::write(const char* s, int len)
{
  os_->writeBytes(s, plat::strnLen(s, len));
  terminate();
}

void TextWriter::printf(const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  try {
    vprintf(fmt, ap);
  } catch (...) {
    va_end(ap);
    throw;
  }
  va_end(ap);
}

void TextWriter::vprintf(const char* fmt, va_list ap)
{
  // First in place. A negative result is an encoding or overflow error, not
  // a lack of room: it gets one more try and then is an error.
  int n = -1;
  int err = 0;
  for (int attempt = 0; attempt < 2 && n < 0; attempt++) {
    va_list aq;
    va_copy(aq, ap);
    errno = 0;
    n = vsnprintf((char*)os_->getPtr(), os_->nFree(), fmt, aq);
    err = errno;
    va_end(aq);
  }
  if (n < 0) {
    terminate();
    throw plat::SystemException("vsnprintf", err ? err : EOVERFLOW);
  }
  if (n < os_->nFree()) {
    os_->setPtr(os_->getPtr() + n);
    return;
  }
  // Too long for the window. A window may be bounded (a ring buffer, a
  // buffered stream's slice), so the text is formatted once more aside and
  // handed to writeBytes, which spans windows.
  char small[512];
  std::unique_ptr<char[]> big;
  char* tmp = small;
  if (n >= (int)sizeof(small)) {
    big.reset(new char[(size_t)n + 1]);
    tmp = big.get();
  }
  va_list aq;
  va_copy(aq, ap);
  errno = 0;
  int m = vsnprintf(tmp, (size_t)n + 1, fmt, aq);
  err = errno;
  va_end(aq);
  if (m < 0) {
    terminate();
    throw plat::SystemException("vsnprintf", err ? err : EOVERFLOW);
  }
  os_->writeBytes(tmp, std::min(m, n));
  terminate();
}

void TextWriter::writeRepeated(unsigned codePoint, int count)
{
  if (count < 1)
    return;
  char enc[4];
  int encLen = 1;
  if (codePoint < 128) {
    enc[0] = (char)codePoint;
  } else {
    char* p = enc;
    plat::utf8Encode(codePoint, &p);
    encLen = (int)(p - enc);
  }
  while (count > 0) {
    if (os_->nFree() < encLen)
      os_->overrun(encLen, count);
    int k = std::min(count, os_->nFree() / encLen);
    uint8_t* p = os_->getPtr();
    if (encLen == 1) {
      memset(p, enc[0], k);
    } else {
      for (int i = 0; i < k; i++)
        memcpy(p + (ptrdiff_t)i * encLen, enc, encLen);
    }
    os_->setPtr(p + (ptrdiff_t)k * encLen);
    count -= k;
  }
  terminate();
}

} // namespace rdr
