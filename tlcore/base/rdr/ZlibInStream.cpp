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

ZlibInStream::ZlibInStream(int bufSize_, bool gzip)
  : zs(std::make_unique<z_stream>()), bufSize(bufSize_ > 0 ? bufSize_ : kDefaultBufSize),
    buffer(std::make_unique<uint8_t[]>(bufSize)), gzip(gzip)
{
  int rc = gzip ? inflateInit2(zs.get(), -MAX_WBITS) : inflateInit(zs.get());
  if (rc != Z_OK)
    throw plat::Exception("ZlibInStream: inflateInit failed");
  ptr = end = checkpointPtr = buffer.get();
}

ZlibInStream::~ZlibInStream()
{
  inflateEnd(zs.get());
}

void ZlibInStream::startMember()
{
  state = State::Inflating;
  crc = (uint32_t)crc32(0, nullptr, 0);
  size = 0;
  trailerHave = 0;
}

void ZlibInStream::setUnderlying(InStream* in)
{
  underlying = in;
  offset = pos();
  ptr = end = checkpointPtr = buffer.get();
  checkpointPos = offset;
  if (!in)
    return;
  if (gzip) {
    // A gzip header always begins a new deflate stream.
    inflateReset(zs.get());
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
  inflateReset(zs.get());
  startMember();
  outputFull = true;
}

// A source at its end inside the compressed data means it was cut short.
bool ZlibInStream::sourceHasData()
{
  if (underlying->nUnread() > 0)
    return true;
  try {
    return underlying->check(false, 1);
  } catch (EndOfStream&) {
    throw plat::Exception("ZlibInStream: compressed data truncated");
  }
}

bool ZlibInStream::readTrailer()
{
  while (trailerHave < 8) {
    if (!sourceHasData())
      return false;
    int n = std::min(8 - trailerHave, underlying->nUnread());
    memcpy(trailer + trailerHave, underlying->getPtr(), n);
    underlying->setPtr(underlying->getPtr() + n);
    underlying->setCheckpoint();
    trailerHave += n;
  }
  state = State::Ended;
  if (le32(trailer) != crc)
    throw plat::Exception("ZlibInStream: gzip trailer CRC mismatch");
  if (le32(trailer + 4) != size)
    throw plat::Exception("ZlibInStream: gzip trailer size mismatch");
  throw ZlibEndOfStream();
}

bool ZlibInStream::decompress()
{
  if (state == State::Ended)
    throw ZlibEndOfStream();
  if (state == State::Trailer)
    return readTrailer();
  if (!outputFull && !sourceHasData())
    return false;

  uint8_t* out = const_cast<uint8_t*>(end);
  zs->next_out = out;
  zs->avail_out = (uInt)(buffer.get() + bufSize - out);
  zs->next_in = const_cast<Bytef*>(underlying->getPtr());
  zs->avail_in = (uInt)underlying->nUnread();
  int rc = inflate(zs.get(), Z_SYNC_FLUSH);
  if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END)
    throw plat::Exception(0, "ZlibInStream: inflate failed with error %d", rc);

  int produced = (int)(zs->next_out - out);
  if (gzip) {
    crc = (uint32_t)crc32(crc, out, produced);
    size += (uint32_t)produced;
  }
  outputFull = zs->avail_out == 0;
  end = zs->next_out;
  underlying->setPtr(zs->next_in);
  underlying->setCheckpoint();

  if (rc == Z_STREAM_END) {
    state = gzip ? State::Trailer : State::Ended;
    if (produced == 0)
      return decompress();
  }
  return true;
}

bool ZlibInStream::overrun(int size)
{
  slideToStart(buffer.get(), checkpointPtr, end, offset, ptr, end);
  if (!underlying)
    throw plat::Exception("ZlibInStream overrun: no underlying stream");
  ptrdiff_t need = std::min<ptrdiff_t>(size, buffer.get() + bufSize - ptr);
  while (end - ptr < need) {
    if (!decompress())
      return false;
  }
  return true;
}

bool ZlibInStream::discardPending()
{
  skip(nUnread());
  setCheckpoint();
  if (!underlying)
    throw plat::Exception("ZlibInStream overrun: no underlying stream");
  if (underlying->atEnd())
    return false;
  if (!decompress())
    throw BlockException();
  ptr = end;
  setCheckpoint();
  return true;
}

} // namespace rdr
