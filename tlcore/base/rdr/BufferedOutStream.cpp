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
    134217728, false, nullptr, 16384, 2147483647);

BufferedOutStream::BufferedOutStream(int size, int maxSize)
{
  bufSize = size < 0 ? kDefaultBufSize : size;
  maxBufSize = std::max(maxSize < 0 ? MaxOutBufferSize.getValue() : maxSize, bufSize);
  start = bufSize > 0 ? new uint8_t[bufSize] : nullptr;
  ptr = sent = start;
  setEnd(1);
}

BufferedOutStream::~BufferedOutStream()
{
  if (secure_ && start)
    plat::secureZero(start, bufSize);
  delete[] start;
}

void BufferedOutStream::setEnd(int itemSize)
{
  int64_t used = ptr - start;
  end = start + std::min<int64_t>(used + std::max(window_, itemSize), bufSize);
}

void BufferedOutStream::setWriteBatch(int bytes)
{
  window_ = std::max(bytes, (int)kWindow);
  maxBufSize = std::max(maxBufSize, window_);
  if (bufSize < window_)
    grow(window_);
  setEnd(1);
}

void BufferedOutStream::restartIfEmpty()
{
  if (sent != ptr)
    return;
  offset += ptr - start;
  sent = ptr = start;
}

void BufferedOutStream::compact()
{
  ptrdiff_t dropped = slideToStart(start, sent, ptr, offset, ptr);
  // The tail still holds a copy of the moved bytes.
  if (secure_ && dropped)
    plat::secureZero(ptr, dropped);
}

void BufferedOutStream::grow(int newSize)
{
  uint8_t* nbuf = new uint8_t[newSize];
  ptrdiff_t unsent = ptr - sent;
  memcpy(nbuf, sent, unsent);
  offset += sent - start;
  if (secure_)
    plat::secureZero(start, bufSize);
  delete[] start;
  start = sent = nbuf;
  ptr = nbuf + unsent;
  end = ptr;
  bufSize = newSize;
}

void BufferedOutStream::discardBuffer()
{
  if (secure_)
    plat::secureZero(sent, ptr - sent);
  ptr = sent;
  restartIfEmpty();
  setEnd(1);
}

int BufferedOutStream::writeOutTraced(bool wait)
{
  int n = writeOut(sent, (int)(ptr - sent), wait);
  if (n > 0) {
    if (trace) {
      plat::MBuf<unsigned char> block(sent, n);
      plat::hexDump(block, " --> ", " --> ");
    }
    if (secure_)
      plat::secureZero(sent, n);
    sent += n;
  }
  return n;
}

int BufferedOutStream::overrun(int itemSize, int nItems)
{
  if (bufSize == 0)
    throw OutStreamFull();
  if (itemSize > maxBufSize)
    throw plat::Exception("BufferedOutStream overrun: buffer size exceeded");
  itemSize = std::max(itemSize, 1);

  while (sent < ptr && writeOutTraced(false) > 0) {
  }
  restartIfEmpty();

  while (bufSize - (ptr - sent) < itemSize) {
    if (bufSize < maxBufSize) {
      // 64-bit so that doubling near the largest sizes clamps, not wraps.
      grow((int)std::min<int64_t>(maxBufSize, 2 * (int64_t)bufSize));
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
  return std::min<int64_t>(nItems, (end - ptr) / itemSize);
}

void BufferedOutStream::flush()
{
  flushBuffer(blockingFlush);
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
  while (sent < ptr) {
    if (writeOutTraced(wait) == 0)
      return false;
  }
  return true;
}

bool BufferedOutStream::writeOutOnce(bool wait)
{
  if (sent == ptr)
    return true;
  return writeOutTraced(wait) > 0;
}

BufferedNBOutStream::BufferedNBOutStream(int size)
    : BufferedOutStream(size < 0 ? kDefaultBufSize : size, size < 0 ? kDefaultBufSize : size)
{
}

void BufferedLazyOutStream::setLazy(bool lazy)
{
  blockingFlush = !lazy;
  flushBuffer(!lazy);
}

void NullOutStream::writeBytes(const void*, int len)
{
  if (len > 0)
    offset += len;
}

int NullOutStream::writeOut(const uint8_t*, int len, bool)
{
  return len;
}

} // namespace rdr
