#include "rdr/BufferedOutStream.h"

#include <string.h>

#include <algorithm>

#include "plat/MBuf.h"
#include "plat/encodings.h"
#include "rdr/Exception.h"
#include "rdr/window.h"

namespace rdr {

plat::IntParameter MaxOutBufferSize(
    "MaxOutBufferSize",
    "The maximum number of bytes to buffer internally when writing to slow connections.  "
    "Larger values improve concurrency, smaller values reduce memory usage.  Changes to this "
    "setting affect new connections only.",
    134217728, plat::ParamLevel::kBasic, nullptr, 16384, 2147483647);

BufferedOutStream::BufferedOutStream(int size, int maxSize)
{
  bufSize_ = size < 0 ? kDefaultBufSize : size;
  maxBufSize_ = std::max(maxSize < 0 ? MaxOutBufferSize.getValue() : maxSize, bufSize_);
  start_ = bufSize_ > 0 ? new uint8_t[bufSize_] : nullptr;
  ptr_ = sent_ = start_;
  setEnd(1);
}

BufferedOutStream::~BufferedOutStream()
{
  if (secure_ && start_)
    plat::secureZero(start_, bufSize_);
  delete[] start_;
}

void BufferedOutStream::setEnd(int itemSize)
{
  int64_t used = ptr_ - start_;
  end_ = start_ + std::min<int64_t>(used + std::max(window_, itemSize), bufSize_);
}

void BufferedOutStream::setWriteBatch(int bytes)
{
  window_ = std::max(bytes, (int)kWindow);
  maxBufSize_ = std::max(maxBufSize_, window_);
  if (bufSize_ < window_)
    grow(window_);
  setEnd(1);
}

void BufferedOutStream::restartIfEmpty()
{
  if (sent_ != ptr_)
    return;
  offset_ += ptr_ - start_;
  sent_ = ptr_ = start_;
}

void BufferedOutStream::compact()
{
  ptrdiff_t dropped = slideToStart(start_, sent_, ptr_, offset_, ptr_);
  // The tail still holds a copy of the moved bytes.
  if (secure_ && dropped)
    plat::secureZero(ptr_, dropped);
}

void BufferedOutStream::grow(int newSize)
{
  uint8_t* nbuf = new uint8_t[newSize];
  ptrdiff_t unsent = ptr_ - sent_;
  memcpy(nbuf, sent_, unsent);
  offset_ += sent_ - start_;
  if (secure_)
    plat::secureZero(start_, bufSize_);
  delete[] start_;
  start_ = sent_ = nbuf;
  ptr_ = nbuf + unsent;
  end_ = ptr_;
  bufSize_ = newSize;
}

void BufferedOutStream::discardBuffer()
{
  if (secure_)
    plat::secureZero(sent_, ptr_ - sent_);
  ptr_ = sent_;
  restartIfEmpty();
  setEnd(1);
}

int BufferedOutStream::writeOutTraced(bool wait)
{
  int n = writeOut(sent_, (int)(ptr_ - sent_), wait);
  if (n > 0) {
    if (trace_) {
      plat::MBuf<unsigned char> block(sent_, n);
      plat::hexDump(block, " --> ", " --> ");
    }
    if (secure_)
      plat::secureZero(sent_, n);
    sent_ += n;
  }
  return n;
}

int BufferedOutStream::overrun(int itemSize, int nItems)
{
  if (bufSize_ == 0)
    throw OutStreamFull();
  if (itemSize > maxBufSize_)
    throw plat::Exception("BufferedOutStream overrun: buffer size exceeded");
  itemSize = std::max(itemSize, 1);

  while (sent_ < ptr_ && writeOutTraced(false) > 0) {
  }
  restartIfEmpty();

  while (bufSize_ - (ptr_ - sent_) < itemSize) {
    if (bufSize_ < maxBufSize_) {
      // 64-bit so that doubling near the largest sizes clamps, not wraps.
      grow((int)std::min<int64_t>(maxBufSize_, 2 * (int64_t)bufSize_));
    } else {
      if (writeOutTraced(true) == 0)
        throw plat::Exception("BufferedOutStream overrun: unable to write");
      restartIfEmpty();
    }
  }
  compact();
  // The window must hold the item even when it is wider than the usual
  // slice; free space of itemSize was made above.
  setEnd(itemSize);
  return std::min<int64_t>(nItems, (end_ - ptr_) / itemSize);
}

void BufferedOutStream::flush()
{
  flushBuffer(blockingFlush_);
}

bool BufferedOutStream::flushBuffer(bool wait)
{
  if (!writeOutSome(wait))
    return false;
  restartIfEmpty();
  setEnd(1);
  return true;
}

bool BufferedOutStream::writeOutSome(bool wait)
{
  while (sent_ < ptr_) {
    if (writeOutTraced(wait) == 0)
      return false;
  }
  return true;
}

bool BufferedOutStream::writeOutOnce(bool wait)
{
  if (sent_ == ptr_)
    return true;
  return writeOutTraced(wait) > 0;
}

BufferedNBOutStream::BufferedNBOutStream(int size)
    : BufferedOutStream(size < 0 ? kDefaultBufSize : size, size < 0 ? kDefaultBufSize : size)
{
}

void BufferedLazyOutStream::setLazy(bool lazy)
{
  blockingFlush_ = !lazy;
  flushBuffer(!lazy);
}

void NullOutStream::writeBytes(const void*, int len)
{
  if (len > 0)
    offset_ += len;
}

int NullOutStream::writeOut(const uint8_t*, int len, bool)
{
  return len;
}

} // namespace rdr
