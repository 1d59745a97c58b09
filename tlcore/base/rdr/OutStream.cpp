#include "rdr/OutStream.h"

#include <string.h>

#include <algorithm>

#include "plat/String.h"

namespace rdr {

OutStream::~OutStream() = default;

void OutStream::writeBytes(const void* data, int len)
{
  const uint8_t* p = (const uint8_t*)data;
  while (len > 0) {
    if (ptr_ >= end_)
      overrun(1, len);
    int n = std::min(len, (int)(end_ - ptr_));
    memcpy(ptr_, p, n);
    ptr_ += n;
    p += n;
    len -= n;
  }
}

void OutStream::flush() {}

OutStream* OutStream::getBottomStream()
{
  return this;
}

int OutStream::bytesBuffered()
{
  OutStream* bottom = getBottomStream();
  return bottom == this ? 0 : bottom->bytesBuffered();
}

bool OutStream::closeWrite()
{
  return false;
}

void OutStream::setThrowErrors(bool) {}

void OutStream::writeString(const char* s, int len)
{
  int n = plat::strnLen(s, len);
  writeU32((uint32_t)n);
  writeBytes(s, n);
}

void OutStream::writeShortString(const char* s)
{
  int n = plat::strnLen(s, 255);
  writeU8((uint8_t)n);
  writeBytes(s, n);
}

void OutStream::skipBytes(int n)
{
  while (n > 0) {
    if (ptr_ >= end_)
      overrun(1, n);
    int k = std::min(n, (int)(end_ - ptr_));
    ptr_ += k;
    n -= k;
  }
}

} // namespace rdr
