// The base of every output stream: a window of memory [ptr, end) that
// callers write into directly, drained or grown through the virtual overrun
// only when it is full.
//
// overrun(itemSize, nItems) must leave room for at least one whole item of
// itemSize bytes (or throw), so fixed-size items are never split. Integers
// are written big-endian. Lengths are 64-bit. Not locked: one thread at a
// time.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "plat/Exception.h"

namespace rdr {

// The integer readers and writers swap bytes for the big-endian wire order.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian hosts only");

class OutStream {
public:
  virtual ~OutStream();

  // --- Stream operations -------------------------------------------------
  // Copies len bytes, refilling the window through overrun(1, remaining).
  virtual void writeBytes(const void* data, int len);
  // Total bytes written since the origin.
  virtual int64_t length() = 0;
  virtual void flush();
  // The lowest stream of a chain of layered streams (default: this one).
  virtual OutStream* getBottomStream();
  // Bytes accepted but not yet delivered by the bottom stream.
  virtual int bytesBuffered();
  // Bytes that can be written now without waiting or failing; 2147483647
  // means unlimited.
  virtual int spaceAvailable() = 0;
  // Closes the sending direction after the buffered bytes; false when the
  // stream does not support it.
  virtual bool closeWrite();
  // Whether write errors of non-blocking writes are thrown (buffered
  // streams only).
  virtual void setThrowErrors(bool throwErrors);
  // Makes room for at least one item of itemSize bytes and returns how many
  // of nItems fit now: min(nItems, (end - ptr) / itemSize).
  virtual int overrun(int itemSize, int nItems) = 0;

  // --- Writers -------------------------------------------------------------
  void writeU8(uint8_t v)
  {
    if (ptr_ >= end_)
      overrun(1, 1);
    *ptr_++ = v;
  }
  void writeU16(uint16_t v)
  {
    if (end_ - ptr_ < 2)
      overrun(2, 1);
    v = __builtin_bswap16(v);
    memcpy(ptr_, &v, 2);
    ptr_ += 2;
  }
  void writeU32(uint32_t v)
  {
    if (end_ - ptr_ < 4)
      overrun(4, 1);
    v = __builtin_bswap32(v);
    memcpy(ptr_, &v, 4);
    ptr_ += 4;
  }
  void writeU64(uint64_t v)
  {
    if (end_ - ptr_ < 8)
      overrun(8, 1);
    v = __builtin_bswap64(v);
    memcpy(ptr_, &v, 8);
    ptr_ += 8;
  }
  // U32 length, then the bytes before a NUL (within len when len >= 0).
  void writeString(const char* s, int len = -1);
  // U8 length, then the text cut to its first 255 bytes.
  void writeShortString(const char* s);
  // Advances over n bytes without writing them; n <= 0 does nothing.
  void skipBytes(int n);

  // --- The window (for writing straight into it) -------------------------
  uint8_t* getPtr() { return ptr_; }
  uint8_t* getEnd() { return end_; }
  int nFree() const { return (int)(end_ - ptr_); }
  void setPtr(uint8_t* p)
  {
    PLAT_ASSERT_TEXT(p >= ptr_ && p <= end_, "p >= ptr && p <= end");
    ptr_ = p;
  }

protected:
  OutStream() = default;
  OutStream(const OutStream&) = default;
  OutStream& operator=(const OutStream&) = default;

  uint8_t* ptr_ = nullptr;
  uint8_t* end_ = nullptr;
};

} // namespace rdr
