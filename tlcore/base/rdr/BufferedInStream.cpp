#include "rdr/BufferedInStream.h"

#include <string.h>

#include <algorithm>

#include "plat/encodings.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/OutStream.h"
#include "rdr/window.h"

namespace rdr {

// --- BufferedInStream ----------------------------------------------------------

BufferedInStream::BufferedInStream(int bufSize, bool secure)
    : buffer_(bufSize < 0 ? kDefaultBufSize : bufSize, secure)
{
  ptr_ = end_ = checkpointPtr_ = buffer_.data();
}

BufferedInStream::BufferedInStream(BufferedInStream&& other) noexcept
    : InStream(other), offset_(other.offset_), buffer_(std::move(other.buffer_)),
      trace_(other.trace_)
{
  other.ptr_ = other.end_ = other.checkpointPtr_ = nullptr;
}

BufferedInStream::~BufferedInStream() = default;

void BufferedInStream::reset()
{
  ptr_ = end_ = checkpointPtr_ = buffer_.data();
}

void BufferedInStream::compact()
{
  slideToStart(buffer_.data(), checkpointPtr_, end_, offset_, ptr_, end_);
}

void BufferedInStream::growBuffer(int bufSize)
{
  if (bufSize <= buffer_.length())
    return;
  compact();
  ptrdiff_t p = ptr_ - buffer_.data(), e = end_ - buffer_.data();
  buffer_.assign(buffer_.data(), (int)e, bufSize);
  checkpointPtr_ = buffer_.data();
  ptr_ = buffer_.data() + p;
  end_ = buffer_.data() + e;
}

bool BufferedInStream::overrun(int size)
{
  compact();
  uint8_t* bufEnd = buffer_.data() + buffer_.length();
  // A request larger than the buffer gets what fits.
  ptrdiff_t need = std::min<ptrdiff_t>(size, bufEnd - ptr_);
  while (end_ - ptr_ < need) {
    uint8_t* fillAt = (uint8_t*)end_;
    int n = fillBuffer(fillAt, (int)(bufEnd - end_));
    if (n <= 0)
      return false;
    if (trace_) {
      plat::MBuf<unsigned char> block(fillAt, n);
      plat::hexDump(block, " <-- ", " <-- ");
    }
    end_ += n;
  }
  return true;
}

void BufferedInStream::saveUnread(OutStream& out)
{
  int n = nUnread();
  out.writeU32((uint32_t)n);
  out.writeBytes(ptr_, n);
}

void BufferedInStream::restoreUnread(InStream& in)
{
  int n = (int)in.readU32();
  if (n < 1)
    return;
  compact();
  uint8_t* bufEnd = buffer_.data() + buffer_.length();
  if (n > bufEnd - end_)
    throw plat::Exception("Too much data for InStream buffer");
  in.readBytes((uint8_t*)end_, n);
  end_ += n;
}

void BufferedNonBlockableInStream::setNonBlocking(bool nb)
{
  nonBlocking_ = nb;
  setCheckpoint();
  if (nb)
    rewindable_ = true;
}

// --- ByteReader ------------------------------------------------------------------

void ByteReader::init(InStream* s, int length, uint8_t* buffer, bool copy)
{
  if (stream) {
    if (length != len)
      throw plat::Exception("ByteReader::init: bad len");
    return;
  }
  stream = s;
  stream->setCheckpoint();
  len = length;
  buf = buffer;
  ownedBuf.reset();
  forceCopy = copy;
  got = 0;
}

void ByteReader::reset()
{
  ownedBuf.reset();
  stream = nullptr;
  buf = nullptr;
  got = len = 0;
  forceCopy = false;
}

ByteReader::Result ByteReader::read(bool wait)
{
  if (got == 0) {
    if (len == 0)
      return {0, buf ? buf : stream->getPtr()};
    if (stream->nUnread() == 0 && !stream->check(wait, 1))
      return {0, nullptr};
    if (stream->nUnread() >= len && !forceCopy) {
      const uint8_t* p = stream->getPtr();
      stream->consume(len);
      return {len, p};
    }
  }
  if (got == len)
    return {len, buf};
  if (!buf) {
    ownedBuf = std::make_unique<uint8_t[]>(len);
    buf = ownedBuf.get();
  }
  for (;;) {
    int n = std::min(len - got, stream->nUnread());
    memcpy(buf + got, stream->getPtr(), n);
    stream->consume(n);
    got += n;
    // What was copied aside must not be delivered again after a rewind.
    stream->setCheckpoint();
    if (got == len)
      return {len, buf};
    if (!stream->check(wait, 1))
      return {0, nullptr};
  }
}

bool ByteReader::skip(bool wait)
{
  while (got < len) {
    if (stream->nUnread() == 0 && !stream->check(wait, 1))
      return false;
    int n = std::min(len - got, stream->nUnread());
    stream->consume(n);
    got += n;
    stream->setCheckpoint();
  }
  return true;
}

const uint8_t* ByteReader::readItems(bool wait, int* nItems)
{
  if (got == 0 && !forceCopy) {
    if (const uint8_t* p = stream->getItemsNB(len, nItems, wait))
      return p;
  }
  Result r = read(wait);
  if (!r.data)
    return nullptr;
  *nItems = 1;
  // The next call starts the next item; the data stays valid until then.
  got = 0;
  return r.data;
}

plat::String ByteReader::readString(ByteReader& reader, InStream* stream, int maxLen, bool wait)
{
  if (!reader.started()) {
    uint32_t n;
    try {
      n = stream->readU32();
    } catch (BlockException&) {
      if (wait)
        throw;
      return plat::String();
    }
    if (n > (uint32_t)maxLen)
      throw StringTooLongException();
    if (n == 0) {
      stream->setCheckpoint();
      return plat::String("");
    }
    reader.init(stream, (int)n, nullptr, true);
    // One byte more for the terminating NUL.
    reader.ownedBuf = std::make_unique<uint8_t[]>((size_t)n + 1);
    reader.buf = reader.ownedBuf.get();
  }
  Result r = reader.read(wait);
  if (!r.data)
    return plat::String();
  const char* text = (const char*)reader.buf;
  const char* textEnd = text + reader.len;
  reader.buf[reader.len] = 0;
  stream->setCheckpoint();
  // The text ends at a NUL inside it, as a C string does.
  plat::String result =
      plat::isValidUtf8(text) ? plat::String(text) : plat::utf8Sanitise(text, textEnd, -1);
  reader.reset();
  return result;
}

} // namespace rdr
