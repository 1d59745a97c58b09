#include "rdr/MemOutStream.h"

#include <limits.h>
#include <string.h>

#include <algorithm>

#include "plat/String.h"
#include "rdr/Exception.h"

namespace rdr {

MemOutStream::MemOutStream(int initialSize, int maxLen_) : maxLen(maxLen_ > 0 ? maxLen_ : 0)
{
  capacity_ = initialSize < 0 ? 256 : initialSize;
  start = capacity_ > 0 ? new uint8_t[capacity_] : nullptr;
  ptr = start;
  setEnd();
}

MemOutStream::~MemOutStream()
{
  freeBuffer();
}

void MemOutStream::freeBuffer()
{
  if (start && secure_)
    plat::secureZero(start, capacity_);
  delete[] start;
  start = ptr = end = nullptr;
  capacity_ = 0;
}

void MemOutStream::setEnd()
{
  int window = maxLen > 0 ? std::min(capacity_, maxLen) : capacity_;
  // A cap set below what was written closes the window rather than putting
  // its end behind ptr.
  end = std::max(start + window, ptr);
}

void MemOutStream::setMaxLen(int m)
{
  maxLen = m > 0 ? m : 0;
  setEnd();
}

int MemOutStream::spaceAvailable()
{
  if (maxLen == 0)
    return INT_MAX;
  return (int)std::max<int64_t>(0, maxLen - length());
}

int MemOutStream::overrun(int itemSize, int nItems)
{
  if (itemSize < 1)
    itemSize = 1;
  if (nItems < 1)
    nItems = 1;
  int64_t len = ptr - start;
  if ((maxLen > 0 && len + itemSize > maxLen) || len + itemSize > INT_MAX)
    throw OutStreamFull();
  int64_t want = std::max(len + (int64_t)itemSize * nItems, 2 * (int64_t)capacity_);
  want = std::min<int64_t>(want, INT_MAX);
  if (maxLen > 0)
    want = std::min<int64_t>(want, maxLen);
  if (want > capacity_) {
    uint8_t* nbuf = new uint8_t[want];
    if (len > 0)
      memcpy(nbuf, start, len);
    if (start && secure_)
      plat::secureZero(start, capacity_);
    delete[] start;
    start = nbuf;
    ptr = start + len;
    capacity_ = (int)want;
  }
  setEnd();
  return (int)std::min<int64_t>(nItems, (end - ptr) / itemSize);
}

void MemOutStream::writeBytes(const void* data, int len)
{
  if (len <= 0)
    return;
  if (end - ptr < len)
    overrun(len, 1);
  memcpy(ptr, data, len);
  ptr += len;
}

void MemOutStream::nulTerminate()
{
  if (ptr > start && ptr[-1] == 0)
    return;
  if (maxLen > 0 && maxLen < INT_MAX) {
    maxLen++;
    setEnd();
  }
  writeU8(0);
}

uint8_t* MemOutStream::releaseData()
{
  uint8_t* data = start;
  start = ptr = end = nullptr;
  capacity_ = 0;
  return data;
}

void MemOutStream::releaseInto(plat::MBuf<unsigned char>& out)
{
  int len = (int)length();
  if (secure_)
    out.setSecure(true);
  out.adopt(releaseData(), len);
}

void MemOutStream::releaseString(plat::DString& out)
{
  nulTerminate();
  int cap = (int)(end - start);
  out.adoptBuf((char*)releaseData(), cap);
}

} // namespace rdr
