#include "rdr/FramedOutStream.h"

#include <algorithm>

#include "rdr/Exception.h"

namespace rdr {

FramedOutStream::FramedOutStream(OutStream* underlying, int maxFrame, int hdrSize)
  : maxFrame(maxFrame), hdrSize(hdrSize), underlying(underlying)
{
}

void FramedOutStream::setUnderlying(OutStream* out)
{
  underlying = out;
  inMsg = false;
  inFrame = false;
  ptr = end = nullptr;
}

void FramedOutStream::openFrame(int room)
{
  PLAT_ASSERT(!inFrame);
  if (underlying->nFree() < hdrSize + room)
    underlying->overrun(hdrSize + room, 1);
  PLAT_ASSERT(underlying->nFree() >= hdrSize + room);
  // The header bytes are only skipped here; endFrame fills them in.
  ptr = underlying->getPtr() + hdrSize;
  end = ptr + std::min<ptrdiff_t>(underlying->getEnd() - ptr, maxFrame);
  inFrame = true;
}

void FramedOutStream::startMsg()
{
  if (inMsg)
    throw FrameException("FramedOutStream::startMsg: already in msg");
  PLAT_ASSERT(underlying);
  firstFrame = true;
  inMsg = true;
  openFrame(1);
}

void FramedOutStream::endFrame(bool last)
{
  if (!inFrame)
    throw FrameException("FramedOutStream::endFrame: not in frame");
  inFrame = false;
  uint8_t* start = underlying->getPtr();
  int len = (int)(ptr - start - hdrSize);
  if (len == 0 && !last) {
    // The reserved header bytes serve the next frame.
    ptr = end = start;
    return;
  }
  ptr = start;
  if (end - ptr < hdrSize)
    throw FrameException("FramedOutStream::endFrame: no space for header");
  writeHeader(len, last, firstFrame);
  PLAT_ASSERT(ptr == underlying->getPtr() + hdrSize);
  bytesWritten += len;
  underlying->setPtr(start + hdrSize + len);
  firstFrame = false;
  ptr = end = underlying->getPtr();
}

void FramedOutStream::endMsg(bool flush)
{
  if (!inFrame)
    throw FrameException("FramedOutStream::endMsg: not in frame");
  endFrame(true);
  inMsg = false;
  if (flush)
    underlying->flush();
  ptr = end = underlying->getPtr();
}

int64_t FramedOutStream::length()
{
  int64_t open = inMsg && inFrame ? ptr - underlying->getPtr() - hdrSize : 0;
  return bytesWritten + open;
}

void FramedOutStream::flush()
{
  if (inMsg)
    endFrame(false);
  if (underlying)
    underlying->flush();
  if (inMsg)
    openFrame(1);
}

OutStream* FramedOutStream::getBottomStream()
{
  return underlying ? underlying->getBottomStream() : this;
}

int FramedOutStream::spaceAvailable()
{
  return underlying ? std::max(0, underlying->spaceAvailable() - hdrSize) : 0;
}

bool FramedOutStream::closeWrite()
{
  return underlying && underlying->closeWrite();
}

int FramedOutStream::overrun(int itemSize, int nItems)
{
  endFrame(false);
  openFrame(itemSize);
  int fit = (int)((end - ptr) / itemSize);
  return std::min(nItems, fit);
}

void OutStreamV4::writeHeader(int len, bool last, bool)
{
  writeU16((uint16_t)((last ? 0x8000 : 0) | len));
}

} // namespace rdr
