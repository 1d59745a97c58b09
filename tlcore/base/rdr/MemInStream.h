// Reads a caller's buffer. The data is borrowed and must outlive the
// stream; the whole buffer is one window, so reads never refill and the end
// of the buffer is the end of the stream.
#pragma once

#include "rdr/InStream.h"

namespace rdr {

class MemInStream : public InStream {
public:
  MemInStream(const void* data, int length);

  // Starts over on another buffer (position 0, checkpoint at its start).
  void reset(const void* data, int length);

  int64_t pos() override { return ptr_ - start_; }
  bool atEnd() override { return ptr_ == end_; }
  // Always throws EndOfStream "End of in-memory input stream".
  bool overrun(int size) override;

private:
  const uint8_t* start_;
};

} // namespace rdr
