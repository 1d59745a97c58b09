#include "rdr/FramedInStream.h"

#include <algorithm>

#include "rdr/Exception.h"

namespace rdr {

FramedInStream::FramedInStream(InStream* in) : underlying_(in) {}

void FramedInStream::setUnderlying(InStream* in)
{
  underlying_ = in;
  inMsg_ = false;
  ptr_ = end_ = nullptr;
}

// Hands what was read from the window over to the underlying stream.
void FramedInStream::sync()
{
  int n = (int)(ptr_ - underlying_->getPtr());
  frameSize_ -= n;
  PLAT_ASSERT(frameSize_ >= 0);
  msgPos_ += n;
  underlying_->setPtr(ptr_);
}

void FramedInStream::setWindow()
{
  if (!inMsg_ || !underlying_) {
    ptr_ = end_ = nullptr;
    return;
  }
  ptr_ = underlying_->getPtr();
  end_ = ptr_ + std::min(underlying_->nUnread(), frameSize_);
  PLAT_ASSERT_TEXT(end_ >= ptr_, "end >= ptr");
}

int64_t FramedInStream::pos()
{
  return msgPos_ + (inMsg_ ? ptr_ - underlying_->getPtr() : 0);
}

bool FramedInStream::startMsg(bool wait)
{
  if (inMsg_)
    return true;
  PLAT_ASSERT(underlying_);
  if (!wait && underlying_->nUnread() == 0 && !underlying_->check(false, 1))
    return false;
  try {
    readHeader(frameSize_, lastFrame_, true);
  } catch (BlockException&) {
    if (wait)
      throw;
    return false;
  }
  inMsg_ = true;
  setWindow();
  setCheckpoint();
  return true;
}

void FramedInStream::endMsg()
{
  if (!atEnd())
    throw FrameException("FramedInStream::endMsg: data left in msg");
  setCheckpoint();
  inMsg_ = false;
  ptr_ = end_ = nullptr;
}

// Passes over exhausted and empty non-last frames. False when the next
// header has not arrived (wait false).
bool FramedInStream::nextFrame(bool wait)
{
  sync();
  try {
    while (!lastFrame_ && frameSize_ == 0) {
      if (underlying_->nUnread() == 0 && !underlying_->check(wait, 1)) {
        setWindow();
        return false;
      }
      readHeader(frameSize_, lastFrame_, false);
    }
  } catch (...) {
    setWindow();
    throw;
  }
  setWindow();
  return true;
}

bool FramedInStream::overrun(int size)
{
  PLAT_ASSERT(inMsg_);
  sync();
  bool result;
  try {
    if (frameSize_ >= size) {
      result = underlying_->nUnread() >= size || underlying_->check(false, size);
    } else if (std::min(underlying_->nUnread(), frameSize_) > 0) {
      // The caller gathers the rest from the next frames.
      result = true;
    } else if (!nextFrame(false)) {
      result = false;
    } else if (frameSize_ > 0) {
      result = underlying_->nUnread() > 0 || underlying_->check(false, 1);
    } else {
      throw EndOfMsg();
    }
  } catch (...) {
    setWindow();
    throw;
  }
  setWindow();
  return result;
}

void FramedInStream::setCheckpoint()
{
  if (!inMsg_)
    return;
  sync();
  underlying_->setCheckpoint();
  checkpointPos_ = pos();
  checkpointPtr_ = ptr_;
  cpLastFrame_ = lastFrame_;
  cpFrameSize_ = frameSize_;
  cpMsgPos_ = msgPos_;
}

void FramedInStream::rewind()
{
  if (!inMsg_)
    return;
  try {
    underlying_->rewind();
  } catch (...) {
    setWindow();
    throw;
  }
  lastFrame_ = cpLastFrame_;
  frameSize_ = cpFrameSize_;
  msgPos_ = cpMsgPos_;
  setWindow();
}

bool FramedInStream::atEnd()
{
  PLAT_ASSERT(inMsg_);
  try {
    nextFrame(true);
  } catch (BlockException&) {
    rewind();
    throw;
  }
  return frameSize_ == 0;
}

template <class Consumer> void FramedInStream::drain(Consumer consume)
{
  while (!atEnd()) {
    if (ptr_ == end_)
      check(true, 1);
    consume(ptr_, (int)(end_ - ptr_));
    ptr_ = end_;
    setCheckpoint();
  }
}

void FramedInStream::skipRestOfMsg()
{
  drain([](const uint8_t*, int) {});
}

void FramedInStream::copyRestOfMsg(OutStream& out)
{
  drain([&out](const uint8_t* p, int n) { out.writeBytes(p, n); });
}

void InStreamV4::readHeader(int& frameSize, bool& last, bool)
{
  uint8_t buf[2];
  const uint8_t* p = getUnderlying()->getBytes(buf, 2);
  frameSize = (p[0] & 0x7F) << 8 | p[1];
  last = (p[0] >> 7) != 0;
}

} // namespace rdr
