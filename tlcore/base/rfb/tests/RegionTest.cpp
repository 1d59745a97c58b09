// rfb::Region: conversion from rectangles, value semantics, the stream form
// (also fed one byte at a time, and refused when the boxes break the band
// rules), the debug text, grid rounding and the tile iterator.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/DString.h"
#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"
#include "regioncheck.h"
#include "rfb/Region.h"
#include "testutil.h"

namespace {

using rfb::Point;
using rfb::Rect;
using rfb::Region;

std::string hexOf(const Region& r)
{
  rdr::MemOutStream out;
  r.write(out);
  return tltest::toHex(std::string((const char*)out.data(), (size_t)out.length()));
}

std::string bytesOf(const std::string& hex)
{
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

std::string debugText(const Region& r)
{
  plat::DString s;
  r.debugPrint(s);
  return s.get();
}

Region randomRegion(std::mt19937& rng, int n)
{
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<Rect> rects;
  for (int i = 0; i < n; i++) {
    int x = uni(-300, 300), y = uni(-300, 300);
    rects.push_back(Rect(x, y, x + uni(1, 200), y + uni(1, 200)));
  }
  Region r;
  r.addRects(n, rects.data());
  return r;
}

TEST(Rect, GeometryAndPrintedForm)
{
  Rect a(0, 0, 10, 10), b(5, -5, 20, 5), empty(3, 3, 3, 9);
  EXPECT_EQ(a.intersect(b), Rect(5, 0, 10, 5));
  EXPECT_TRUE(a.intersect(Rect(20, 20, 30, 30)).isEmpty());
  EXPECT_EQ(a.unionBoundary(b), Rect(0, -5, 20, 10));
  EXPECT_EQ(a.unionBoundary(empty), a);
  EXPECT_EQ(empty.unionBoundary(b), b);
  EXPECT_EQ(b.translate(Point(-5, 5)), Rect(0, 0, 15, 10));
  EXPECT_TRUE(a.encloses(Rect(0, 0, 10, 10)));
  EXPECT_FALSE(a.encloses(b));
  EXPECT_TRUE(a.contains(Point(9, 9)));
  EXPECT_FALSE(a.contains(Point(10, 9)));
  EXPECT_EQ(Rect(-40000, 0, 40000, 70000).area(), 80000LL * 70000);
  EXPECT_EQ(empty.area(), 0);
  char buf[Rect::kPrintSize];
  EXPECT_STREQ(Rect(-2147483647 - 1, 0, 2147483647, -7).print(buf), "-2147483648,0 to 2147483647,-7");
}

TEST(Region, EdgeCasesOfConversionAndStreamForm)
{
  Region flat(Rect(10, 10, 10, 20));
  EXPECT_TRUE(flat.isEmpty());
  EXPECT_EQ(hexOf(flat), "0000" "000a000a000a000a");

  Region one(Rect(-2, 3, 40, 50));
  EXPECT_EQ(hexOf(one), "0001" "fffe00030028" "0032");
  rdr::MemOutStream out;
  one.write(out);
  rdr::MemInStream in(out.data(), (int)out.length());
  Region back(Rect(0, 0, 1, 1));
  int state = -1;
  back.read(in, state);
  EXPECT_EQ(state, -1);
  EXPECT_TRUE(back.equals(one));
  EXPECT_EQ(back.raw()->data, nullptr);

  Rect squares[] = {{0, 0, 5, 5}, {5, 0, 10, 5}, {0, 5, 5, 10}, {5, 5, 10, 10}};
  Region joined;
  joined.addRects(4, squares);
  EXPECT_EQ(joined.rects(), std::vector<Rect>{Rect(0, 0, 10, 10)});
  EXPECT_EQ(joined.raw()->data, nullptr);
  EXPECT_TRUE(joined.addRects(0, nullptr));
  EXPECT_EQ(joined.rects(), std::vector<Rect>{Rect(0, 0, 10, 10)});

  // Rectangles are clamped to 16 bits on the way in.
  Region wide(Rect(-40000, 5, 40000, 6));
  EXPECT_EQ(wide.getBoundingRect(), Rect(-32768, 5, 32767, 6));
  Region beyond(Rect(40000, 0, 50000, 10));
  EXPECT_TRUE(beyond.isEmpty());

  Region moved(Rect(0, 0, 100, 100));
  moved.translate(Point(-40000, 0));
  EXPECT_TRUE(moved.isEmpty());
  EXPECT_EQ(tltest::regionInvariantError(moved.raw()), "");

  EXPECT_EQ(debugText(Region()), "num rects   0 extents 0,0 to 0,0\n");
  Rect two[] = {{0, 0, 10, 10}, {-20, 30, -10, 40}};
  Region pair;
  pair.addRects(2, two);
  EXPECT_EQ(debugText(pair), "num rects   2 extents -20,0 to 10,40\n"
                             "    rect 0,0 to 10,10\n"
                             "    rect -20,30 to -10,40\n");
  EXPECT_EQ(debugText(one), "num rects   1 extents -2,3 to 40,50\n    rect -2,3 to 40,50\n");
}

TEST(Region, ValueSemanticsAndSetBoxes)
{
  std::mt19937 rng(5);
  Region a = randomRegion(rng, 20), b = randomRegion(rng, 20);
  Region copy(a);
  copy.assignUnion(Rect(1000, 1000, 1001, 1001));
  EXPECT_FALSE(copy.equals(a));
  Region moved(std::move(copy));
  EXPECT_TRUE(copy.isEmpty());
  Region assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(moved.isEmpty());
  EXPECT_TRUE(assigned.contains(Point(1000, 1000)));
  Region sa(a), sb(b);
  sa.swap(sb);
  EXPECT_TRUE(sa.equals(b));
  EXPECT_TRUE(sb.equals(a));
  const Region& same = sa;
  sa = same; // self-assignment keeps it
  EXPECT_TRUE(sa.equals(b));

  EXPECT_EQ(a.containsRect(a.getBoundingRect()) == Xregion::kOverlapIn, a.numRects() == 1);
  EXPECT_EQ(a.containsRect(Rect(5000, 5000, 5001, 5001)), Xregion::kOverlapOut);
  EXPECT_EQ(a.containsRect(Rect(5, 5, 5, 9)), Xregion::kOverlapOut);

  Xregion::RgnRect ext = {0, 0, 30, 10};
  Xregion::RgnRect boxes[] = {{0, 0, 10, 10}, {20, 0, 30, 10}};
  Region s;
  s.setBoxes(&ext, 2, boxes);
  EXPECT_EQ(s.rects(), (std::vector<Rect>{{0, 0, 10, 10}, {20, 0, 30, 10}}));
  Xregion::RegionData* block = s.raw()->data;
  s.setBoxes(&ext, 0, nullptr);
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.raw()->data, block); // the block is kept
  EXPECT_EQ(tltest::regionInvariantError(s.raw()), "");
  s.assignUnion(Rect(1, 1, 2, 2));
  EXPECT_EQ(s.rects(), std::vector<Rect>{Rect(1, 1, 2, 2)});
  s.setBoxes(&ext, 1, nullptr);
  EXPECT_EQ(s.rects(), std::vector<Rect>{Rect(0, 0, 30, 10)});
}

TEST(Region, ReadingOneByteAtATimeResumesWithItsState)
{
  std::mt19937 rng(9);
  for (int round = 0; round < 30; round++) {
    Region src = randomRegion(rng, 1 + round % 12);
    rdr::MemOutStream out;
    src.write(out);
    // The bytes arrive one at a time; each read that runs dry waits.
    rdr::MemIoStream pipe(nullptr, -1, 16);
    Region dst(Rect(0, 0, 3, 3));
    int state = -1, blocks = 0, lastState = -1;
    for (int64_t sent = 0;;) {
      try {
        dst.read(pipe, state);
        break;
      } catch (rdr::BlockException&) {
        blocks++;
        lastState = state;
        ASSERT_LT(sent, out.length());
        pipe.writeU8(out.data()[sent++]);
      }
    }
    EXPECT_EQ(state, -1);
    EXPECT_TRUE(dst.equals(src)) << debugText(src) << debugText(dst);
    EXPECT_EQ(tltest::regionInvariantError(dst.raw()), "");
    // One wait per byte, and the box count was kept between the calls.
    EXPECT_EQ(blocks, (int)out.length());
    EXPECT_EQ(lastState, src.numRects() >= 2 ? src.numRects() - 1 : -1);
  }
}

TEST(Region, ReadingRefusesBoxesThatBreakTheBandRules)
{
  const char* const bad[] = {
    "0002" "0000000000140005" "0000000000050005" "0005000000140005",         // boxes touch in a band
    "0002" "0000000000140005" "0008000000140005" "0000000000050005",         // out of order
    "0002" "0000000000140006" "0000000000140005" "0000000400140006",         // bands overlap
    "0002" "0000000000140006" "0000000000140003" "0000000300140006",         // equal bands touch
    "0002" "0000000000150005" "0000000000050005" "0010000000140005",         // extents too wide
    "0002" "0000000000140005" "0000000000050004" "0010000000140005",         // rows differ in a band
    "0002" "0000000000000000" "0000000000050005" "0010000000140005",         // empty extents
    "0003" "000000000014000a" "0000000000050005" "0005000500050009" "000a000a0014000a", // empty box
  };
  for (const char* hex : bad) {
    std::string bytes = bytesOf(hex);
    rdr::MemInStream in(bytes.data(), (int)bytes.size());
    Region r(Rect(1, 1, 2, 2));
    int state = -1;
    try {
      r.read(in, state);
      ADD_FAILURE() << "accepted " << hex;
    } catch (plat::Exception& e) {
      EXPECT_STREQ(e.str(), "Bad region data") << hex;
    }
    EXPECT_TRUE(r.isEmpty()) << hex;
    EXPECT_EQ(state, -1);
    EXPECT_EQ(tltest::regionInvariantError(r.raw()), "");
  }

  // A stream that ends inside the boxes leaves the region empty too.
  std::string cut = bytesOf("0002" "0000000000140005" "0000000000050005");
  rdr::MemInStream in(cut.data(), (int)cut.size());
  Region r;
  int state = -1;
  EXPECT_THROW(r.read(in, state), rdr::EndOfStream);
  EXPECT_TRUE(r.isEmpty());
  EXPECT_EQ(state, -1);

  // A good two-box region after all that.
  std::string good = bytesOf("0002" "0000000000140005" "0000000000050005" "0010000000140005");
  rdr::MemInStream gin(good.data(), (int)good.size());
  r.read(gin, state);
  EXPECT_EQ(r.rects(), (std::vector<Rect>{{0, 0, 5, 5}, {16, 0, 20, 5}}));
}

TEST(Region, RoundToGridIsATrueFloorAndCeiling)
{
  Region r(Rect(-1, 3, 17, 5));
  EXPECT_EQ(r.roundToGrid(Point(16, 16), Point(0, 0)).rects(), std::vector<Rect>{Rect(-16, 0, 32, 16)});
  struct Case {
    std::vector<Rect> in;
    Point step, origin;
    std::vector<Rect> want;
  };
  const Case cases[] = {
    {{{-17, -33, -16, -32}}, {16, 16}, {0, 0}, {{-32, -48, -16, -32}}},
    {{{-17, -33, -16, -32}}, {16, 16}, {-3, 5}, {{-19, -43, -3, -27}}},
    {{{0, 0, 1, 1}, {40, 40, 41, 41}}, {10, 10}, {0, 0}, {{0, 0, 10, 10}, {40, 40, 50, 50}}},
    {{{0, 0, 1, 1}, {12, 0, 13, 1}}, {10, 10}, {0, 0}, {{0, 0, 20, 10}}},
    {{{-32768, -32768, -32760, -32760}}, {100, 100}, {0, 0}, {{-32768, -32768, -32700, -32700}}},
    {{{32700, 0, 32767, 1}}, {-50, 7}, {0, 0}, {{32700, 0, 32767, 7}}},
    {{}, {4, 4}, {0, 0}, {}},
  };
  for (const Case& c : cases) {
    Region in;
    in.addRects((int)c.in.size(), c.in.data());
    Region out = in.roundToGrid(c.step, c.origin);
    EXPECT_EQ(out.rects(), c.want);
    EXPECT_EQ(tltest::regionInvariantError(out.raw()), "");
  }
  EXPECT_DEATH(r.roundToGrid(Point(0, 16), Point(0, 0)), "step.x != 0");
}

TEST(Region, TileIteratorCoversEachBoxOnceWithinTheLimits)
{
  std::mt19937 rng(11);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 200; round++) {
    Region r = randomRegion(rng, uni(0, 8));
    int multipleOf = uni(1, 16);
    int maxArea = multipleOf * multipleOf + uni(0, 3000);
    std::vector<Rect> boxes = r.rects();
    std::vector<int64_t> covered(boxes.size(), 0);
    std::vector<Region> joined(boxes.size());
    size_t box = 0;
    for (Region::TileIterator it(r, multipleOf, maxArea); !it.done(); it.next()) {
      Rect t = it.tile();
      ASSERT_FALSE(t.isEmpty());
      while (box < boxes.size() && !boxes[box].encloses(t))
        box++; // tiles come box by box
      ASSERT_LT(box, boxes.size()) << "a tile outside every box";
      const Rect& b = boxes[box];
      if (b.area() < maxArea) {
        ASSERT_EQ(t, b);
      } else {
        ASSERT_LE(t.area(), maxArea);
        if (t.bottomRight.y != b.bottomRight.y) {
          ASSERT_EQ(t.height() % multipleOf, 0);
        }
      }
      covered[box] += t.area();
      joined[box].assignUnion(t);
    }
    // Tiles that fill the box and whose areas add up to it never overlap.
    for (size_t i = 0; i < boxes.size(); i++) {
      ASSERT_EQ(covered[i], boxes[i].area()) << "box " << i << " round " << round;
      ASSERT_EQ(joined[i].rects(), std::vector<Rect>{boxes[i]}) << "box " << i << " round " << round;
    }
  }

  Region big(Rect(0, 0, 1000, 1000));
  EXPECT_DEATH(Region::TileIterator(big, 16, 255), "maxArea_ >= ");
  EXPECT_DEATH(Region::TileIterator(big, 0, 100), "multipleOf > 0");
  Region five(Rect(0, 0, 5, 5));
  Region::TileIterator whole(five, 0, 100); // whole boxes need no multiple
  EXPECT_EQ(whole.tile(), Rect(0, 0, 5, 5));
}

} // namespace
