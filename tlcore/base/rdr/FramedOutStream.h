// Cuts the messages written to it into frames on an underlying stream.
//
// A frame is a small header (its payload length and whether it is the last
// frame of its message) followed by the payload. The writer never needs a
// message's length in advance: it reserves the header bytes in the
// underlying window, lets the caller write the payload straight behind them
// and fills the header in when the frame closes. A frame never extends past
// the underlying window, so a full window or a flush closes it. The
// underlying stream is borrowed; not locked.
#pragma once

#include <stdint.h>

#include "rdr/OutStream.h"

namespace rdr {

class FramedOutStream : public OutStream {
public:
  FramedOutStream(OutStream* underlying, int maxFrame, int hdrSize);

  // Drops any open message (the connection under it changed).
  void setUnderlying(OutStream* out);
  OutStream* getUnderlying() const { return underlying_; }

  // --- Messages --------------------------------------------------------------
  void startMsg();
  // Closes the open frame as the last one of the message.
  void endMsg(bool flush);
  void endFrame(bool last);
  bool inMessage() const { return inMsg_; }

  // --- OutStream -------------------------------------------------------------
  int64_t length() override;
  // Inside a message: closes the open frame without ending the message.
  void flush() override;
  OutStream* getBottomStream() override;
  int spaceAvailable() override;
  bool closeWrite() override;
  int overrun(int itemSize, int nItems) override;

protected:
  // Where a frame stands in its message: flags.
  enum FramePlace : unsigned { kInnerFrame = 0, kFirstFrame = 1 << 0, kLastFrame = 1 << 1 };
  // Writes the header through this stream's own window, which at that
  // moment starts at the reserved bytes.
  virtual void writeHeader(int len, unsigned place) = 0;

private:
  void openFrame(int room);

  int maxFrame_;
  int hdrSize_;
  bool inMsg_ = false;
  bool inFrame_ = false;
  bool firstFrame_ = false;
  int64_t bytesWritten_ = 0;
  OutStream* underlying_;
};

// The wire format of local IPC: a big-endian 16-bit header whose bit 15
// marks the last frame and whose low 15 bits give the payload length.
class OutStreamV4 : public FramedOutStream {
public:
  static constexpr int kMaxFrame = 32766;
  static constexpr int kHdrSize = 2;

  explicit OutStreamV4(OutStream* underlying = nullptr)
    : FramedOutStream(underlying, kMaxFrame, kHdrSize)
  {
  }

protected:
  void writeHeader(int len, unsigned place) override;
};

} // namespace rdr
