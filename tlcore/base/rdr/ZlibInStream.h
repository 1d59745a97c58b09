// Inflates zlib or gzip data read from another stream, without blocking:
// when the compressed source has no bytes, a read reports "no data" (or
// BlockException) and resumes later.
//
// In gzip mode the header is parsed here and the body inflated as raw
// deflate; the trailer's CRC-32 and size are checked before the end of the
// stream is reported, so ZlibEndOfStream always means complete, verified
// data. Corrupt data and a source that ends early are plat::Exceptions,
// never an EndOfStream. Consumed compressed bytes are never read twice: the
// source is checkpointed after every inflate step. The decompressed bytes
// from this stream's checkpoint on stay in its buffer, so a reader must set
// checkpoints (or clear rewindable) to keep room. The source is borrowed;
// the stream owns its buffer and inflate state. Not locked.
#pragma once

#include <stdint.h>

#include <memory>

#include "rdr/InStream.h"

struct z_stream_s;

namespace rdr {

class ZlibInStream : public InStream {
public:
  static constexpr int kDefaultBufSize = 16800;

  // bufSize 0 means kDefaultBufSize. Throws "ZlibInStream: inflateInit
  // failed".
  explicit ZlibInStream(int bufSize = 0, bool gzip = false);
  ~ZlibInStream() override;
  ZlibInStream(const ZlibInStream&) = delete;
  ZlibInStream& operator=(const ZlibInStream&) = delete;

  // Sets the source and empties the window. In gzip mode reads and checks
  // the gzip header from it at once (waiting for its bytes) and starts a
  // new member; "Bad gzip header" when it is not one.
  void setUnderlying(InStream* in);
  // Starts a new compressed stream on the same source.
  void reset();
  // Drops the window and the output of one more inflate step. False when
  // the source is at its end; BlockException when it has no data.
  bool discardPending();

  int64_t pos() override { return ptr_ - buffer_.get() + offset_; }
  bool overrun(int size) override;

private:
  enum class State { Inflating, Trailer, Ended };

  bool decompress();
  bool sourceHasData();
  void readGzipHeader(InStream& in);
  bool readTrailer();
  void startMember();

  InStream* underlying_ = nullptr;
  std::unique_ptr<z_stream_s> zs_;
  int bufSize_;
  int64_t offset_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  bool gzip_;
  // The last step filled the output space, so zlib may hold more output
  // without new input.
  bool outputFull_ = false;
  State state_ = State::Inflating;
  uint32_t crc_ = 0;
  uint32_t size_ = 0;
  uint8_t trailer_[8];
  int trailerHave_ = 0;
};

} // namespace rdr
