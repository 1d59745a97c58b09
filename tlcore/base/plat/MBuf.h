// An owned buffer of elements (bytes, characters, words), optionally wiped
// with zeros whenever elements are released.
//
// The allocation is array-new and holds at least length() elements; there is
// no separate capacity. A secure buffer (keys, passwords, credential records)
// zeroes every element it gives up: the tail cut off when it shrinks in place
// and the whole old allocation when it moves or is freed. Copies of a secure
// buffer are secure too. Allocation failure throws std::bad_alloc. Not
// locked: one thread at a time.
#pragma once

#include <string.h>

#include <algorithm>
#include <type_traits>

#include "plat/String.h"

namespace plat {

template <typename T> class MBuf {
  static_assert(std::is_trivially_copyable<T>::value, "MBuf moves elements as bytes");

public:
  MBuf() = default;
  // length elements, not initialised.
  explicit MBuf(int length, bool secure = false) : secure_(secure) { resize(length); }
  MBuf(const T* data, int length, bool secure = false) : secure_(secure) { assign(data, length); }
  MBuf(const MBuf& other) : secure_(other.secure_) { assign(other); }
  MBuf(MBuf&& other) noexcept : length_(other.length_), buf_(other.buf_), secure_(other.secure_)
  {
    other.length_ = 0;
    other.buf_ = nullptr;
  }
  MBuf& operator=(const MBuf& other)
  {
    if (this != &other) {
      secure_ = secure_ || other.secure_;
      assign(other);
    }
    return *this;
  }
  MBuf& operator=(MBuf&& other) noexcept
  {
    if (this != &other) {
      release(buf_, length_);
      length_ = other.length_;
      buf_ = other.buf_;
      secure_ = secure_ || other.secure_;
      other.length_ = 0;
      other.buf_ = nullptr;
    }
    return *this;
  }
  ~MBuf() { release(buf_, length_); }

  // The length becomes max(source length, minLength, 0); elements past the
  // source are not initialised. The allocation is kept when the buffer
  // shrinks by at most half, or is under 128 elements; a large buffer that
  // shrinks further is reallocated to fit. The source may lie in the buffer.
  void assign(const MBuf& src, int minLength = 0) { assign(src.buf_, src.length_, minLength); }
  void assign(const T* src, int srcLength, int minLength = 0)
  {
    if (srcLength < 0 || !src)
      srcLength = 0;
    int newLength = std::max(srcLength, std::max(minLength, 0));
    int oldLength = length_;
    if (newLength <= oldLength && (oldLength < 128 || newLength >= oldLength / 2)) {
      if (src && srcLength > 0 && src != buf_)
        memmove(buf_, src, sizeof(T) * srcLength);
      if (secure_ && oldLength > newLength)
        secureZero(buf_ + newLength, sizeof(T) * (oldLength - newLength));
      length_ = newLength;
      return;
    }
    T* nbuf = newLength > 0 ? new T[newLength] : nullptr;
    if (src && srcLength > 0)
      memcpy(nbuf, src, sizeof(T) * srcLength);
    release(buf_, length_);
    buf_ = nbuf;
    length_ = newLength;
  }
  // Keeps the first min(old, new) elements; new ones are not initialised.
  void resize(int length)
  {
    if (length < 0)
      length = 0;
    if (length <= length_) {
      assign(buf_, length);
      return;
    }
    T* nbuf = new T[length];
    if (length_ > 0)
      memcpy(nbuf, buf_, sizeof(T) * length_);
    release(buf_, length_);
    buf_ = nbuf;
    length_ = length;
  }
  // Empties the buffer (wiping it first when secure).
  void clear() { assign(nullptr, 0); }

  // Takes ownership of an array-new allocation of at least length elements;
  // the old contents are released (wiped first when secure).
  void adopt(T* data, int length)
  {
    if (data != buf_)
      release(buf_, length_);
    buf_ = data;
    length_ = data && length > 0 ? length : 0;
  }
  // Hands the allocation to the caller (array-delete); the buffer is empty.
  T* release()
  {
    T* b = buf_;
    buf_ = nullptr;
    length_ = 0;
    return b;
  }
  void swap(MBuf& other) noexcept
  {
    std::swap(length_, other.length_);
    std::swap(buf_, other.buf_);
    std::swap(secure_, other.secure_);
  }

  int length() const { return length_; }
  bool empty() const { return length_ == 0; }
  T* data() { return buf_; }
  const T* data() const { return buf_; }
  T& operator[](int i) { return buf_[i]; }
  const T& operator[](int i) const { return buf_[i]; }

  void setSecure(bool secure) { secure_ = secure; }
  bool isSecure() const { return secure_; }

private:
  void release(T* buf, int length)
  {
    if (!buf)
      return;
    if (secure_)
      secureZero(buf, sizeof(T) * length);
    delete[] buf;
  }

  int length_ = 0;
  T* buf_ = nullptr;
  bool secure_ = false;
};

} // namespace plat
