#include "rdr/ZlibInStream.h"

#include <string.h>
#include <zlib.h>

#include <algorithm>

#include "rdr/Exception.h"
#include "rdr/window.h"

namespace rdr {

namespace {

enum GzipFlags { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, FRESERVED = 0xE0 };

uint32_t le32(const uint8_t* p)
{
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

} // namespace

ZlibInStream::ZlibInStream(int bufSize, bool gzip)
    : zs_(std::make_unique<z_stream>()), bufSize_(bufSize > 0 ? bufSize : kDefaultBufSize),
      buffer_(std::make_unique<uint8_t[]>(bufSize_)), gzip_(gzip)
{
  int rc = gzip ? inflateInit2(zs_.get(), -MAX_WBITS) : inflateInit(zs_.get());
  if (rc != Z_OK)
    throw plat::Exception("ZlibInStream: inflateInit failed");
  ptr_ = end_ = checkpointPtr_ = buffer_.get();
}

ZlibInStream::~ZlibInStream()
{
  inflateEnd(zs_.get());
}

void ZlibInStream::startMember()
{
  state_ = State::Inflating;
  crc_ = (uint32_t)crc32(0, nullptr, 0);
  size_ = 0;
  trailerHave_ = 0;
}

void ZlibInStream::setUnderlying(InStream* in)
{
  underlying_ = in;
  offset_ = pos();
  ptr_ = end_ = checkpointPtr_ = buffer_.get();
  checkpointPos_ = offset_;
  if (!in)
    return;
  if (gzip_) {
    // A gzip header always begins a new deflate stream.
    inflateReset(zs_.get());
    startMember();
    readGzipHeader(*in);
  }
  in->setCheckpoint();
}

void ZlibInStream::readGzipHeader(InStream& in)
{
  uLong hcrc = crc32(0, nullptr, 0);
  auto byte = [&]() {
    uint8_t b = in.readU8();
    hcrc = crc32(hcrc, &b, 1);
    return b;
  };
  try {
    uint8_t id1 = byte(), id2 = byte(), method = byte();
    if (id1 != 0x1F || id2 != 0x8B || method != 8)
      throw plat::Exception("Bad gzip header");
    uint8_t flags = byte();
    // Unknown flags announce fields whose layout we cannot know.
    if (flags & FRESERVED)
      throw plat::Exception("Bad gzip header");
    for (int i = 0; i < 6; i++) // time, extra flags, system
      byte();
    if (flags & FEXTRA) {
      int len = byte();
      len |= byte() << 8;
      while (len-- > 0)
        byte();
    }
    if (flags & FNAME)
      while (byte() != 0) {
      }
    if (flags & FCOMMENT)
      while (byte() != 0) {
      }
    if (flags & FHCRC) {
      uint16_t expected = (uint16_t)hcrc;
      uint16_t stored = in.readU8();
      stored |= (uint16_t)(in.readU8() << 8);
      if (stored != expected)
        throw plat::Exception("Bad gzip header");
    }
  } catch (EndOfStream&) {
    throw plat::Exception("Bad gzip header");
  }
}

void ZlibInStream::reset()
{
  inflateReset(zs_.get());
  startMember();
  outputFull_ = true;
}

// A source at its end inside the compressed data means it was cut short.
bool ZlibInStream::sourceHasData()
{
  if (underlying_->nUnread() > 0)
    return true;
  try {
    return underlying_->check(false, 1);
  } catch (EndOfStream&) {
    throw plat::Exception("ZlibInStream: compressed data truncated");
  }
}

bool ZlibInStream::readTrailer()
{
  while (trailerHave_ < 8) {
    if (!sourceHasData())
      return false;
    int n = std::min(8 - trailerHave_, underlying_->nUnread());
    memcpy(trailer_ + trailerHave_, underlying_->getPtr(), n);
    underlying_->setPtr(underlying_->getPtr() + n);
    underlying_->setCheckpoint();
    trailerHave_ += n;
  }
  state_ = State::Ended;
  if (le32(trailer_) != crc_)
    throw plat::Exception("ZlibInStream: gzip trailer CRC mismatch");
  if (le32(trailer_ + 4) != size_)
    throw plat::Exception("ZlibInStream: gzip trailer size mismatch");
  throw ZlibEndOfStream();
}

bool ZlibInStream::decompress()
{
  if (state_ == State::Ended)
    throw ZlibEndOfStream();
  if (state_ == State::Trailer)
    return readTrailer();
  if (!outputFull_ && !sourceHasData())
    return false;

  uint8_t* out = const_cast<uint8_t*>(end_);
  zs_->next_out = out;
  zs_->avail_out = (uInt)(buffer_.get() + bufSize_ - out);
  zs_->next_in = const_cast<Bytef*>(underlying_->getPtr());
  zs_->avail_in = (uInt)underlying_->nUnread();
  int rc = inflate(zs_.get(), Z_SYNC_FLUSH);
  if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END)
    throw plat::Exception(0, "ZlibInStream: inflate failed with error %d", rc);

  int produced = (int)(zs_->next_out - out);
  if (gzip_) {
    crc_ = (uint32_t)crc32(crc_, out, produced);
    size_ += (uint32_t)produced;
  }
  outputFull_ = zs_->avail_out == 0;
  end_ = zs_->next_out;
  underlying_->setPtr(zs_->next_in);
  underlying_->setCheckpoint();

  if (rc == Z_STREAM_END) {
    state_ = gzip_ ? State::Trailer : State::Ended;
    if (produced == 0)
      return decompress();
  }
  return true;
}

bool ZlibInStream::overrun(int size)
{
  slideToStart(buffer_.get(), checkpointPtr_, end_, offset_, ptr_, end_);
  if (!underlying_)
    throw plat::Exception("ZlibInStream overrun: no underlying stream");
  ptrdiff_t need = std::min<ptrdiff_t>(size, buffer_.get() + bufSize_ - ptr_);
  while (end_ - ptr_ < need) {
    if (!decompress())
      return false;
  }
  return true;
}

bool ZlibInStream::discardPending()
{
  skip(nUnread());
  setCheckpoint();
  if (!underlying_)
    throw plat::Exception("ZlibInStream overrun: no underlying stream");
  if (underlying_->atEnd())
    return false;
  if (!decompress())
    throw BlockException();
  ptr_ = end_;
  setCheckpoint();
  return true;
}

} // namespace rdr
