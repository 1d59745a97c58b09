// A growable ring buffer: append at the back, remove at the front, index by
// logical position. The timer manager's due queue and the memory streams'
// buffer rings use it.
//
// Storage is a power-of-two array (array-new, owned) addressed through a
// mask; begin and end are free-running 64-bit counters, so logical element
// i lives at storage[(begin + i) & mask]. A full vector doubles (starting at
// 8). Growing beyond 0x3fffffff elements is a fatal assertion; allocation
// failure throws std::bad_alloc. Not locked: one thread at a time.
#pragma once

#include <stdint.h>

#include <utility>

#include "plat/Exception.h"

namespace plat {

template <typename T> class CircularVector {
public:
  CircularVector() = default;
  CircularVector(const CircularVector& other) { *this = other; }
  CircularVector& operator=(const CircularVector& other)
  {
    if (this != &other) {
      clear();
      for (uint64_t i = 0; i < other.size(); i++)
        push_back(other[i]);
    }
    return *this;
  }
  CircularVector(CircularVector&& other) noexcept { swap(other); }
  CircularVector& operator=(CircularVector&& other) noexcept
  {
    if (this != &other) {
      CircularVector gone(std::move(*this));
      swap(other);
    }
    return *this;
  }
  ~CircularVector() { delete[] storage_; }

  void push_back(const T& value)
  {
    if (size() == capacity_) {
      grow(value);
      return;
    }
    storage_[end_ & mask_] = value;
    end_++;
  }
  void push_back(T&& value)
  {
    if (size() == capacity_) {
      grow(std::move(value));
      return;
    }
    storage_[end_ & mask_] = std::move(value);
    end_++;
  }
  // Drops the first element; the slot is reset so it holds nothing alive.
  void pop_front()
  {
    storage_[begin_ & mask_] = T();
    begin_++;
  }
  void pop_back()
  {
    end_--;
    storage_[end_ & mask_] = T();
  }
  // Empties the vector and keeps the storage.
  void clear()
  {
    while (!empty())
      pop_front();
    begin_ = end_ = 0;
  }

  uint64_t size() const { return end_ - begin_; }
  bool empty() const { return end_ == begin_; }
  uint64_t capacity() const { return capacity_; }

  T& operator[](uint64_t i) { return storage_[(begin_ + i) & mask_]; }
  const T& operator[](uint64_t i) const { return storage_[(begin_ + i) & mask_]; }
  T& front() { return (*this)[0]; }
  const T& front() const { return (*this)[0]; }
  T& back() { return (*this)[size() - 1]; }
  const T& back() const { return (*this)[size() - 1]; }

  // The logical position of the first element in [first, last) equal to
  // value, or last.
  uint64_t find(uint64_t first, uint64_t last, const T& value) const
  {
    for (uint64_t i = first; i < last; i++) {
      if ((*this)[i] == value)
        return i;
    }
    return last;
  }

  void swap(CircularVector& other) noexcept
  {
    std::swap(capacity_, other.capacity_);
    std::swap(mask_, other.mask_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
    std::swap(storage_, other.storage_);
  }

private:
  // Called when full: the new element goes to logical position size(), the
  // old ones to 0 .. size() - 1 of the new storage.
  template <typename V> void grow(V&& value)
  {
    uint64_t oldSize = size();
    uint64_t newCapacity = oldSize + 1;
    PLAT_ASSERT(0 < newCapacity && newCapacity <= 0x3fffffffu);
    uint64_t cap = 8;
    if (oldSize >= 4) {
      while (cap <= oldSize)
        cap <<= 1;
    }
    T* storage = new T[cap];
    storage[oldSize] = std::forward<V>(value);
    for (uint64_t i = 0; i < oldSize; i++)
      storage[i] = std::move((*this)[i]);
    delete[] storage_;
    storage_ = storage;
    capacity_ = cap;
    mask_ = cap - 1;
    begin_ = 0;
    end_ = oldSize + 1;
  }

  uint64_t capacity_ = 0;
  uint64_t mask_ = 0;
  uint64_t begin_ = 0;
  uint64_t end_ = 0;
  T* storage_ = nullptr;
};

} // namespace plat
