// A non-blocking source for tests: holds all its bytes but lets a reader
// see only those that have "arrived", and releases them one byte per
// overrun (or a few, see setGrain), so every refill path of the stream
// above it is taken. Once all
// bytes have arrived and the source is closed, it throws EndOfStream.
#pragma once

#include <algorithm>
#include <string>

#include "rdr/Exception.h"
#include "rdr/InStream.h"

class TrickleInStream : public rdr::InStream {
public:
  explicit TrickleInStream(std::string bytes, bool closed = true)
    : data(std::move(bytes)), closed(closed)
  {
    ptr_ = end_ = checkpointPtr_ = base();
  }

  void arrive(size_t n) { arrived = std::min(data.size(), arrived + n); }
  // Bytes released per overrun, for large inputs that would take too long
  // byte by byte.
  void setGrain(size_t n) { grain = n ? n : 1; }
  bool allArrived() const { return arrived == data.size(); }

  int64_t pos() override { return ptr_ - base(); }
  bool atEnd() override { return closed && ptr_ == base() + data.size(); }
  bool overrun(int) override
  {
    size_t seen = end_ - base();
    if (seen < arrived) {
      end_ = base() + std::min(arrived, seen + grain);
      return true;
    }
    if (closed && allArrived())
      throw rdr::EndOfStream("End of trickle");
    return false;
  }

private:
  const uint8_t* base() const { return (const uint8_t*)data.data(); }

  std::string data;
  size_t arrived = 0;
  size_t grain = 1;
  bool closed;
};
