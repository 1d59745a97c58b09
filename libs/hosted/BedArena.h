// The arena a BED reader places its values in, and the texts that keys and
// the reader's string table share. Blocks live in aligned chunks that count
// their live blocks; a chunk goes when its reader is done with it and its
// last block has gone, so values may outlive their reader. Private to
// libs/hosted; one reader per thread at a time (currentArena).
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <utility>

#include "hosted/Bed.h"

#if defined(__SANITIZE_ADDRESS__)
#define BED_ARENA_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BED_ARENA_POISON 1
#endif
#endif
#ifdef BED_ARENA_POISON
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(p, n) ((void)(p), (void)(n))
#define ASAN_UNPOISON_MEMORY_REGION(p, n) ((void)(p), (void)(n))
#endif

namespace hosted {

// --- Arena --------------------------------------------------------------------------

// Chunks start at a multiple of kChunkAlign, so a block (or a text inside
// its first kChunkAlign bytes) finds its chunk's header from its own
// address. The header counts the blocks and text holds in the chunk. A
// reader's chunks grow from 4 KiB (small documents stay small) to the
// alignment; a block above kMaxArenaBlock gets a chunk of its own. Under
// AddressSanitizer everything outside a live block is poisoned, so a value
// used after it went is still caught.
class BedArena {
public:
  static constexpr size_t kChunkAlign = 64 * 1024;
  static constexpr size_t kMaxArenaBlock = 8 * 1024;

  BedArena() = default;
  ~BedArena() { seal(); }
  BedArena(const BedArena&) = delete;
  BedArena& operator=(const BedArena&) = delete;

  void* allocate(size_t bytes)
  {
    bytes = (bytes + 7) & ~(size_t)7;
    if ((size_t)(end_ - next_) < bytes)
      return allocateSlow(bytes);
    char* p = next_;
    next_ += bytes;
    chunk_->live++;
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
    return p;
  }

  // Another hold on the chunk of p, a block or a text in one.
  static void hold(const void* p) { chunkOf(p)->live++; }
  static void drop(const void* p)
  {
    Chunk* c = chunkOf(p);
    if (--c->live == 0 && c->sealed)
      freeChunk(c);
  }
  static void release(void* p, size_t bytes)
  {
    ASAN_POISON_MEMORY_REGION(p, bytes);
    drop(p);
  }

private:
  // The header; blocks follow it.
  struct alignas(16) Chunk {
    size_t size;
    uint32_t live;
    bool sealed;
  };

  static Chunk* chunkOf(const void* p)
  {
    return reinterpret_cast<Chunk*>(reinterpret_cast<uintptr_t>(p) & ~(kChunkAlign - 1));
  }

  // The current chunk takes no more blocks; it goes now if none is alive.
  void seal()
  {
    if (!chunk_)
      return;
    chunk_->sealed = true;
    if (chunk_->live == 0)
      freeChunk(chunk_);
    chunk_ = nullptr;
    next_ = end_ = nullptr;
  }

  static Chunk* newChunk(size_t size)
  {
    void* mem = nullptr;
    if (posix_memalign(&mem, kChunkAlign, size) != 0)
      throw std::bad_alloc();
    Chunk* c = new (mem) Chunk{size, 0, false};
    ASAN_POISON_MEMORY_REGION(c + 1, size - sizeof(Chunk));
    return c;
  }

  void* allocateSlow(size_t bytes)
  {
    if (bytes > kMaxArenaBlock) {
      // Alone in its chunk, which is sealed at once: it goes with the block.
      Chunk* c = newChunk(sizeof(Chunk) + bytes);
      c->live = 1;
      c->sealed = true;
      ASAN_UNPOISON_MEMORY_REGION(c + 1, bytes);
      return c + 1;
    }
    seal();
    size_t size = nextSize_;
    nextSize_ = std::min(nextSize_ * 2, kChunkAlign);
    while (size < sizeof(Chunk) + bytes)
      size *= 2;
    static_assert(2 * kMaxArenaBlock <= kChunkAlign, "a small block fits a chunk");
    chunk_ = newChunk(size);
    next_ = reinterpret_cast<char*>(chunk_ + 1);
    end_ = reinterpret_cast<char*>(chunk_) + size;
    return allocate(bytes);
  }

  static void freeChunk(Chunk* c)
  {
    ASAN_UNPOISON_MEMORY_REGION(c, c->size);
    free(c);
  }

  Chunk* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  size_t nextSize_ = 4 * 1024;
};

namespace bedarena {

// The arena of the reader running on this thread, if any.
inline thread_local BedArena* currentArena = nullptr;

class ArenaScope {
public:
  explicit ArenaScope(BedArena* arena) : saved_(currentArena) { currentArena = arena; }
  ~ArenaScope() { currentArena = saved_; }

private:
  BedArena* saved_;
};

// A value made by the reader, in its arena.
template <class Base> class InArena final : public Base {
public:
  template <class... Args> explicit InArena(Args&&... args) : Base(std::forward<Args>(args)...) {}
  static void* operator new(size_t size, BedArena& arena) { return arena.allocate(size); }
  static void operator delete(void* p, BedArena&) { BedArena::release(p, sizeof(InArena)); }
  static void operator delete(void* p, size_t size) { BedArena::release(p, size); }
};

// Texts that keys and the reader's table share: NUL-terminated behind a
// word with the length and, in its top bit, whether the text is in an
// arena (else it is a copy from the pool that one key owns).
constexpr uint32_t kInArena = 0x80000000u;
constexpr size_t kTextHeader = sizeof(uint32_t);

inline uint32_t textHeader(const char* text)
{
  uint32_t h;
  memcpy(&h, text - kTextHeader, sizeof h);
  return h;
}

// Places header and text at mem; returns the text.
inline char* placeText(void* mem, const char* text, int length, uint32_t flag)
{
  char* p = static_cast<char*>(mem);
  const uint32_t h = (uint32_t)length | flag;
  memcpy(p, &h, sizeof h);
  memcpy(p + kTextHeader, text, (size_t)length);
  p[kTextHeader + length] = 0;
  return p + kTextHeader;
}

inline const char* ownKey(const char* key, int length)
{
  return placeText(plat::jsonAllocate(kTextHeader + (size_t)length + 1), key, length, 0);
}

inline void releaseKey(const char* key)
{
  if (!key)
    return;
  const uint32_t h = textHeader(key);
  if (h & kInArena)
    BedArena::drop(key);
  else
    plat::jsonRelease(const_cast<char*>(key) - kTextHeader, kTextHeader + (h & ~kInArena) + 1);
}

// A string value in the arena: its text right behind it, or one that the
// table holds (a repeat), which it then holds too.
class ArenaString final : public BedString {
public:
  static BedString* make(BedArena& arena, const char* text, int length)
  {
    void* mem = arena.allocate(sizeof(ArenaString) + kTextHeader + (size_t)length + 1);
    char* copy = placeText(static_cast<char*>(mem) + sizeof(ArenaString), text, length, kInArena);
    return ::new (mem) ArenaString(copy, length);
  }
  static BedString* share(BedArena& arena, const char* text, int length)
  {
    BedArena::hold(text);
    return ::new (arena.allocate(sizeof(ArenaString))) ArenaString(const_cast<char*>(text), length);
  }
  ~ArenaString() override
  {
    if (value() != reinterpret_cast<const char*>(this + 1) + kTextHeader)
      BedArena::drop(value());
  }
  static void operator delete(void* p, size_t size) { BedArena::release(p, size); }

private:
  ArenaString(char* text, int length) : BedString(Placed(), text, length) {}
};

} // namespace bedarena
} // namespace hosted
