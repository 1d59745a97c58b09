// A connection over memory streams for fuzz targets that feed a channel.
#pragma once

#include <algorithm>
#include <string>
#include <utility>

#include "io/Io.h"
#include "rdr/BufferedOutStream.h"

// A connection over memory streams; the fuzzer owns it. Without an output
// stream, what the handler writes is counted and dropped.
class MemIo : public io::Io {
public:
  explicit MemIo(rdr::InStream* input, rdr::OutStream* output = nullptr)
  {
    setStreams(input, output ? output : &sink);
  }
  ~MemIo() override = default;
  void setHandler(io::IoHandler* h, bool readEnabled) override
  {
    handler = h;
    reading = readEnabled;
  }
  void shutdown(io::Shutdown how) override
  {
    shut = true;
    if (hasAny(how, io::Shutdown::kTellHandler))
      toTell = handler;
    handler = nullptr;
  }
  // Has the handler hear closed() when the shutdown asked for it, as the
  // loop does on a later pass.
  void tellClosed()
  {
    if (io::IoHandler* h = std::exchange(toTell, nullptr))
      h->closed(this);
  }
  const char* displayName() override { return "<mem>"; }
  const char* peerEndpoint() override { return ""; }
  const char* peerAddress() override { return ""; }
  const char* myEndpoint() override { return ""; }
  void setTimeout(int) override {}

  io::IoHandler* handler = nullptr;
  io::IoHandler* toTell = nullptr;
  bool reading = true;
  bool shut = false;
  rdr::NullOutStream sink;
};

// The output of a connection whose peer reads only when told: bytes leave
// the buffer only as far as the peer has made room, flushing never waits
// (as on a connection the loop drives), and the peer keeps what it read.
class PeerOutStream : public rdr::BufferedOutStream {
public:
  PeerOutStream() : BufferedOutStream(-1, 1 << 26) { blockingFlush_ = false; }
  // Room for n more bytes; they go out at the next flush.
  void read(size_t n) { room_ += n; }

  std::string received;

protected:
  int writeOut(const uint8_t* data, int len, bool) override
  {
    const int n = (int)std::min<size_t>(len, room_);
    received.append((const char*)data, n);
    room_ -= n;
    return n;
  }

private:
  size_t room_ = 0;
};
