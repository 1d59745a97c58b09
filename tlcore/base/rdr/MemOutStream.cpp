#include "rdr/MemOutStream.h"

#include <limits.h>
#include <string.h>

#include <algorithm>

#include "plat/String.h"
#include "rdr/Exception.h"

namespace rdr {

MemOutStream::MemOutStream(int initialSize, int limit) : maxLen_(limit > 0 ? limit : 0)
{
  capacity_ = initialSize < 0 ? 256 : initialSize;
  start_ = capacity_ > 0 ? new uint8_t[capacity_] : nullptr;
  ptr_ = start_;
  setEnd();
}

MemOutStream::~MemOutStream()
{
  freeBuffer();
}

void MemOutStream::freeBuffer()
{
  if (start_ && secure_)
    plat::secureZero(start_, capacity_);
  delete[] start_;
  start_ = ptr_ = end_ = nullptr;
  capacity_ = 0;
}

void MemOutStream::setEnd()
{
  int window = maxLen_ > 0 ? std::min(capacity_, maxLen_) : capacity_;
  // A cap set below what was written closes the window rather than putting
  // its end behind ptr.
  end_ = std::max(start_ + window, ptr_);
}

void MemOutStream::setMaxLen(int m)
{
  maxLen_ = m > 0 ? m : 0;
  setEnd();
}

int MemOutStream::spaceAvailable()
{
  if (maxLen_ == 0)
    return INT_MAX;
  return (int)std::max<int64_t>(0, maxLen_ - length());
}

int MemOutStream::overrun(int itemSize, int nItems)
{
  if (itemSize < 1)
    itemSize = 1;
  if (nItems < 1)
    nItems = 1;
  int64_t len = ptr_ - start_;
  if ((maxLen_ > 0 && len + itemSize > maxLen_) || len + itemSize > INT_MAX)
    throw OutStreamFull();
  int64_t want = std::max(len + (int64_t)itemSize * nItems, 2 * (int64_t)capacity_);
  want = std::min<int64_t>(want, INT_MAX);
  if (maxLen_ > 0)
    want = std::min<int64_t>(want, maxLen_);
  if (want > capacity_) {
    uint8_t* nbuf = new uint8_t[want];
    if (len > 0)
      memcpy(nbuf, start_, len);
    if (start_ && secure_)
      plat::secureZero(start_, capacity_);
    delete[] start_;
    start_ = nbuf;
    ptr_ = start_ + len;
    capacity_ = (int)want;
  }
  setEnd();
  return (int)std::min<int64_t>(nItems, (end_ - ptr_) / itemSize);
}

void MemOutStream::writeBytes(const void* data, int len)
{
  if (len <= 0)
    return;
  if (end_ - ptr_ < len)
    overrun(len, 1);
  memcpy(ptr_, data, len);
  ptr_ += len;
}

void MemOutStream::nulTerminate()
{
  if (ptr_ > start_ && ptr_[-1] == 0)
    return;
  if (maxLen_ > 0 && maxLen_ < INT_MAX) {
    maxLen_++;
    setEnd();
  }
  writeU8(0);
}

uint8_t* MemOutStream::releaseData()
{
  uint8_t* data = start_;
  start_ = ptr_ = end_ = nullptr;
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
  int cap = (int)(end_ - start_);
  out.adoptBuf((char*)releaseData(), cap);
}

} // namespace rdr
