#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include "plat/CircularVector.h"
#include "plat/MBuf.h"
#include "plat/SmallVector.h"

namespace {

// --- MBuf ---------------------------------------------------------------------

TEST(MBuf, StorageReuseRule)
{
  struct {
    int oldLength, newLength;
    bool reused;
  } cases[] = {
      {200, 90, false}, // under half of a large buffer: reallocated to fit
      {200, 100, true}, {200, 200, true}, {200, 201, false},
      {127, 1, true}, // small buffers always shrink in place
      {128, 63, false}, {128, 64, true},  {10, 0, true},
  };
  for (const auto& c : cases) {
    plat::MBuf<unsigned char> buf(c.oldLength);
    memset(buf.data(), 'x', c.oldLength);
    const unsigned char* before = buf.data();
    plat::MBuf<unsigned char> src(c.newLength);
    if (c.newLength > 0)
      memset(src.data(), 's', c.newLength);
    buf.assign(src);
    SCOPED_TRACE(testing::Message() << c.oldLength << " -> " << c.newLength);
    EXPECT_EQ(buf.length(), c.newLength);
    EXPECT_EQ(buf.data() == before, c.reused);
    for (int i = 0; i < c.newLength; i++)
      ASSERT_EQ(buf[i], 's');
  }
}

TEST(MBuf, SecureWipesReleasedTail)
{
  for (bool secure : {false, true}) {
    plat::MBuf<unsigned char> buf(200, secure);
    memset(buf.data(), 0xaa, 200);
    unsigned char* storage = buf.data();
    buf.resize(150); // keeps its storage
    ASSERT_EQ(buf.data(), storage);
    for (int i = 150; i < 200; i++)
      ASSERT_EQ(storage[i], secure ? 0 : 0xaa) << i;
  }
}

TEST(MBuf, AssignMinLengthAndSelf)
{
  const unsigned int words[] = {1, 2, 3};
  plat::MBuf<unsigned int> buf;
  buf.assign(words, 3, 5);
  EXPECT_EQ(buf.length(), 5);
  EXPECT_EQ(buf[2], 3u);
  buf.assign(buf.data() + 1, 2); // source inside the buffer
  EXPECT_EQ(buf.length(), 2);
  EXPECT_EQ(buf[0], 2u);
  EXPECT_EQ(buf[1], 3u);
  buf.assign(nullptr, -4, -1);
  EXPECT_EQ(buf.length(), 0);

  plat::MBuf<char> grow("ab", 2);
  grow.resize(4);
  EXPECT_EQ(memcmp(grow.data(), "ab", 2), 0);
  EXPECT_EQ(grow.length(), 4);
}

TEST(MBuf, CopiesOfSecureStaySecure)
{
  plat::MBuf<unsigned char> secret(4, true);
  plat::MBuf<unsigned char> plain;
  plain = secret;
  EXPECT_TRUE(plain.isSecure());
  plat::MBuf<unsigned char> moved(std::move(secret));
  EXPECT_TRUE(moved.isSecure());
  EXPECT_EQ(secret.length(), 0);

  unsigned char* raw = new unsigned char[3]{7, 8, 9};
  moved.adopt(raw, 3);
  EXPECT_EQ(moved.length(), 3);
  EXPECT_EQ(moved[2], 9);
  delete[] moved.release();
  EXPECT_EQ(moved.length(), 0);
}

// --- SmallVector -------------------------------------------------------------

using Small4 = plat::SmallVector<uint32_t, 4>;

Small4 filled(int n, uint32_t base)
{
  Small4 v;
  for (int i = 0; i < n; i++)
    v.push_back(base + i);
  return v;
}

void expectRun(const Small4& v, int n, uint32_t base)
{
  ASSERT_EQ(v.size(), (uint64_t)n);
  for (int i = 0; i < n; i++)
    EXPECT_EQ(v[i], base + i) << i;
}

TEST(SmallVector, Growth)
{
  Small4 v;
  EXPECT_TRUE(v.small());
  EXPECT_EQ(v.capacity(), 4u);
  for (uint32_t i = 0; i < 4; i++)
    v.push_back(i);
  EXPECT_TRUE(v.small());
  v.emplace_back(v[0]); // the argument lives in the storage being replaced
  EXPECT_FALSE(v.small());
  EXPECT_EQ(v.capacity(), 16u); // max(max(5, 16), 8)
  EXPECT_EQ(v[4], 0u);
  while (v.size() < 17)
    v.emplace_back();
  EXPECT_EQ(v.capacity(), 32u);
  EXPECT_EQ(v[16], 0u);

  // reserve always moves to fresh heap storage of max(max(n, 16), 2 x cap).
  Small4 r;
  r.reserve(2);
  EXPECT_FALSE(r.small());
  EXPECT_EQ(r.capacity(), 16u);
  r.reserve(40);
  EXPECT_EQ(r.capacity(), 40u);
  r.reserve(1);
  EXPECT_EQ(r.capacity(), 80u);

  Small4 copy(filled(20, 100));
  expectRun(copy, 20, 100);
}

TEST(SmallVector, SwapCases)
{
  struct {
    int a, b;
    bool aHeap, bHeap;
    bool small; // both small afterwards
  } cases[] = {
      {3, 1, false, false, true},   {0, 4, false, false, true},   {2, 2, false, false, true},
      {3, 20, false, false, false}, {0, 20, false, false, false}, {20, 30, false, false, false},
      {2, 0, false, true, false}, // a heap vector in the empty heap state
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " <-> " << c.b);
    Small4 a = filled(c.a, 100);
    Small4 b = filled(c.b, 200);
    if (c.bHeap)
      b.reserve(1);
    const uint32_t* bStorage = b.data();
    bool bWasHeap = !b.small();
    a.swap(b);
    expectRun(a, c.b, 200);
    expectRun(b, c.a, 100);
    EXPECT_EQ(a.small(), c.small);
    EXPECT_EQ(b.small(), c.small);
    if (bWasHeap && !c.small) {
      EXPECT_EQ(a.data(), bStorage); // heap storage changes hands
    }
  }

  // A small empty vector swapped with a heap one takes no storage.
  Small4 empty;
  Small4 heap = filled(10, 0);
  empty.swap(heap);
  EXPECT_FALSE(heap.small());
  EXPECT_EQ(heap.capacity(), 0u);
  EXPECT_EQ(heap.data(), nullptr);
  heap.push_back(5);
  EXPECT_EQ(heap.capacity(), 16u);
  expectRun(empty, 10, 0);
}

TEST(SmallVectorDeathTest, ReserveZeroIsFatal)
{
  Small4 v;
  EXPECT_DEATH(v.reserve(0), "Assertion '0 < newCapacity && oldCapacity <= 0x3fffffffu' failed");
}

// --- CircularVector ---------------------------------------------------------------

TEST(CircularVector, GrowthAndWrap)
{
  plat::CircularVector<int> v;
  EXPECT_EQ(v.capacity(), 0u);
  const struct {
    int count;
    uint64_t capacity;
  } steps[] = {{1, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}};
  int next = 0;
  for (const auto& s : steps) {
    while (next < s.count)
      v.push_back(next++);
    EXPECT_EQ(v.capacity(), s.capacity) << s.count;
  }

  // Pop at the front and push until the logical range wraps the storage.
  for (int i = 0; i < 12; i++)
    v.pop_front();
  for (int i = 0; i < 20; i++)
    v.push_back(next++);
  EXPECT_EQ(v.capacity(), 32u);
  ASSERT_EQ(v.size(), 25u);
  for (uint64_t i = 0; i < v.size(); i++)
    EXPECT_EQ(v[i], (int)(12 + i)) << i;

  // Growing from a wrapped state keeps the logical order.
  while (next < 12 + 33)
    v.push_back(next++);
  EXPECT_EQ(v.capacity(), 64u);
  for (uint64_t i = 0; i < v.size(); i++)
    ASSERT_EQ(v[i], (int)(12 + i)) << i;

  EXPECT_EQ(v.find(0, v.size(), 20), 8u);
  EXPECT_EQ(v.find(9, v.size(), 20), v.size());
  EXPECT_EQ(v.find(0, 5, 20), 5u);
  EXPECT_EQ(v.front(), 12);
  v.pop_back();
  EXPECT_EQ(v.back(), 12 + 31);
  v.clear();
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(v.capacity(), 64u);
}

TEST(CircularVector, CopyAndMove)
{
  plat::CircularVector<int> a;
  for (int i = 0; i < 5; i++)
    a.push_back(i);
  a.pop_front();
  plat::CircularVector<int> b(a);
  plat::CircularVector<int> c(std::move(a));
  EXPECT_TRUE(a.empty());
  ASSERT_EQ(b.size(), 4u);
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(c[3], 4);
}

} // namespace
