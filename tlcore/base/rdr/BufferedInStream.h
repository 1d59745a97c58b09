// Input streams that read their source through a buffer they own.
//
// A subclass supplies fillBuffer; the buffer keeps every byte from the
// checkpoint on, so a rewindable stream can return to a message boundary
// (and therefore holds at most bufSize bytes between two checkpoints). A
// non-rewindable stream moves its checkpoint along with every refill and may
// discard what was read. Positions are 64-bit. The stream owns its buffer;
// one thread at a time.
#pragma once

#include <stdint.h>

#include <memory>

#include "plat/MBuf.h"
#include "plat/NonCopyable.h"
#include "rdr/Forward.h"
#include "rdr/InStream.h"

namespace rdr {

class BufferedInStream : public InStream, private plat::NonCopyable {
public:
  static constexpr int kDefaultBufSize = 16800;

  // bufSize < 0 means kDefaultBufSize. A secure buffer is wiped when freed.
  explicit BufferedInStream(int bufSize = -1, bool secure = false);
  // Takes over the buffer, the window and the counters; the source is left
  // without a buffer.
  BufferedInStream(BufferedInStream&& other) noexcept;
  ~BufferedInStream() override;

  int64_t pos() override { return offset_ + (ptr_ - buffer_.data()); }
  bool overrun(int size) override;

  // Empties the window at the start of the buffer.
  void reset();
  int getBufSize() const { return buffer_.length(); }
  // Enlarges the buffer to bufSize bytes (a smaller size does nothing),
  // keeping the window and every unread byte.
  void growBuffer(int bufSize);
  // Dumps every received block to standard error.
  void setTrace(bool on) { trace_ = on; }

  // Hand unread bytes to another holder of the same source: U32 count, then
  // the bytes. restoreUnread appends them behind the window and throws
  // "Too much data for InStream buffer" when they do not fit.
  void saveUnread(OutStream& out);
  void restoreUnread(InStream& in);

protected:
  // Reads at most maxLen bytes into buf: the count, 0 when it would have to
  // wait; throws at the end of the data.
  virtual int fillBuffer(uint8_t* buf, int maxLen) = 0;

private:
  // Moves the bytes from the checkpoint on to the start of the buffer.
  void compact();

  int64_t offset_ = 0; // bytes dropped from the front since construction
  plat::MBuf<unsigned char> buffer_;
  bool trace_ = false;
};

// A buffered input stream that its owner can switch between waiting reads
// and reads that return "no data" (fillBuffer 0) at once.
class BufferedNonBlockableInStream : public BufferedInStream {
public:
  using BufferedInStream::BufferedInStream;

  // Also sets a checkpoint; a non-blocking stream is made rewindable so
  // that a partly read message can be read again.
  virtual void setNonBlocking(bool nb);
  bool isNonBlocking() const { return nonBlocking_; }

protected:
  bool nonBlocking_ = false;
};

// Gathers one item of a known length from a non-blocking input over several
// data events without rewinding: each piece that has come is copied aside and
// the stream's checkpoint moved past it. The item is returned in place when
// it lies in the stream's window in one piece. Borrows the stream; the
// gathering buffer is the caller's or its own.
struct ByteReader {
  struct Result {
    int len;             // 0 while incomplete
    const uint8_t* data; // null while incomplete
  };

  ByteReader() = default;
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;
  ~ByteReader() { reset(); }

  // The first call binds the stream and sets its checkpoint; a later call
  // with another len throws "ByteReader::init: bad len". A null buf lets the
  // reader allocate one when it must copy.
  void init(InStream* stream, int len, uint8_t* buf = nullptr, bool forceCopy = false);
  // Frees an own buffer and forgets the stream and the item.
  void reset();
  bool started() const { return stream != nullptr; }

  // The whole item, or {0, null} while it is incomplete (with wait, a
  // missing piece throws BlockException instead; what came is kept).
  Result read(bool wait);
  // Passes the item's bytes as they come; true once all are passed.
  bool skip(bool wait);
  // Several whole items in place when the window holds them and nothing is
  // gathered yet, else one item (*nItems = 1); null while incomplete.
  const uint8_t* readItems(bool wait, int* nItems);

  // A U32-counted text gathered across calls: null while incomplete. A
  // count above maxLen throws StringTooLongException. Invalid UTF-8 is
  // repaired.
  static plat::String readString(ByteReader& reader, InStream* stream, int maxLen, bool wait);

  InStream* stream = nullptr;
  uint8_t* buf = nullptr;
  int got = 0; // bytes gathered
  int len = 0; // item length; 0 = not started
  // Holds buf when the reader allocated it.
  std::unique_ptr<uint8_t[]> ownedBuf;
  bool forceCopy = false;
};

} // namespace rdr
