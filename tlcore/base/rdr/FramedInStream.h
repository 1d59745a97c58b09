// Reads the messages that a FramedOutStream cut into frames.
//
// Between startMsg and endMsg the stream reads one message: its window is
// the underlying window cut to the current frame, frames are crossed
// transparently, and reading past the last byte throws EndOfMsg. The
// framed stream never waits itself; reads that must wait rewind it (and
// the underlying stream) to the last checkpoint, which startMsg sets just
// after the first header, so a message is read again from its start when
// more data has come. Reading only moves this stream's ptr; every call that
// touches the underlying stream first hands the consumed bytes over to it.
// The underlying stream is borrowed; not locked.
#pragma once

#include <stdint.h>

#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace rdr {

class FramedInStream : public InStream {
public:
  explicit FramedInStream(InStream* underlying);

  // Leaves any open message; the window is empty.
  void setUnderlying(InStream* in);
  InStream* getUnderlying() const { return underlying_; }

  // --- Messages --------------------------------------------------------------
  // Reads the first header. With wait false returns false instead of
  // blocking; true at once when a message is already open.
  bool startMsg(bool wait);
  // Throws FrameException when data is left in the message.
  void endMsg();
  bool inMessage() const { return inMsg_; }
  // Consume whatever is left of the message, frame by frame.
  void skipRestOfMsg();
  void copyRestOfMsg(OutStream& out);

  // --- InStream --------------------------------------------------------------
  int64_t pos() override;
  void setCheckpoint() override;
  void rewind() override;
  // True when the message is exhausted; may wait for the next header.
  bool atEnd() override;
  bool overrun(int size) override;

protected:
  // Reads one header from the underlying stream.
  virtual void readHeader(int& frameSize, bool& last, bool first) = 0;

private:
  void sync();
  void setWindow();
  bool nextFrame(bool wait);
  template <class Consumer> void drain(Consumer consume);

  bool inMsg_ = false;
  bool lastFrame_ = false;
  int frameSize_ = 0;
  int64_t msgPos_ = 0;
  bool cpLastFrame_ = false;
  int cpFrameSize_ = 0;
  int64_t cpMsgPos_ = 0;
  InStream* underlying_;
};

// The V4 header: big-endian 16 bits, bit 15 marks the last frame, bits 0-14
// the payload length (any 15-bit value is accepted).
class InStreamV4 : public FramedInStream {
public:
  explicit InStreamV4(InStream* underlying = nullptr) : FramedInStream(underlying) {}

protected:
  void readHeader(int& frameSize, bool& last, bool first) override;
};

} // namespace rdr
