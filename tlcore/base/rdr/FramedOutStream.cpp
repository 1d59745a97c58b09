#include "rdr/FramedOutStream.h"

#include <algorithm>

#include "rdr/Exception.h"

namespace rdr {

FramedOutStream::FramedOutStream(OutStream* underlying, int maxFrame, int hdrSize)
    : maxFrame_(maxFrame), hdrSize_(hdrSize), underlying_(underlying)
{
}

void FramedOutStream::setUnderlying(OutStream* out)
{
  underlying_ = out;
  inMsg_ = false;
  inFrame_ = false;
  ptr_ = end_ = nullptr;
}

void FramedOutStream::openFrame(int room)
{
  PLAT_ASSERT_TEXT(!inFrame_, "!inFrame");
  if (underlying_->nFree() < hdrSize_ + room)
    underlying_->overrun(hdrSize_ + room, 1);
  PLAT_ASSERT_TEXT(underlying_->nFree() >= hdrSize_ + room,
                   "underlying->nFree() >= hdrSize + room");
  // The header bytes are only skipped here; endFrame fills them in.
  ptr_ = underlying_->getPtr() + hdrSize_;
  end_ = ptr_ + std::min<ptrdiff_t>(underlying_->getEnd() - ptr_, maxFrame_);
  inFrame_ = true;
}

void FramedOutStream::startMsg()
{
  if (inMsg_)
    throw FrameException("FramedOutStream::startMsg: already in msg");
  PLAT_ASSERT_TEXT(underlying_, "underlying");
  firstFrame_ = true;
  inMsg_ = true;
  openFrame(1);
}

void FramedOutStream::endFrame(bool last)
{
  if (!inFrame_)
    throw FrameException("FramedOutStream::endFrame: not in frame");
  inFrame_ = false;
  uint8_t* start = underlying_->getPtr();
  int len = (int)(ptr_ - start - hdrSize_);
  if (len == 0 && !last) {
    // The reserved header bytes serve the next frame.
    ptr_ = end_ = start;
    return;
  }
  ptr_ = start;
  if (end_ - ptr_ < hdrSize_)
    throw FrameException("FramedOutStream::endFrame: no space for header");
  writeHeader(len, (last ? kLastFrame : kInnerFrame) | (firstFrame_ ? kFirstFrame : kInnerFrame));
  PLAT_ASSERT_TEXT(ptr_ == underlying_->getPtr() + hdrSize_,
                   "ptr == underlying->getPtr() + hdrSize");
  bytesWritten_ += len;
  underlying_->setPtr(start + hdrSize_ + len);
  firstFrame_ = false;
  ptr_ = end_ = underlying_->getPtr();
}

void FramedOutStream::endMsg(bool flush)
{
  if (!inFrame_)
    throw FrameException("FramedOutStream::endMsg: not in frame");
  endFrame(true);
  inMsg_ = false;
  if (flush)
    underlying_->flush();
  ptr_ = end_ = underlying_->getPtr();
}

int64_t FramedOutStream::length()
{
  int64_t open = inMsg_ && inFrame_ ? ptr_ - underlying_->getPtr() - hdrSize_ : 0;
  return bytesWritten_ + open;
}

void FramedOutStream::flush()
{
  if (inMsg_)
    endFrame(false);
  if (underlying_)
    underlying_->flush();
  if (inMsg_)
    openFrame(1);
}

OutStream* FramedOutStream::getBottomStream()
{
  return underlying_ ? underlying_->getBottomStream() : this;
}

int FramedOutStream::spaceAvailable()
{
  return underlying_ ? std::max(0, underlying_->spaceAvailable() - hdrSize_) : 0;
}

bool FramedOutStream::closeWrite()
{
  return underlying_ && underlying_->closeWrite();
}

int FramedOutStream::overrun(int itemSize, int nItems)
{
  endFrame(false);
  openFrame(itemSize);
  int fit = (int)((end_ - ptr_) / itemSize);
  return std::min(nItems, fit);
}

void OutStreamV4::writeHeader(int len, unsigned place)
{
  writeU16((uint16_t)((place & kLastFrame ? 0x8000 : 0) | len));
}

} // namespace rdr
