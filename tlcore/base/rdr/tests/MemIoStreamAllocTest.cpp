// How much a restored MemIoStream allocates, measured by replacing the
// global allocation functions in this program.
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"

namespace {

std::atomic<size_t> gCurrent{0};
std::atomic<size_t> gPeak{0};

void* counted(size_t size)
{
  void* p = malloc(size ? size : 1);
  if (!p)
    throw std::bad_alloc();
  size_t now = gCurrent += malloc_usable_size(p);
  size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void uncounted(void* p)
{
  if (p)
    gCurrent -= malloc_usable_size(p);
  free(p);
}

} // namespace

void* operator new(size_t size) { return counted(size); }
void* operator new[](size_t size) { return counted(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
  try {
    return counted(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }

namespace {

// The most bytes fn had allocated at once beyond what was allocated before.
size_t peakDuring(const std::function<void()>& fn)
{
  size_t before = gCurrent.load();
  gPeak = before;
  fn();
  return gPeak.load() - before;
}

// A saved state that claims `count` buffers of one byte each (the writer's
// empty one last), `cut` bytes short of its end.
std::string manyTinyBuffers(uint32_t count, int bufSize, size_t cut = 0)
{
  rdr::MemOutStream out;
  out.writeU32(count + 1); // maxBufs
  out.writeU32(bufSize);
  out.writeU32(0);         // readIdx
  out.writeU32(count - 1); // writeIdx
  out.writeU8(0);
  out.writeU32(count);
  for (uint32_t i = 0; i + 1 < count; i++) {
    out.writeU32(1);
    out.writeU8('x');
  }
  out.writeU32(0);
  out.writeU32(0); // input ptr and end
  out.writeU32(1);
  out.writeU32(0); // checkpoint
  out.writeU64(0);
  out.writeU8(1);
  out.writeU32(0); // output ptr and end
  out.writeU32(bufSize);
  return std::string((const char*)out.data(), out.length() - cut);
}

TEST(MemIoStreamRestore, AllocatesInProportionToItsInput)
{
  constexpr int kBufSize = 2048;
  rdr::MemIoStream full(nullptr, -1, kBufSize);
  std::string data(64 * kBufSize, 'd');
  full.writeBytes(data.data(), (int)data.size());
  rdr::MemOutStream saved;
  full.serialize(saved);
  struct Case {
    const char* name;
    std::string input;
    int64_t readable; // -1: the input is cut short
  } cases[] = {
      {"full buffers", std::string((const char*)saved.data(), saved.length()), (int64_t)data.size()},
      {"tiny buffers", manyTinyBuffers(20000, kBufSize), 19999},
      {"tiny buffers cut short", manyTinyBuffers(20000, kBufSize, 40), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rdr::MemIoStream s(nullptr, -1, kBufSize);
    rdr::MemInStream in(c.input.data(), (int)c.input.size());
    size_t peak = peakDuring([&] {
      if (c.readable < 0)
        EXPECT_THROW(s.deserialize(in), rdr::EndOfStream);
      else
        s.deserialize(in);
    });
    EXPECT_LE(peak, 32 * c.input.size() + 4 * kBufSize);
    if (c.readable < 0)
      continue;
    // The restored stream reads its data, returns the buffers and writes on.
    std::string back(c.readable, '\0');
    s.readBytes(&back[0], (int)c.readable);
    EXPECT_EQ(std::string(c.readable, c.readable == 19999 ? 'x' : 'd'), back);
    s.setCheckpoint();
    s.writeBytes(data.data(), 3 * kBufSize);
    s.readBytes(&back[0], 3 * kBufSize);
    EXPECT_EQ(data.substr(0, 3 * kBufSize), back.substr(0, 3 * kBufSize));
  }
}

} // namespace
