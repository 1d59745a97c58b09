// The growable text buffer that texts are built in.
//
// A DString owns its array-new buffer. The length is not stored: it is the
// strlen of the buffer, so every append measures the text first. Capacities
// are powers of two of at least 8 (except after makeValidUtf8 or
// adoptBuf). A DString with no buffer reads as "". Running out of memory
// while growing ends the process; the formatting calls throw only when the
// C library cannot format the arguments at all. Not locked: one thread at
// a time.
#pragma once

#include <stdarg.h>
#include <stdint.h>

#include "plat/String.h"

namespace plat {

class DString {
public:
  DString() = default;
  DString(const DString& other);
  DString(DString&& other) noexcept;
  // Frees the own buffer, then copies the other's text into a buffer of the
  // other's capacity (none when the other has none).
  DString& operator=(const DString& other);
  DString& operator=(DString&& other) noexcept;
  ~DString();

  static DString format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

  // Building text. A length of -1 means up to the NUL; null texts append
  // nothing. The formatting calls throw plat::SystemException "vsnprintf"
  // when the arguments cannot be formatted (the text is left as it was).
  DString& append(const char* s, int len = -1);
  DString& appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  DString& vappendf(const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));
  // The code point count times, UTF-8 encoded; above U+10FFFF gives U+FFFD.
  DString& appendChar(unsigned codePoint, int count = 1);
  // Appends text with every occurrence of find replaced, left to right and
  // never rescanning replaced text; a null replacement removes them. An
  // empty find is a fatal assertion.
  DString& appendReplacing(const char* text, const char* find, const char* replacement);

  // Changing text in place.
  // Replaces bytes [start, end); nothing unless 0 <= start <= end <= length.
  void replace(int start, int end, const char* s, int len = -1);
  void replaceAll(const char* find, const char* replacement);
  // Cuts the text to at most length bytes (the capacity stays).
  void truncate(int length);
  void clear() { truncate(0); }
  // False when the text is valid UTF-8; else replaces it with the repaired
  // copy (capacity length + 1) and returns true.
  bool makeValidUtf8();

  // Storage.
  // Room for at least n bytes, the NUL included.
  void reserve(int n);
  int capacity() const { return capacity_; }
  int length() const;
  bool hasBuf() const { return buf_ != nullptr; }

  const char* get() const { return buf_ ? buf_ : ""; }
  char* data() { return buf_; }
  // Hands the buffer over (null when there is none); the DString is empty.
  char* takeBuf();
  String takeString() { return String::adopt(takeBuf()); }
  // Takes ownership of an array-new buffer of the given capacity that holds
  // a NUL within it; the old buffer is freed.
  void adoptBuf(char* buf, int capacity);

private:
  // Whether p points into the own buffer, whose reallocation would free it.
  bool inBuf(const char* p) const
  {
    return buf_ && (uintptr_t)p >= (uintptr_t)buf_ && (uintptr_t)p < (uintptr_t)(buf_ + capacity_);
  }

  char* buf_ = nullptr;
  int capacity_ = 0;
};

} // namespace plat
