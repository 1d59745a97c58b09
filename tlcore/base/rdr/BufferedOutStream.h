// Output streams that collect bytes in a buffer they own and hand them to a
// sink through writeOut.
//
// overrun first writes out without waiting; a slow sink makes the buffer
// grow (doubling, up to maxBufSize) and only a full buffer of maxBufSize
// waits. Unsent bytes are always moved to the front of the buffer. The
// window reaches at most 16384 bytes beyond ptr (more only for a larger
// item, or the stream's write batch), so a burst of small writes reaches
// overrun regularly and the sink gets the chance to drain. Counts are 64-bit. The variants fix the policy:
// BufferedNBOutStream never grows, BufferedLazyOutStream can postpone
// flushing, NullOutStream counts and discards. One thread at a time.
#pragma once

#include <stdint.h>

#include "plat/ConfigParameter.h"
#include "plat/NonCopyable.h"
#include "rdr/OutStream.h"

namespace rdr {

// The default limit of growing output buffers (changes affect new streams).
extern plat::IntParameter MaxOutBufferSize;

class BufferedOutStream : public OutStream, private plat::NonCopyable {
public:
  static constexpr int kDefaultBufSize = 16384;
  static constexpr int kWindow = 16384;

  // bufSize < 0 means kDefaultBufSize; maxBufSize < 0 means the current
  // MaxOutBufferSize; maxBufSize is at least bufSize. A bufSize of 0 makes
  // every write throw OutStreamFull.
  BufferedOutStream(int bufSize = -1, int maxBufSize = -1);
  ~BufferedOutStream() override;

  int64_t length() override { return offset_ + (ptr_ - start_); }
  void flush() override;
  int bytesBuffered() override { return (int)(ptr_ - sent_); }
  int spaceAvailable() override { return maxBufSize_ - bytesBuffered(); }
  void setThrowErrors(bool t) override { throwErrors_ = t; }
  int overrun(int itemSize, int nItems) override;

  // --- Writing out ---------------------------------------------------------
  // Everything from sent to ptr; false at the first writeOut that takes
  // nothing. When all is out the buffer starts afresh.
  bool flushBuffer(bool wait);
  // The same without starting the buffer afresh; true when all is out.
  bool writeOutSome(bool wait);
  // One writeOut call; false when it took nothing.
  bool writeOutOnce(bool wait);

  // --- Policy ---------------------------------------------------------------
  // Whether a failing write throws: always when flushing waits, else as set.
  bool doesThrowErrors() const { return blockingFlush_ || throwErrors_; }
  void setTimeout(int ms) { timeoutMs_ = ms; }
  int getTimeout() const { return timeoutMs_; }
  int getBufSize() const { return bufSize_; }
  int getMaxBufSize() const { return maxBufSize_; }
  // Gathers up to bytes (at least kWindow) before overrun writes out, for a
  // writer that sends bulk data in small items and flushes after each
  // batch: fewer, larger writes. The buffer grows to hold the batch.
  void setWriteBatch(int bytes);
  // Dumps every written block to standard error.
  void setTrace(bool on) { trace_ = on; }
  // A secure stream (one that carries credentials) wipes every byte once
  // it is written out or dropped, and every buffer it gives up.
  void setSecure(bool secure) { secure_ = secure; }
  bool isSecure() const { return secure_; }

protected:
  // Writes at most len bytes: the count written, 0 when it would have to
  // wait (only without wait).
  virtual int writeOut(const uint8_t* data, int len, bool wait) = 0;

  // Drops the buffered bytes without writing them (for streams detaching
  // from a sink that must not see them).
  void discardBuffer();

  int bufSize_;
  int maxBufSize_;
  int64_t offset_ = 0; // bytes written out and dropped from the buffer
  int timeoutMs_ = 30000;
  uint8_t* start_;
  uint8_t* sent_; // first byte not yet written out
  bool blockingFlush_ = true;
  bool throwErrors_ = true;
  bool trace_ = false;

private:
  int writeOutTraced(bool wait);
  // Starts the buffer afresh once everything is out.
  void restartIfEmpty();
  // Moves the unsent bytes to the front of the buffer.
  void compact();
  void grow(int newSize);
  // The window for an item of itemSize bytes.
  void setEnd(int itemSize);

  bool secure_ = false;
  int window_ = kWindow;
};

// Never grows: a full buffer waits for the sink.
class BufferedNBOutStream : public BufferedOutStream {
public:
  explicit BufferedNBOutStream(int bufSize = -1);
  int spaceAvailable() override { return 2147483647; }
};

// Flushing can be postponed: a lazy stream's flush writes out only what the
// sink takes without waiting.
class BufferedLazyOutStream : public BufferedOutStream {
public:
  using BufferedOutStream::BufferedOutStream;
  // Then writes out what is buffered, waiting unless lazy.
  virtual void setLazy(bool lazy);
};

// Counts what is written and stores nothing.
class NullOutStream : public BufferedNBOutStream {
public:
  NullOutStream() : BufferedNBOutStream(1024) {}
  void writeBytes(const void* data, int len) override;

protected:
  int writeOut(const uint8_t* data, int len, bool wait) override;
};

} // namespace rdr
