// A connection over memory streams for fuzz targets that feed a channel.
#pragma once

#include "io/Io.h"
#include "rdr/BufferedOutStream.h"

// A connection over memory streams; the fuzzer owns it.
class MemIo : public io::Io {
public:
  explicit MemIo(rdr::InStream* input) { setStreams(input, &sink); }
  ~MemIo() override = default;
  void setHandler(io::IoHandler* h, bool) override { handler = h; }
  void shutdown(io::Shutdown) override
  {
    shut = true;
    handler = nullptr;
  }
  const char* displayName() override { return "<mem>"; }
  const char* peerEndpoint() override { return ""; }
  const char* peerAddress() override { return ""; }
  const char* myEndpoint() override { return ""; }
  void setTimeout(int) override {}

  io::IoHandler* handler = nullptr;
  bool shut = false;
  rdr::NullOutStream sink;
};
