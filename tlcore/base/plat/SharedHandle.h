// Shared ownership without a counter, for JSON values, certificates, keys
// and BED values.
//
// Every holder of one object is linked into a circular doubly linked ring
// with the object's other holders. Copying a holder joins the ring; resetting
// or destroying one leaves it, and the holder that leaves as the ring's only
// member deletes the object. An empty holder holds nothing and is a ring of
// one. A holder of a derived type may join the ring of a holder of a base
// type of the same object (and the other way round), so converted holders
// share ownership with the holder they came from; whichever leaves last
// deletes through its own type, so such types need virtual destructors.
//
// The links are plain pointers: an object and all of its holders belong to
// one thread at a time. An object must be handed to a holder only once (two
// rings over one object would delete it twice).
#pragma once

#include <stddef.h>

#include <type_traits>

namespace plat {

// The ring links of one holder. They do not depend on the object's type, so
// holders of different types of one object can share a ring.
class SharedHandleLinks {
protected:
  SharedHandleLinks() noexcept : prev_(this), next_(this) {}
  ~SharedHandleLinks() = default;
  SharedHandleLinks(const SharedHandleLinks&) = delete;
  SharedHandleLinks& operator=(const SharedHandleLinks&) = delete;

  bool alone() const noexcept { return next_ == this; }

  // Inserts this holder, which must be alone, after other. The other's links
  // change, which is why they are mutable: copying from a const holder is
  // still a change of the ring.
  void joinRing(const SharedHandleLinks& other) noexcept
  {
    prev_ = const_cast<SharedHandleLinks*>(&other);
    next_ = other.next_;
    other.next_->prev_ = this;
    other.next_ = this;
  }

  // True when this holder was the ring's only member.
  bool leaveRing() noexcept
  {
    if (next_ == this)
      return true;
    prev_->next_ = next_;
    next_->prev_ = prev_;
    prev_ = next_ = this;
    return false;
  }

  // This holder, which must be alone, takes other's place; other is left
  // alone.
  void replaceInRing(SharedHandleLinks& other) noexcept
  {
    if (other.next_ == &other)
      return;
    prev_ = other.prev_;
    next_ = other.next_;
    prev_->next_ = this;
    next_->prev_ = this;
    other.prev_ = other.next_ = &other;
  }

  size_t ringSize() const noexcept
  {
    size_t n = 1;
    for (const SharedHandleLinks* l = next_; l != this; l = l->next_)
      n++;
    return n;
  }

private:
  mutable SharedHandleLinks* prev_;
  mutable SharedHandleLinks* next_;
};

template <class T> class SharedHandle : private SharedHandleLinks {
  template <class U> friend class SharedHandle;
  template <class U>
  using IfConvertible = std::enable_if_t<std::is_convertible<U*, T*>::value, int>;

public:
  SharedHandle() noexcept = default;
  // Takes ownership of p (may be null) in a new ring.
  explicit SharedHandle(T* p) noexcept : p_(p) {}

  SharedHandle(const SharedHandle& other) noexcept : p_(other.p_) { join(other); }
  template <class U, IfConvertible<U> = 0>
  SharedHandle(const SharedHandle<U>& other) noexcept : p_(other.p_)
  {
    join(other);
  }
  // Joins owner's ring holding sameObject, which must be the owner's object
  // seen as another type (see sharedHandleCast).
  template <class U>
  SharedHandle(const SharedHandle<U>& owner, T* sameObject) noexcept
      : p_(owner.p_ ? sameObject : nullptr)
  {
    join(owner);
  }

  SharedHandle(SharedHandle&& other) noexcept : p_(other.p_) { take(other); }
  template <class U, IfConvertible<U> = 0>
  SharedHandle(SharedHandle<U>&& other) noexcept : p_(other.p_)
  {
    take(other);
  }

  ~SharedHandle() { reset(); }

  SharedHandle& operator=(const SharedHandle& other) noexcept
  {
    assign(other);
    return *this;
  }
  template <class U, IfConvertible<U> = 0>
  SharedHandle& operator=(const SharedHandle<U>& other) noexcept
  {
    assign(other);
    return *this;
  }
  SharedHandle& operator=(SharedHandle&& other) noexcept
  {
    moveAssign(other);
    return *this;
  }
  template <class U, IfConvertible<U> = 0> SharedHandle& operator=(SharedHandle<U>&& other) noexcept
  {
    moveAssign(other);
    return *this;
  }

  // Leaves the ring (deleting the object when this was its last holder) and
  // then holds p, if given, in a new ring. Resetting to the held object
  // itself does nothing.
  void reset(T* p = nullptr) noexcept
  {
    if (p && p == p_)
      return;
    T* old = p_;
    bool last = leaveRing();
    p_ = p;
    if (last)
      delete old;
  }

  T* get() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // True when this is the object's only holder.
  bool unique() const noexcept { return p_ && alone(); }
  // Holders of the object, this one included (0 when empty). Walks the ring.
  size_t holderCount() const noexcept { return p_ ? ringSize() : 0; }

private:
  template <class U> void join(const SharedHandle<U>& other) noexcept
  {
    if (p_)
      joinRing(other);
  }

  template <class U> void take(SharedHandle<U>& other) noexcept
  {
    replaceInRing(other);
    other.p_ = nullptr;
  }

  template <class U> void assign(const SharedHandle<U>& other) noexcept
  {
    // Same object (or both empty): already in the same ring.
    if (p_ == other.p_)
      return;
    T* old = p_;
    bool last = leaveRing();
    p_ = other.p_;
    join(other);
    // Deleted only now: the old object may own the holder we copied from.
    if (last)
      delete old;
  }

  template <class U> void moveAssign(SharedHandle<U>& other) noexcept
  {
    if (static_cast<const void*>(&other) == static_cast<const void*>(this))
      return;
    T* old = p_;
    bool last = leaveRing();
    p_ = other.p_;
    take(other);
    if (last && old != p_)
      delete old;
  }

  T* p_ = nullptr;
};

template <class T, class U> bool operator==(const SharedHandle<T>& a, const SharedHandle<U>& b)
{
  return a.get() == b.get();
}
template <class T, class U> bool operator!=(const SharedHandle<T>& a, const SharedHandle<U>& b)
{
  return a.get() != b.get();
}

// A holder of type T sharing h's ring, for a caller that already knows the
// object is a T (a checked conversion, a type tag).
template <class T, class U> SharedHandle<T> sharedHandleCast(const SharedHandle<U>& h)
{
  return SharedHandle<T>(h, static_cast<T*>(h.get()));
}

} // namespace plat
