#include "hosted/BedArena.h"

namespace hosted {

using namespace bedarena;

BedMap::Entry& BedMap::Entry::operator=(Entry&& other) noexcept
{
  if (this != &other) {
    value = std::move(other.value);
    releaseKey(key_);
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

BedMap::Entry::~Entry() { releaseKey(key_); }

int BedMap::Entry::keyLength() const { return key_ ? (int)(textHeader(key_) & ~kInArena) : 0; }

namespace {

// The word in front of a container's storage: 1 for the arena, 0 for the pool.
constexpr size_t kTagSize = sizeof(uintptr_t);

} // namespace

void* bedAllocate(size_t bytes)
{
  const size_t total = bytes + kTagSize;
  uintptr_t* p;
  BedArena* arena = currentArena;
  if (arena && total <= BedArena::kMaxArenaBlock) {
    p = static_cast<uintptr_t*>(arena->allocate(total));
    *p = 1;
  } else {
    p = static_cast<uintptr_t*>(plat::jsonAllocate(total));
    *p = 0;
  }
  return p + 1;
}

void bedRelease(void* storage, size_t bytes)
{
  uintptr_t* p = static_cast<uintptr_t*>(storage) - 1;
  if (*p)
    BedArena::release(p, bytes + kTagSize);
  else
    plat::jsonRelease(p, bytes + kTagSize);
}

} // namespace hosted
