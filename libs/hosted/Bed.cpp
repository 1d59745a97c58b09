#include "hosted/Bed.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include <unordered_set>

#include "plat/numbers.h"
#include "plat/utf8.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/OutStream.h"

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

const char* const kBedMediaType = "application/vnd.tessaly.bed";

plat::IntParameter maxBedSize("_MaxBedSize", "The most bytes one BED document may take", 16777216,
                              false, nullptr, 0, 2147483647);

namespace {

constexpr int kMaxDepth = 32;

// Smallest width code for a signed and an unsigned number.
int signedWidth(int64_t v)
{
  if (v >= -128 && v <= 127)
    return 0;
  if (v >= -32768 && v <= 32767)
    return 1;
  if (v >= INT32_MIN && v <= INT32_MAX)
    return 2;
  return 3;
}

int unsignedWidth(uint64_t v)
{
  if (v < 256)
    return 0;
  if (v < 65536)
    return 1;
  if (v <= 0xFFFFFFFFu)
    return 2;
  return 3;
}

// A header byte and a number of the width's size, straight into the window.
inline void writeItem(rdr::OutStream& out, int header, int width, uint64_t v)
{
  if (out.getEnd() - out.getPtr() < 9)
    out.overrun(9, 1);
  uint8_t* p = out.getPtr();
  const int n = 1 << width;
  p[0] = (uint8_t)header;
  // All eight bytes are stored; the window has room and only n count.
  const uint64_t be = __builtin_bswap64(v << (64 - 8 * n));
  memcpy(p + 1, &be, 8);
  out.setPtr(p + 1 + n);
}

// The string index's hash: a word at a time, good enough for texts.
inline uint32_t hashText(const char* s, size_t n)
{
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  for (; n >= 8; s += 8, n -= 8) {
    uint64_t w;
    memcpy(&w, s, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  // The tail in at most two loads, which may overlap.
  uint64_t w = 0;
  if (n >= 4) {
    uint32_t a, b;
    memcpy(&a, s, 4);
    memcpy(&b, s + n - 4, 4);
    w = (uint64_t)a << 32 | b;
  } else if (n) {
    w = (uint64_t)(uint8_t)s[0] << 16 | (uint64_t)(uint8_t)s[n / 2] << 8 | (uint8_t)s[n - 1];
  }
  h = (h ^ w) * 0xFF51AFD7ED558CCDull;
  h ^= h >> 29;
  h *= 0xC4CEB9FE1A85EC53ull;
  return (uint32_t)(h ^ h >> 32);
}

// Short texts compare in place; memcmp for the rest.
inline bool sameText(std::string_view a, const char* b, size_t n)
{
  if (a.size() != n)
    return false;
  if (n > 16)
    return memcmp(a.data(), b, n) == 0;
  for (size_t i = 0; i < n; i++)
    if (a[i] != b[i])
      return false;
  return true;
}

inline uint64_t readNumber(rdr::InStream& in, int width)
{
  switch (width) {
  case 0: return in.readU8();
  case 1: return in.readU16();
  case 2: return in.readU32();
  default: return in.readU64();
  }
}

int64_t signExtend(uint64_t v, int width)
{
  switch (width) {
  case 0: return (int8_t)v;
  case 1: return (int16_t)v;
  case 2: return (int32_t)v;
  default: return (int64_t)v;
  }
}

// Packed time field layout (bit positions).
constexpr int kMsShift = 11, kSecShift = 21, kMinShift = 27, kHourShift = 33, kDayShift = 38,
              kMonShift = 43, kYearShift = 47;

uint64_t packTime(plat::Time ticks)
{
  struct tm tm;
  plat::timeToTmUtc(&tm, ticks);
  int64_t ms = ticks / plat::kTicksPerMilli % 1000;
  if (ms < 0)
    ms += 1000;
  uint64_t year = (uint64_t)(tm.tm_year + 1900);
  return ((uint64_t)ms & 0x3FF) << kMsShift | ((uint64_t)tm.tm_sec & 0x3F) << kSecShift |
         ((uint64_t)tm.tm_min & 0x3F) << kMinShift | ((uint64_t)tm.tm_hour & 0x1F) << kHourShift |
         ((uint64_t)tm.tm_mday & 0x1F) << kDayShift |
         ((uint64_t)(tm.tm_mon + 1) & 0xF) << kMonShift | (year & 0x3FFF) << kYearShift;
}

plat::Time unpackTime(uint64_t v)
{
  if (v >> 61)
    throw BedException("BED decode error");
  int offset = (int)(v & 0x7FF);
  if (offset & 0x400)
    offset -= 0x800;
  int ms = (int)(v >> kMsShift & 0x3FF);
  int sec = (int)(v >> kSecShift & 0x3F);
  int min = (int)(v >> kMinShift & 0x3F);
  int hour = (int)(v >> kHourShift & 0x1F);
  int day = (int)(v >> kDayShift & 0x1F);
  int mon = (int)(v >> kMonShift & 0xF);
  int year = (int)(v >> kYearShift & 0x3FFF);
  plat::Time t;
  if (ms > 999 || !plat::isValidDateTime(year, mon, day, hour, min, sec) ||
      !plat::dateToTime(&t, year, mon, day, hour, min, sec))
    throw BedException("BED decode error");
  return t + ms * plat::kTicksPerMilli - (plat::Time)offset * 600000000;
}

// Raises the reader's depth for one value and restores it on the way out.
class DepthGuard {
public:
  explicit DepthGuard(int& depth) : depth_(depth)
  {
    if (depth_ >= kMaxDepth)
      throw BedException("Unsupported nesting");
    depth_++;
  }
  ~DepthGuard() { depth_--; }

private:
  int& depth_;
};

// Valid UTF-8 without a NUL; ASCII runs a word at a time.
bool isCleanText(const char* s, int length)
{
  const char* end = s + length;
  constexpr uint64_t kHigh = 0x8080808080808080ull, kLow = 0x0101010101010101ull;
  while (end - s >= 8) {
    uint64_t w;
    memcpy(&w, s, 8);
    if ((w & kHigh) | ((w - kLow) & ~w & kHigh))
      break;
    s += 8;
  }
  while (s < end && (unsigned char)*s - 1u < 0x7Fu)
    s++;
  return s == end || (!memchr(s, 0, (size_t)(end - s)) && plat::isValidUtf8(s, end));
}

// Keys are mostly short and shared: the same text, or different at once.
bool sameKey(const char* a, int aLength, const char* b, int bLength)
{
  return a == b ||
         (aLength == bLength && a[0] == b[0] && memcmp(a, b, (size_t)aLength) == 0);
}

bool acceptedContentType(const char* type)
{
  static const char* const octet = "application/octet-stream";
  if (!strcmp(type, kBedMediaType) || !strcmp(type, octet))
    return true;
  plat::String copy(type);
  char* s = copy.data();
  size_t n = strlen(s);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (n && blank(s[n - 1]))
    s[--n] = 0;
  while (*s && blank(*s))
    s++;
  for (char* c = s; *c; c++)
    if (*c >= 'A' && *c <= 'Z')
      *c += 'a' - 'A';
  return !strcmp(s, kBedMediaType) || !strcmp(s, octet);
}

} // namespace

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


namespace {

// The arena of the reader running on this thread, if any.
thread_local BedArena* currentArena = nullptr;

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

uint32_t textHeader(const char* text)
{
  uint32_t h;
  memcpy(&h, text - kTextHeader, sizeof h);
  return h;
}

// Places header and text at mem; returns the text.
char* placeText(void* mem, const char* text, int length, uint32_t flag)
{
  char* p = static_cast<char*>(mem);
  const uint32_t h = (uint32_t)length | flag;
  memcpy(p, &h, sizeof h);
  memcpy(p + kTextHeader, text, (size_t)length);
  p[kTextHeader + length] = 0;
  return p + kTextHeader;
}

const char* ownKey(const char* key, int length)
{
  return placeText(plat::jsonAllocate(kTextHeader + (size_t)length + 1), key, length, 0);
}

void releaseKey(const char* key)
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

} // namespace

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

// --- Errors ----------------------------------------------------------------------

BedException::BedException(const char* message) : plat::Exception(message)
{
  setType("HostedBED");
}

BedException::BedException(int, const char* fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  vsetMessage(fmt, ap);
  va_end(ap);
  setType("HostedBED");
}

BedBadType::BedBadType() : BedException("Unexpected BED type") {}

// --- Values -----------------------------------------------------------------------

BedValue::~BedValue() = default;
BedInt& BedValue::asInt() { throw BedBadType(); }
BedBool& BedValue::asBool() { throw BedBadType(); }
BedTime& BedValue::asTime() { throw BedBadType(); }
BedString& BedValue::asString() { throw BedBadType(); }
BedOpaque& BedValue::asOpaque() { throw BedBadType(); }
BedMap& BedValue::asMap() { throw BedBadType(); }
BedSeq& BedValue::asSeq() { throw BedBadType(); }

plat::String BedValue::toText() const
{
  rdr::MemOutStream out;
  BedFormatter f(out);
  format(f, nullptr);
  plat::DString text;
  out.releaseString(text);
  return text.takeString();
}

BedValue& BedSeq::get(int index) const
{
  if (index < 0 || index >= size())
    throw BedException("BED index not found");
  return *elements_[index];
}

plat::StringSet BedSeq::toStringSet() const
{
  plat::StringSet set;
  for (const BedValuePtr& v : elements_)
    set.insert(plat::String(v->asString().value()));
  return set;
}

void BedSeq::appendStrings(const plat::StringSet& set)
{
  for (const plat::String& s : set)
    append(BedValuePtr(new BedString(s.str())));
}

const BedSeq& BedSeq::empty()
{
  static const BedSeq* e = new BedSeq;
  return *e;
}

BedString::BedString(const char* text, int length)
{
  if (!text)
    text = "";
  length_ = length < 0 ? (int)strlen(text) : length;
  text_ = static_cast<char*>(plat::jsonAllocate(length_ + 1));
  memcpy(text_, text, length_);
  text_[length_] = 0;
}

BedString::~BedString()
{
  if (ownsText_)
    plat::jsonRelease(text_, length_ + 1);
}

void BedMap::set(const char* key, const BedValuePtr& value)
{
  for (Entry& e : entries_) {
    if (plat::strCmpNull(e.key(), key) == 0) {
      e.value = value;
      return;
    }
  }
  entries_.emplace_back();
  Entry& e = entries_.back();
  e.key_ = key ? ownKey(key, (int)strlen(key)) : nullptr;
  e.value = value;
}

const BedMap::Entry* BedMap::find(const char* key) const
{
  for (const Entry& e : entries_)
    if (plat::strCmpNull(e.key(), key) == 0)
      return &e;
  return nullptr;
}

BedValue& BedMap::get(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
  return *e->value;
}

const BedSeq& BedMap::getSeq(const char* key) const
{
  const Entry* e = find(key);
  if (!e || !e->value)
    return BedSeq::empty();
  return e->value->asSeq();
}

BedValuePtr cloneBed(const BedValue& value)
{
  rdr::MemOutStream out;
  BedWriter w(out);
  value.encode(w);
  BedReader r((int)out.length(), out.data());
  return decodeBed(r, nullptr, false);
}

// --- Writing ------------------------------------------------------------------------

void BedWriter::writeSigned(int type, int64_t value)
{
  int w = signedWidth(value);
  writeItem(out_, w << 5 | type, w, (uint64_t)value);
}

void BedWriter::writeUnsigned(int type, uint64_t value)
{
  int w = unsignedWidth(value);
  writeItem(out_, w << 5 | type, w, value);
}

void BedWriter::writeString(const char* text, int length)
{
  if (!text)
    text = "";
  if (length < 0)
    length = (int)strlen(text);
  constexpr size_t kSeen = 1024;
  if (!seen_)
    seen_.reset(new Seen[kSeen]);
  Seen& seen = seen_[(reinterpret_cast<uintptr_t>(text) >> 4) % kSeen];
  if (seen.text == text && sameText(texts_[seen.index], text, (size_t)length)) {
    writeUnsigned(0, seen.index);
    return;
  }
  std::string_view view(text, length);
  uint32_t hash = hashText(text, (size_t)length);
  int64_t index = find(view, hash);
  if (index >= 0) {
    writeUnsigned(0, (uint64_t)index);
    seen = Seen{text, (uint32_t)index};
    return;
  }
  writeData(0, length, text);
  insert(view, hash);
  seen = Seen{text, (uint32_t)(texts_.size() - 1)};
}

namespace {

// A slot's tag: eight bits of the hash, never 0 (a free slot).
inline uint8_t slotTag(uint32_t hash) { return (uint8_t)(hash >> 24 | 1); }

} // namespace

int64_t BedWriter::find(std::string_view text, uint32_t hash) const
{
  if (tags_.empty())
    return -1;
  const size_t mask = tags_.size() - 1;
  const uint8_t tag = slotTag(hash);
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    if (!tags_[i])
      return -1;
    if (tags_[i] == tag) {
      uint32_t index = indexes_[i];
      if (sameText(texts_[index], text.data(), text.size()))
        return index;
    }
  }
}

void BedWriter::insert(std::string_view text, uint32_t hash)
{
  // Copied into the current chunk (a new one when it is full), so the table
  // does not depend on the caller's text staying put.
  constexpr size_t kChunk = 64 * 1024;
  if (text.size() > chunkFree_) {
    size_t size = std::max(kChunk, text.size());
    chunks_.emplace_back(new char[size]);
    chunkNext_ = chunks_.back().get();
    chunkFree_ = size;
  }
  if (!text.empty())
    memcpy(chunkNext_, text.data(), text.size());
  texts_.push_back(std::string_view(chunkNext_, text.size()));
  hashes_.push_back(hash);
  chunkNext_ += text.size();
  chunkFree_ -= text.size();

  if (texts_.size() * 2 > tags_.size()) {
    std::vector<uint8_t> tags(std::max<size_t>(64, tags_.size() * 2), 0);
    std::vector<uint32_t> indexes(tags.size());
    const size_t mask = tags.size() - 1;
    for (size_t t = 0; t < texts_.size(); t++) {
      size_t i = hashes_[t] & mask;
      while (tags[i])
        i = (i + 1) & mask;
      tags[i] = slotTag(hashes_[t]);
      indexes[i] = (uint32_t)t;
    }
    tags_.swap(tags);
    indexes_.swap(indexes);
    return;
  }
  const size_t mask = tags_.size() - 1;
  size_t i = hash & mask;
  while (tags_[i])
    i = (i + 1) & mask;
  tags_[i] = slotTag(hash);
  indexes_[i] = (uint32_t)(texts_.size() - 1);
}

void BedWriter::writeData(int type, int64_t length, const void* bytes)
{
  if (length < 0)
    throw BedException("BED value bad length");
  int w = length <= 255 ? 0 : length <= 65535 ? 1 : 2;
  writeItem(out_, 0x80 | w << 5 | type, w, (uint64_t)length);
  if (length == 0)
    return;
  if (out_.getEnd() - out_.getPtr() >= length) {
    memcpy(out_.getPtr(), bytes, (size_t)length);
    out_.setPtr(out_.getPtr() + length);
  } else {
    out_.writeBytes(bytes, (int)length);
  }
}

void BedInt::encode(BedWriter& w) const { w.writeSigned(1, value_); }
void BedBool::encode(BedWriter& w) const { w.writeUnsigned(3, value_ ? 1 : 0); }
void BedTime::encode(BedWriter& w) const { w.writeUnsigned(2, packTime(ticks_)); }
void BedString::encode(BedWriter& w) const { w.writeString(text_, length_); }
void BedOpaque::encode(BedWriter& w) const { w.writeData(1, data_.length(), data_.data()); }

void BedMap::encode(BedWriter& w) const
{
  w.stream().writeU8(0xE0);
  w.writeSigned(1, 2 * (int64_t)entries_.size());
  for (const Entry& e : entries_) {
    if (e.key())
      w.writeString(e.key(), e.keyLength());
    else
      w.writeString("", 0);
    e.value->encode(w);
  }
}

void BedSeq::encode(BedWriter& w) const
{
  w.stream().writeU8(0xE1);
  w.writeSigned(1, (int64_t)elements_.size());
  for (const BedValuePtr& v : elements_)
    v->encode(w);
}

void BedUnknown::encode(BedWriter& w) const
{
  if (type_ < 0) {
    w.stream().writeBytes(raw_.data(), raw_.length());
    return;
  }
  w.stream().writeU8((uint8_t)(0xE0 | type_));
  w.writeSigned(1, (int64_t)children_.size());
  for (const BedValuePtr& v : children_)
    v->encode(w);
}

// --- Reading ------------------------------------------------------------------------

BedReader::BedReader(int length, const void* bytes)
  : mem_(bytes, length), in_(&mem_), arena_(new BedArena), start_(0), max_(maxBedSize),
    bytes_(mem_.getPtr())
{
}

BedReader::BedReader(rdr::InStream& in)
  : mem_(nullptr, 0), in_(&in), arena_(new BedArena), start_(in.pos()), max_(maxBedSize)
{
}

BedReader::~BedReader()
{
  for (const Text& t : table_)
    BedArena::drop(t.text);
}

BedValuePtr BedReader::readValue()
{
  ArenaScope scope(arena_.get());
  BedValuePtr value;
  read(value);
  return value;
}

void BedReader::read(BedValuePtr& slot)
{
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  // Integers are the commonest values: read straight from the window when
  // it holds nine bytes (only 1 + width of them are taken).
  const uint8_t* p = in_->getPtr();
  if (in_->getEnd() - p >= 9 && (p[0] & 0x9F) == 0x01) {
    const int n = 1 << (p[0] >> 5);
    uint64_t w;
    memcpy(&w, p + 1, 8);
    const int64_t v = (int64_t)__builtin_bswap64(w) >> (64 - 8 * n);
    in_->consume(1 + n);
    slot.reset(new (*arena_) InArena<BedInt>(v));
    return;
  }
  int header = in_->readU8();
  if (header >= 0xE0)
    readComposite(header, slot);
  else if (header & 0x80)
    readVariable(header, slot);
  else
    readFixed(header, slot);
}

int64_t BedReader::readCount()
{
  // Nearly always a one-byte integer.
  const uint8_t* p = in_->getPtr();
  if (in_->getEnd() - p >= 2 && p[0] == 0x01 && depth_ < kMaxDepth &&
      consumed() < max_) {
    in_->consume(2);
    return (int8_t)p[1];
  }
  BedValuePtr count;
  read(count);
  return count->asInt().value();
}

void BedReader::readComposite(int header, BedValuePtr& slot)
{
  int64_t count = readCount();
  if ((uint64_t)count > 2147483646u || count * 8 >= max_ || count * 8 + consumed() >= max_)
    throw BedException("BED composite bad length");
  int type = header & 0x1F;
  // At most 1,024 slots up front: the rest grows with what is really read.
  size_t reserve = (size_t)std::min<int64_t>(count, 1024);
  if (type == 0) {
    if (count % 2)
      throw BedException("BED map bad length");
    BedMap* map = new (*arena_) InArena<BedMap>();
    slot.reset(map);
    BedMap::Entries& entries = map->entries_;
    entries.reserve(reserve / 2);
    // Small maps are searched in place; large ones through a set of views
    // of the entries' own keys (their texts stay put as the vector grows).
    constexpr int64_t kSmall = 16;
    const bool useSet = count / 2 > kSmall;
    std::unordered_set<std::string_view> seen;
    Text small[kSmall];
    for (int64_t i = 0; i < count / 2; i++) {
      BedMap::Entry& entry = entries.emplace_back();
      readKey(entry);
      const Text key{entry.key_, entry.keyLength()};
      bool duplicate = false;
      if (useSet) {
        duplicate = !seen.insert(std::string_view(key.text, key.length)).second;
      } else {
        for (int64_t j = 0; j < i; j++)
          duplicate |= sameKey(small[j].text, small[j].length, key.text, key.length);
        small[i] = key;
      }
      if (duplicate)
        throw BedException("BED decode error");
      read(entry.value);
    }
    return;
  }
  if (type == 1) {
    BedSeq* seq = new (*arena_) InArena<BedSeq>();
    slot.reset(seq);
    BedSeq::Elements& elements = seq->elements_;
    elements.reserve(reserve);
    for (int64_t i = 0; i < count; i++) {
      elements.emplace_back();
      read(elements.back());
    }
    return;
  }
  std::vector<BedValuePtr> children;
  children.reserve(reserve);
  for (int64_t i = 0; i < count; i++) {
    children.emplace_back();
    read(children.back());
  }
  slot.reset(new BedUnknown(type, std::move(children)));
}

void BedReader::readVariable(int header, BedValuePtr& slot)
{
  int width = header >> 5 & 3;
  int type = header & 0x1F;
  uint64_t length = readNumber(*in_, width);
  if (length >= (uint64_t)max_ || (int64_t)length + consumed() >= max_)
    throw BedException("BED variable data too large");
  int len = (int)length;
  // Over its own bytes the reader knows what is left: a length past the end
  // is a truncation, found before anything is allocated.
  if (ownsBytes() && in_->nUnread() < len)
    throw rdr::EndOfStream("End of in-memory input stream");
  if (type == 0) {
    readText(len, &slot);
    return;
  }
  if (type == 1) {
    plat::MBuf<unsigned char> data(len);
    in_->readBytes(data.data(), len);
    slot.reset(new BedOpaque(std::move(data)));
    return;
  }
  int lenBytes = 1 << width;
  plat::MBuf<unsigned char> raw(1 + lenBytes + len);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < lenBytes; i++)
    raw[1 + i] = (unsigned char)(length >> (8 * (lenBytes - 1 - i)));
  in_->readBytes(raw.data() + 1 + lenBytes, len);
  slot.reset(new BedUnknown(std::move(raw)));
}

void BedReader::readFixed(int header, BedValuePtr& slot)
{
  int width = header >> 5 & 3;
  int type = header & 0x1F;
  uint64_t v = readNumber(*in_, width);
  switch (type) {
  case 1:
    slot.reset(new (*arena_) InArena<BedInt>(signExtend(v, width)));
    return;
  case 0: {
    const Text& t = repeat(v);
    slot.reset(ArenaString::share(*arena_, t.text, t.length));
    return;
  }
  case 2:
    if (width == 3) {
      slot.reset(new (*arena_) InArena<BedTime>(unpackTime(v)));
      return;
    }
    break;
  case 3:
    if (width == 0) {
      if (v > 1)
        throw BedException("BED decode error");
      slot.reset(new (*arena_) InArena<BedBool>(v == 1));
      return;
    }
    break;
  }
  int n = 1 << width;
  plat::MBuf<unsigned char> raw(1 + n);
  raw[0] = (unsigned char)header;
  for (int i = 0; i < n; i++)
    raw[1 + i] = (unsigned char)(v >> (8 * (n - 1 - i)));
  slot.reset(new BedUnknown(std::move(raw)));
}

const BedReader::Text& BedReader::readText(int len, BedValuePtr* slot)
{
  // In place when the window holds the whole text.
  const char* text = reinterpret_cast<const char*>(in_->getPtr());
  const bool inWindow = in_->nUnread() >= len;
  std::unique_ptr<char[]> copy;
  if (!inWindow) {
    copy.reset(new char[len]);
    in_->readBytes(copy.get(), len);
    text = copy.get();
  }
  // A NUL would cut the text short: refused, like invalid UTF-8.
  if (!isCleanText(text, len))
    throw BedException("BED decode error");
  // Room first, so that nothing made below is lost to a failed push.
  if (table_.size() == table_.capacity())
    table_.reserve(std::max<size_t>(64, 2 * table_.capacity()));
  const char* placed;
  if (slot) {
    BedString* s = ArenaString::make(*arena_, text, len);
    slot->reset(s);
    placed = s->value();
  } else {
    placed = placeText(arena_->allocate(kTextHeader + (size_t)len + 1), text, len, kInArena);
  }
  if (slot)
    BedArena::hold(placed);
  Text& entry = table_.emplace_back();
  entry.text = placed;
  entry.length = len;
  if (inWindow)
    in_->consume(len);
  return entry;
}

const BedReader::Text& BedReader::repeat(uint64_t index)
{
  if (index >= table_.size())
    throw BedException("BED decode error");
  const Text& t = table_[index];
  // Two bytes on the wire stand for a whole text: the text counts against
  // the size limit as if it had been copied.
  repeated_ += t.length;
  if (consumed() > max_)
    throw BedException("BED data too large");
  return t;
}

void BedReader::readKey(BedMap::Entry& entry)
{
  const uint8_t* p = in_->getPtr();
  // Most keys repeat one of the first 256 texts.
  if (in_->getEnd() - p >= 2 && p[0] == 0x00 && p[1] < table_.size() && depth_ < kMaxDepth &&
      consumed() < max_) {
    in_->consume(2);
    entry.key_ = repeat(p[1]).text;
    BedArena::hold(entry.key_);
    return;
  }
  int header = p < in_->getEnd() ? *p : -1;
  int width = header >> 5 & 3;
  const bool text = header >= 0 && (header & 0x9F) == 0x80 && width < 3;
  const bool repeated = header >= 0 && (header & 0x9F) == 0x00;
  if (!text && !repeated) {
    // Every string header is one of the two above: this throws.
    BedValuePtr v;
    read(v);
    const BedString& s = v->asString();
    entry.key_ = ownKey(s.value(), s.length());
    return;
  }
  DepthGuard guard(depth_);
  if (consumed() >= max_)
    throw BedException("BED data too large");
  in_->readU8();
  uint64_t n = readNumber(*in_, width);
  if (repeated) {
    entry.key_ = repeat(n).text;
    BedArena::hold(entry.key_);
    return;
  }
  if (n >= (uint64_t)max_ || (int64_t)n + consumed() >= max_)
    throw BedException("BED variable data too large");
  if (ownsBytes() && (uint64_t)in_->nUnread() < n)
    throw rdr::EndOfStream("End of in-memory input stream");
  entry.key_ = readText((int)n, nullptr).text;
  BedArena::hold(entry.key_);
}

BedValuePtr decodeBed(BedReader& reader, const char* contentType, bool strict)
{
  if (contentType && !acceptedContentType(contentType))
    throw BedException("Unknown Content-Type");
  BedValuePtr root;
  try {
    root = reader.readValue();
  } catch (rdr::EndOfStream&) {
    throw BedException("Truncated BED");
  }
  if (strict) {
    root->asMap();
    if (reader.ownsBytes() && reader.stream().nUnread() > 0)
      throw BedException("Trailing bytes after BED");
  }
  return root;
}

BedSpan findBedKey(int length, const void* bytes, const char* key)
{
  const unsigned char* base = static_cast<const unsigned char*>(bytes);
  if (length < 1 || base[0] != 0xE0)
    throw BedException("BED data not a map");
  BedReader reader(length, bytes);
  rdr::InStream& in = reader.stream();
  in.readU8();
  int64_t count = reader.readValue()->asInt().value();
  if (count < 0 || count % 2)
    throw BedException("BED decode error");
  for (int64_t i = 0; i < count / 2; i++) {
    BedValuePtr k = reader.readValue();
    const BedString& ks = k->asString();
    int64_t start = in.pos();
    reader.readValue();
    if (key && !strcmp(ks.value(), key))
      return BedSpan{base + start, (int)(in.pos() - start)};
  }
  throw BedException(0, "BED key '%s' not found", key ? key : "(null)");
}

} // namespace hosted
