// A vector that keeps up to N elements inline and moves to the heap when it
// outgrows them, so short lists (the regular-expression matcher's thread
// lists) cost no allocation.
//
// Elements are trivially copyable: they move as bytes. Heap storage is plain
// operator new; the inline storage is never freed. reserve always moves the
// elements to fresh heap storage. Broken size invariants are fatal
// assertions; allocation failure throws std::bad_alloc. Not locked: one
// thread at a time.
#pragma once

#include <stdint.h>
#include <string.h>

#include <new>
#include <type_traits>

#include "plat/Exception.h"

namespace plat {

template <typename T, unsigned N> class SmallVector {
  static_assert(std::is_trivially_copyable<T>::value, "SmallVector moves elements as bytes");
  static_assert(N > 0, "SmallVector needs inline room");

public:
  SmallVector() : capacity_(N), size_(0), data_(inlineData()), isSmall_(true) {}
  SmallVector(const SmallVector& other) : SmallVector()
  {
    if (other.size_ > capacity_)
      reserve(other.size_);
    copyFrom(other);
  }
  SmallVector& operator=(const SmallVector& other)
  {
    if (this != &other) {
      if (other.size_ > capacity_)
        reserve(other.size_);
      copyFrom(other);
    }
    return *this;
  }
  ~SmallVector()
  {
    if (!isSmall_)
      ::operator delete(data_);
  }

  // Moves the elements to heap storage of
  // max(max(newCapacity, 16), 2 x capacity) elements.
  void reserve(uint64_t newCapacity)
  {
    uint64_t oldCapacity = capacity_;
    PLAT_ASSERT(0 < newCapacity && oldCapacity <= 0x3fffffffu);
    uint64_t cap = newCapacity < 16 ? 16 : newCapacity;
    if (cap < 2 * oldCapacity)
      cap = 2 * oldCapacity;
    T* heap = static_cast<T*>(::operator new(cap * sizeof(T)));
    if (size_ > 0)
      memcpy(static_cast<void*>(heap), data_, size_ * sizeof(T));
    if (!isSmall_)
      ::operator delete(data_);
    data_ = heap;
    capacity_ = cap;
    isSmall_ = false;
  }

  void push_back(const T& value) { emplace_back(value); }
  T& emplace_back(const T& value)
  {
    if (size_ == capacity_) {
      T copy = value; // value may live in the storage being replaced
      reserve(size_ + 1);
      return data_[size_++] = copy;
    }
    return data_[size_++] = value;
  }
  // Appends a zero element.
  T& emplace_back() { return emplace_back(T()); }

  void pop_back() { size_--; }
  void clear() { size_ = 0; }

  // Exchanges the contents. Two small vectors swap their elements in
  // place; otherwise both end up on the heap and swap storage.
  void swap(SmallVector& other)
  {
    if (isSmall_ && size_ > other.capacity_)
      reserve(size_);
    if (other.isSmall_ && other.size_ > capacity_)
      other.reserve(other.size_);
    if (isSmall_ != other.isSmall_) {
      if (isSmall_)
        moveToHeap();
      else
        other.moveToHeap();
    }
    PLAT_ASSERT(isSmall_ == other.isSmall_);
    if (!isSmall_) {
      uint64_t c = capacity_, s = size_;
      T* d = data_;
      capacity_ = other.capacity_;
      size_ = other.size_;
      data_ = other.data_;
      other.capacity_ = c;
      other.size_ = s;
      other.data_ = d;
      return;
    }
    if (size_ >= other.size_)
      swapSmall(other);
    else
      other.swapSmall(*this);
  }

  uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint64_t capacity() const { return capacity_; }
  bool small() const { return isSmall_; }

  T& operator[](uint64_t i) { return data_[i]; }
  const T& operator[](uint64_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

private:
  T* inlineData() { return reinterpret_cast<T*>(inline_); }

  void copyFrom(const SmallVector& other)
  {
    if (other.size_ > 0)
      memcpy(static_cast<void*>(data_), other.data_, other.size_ * sizeof(T));
    size_ = other.size_;
  }

  // An empty small vector needs no storage at all on the heap side.
  void moveToHeap()
  {
    if (size_ == 0) {
      data_ = nullptr;
      capacity_ = 0;
      isSmall_ = false;
    } else {
      reserve(size_);
    }
  }

  // Called on the larger of two small vectors.
  void swapSmall(SmallVector& smaller)
  {
    PLAT_ASSERT(smaller.size_ <= size_ && smaller.capacity_ >= size_);
    uint64_t common = smaller.size_;
    for (uint64_t i = 0; i < common; i++) {
      T t = data_[i];
      data_[i] = smaller.data_[i];
      smaller.data_[i] = t;
    }
    if (size_ > common)
      memcpy(static_cast<void*>(smaller.data_ + common), data_ + common,
             (size_ - common) * sizeof(T));
    smaller.size_ = size_;
    size_ = common;
  }

  uint64_t capacity_;
  uint64_t size_;
  T* data_;
  bool isSmall_;
  alignas(T) unsigned char inline_[N * sizeof(T)];
};

} // namespace plat
