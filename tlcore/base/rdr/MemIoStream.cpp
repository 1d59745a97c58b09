#include "rdr/MemIoStream.h"

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "plat/String.h"
#include "rdr/Exception.h"

namespace rdr {

namespace {

int computeMaxBufs(int64_t maxBytes, int bufSize)
{
  if (bufSize <= 0)
    return 1;
  if (maxBytes >= 0)
    return (int)std::min<int64_t>(INT_MAX, (maxBytes + bufSize - 1) / bufSize + 1);
  return std::max(1, INT_MAX / bufSize);
}

[[noreturn]] void badState(const char* what)
{
  throw plat::Exception(0, "MemIoStream: bad saved state (%s)", what);
}

} // namespace

Serializable::~Serializable() = default;
MemIoStream::Callback::~Callback() = default;

MemIoStream::MemIoStream(Callback* cb, int maxBytes, int bs)
    : callback_(cb), bufSize_(bs < 0 ? kDefaultBufSize : bs)
{
  maxBufs_ = computeMaxBufs(maxBytes, bufSize_);
  Buf b = newBuf(bufSize_);
  bufs_.push_back(b);
  InStream::ptr_ = InStream::end_ = checkpointPtr_ = b.start;
  OutStream::ptr_ = b.start;
  OutStream::end_ = b.end;
}

MemIoStream::~MemIoStream()
{
  for (uint64_t i = 0; i < bufs_.size(); i++)
    freeBuf(bufs_[i]);
}

MemIoStream::Buf MemIoStream::newBuf(int capacity)
{
  Buf b;
  b.start = new uint8_t[capacity];
  b.end = b.start + capacity;
  b.capacity = capacity;
  return b;
}

void MemIoStream::freeBuf(const Buf& b)
{
  if (b.start && secure_)
    plat::secureZero(b.start, b.capacity);
  delete[] b.start;
}

void MemIoStream::setMaxBytes(int maxBytes)
{
  if (bufSize_ != 0)
    maxBufs_ = computeMaxBufs(maxBytes, bufSize_);
}

void MemIoStream::updateInEnd()
{
  InStream::end_ = readIdx_ == writeIdx_ ? OutStream::ptr_ : bufs_[readIdx_].end;
}

void MemIoStream::releaseFront(int n)
{
  for (int i = 0; i < n; i++) {
    Buf b = bufs_.front();
    bufs_.pop_front();
    if (b.capacity < bufSize_) {
      freeBuf(b);
      continue;
    }
    if (secure_)
      plat::secureZero(b.start, bufSize_);
    b.end = b.start + bufSize_;
    bufs_.push_back(b);
  }
  readIdx_ -= n;
  writeIdx_ -= n;
}

bool MemIoStream::hasUnread()
{
  for (int i = readIdx_; i <= writeIdx_; i++) {
    const uint8_t* from = i == readIdx_ ? InStream::ptr_ : bufs_[i].start;
    const uint8_t* to = i == writeIdx_ ? OutStream::ptr_ : bufs_[i].end;
    if (from < to)
      return true;
  }
  return false;
}

int64_t MemIoStream::bytesBetween(int from, const uint8_t* p, int to, const uint8_t* q)
{
  if (from == to)
    return q - p;
  int64_t n = bufs_[from].end - p;
  for (int i = from + 1; i < to; i++)
    n += bufs_[i].end - bufs_[i].start;
  return n + (q - bufs_[to].start);
}

bool MemIoStream::isFull()
{
  return writeIdx_ >= maxBufs_ - 1 && OutStream::ptr_ == bufs_[writeIdx_].start + bufSize_;
}

bool MemIoStream::isReadable()
{
  return closedForWrite_ || error_ || hasUnread();
}

void MemIoStream::notifyIfReadable()
{
  if (callback_ && isReadable())
    callback_->dataAvailable(this);
}

void MemIoStream::setError(const plat::Exception& e, std::exception_ptr thrown)
{
  thrown_ = thrown;
  if (auto* se = dynamic_cast<const plat::SystemException*>(&e))
    error_ = std::make_shared<plat::SystemException>(*se);
  else
    error_ = std::make_shared<plat::Exception>(e);
}

void MemIoStream::throwError()
{
  if (thrown_)
    std::rethrow_exception(thrown_);
  if (auto* se = dynamic_cast<const plat::SystemException*>(error_.get()))
    throw plat::SystemException(*se);
  throw plat::Exception(*error_);
}

// --- Input -------------------------------------------------------------------

int64_t MemIoStream::pos()
{
  return checkpointPos_ + bytesBetween(0, checkpointPtr_, readIdx_, InStream::ptr_);
}

void MemIoStream::setCheckpoint()
{
  InStream::setCheckpoint();
  PLAT_ASSERT_TEXT(InStream::ptr_ == checkpointPtr_, "InStream::ptr == checkpointPtr");
  if (readIdx_ == 0)
    return;
  bool wasFull = isFull();
  releaseFront(readIdx_);
  if (wasFull && callback_)
    callback_->spaceAvailable(this);
}

void MemIoStream::rewind()
{
  InStream::rewind();
  readIdx_ = 0;
  updateInEnd();
}

bool MemIoStream::overrun(int)
{
  updateInEnd();
  if (InStream::ptr_ < InStream::end_)
    return true;
  bool released = false;
  bool wasFull = false;
  while (readIdx_ < writeIdx_) {
    bool atCheckpoint = readIdx_ == 0 && InStream::ptr_ == checkpointPtr_;
    readIdx_++;
    if (atCheckpoint) {
      // Nothing before the reader is needed any more: recycle the buffer
      // so that the checkpoint stays in the first one.
      wasFull = wasFull || isFull();
      releaseFront(1);
      PLAT_ASSERT(readIdx_ == 0);
      released = true;
    }
    InStream::ptr_ = bufs_[readIdx_].start;
    if (atCheckpoint)
      checkpointPtr_ = InStream::ptr_;
    updateInEnd();
    if (InStream::ptr_ < InStream::end_)
      break;
  }
  if (released && wasFull && callback_)
    callback_->spaceAvailable(this);
  if (InStream::ptr_ < InStream::end_)
    return true;
  if (error_)
    throwError();
  if (closedForWrite_)
    throw EndOfStream("End of in-memory IO stream");
  return false;
}

// --- Output ------------------------------------------------------------------

int64_t MemIoStream::lengthWritten()
{
  return checkpointPos_ + bytesBetween(0, checkpointPtr_, writeIdx_, OutStream::ptr_);
}

int MemIoStream::bytesBuffered()
{
  return callback_ ? callback_->bytesBuffered(this) : 0;
}

int MemIoStream::spaceAvailable()
{
  if (closedForWrite_)
    return 0;
  int64_t space =
      (int64_t)(maxBufs_ - 1 - writeIdx_) * bufSize_ + (OutStream::end_ - OutStream::ptr_);
  return (int)std::min<int64_t>(INT_MAX, std::max<int64_t>(0, space));
}

void MemIoStream::flush()
{
  updateInEnd();
  if (callback_ && (closedForWrite_ || error_ || hasUnread()))
    callback_->dataAvailable(this);
  if (callback_ && !closedForWrite_ && spaceAvailable() > 0)
    callback_->spaceAvailable(this);
}

bool MemIoStream::closeWrite()
{
  closedForWrite_ = true;
  OutStream::end_ = OutStream::ptr_;
  try {
    flush();
  } catch (EndOfStream&) {
  }
  return callback_ ? callback_->writeClosed(this) : true;
}

int MemIoStream::overrun(int itemSize, int nItems)
{
  if (closedForWrite_)
    throw PipeException("Stream closed for writing");
  if (itemSize < 1)
    itemSize = 1;
  if (nItems < 1)
    nItems = 1;
  // Give the consumer a chance to drain and release buffers.
  if (writeIdx_ >= maxBufs_ - 1 && callback_ && (error_ || hasUnread()))
    callback_->dataAvailable(this);
  if (writeIdx_ >= maxBufs_ - 1)
    throw OutStreamFull("MemIoStream: maxBufs exceeded");
  if (itemSize > bufSize_)
    throw plat::Exception("MemIoStream: item exceeds buffer size");
  if ((uint64_t)writeIdx_ + 1 >= bufs_.size())
    bufs_.push_back(newBuf(bufSize_));
  bufs_[writeIdx_].end = OutStream::ptr_;
  writeIdx_++;
  updateInEnd();
  OutStream::ptr_ = bufs_[writeIdx_].start;
  OutStream::end_ = OutStream::ptr_ + bufSize_;
  return std::min(nItems, bufSize_ / itemSize);
}

// --- Saving and restoring ----------------------------------------------------
//
// U32 maxBufs, U32 bufSize, U32 readIdx, U32 writeIdx, U8 closedForWrite,
// U32 number of buffers (writeIdx + 1; spares are not saved), then per
// buffer U32 used length and the bytes, U32 input ptr and end (offsets in
// buffer readIdx), U32 checkpoint offset (buffer 0), U64 checkpointPos,
// U8 rewindable, U32 output ptr and end (offsets in buffer writeIdx).

void MemIoStream::serialize(OutStream& out)
{
  out.writeU32(maxBufs_);
  out.writeU32(bufSize_);
  out.writeU32(readIdx_);
  out.writeU32(writeIdx_);
  out.writeU8(closedForWrite_ ? 1 : 0);
  out.writeU32(writeIdx_ + 1);
  for (int i = 0; i <= writeIdx_; i++) {
    const uint8_t* fill = i == writeIdx_ ? OutStream::ptr_ : bufs_[i].end;
    int used = (int)(fill - bufs_[i].start);
    out.writeU32(used);
    out.writeBytes(bufs_[i].start, used);
  }
  out.writeU32((uint32_t)(InStream::ptr_ - bufs_[readIdx_].start));
  out.writeU32((uint32_t)(InStream::end_ - bufs_[readIdx_].start));
  out.writeU32((uint32_t)(checkpointPtr_ - bufs_[0].start));
  out.writeU64((uint64_t)checkpointPos_);
  out.writeU8(rewindable_ ? 1 : 0);
  out.writeU32((uint32_t)(OutStream::ptr_ - bufs_[writeIdx_].start));
  out.writeU32((uint32_t)(OutStream::end_ - bufs_[writeIdx_].start));
}

void MemIoStream::deserialize(InStream& in)
{
  uint32_t savedMaxBufs = in.readU32();
  uint32_t savedBufSize = in.readU32();
  uint32_t rIdx = in.readU32();
  uint32_t wIdx = in.readU32();
  uint8_t closed = in.readU8();
  uint32_t count = in.readU32();
  if (savedBufSize != (uint32_t)bufSize_)
    badState("buffer size differs");
  // No saved state can hold more than a stream of this buffer size allows.
  uint32_t limit = bufSize_ == 0 ? 1 : (uint32_t)(INT_MAX / bufSize_) + 2;
  if (savedMaxBufs < 1 || savedMaxBufs > limit || savedMaxBufs > INT_MAX)
    badState("buffer limit");
  if (closed > 1)
    badState("closed flag");
  if (rIdx > wIdx || wIdx >= savedMaxBufs)
    badState("buffer index");
  if (count != wIdx + 1)
    badState("buffer count");

  // Memory follows the input: a buffer behind the writer gets just its
  // data, so a few bytes of input claiming many buffers allocate no more
  // than they hold, and each allocation waits for its length to be read.
  std::vector<std::unique_ptr<uint8_t[]>> mem;
  std::vector<uint32_t> used;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t u = in.readU32();
    // The writer leaves a buffer only with data in it.
    if (u > (uint32_t)bufSize_ || (u == 0 && i < wIdx))
      badState("buffer length");
    mem.emplace_back(new uint8_t[i < wIdx ? u : (uint32_t)bufSize_]);
    used.push_back(u);
    in.readBytes(mem.back().get(), (int)u);
  }
  uint32_t inPtr = in.readU32();
  uint32_t inEnd = in.readU32();
  uint32_t cp = in.readU32();
  uint64_t cpPos = in.readU64();
  uint8_t rew = in.readU8();
  uint32_t outPtr = in.readU32();
  uint32_t outEnd = in.readU32();
  if (inPtr > inEnd || inEnd > used[rIdx])
    badState("input offset");
  if (cp > used[0] || (rIdx == 0 && cp > inPtr))
    badState("checkpoint offset");
  if (cpPos > (uint64_t)INT64_MAX / 2)
    badState("checkpoint position");
  if (rew > 1)
    badState("rewindable flag");
  if (outPtr != used[wIdx] || outEnd != (closed ? outPtr : (uint32_t)bufSize_))
    badState("output offset");

  for (uint64_t i = 0; i < bufs_.size(); i++)
    freeBuf(bufs_[i]);
  bufs_.clear();
  for (uint32_t i = 0; i < count; i++) {
    Buf b;
    b.capacity = i < wIdx ? (int)used[i] : bufSize_;
    b.start = mem[i].release();
    b.end = b.start + b.capacity;
    bufs_.push_back(b);
  }
  maxBufs_ = (int)savedMaxBufs;
  readIdx_ = (int)rIdx;
  writeIdx_ = (int)wIdx;
  closedForWrite_ = closed != 0;
  InStream::ptr_ = bufs_[readIdx_].start + inPtr;
  InStream::end_ = bufs_[readIdx_].start + inEnd;
  checkpointPtr_ = bufs_[0].start + cp;
  checkpointPos_ = (int64_t)cpPos;
  rewindable_ = rew != 0;
  OutStream::ptr_ = bufs_[writeIdx_].start + outPtr;
  OutStream::end_ = bufs_[writeIdx_].start + outEnd;
}

} // namespace rdr
