// The base of every input stream: a window of memory [ptr, end) that callers
// read in place, refilled through the virtual overrun only when it runs out.
//
// Non-blocking input works through checkpoints: a consumer calls
// setCheckpoint at each message boundary; a read that cannot be satisfied
// rewinds a rewindable stream to that checkpoint and throws BlockException
// (or check(false, n) returns false), so the message is read again from its
// start when more data has come. Readers therefore act only after their last
// read. Integers are big-endian. Positions are 64-bit so a long-lived stream
// can pass 2 GiB. Not locked: one thread at a time.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/String.h"

namespace rdr {

// The integer readers and writers swap bytes for the big-endian wire order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian hosts only");

// A number given to each stream when it is made (a copy or an assignment
// gets a new one) and never again in the process, so a reader that keeps
// progress between calls can tell a new stream from a dead one that lived at
// the same address.
class StreamSerial {
public:
  StreamSerial() : value_(next()) {}
  StreamSerial(const StreamSerial&) : value_(next()) {}
  StreamSerial& operator=(const StreamSerial&)
  {
    value_ = next();
    return *this;
  }
  uint64_t value() const { return value_; }

private:
  static uint64_t next();
  uint64_t value_;
};

class InStream {
public:
  virtual ~InStream();

  // --- Stream operations -------------------------------------------------
  // Bytes consumed since the origin of the stream.
  virtual int64_t pos() = 0;
  virtual void setCheckpoint();
  // Back to the checkpoint; throws plat::Exception on a non-rewindable stream.
  virtual void rewind();
  // rewind, then skip to the given position (not before the checkpoint).
  virtual void reposition(int64_t position);
  // True when no more data will come.
  virtual bool atEnd();
  // Makes at least one more byte (and if possible size bytes) available in
  // the window without waiting. False (or BlockException) when data would
  // have to be waited for; streams at their end throw EndOfStream/EndOfMsg.
  virtual bool overrun(int size) = 0;

  // --- The window ----------------------------------------------------------
  int nUnread() const { return (int)(end_ - ptr_); }
  const uint8_t* getPtr() const { return ptr_; }
  const uint8_t* getEnd() const { return end_; }
  // Moves ptr forward inside the window.
  void setPtr(const uint8_t* p)
  {
    PLAT_ASSERT_TEXT(p >= ptr_ && p <= end_, "p >= ptr && p <= end");
    ptr_ = p;
  }
  // Advances over n bytes that are already in the window; returns n (0 when
  // negative).
  int consume(int n)
  {
    if (n <= 0)
      return 0;
    PLAT_ASSERT(nUnread() >= n);
    ptr_ += n;
    return n;
  }
  bool isRewindable() const { return rewindable_; }
  uint64_t serial() const { return serial_.value(); }
  // A non-rewindable stream may discard everything before the current byte.
  void setRewindable(bool r) { rewindable_ = r; }
  int64_t getCheckpointPos() const { return checkpointPos_; }

  // The refill step that every reader uses when its window is short. True
  // when the window is non-empty afterwards (not necessarily size bytes).
  bool check(bool wait, int size);

  // --- Readers (they wait: a short stream throws BlockException) ----------
  uint8_t readU8()
  {
    if (ptr_ >= end_)
      check(true, 1);
    return *ptr_++;
  }
  uint16_t readU16()
  {
    uint8_t tmp[2];
    uint16_t v;
    memcpy(&v, take(tmp, 2), 2);
    return __builtin_bswap16(v);
  }
  uint32_t readU32()
  {
    uint8_t tmp[4];
    uint32_t v;
    memcpy(&v, take(tmp, 4), 4);
    return __builtin_bswap32(v);
  }
  uint64_t readU64()
  {
    uint8_t tmp[8];
    uint64_t v;
    memcpy(&v, take(tmp, 8), 8);
    return __builtin_bswap64(v);
  }

  // len bytes: a pointer into the window when they lie there in one piece,
  // else copied piecewise into buf (which is returned).
  const uint8_t* getBytes(void* buf, int len);
  // As many whole items as the window holds (at most *nItems, which is
  // reduced to the count), in place; or one item copied into buf.
  const uint8_t* getItems(void* buf, int itemSize, int* nItems);
  // The same without copying: null when the window lacks a whole item after
  // one check(wait, itemSize).
  const uint8_t* getItemsNB(int itemSize, int* nItems, bool wait);
  // Advances past n bytes, refilling as needed; n <= 0 does nothing.
  void skip(int64_t n);
  // Copies len bytes into buf, refilling as needed.
  void readBytes(void* buf, int len);

  // U32 length then the bytes; a length above maxLen throws
  // StringTooLongException before any byte of the text is read. fixUtf8
  // repairs invalid UTF-8 as plat::DString::makeValidUtf8 does.
  plat::String readString(int maxLen, bool fixUtf8 = false);
  plat::String readFixedString(int len, bool fixUtf8 = false);
  // U8 length then the bytes.
  plat::String readShortString(bool fixUtf8 = false);
  plat::SecureString readSecureShortString(bool fixUtf8 = false);
  // One line ended by LF or the end of the data; CRs are dropped, NULs kept
  // (and reported through sawNul). maxLen 0 means 256 KiB; a longer line
  // empties line and throws StringTooLongException. Returns false only when
  // fixUtf8 had to repair the text.
  bool readLine(plat::DString& line, int maxLen = 0, bool* sawNul = nullptr, bool fixUtf8 = false);
  // A uniformly distributed value below n (n = 0: one raw U32).
  uint32_t readU32Below(uint32_t n);
  // Copies len bytes and returns the index of the first zero byte, or -1.
  int readBytesFindNul(void* buf, int len);

  static constexpr int kDefaultMaxLine = 262144;

protected:
  InStream() = default;
  InStream(const InStream&) = default;
  InStream& operator=(const InStream&) = default;

  const uint8_t* ptr_ = nullptr;
  const uint8_t* end_ = nullptr;
  const uint8_t* checkpointPtr_ = nullptr;
  int64_t checkpointPos_ = 0;
  bool rewindable_ = true;

private:
  StreamSerial serial_;
  const uint8_t* take(uint8_t* tmp, int n)
  {
    if (end_ - ptr_ >= n) {
      const uint8_t* p = ptr_;
      ptr_ += n;
      return p;
    }
    return getBytes(tmp, n);
  }
  plat::String readCounted(int len, bool fixUtf8);
};

} // namespace rdr
