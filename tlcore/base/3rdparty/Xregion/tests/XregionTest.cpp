// The region routines against two peers in the same binary, pixman's 16-bit
// regions and Xlib's regions: random rectangle sets built two ways, every
// operation with and without the destination aliasing a source, box for
// box, and every result through the shared invariant checker. Then the
// growth and shrink rules, realloc failure and translation at the edges of
// the 16-bit range.
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "3rdparty/Xregion/Xregion.h"
#include "regioncheck.h"
#include "regionpeers.h"
#include "rfb/Region.h"

#include <pixman.h>
// Xlib last: its macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/Xregion.h>
#undef MIN
#undef MAX
#undef TRUE
#undef FALSE

namespace tltest {
void PrintTo(const RegionBox& b, std::ostream* os) { *os << b.x1 << "," << b.y1 << " to " << b.x2 << "," << b.y2; }
} // namespace tltest

namespace {

using Xregion::RgnRect;

using Box = tltest::RegionBox;
using Boxes = tltest::RegionBoxes;
using tltest::boxesOf;

Boxes boxesOf(::Region r)
{
  Boxes out;
  for (long i = 0; i < r->numRects; i++)
    out.push_back({r->rects[i].x1, r->rects[i].y1, r->rects[i].x2, r->rects[i].y2});
  return out;
}

// Owners of the peers' regions.
struct Pix {
  pixman_region16_t r;
  Pix() { pixman_region_init(&r); }
  explicit Pix(const std::vector<rfb::Rect>& rects)
  {
    pixman_region_init(&r);
    for (const rfb::Rect& q : rects)
      pixman_region_union_rect(&r, &r, q.topLeft.x, q.topLeft.y, q.width(), q.height());
  }
  ~Pix() { pixman_region_fini(&r); }
  Pix(const Pix&) = delete;
};

struct XReg {
  ::Region r;
  XReg() : r(XCreateRegion()) {}
  explicit XReg(const std::vector<rfb::Rect>& rects) : r(XCreateRegion())
  {
    for (const rfb::Rect& q : rects) {
      XRectangle x = {(short)q.topLeft.x, (short)q.topLeft.y, (unsigned short)q.width(),
                      (unsigned short)q.height()};
      XUnionRectWithRegion(&x, r, r);
    }
  }
  ~XReg() { XDestroyRegion(r); }
  XReg(const XReg&) = delete;
};

#define EXPECT_VALID(region) EXPECT_EQ(tltest::regionInvariantError(region), "")

// --- Random rectangle sets ---------------------------------------------------

enum Kind { kGrid, kTouching, kOverlapping, kWide };
const char* const kKindNames[] = {"grid", "touching", "overlapping", "wide"};

std::vector<rfb::Rect> randomRects(std::mt19937& rng, Kind kind, bool scanOrder)
{
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<rfb::Rect> out;
  int n = uni(1, 40);
  if (kind == kGrid) {
    // Cells of a grid, about half of them: touching squares.
    int cell = uni(1, 9), ox = uni(-30, 30), oy = uni(-30, 30);
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 10; x++)
        if (uni(0, 1))
          out.push_back(rfb::Rect(ox + x * cell, oy + y * cell, ox + (x + 1) * cell, oy + (y + 1) * cell));
  } else {
    for (int i = 0; i < n; i++) {
      int x, y, w, h;
      if (kind == kTouching) {
        x = uni(0, 12) * 4, y = uni(0, 12) * 4, w = uni(1, 4) * 4, h = uni(1, 4) * 4;
      } else if (kind == kOverlapping) {
        x = uni(-20, 150), y = uni(-20, 150), w = uni(1, 60), h = uni(1, 60);
      } else {
        x = uni(-32768, 32000), y = uni(-32768, 32000), w = uni(1, std::min(20000, 32767 - x)),
        h = uni(1, std::min(20000, 32767 - y));
      }
      out.push_back(rfb::Rect(x, y, x + w, y + h));
    }
  }
  if (scanOrder) {
    std::sort(out.begin(), out.end(), [](const rfb::Rect& a, const rfb::Rect& b) {
      return a.topLeft.y != b.topLeft.y ? a.topLeft.y < b.topLeft.y : a.topLeft.x < b.topLeft.x;
    });
  } else {
    std::shuffle(out.begin(), out.end(), rng);
  }
  return out;
}

// The same set built by addRects and by repeated in-place union.
rfb::Region build(const std::vector<rfb::Rect>& rects, bool inPlace)
{
  rfb::Region r;
  if (inPlace) {
    for (const rfb::Rect& q : rects)
      EXPECT_TRUE(r.assignUnion(q));
  } else {
    EXPECT_TRUE(r.addRects((int)rects.size(), rects.data()));
  }
  return r;
}

using OurOp = bool (*)(Xregion::Region*, const Xregion::Region*, const Xregion::Region*);
using PixOp = pixman_bool_t (*)(pixman_region16_t*, const pixman_region16_t*, const pixman_region16_t*);
using XOp = int (*)(::Region, ::Region, ::Region);

struct OpCase {
  const char* name;
  OurOp ours;
  PixOp pix;
  XOp x;
};
const OpCase kOps[] = {
  {"union", Xregion::regionUnion, pixman_region_union, XUnionRegion},
  {"intersect", Xregion::regionIntersect, pixman_region_intersect, XIntersectRegion},
  {"subtract", Xregion::regionSubtract, pixman_region_subtract, XSubtractRegion},
};

// One operation, with a separate destination and with each source as the
// destination; all three must agree with both peers.
void checkOp(const OpCase& op, const rfb::Region& a, const rfb::Region& b, Pix& pa, Pix& pb, XReg& xa, XReg& xb)
{
  SCOPED_TRACE(op.name);
  Pix pd;
  XReg xd;
  op.pix(&pd.r, &pa.r, &pb.r);
  op.x(xa.r, xb.r, xd.r);
  Boxes want = boxesOf(&pd.r);
  ASSERT_EQ(boxesOf(xd.r), want) << "the peers disagree";

  rfb::Region sep(rfb::Rect(1, 2, 3, 4)), dstA(a), dstB(b);
  EXPECT_TRUE(op.ours(sep.raw(), a.raw(), b.raw()));
  EXPECT_TRUE(op.ours(dstA.raw(), dstA.raw(), b.raw()));
  EXPECT_TRUE(op.ours(dstB.raw(), a.raw(), dstB.raw()));
  for (const rfb::Region* r : {&sep, &dstA, &dstB}) {
    EXPECT_EQ(boxesOf(r->raw()), want);
    EXPECT_VALID(r->raw());
  }
  // Same-operand forms.
  rfb::Region self(a);
  EXPECT_TRUE(op.ours(self.raw(), self.raw(), self.raw()));
  Pix ps;
  op.pix(&ps.r, &pa.r, &pa.r);
  EXPECT_EQ(boxesOf(self.raw()), boxesOf(&ps.r));
  EXPECT_VALID(self.raw());
}

TEST(XregionPeers, RandomSetsAgreeWithPixmanAndXlib)
{
  std::mt19937 rng(20261207);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 400; round++) {
    Kind kind = (Kind)(round % 4);
    bool scan = (round / 4) % 2, inPlace = (round / 8) % 2;
    SCOPED_TRACE(std::string(kKindNames[kind]) + (scan ? " scan-order" : " shuffled") +
                 (inPlace ? " in-place" : " addRects") + " round " + std::to_string(round));
    std::vector<rfb::Rect> ra = randomRects(rng, kind, scan), rb = randomRects(rng, kind, !scan);
    rfb::Region a = build(ra, inPlace), b = build(rb, !inPlace);
    Pix pa(ra), pb(rb);
    XReg xa(ra), xb(rb);
    ASSERT_EQ(boxesOf(a.raw()), boxesOf(&pa.r));
    ASSERT_EQ(boxesOf(b.raw()), boxesOf(xb.r));
    EXPECT_VALID(a.raw());
    EXPECT_VALID(b.raw());

    for (const OpCase& op : kOps) {
      checkOp(op, a, b, pa, pb, xa, xb);
      checkOp(op, b, a, pb, pa, xb, xa);
    }

    EXPECT_EQ(Xregion::regionEqual(a.raw(), b.raw()), (bool)pixman_region_equal(&pa.r, &pb.r));
    if (!a.isEmpty() || !b.isEmpty()) {
      EXPECT_EQ(Xregion::regionEqual(a.raw(), b.raw()), (bool)XEqualRegion(xa.r, xb.r));
    }
    rfb::Region again = build(ra, !inPlace);
    EXPECT_TRUE(Xregion::regionEqual(a.raw(), again.raw()));

    // Point and rectangle tests around the region's extents.
    rfb::Rect ext = a.getBoundingRect();
    for (int i = 0; i < 40; i++) {
      int x = uni(ext.topLeft.x - 5, ext.bottomRight.x + 5), y = uni(ext.topLeft.y - 5, ext.bottomRight.y + 5);
      RgnRect box = {0, 0, 0, 0};
      pixman_box16_t pbox = {0, 0, 0, 0};
      bool in = Xregion::regionContainsPoint(a.raw(), x, y, &box);
      ASSERT_EQ(in, (bool)pixman_region_contains_point(&pa.r, x, y, &pbox)) << x << "," << y;
      ASSERT_EQ(in, (bool)XPointInRegion(xa.r, x, y)) << x << "," << y;
      if (in) {
        ASSERT_EQ((Box{box.x1, box.y1, box.x2, box.y2}), (Box{pbox.x1, pbox.y1, pbox.x2, pbox.y2}));
      }
      int w = uni(1, std::max(1, ext.width() / 2 + 3)), h = uni(1, std::max(1, ext.height() / 2 + 3));
      x = std::min(x, 32767 - w);
      y = std::min(y, 32767 - h);
      RgnRect q = {(int16_t)x, (int16_t)y, (int16_t)(x + w), (int16_t)(y + h)};
      pixman_box16_t pq = {q.x1, q.y1, q.x2, q.y2};
      int ours = Xregion::regionContainsRect(a.raw(), &q);
      ASSERT_EQ(ours, (int)pixman_region_contains_rectangle(&pa.r, &pq)) << x << "," << y << " " << w << "x" << h;
      ASSERT_EQ(ours, XRectInRegion(xa.r, x, y, w, h)) << x << "," << y << " " << w << "x" << h;
    }

    // Translation that stays inside the 16-bit range.
    if (!a.isEmpty()) {
      int dx = uni(-32768 - ext.topLeft.x, 32767 - ext.bottomRight.x);
      int dy = uni(-32768 - ext.topLeft.y, 32767 - ext.bottomRight.y);
      rfb::Region moved(a);
      moved.translate(rfb::Point(dx, dy));
      pixman_region_translate(&pa.r, dx, dy);
      XOffsetRegion(xa.r, dx, dy);
      EXPECT_EQ(boxesOf(moved.raw()), boxesOf(&pa.r));
      EXPECT_EQ(boxesOf(moved.raw()), boxesOf(xa.r));
      EXPECT_VALID(moved.raw());
    }
  }
}

TEST(XregionTranslate, EdgesOfTheRangeClipDropAndCoalesce)
{
  std::mt19937 rng(7);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 300; round++) {
    std::vector<rfb::Rect> rects = randomRects(rng, (Kind)(round % 4), round % 2);
    // Near an edge, so that moving pushes part of the region out.
    int cx = uni(0, 1) ? 32000 : -32000, cy = uni(0, 1) ? 32000 : -32000;
    for (rfb::Rect& q : rects) {
      int w = std::min(q.width(), 700), h = std::min(q.height(), 700);
      q = rfb::Rect(cx + q.topLeft.x % 200, cy + q.topLeft.y % 200, cx + q.topLeft.x % 200 + w,
                    cy + q.topLeft.y % 200 + h);
    }
    rfb::Region r;
    r.addRects((int)rects.size(), rects.data());
    int dx = uni(-2000, 2000), dy = uni(-2000, 2000);
    Boxes want = tltest::clippedMove(r.raw(), dx, dy);
    rfb::Region moved(r);
    moved.translate(rfb::Point(dx, dy));
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(boxesOf(moved.raw()), want);
    EXPECT_VALID(moved.raw());
  }

  // Every box dropped: an empty region, never zero boxes under extents.
  struct Case {
    rfb::Rect rect;
    int dx, dy;
  };
  const Case dropped[] = {
    {rfb::Rect(32000, 0, 32100, 10), 767, 0},  // clamped to no width
    {rfb::Rect(-32768, 5, -32700, 9), -68, 0}, // the same on the left
    {rfb::Rect(0, 0, 10, 10), 40000, 0},       // wholly outside
    {rfb::Rect(0, 0, 10, 10), 0, -40000},
  };
  for (const Case& c : dropped) {
    rfb::Region one(c.rect);
    rfb::Rect grid[] = {c.rect, c.rect.translate(rfb::Point(0, 20))};
    rfb::Region two;
    two.addRects(2, grid);
    for (rfb::Region* r : {&one, &two}) {
      r->translate(rfb::Point(c.dx, c.dy));
      EXPECT_TRUE(r->isEmpty());
      EXPECT_EQ(r->raw()->data, Xregion::emptyData());
      EXPECT_VALID(r->raw());
    }
  }
}

TEST(XregionEdgeCases, TableOfSmallRegions)
{
  auto region = [](std::vector<rfb::Rect> rects) {
    rfb::Region r;
    for (const rfb::Rect& q : rects)
      r.assignUnion(q);
    return r;
  };
  struct Case {
    const char* name;
    std::vector<rfb::Rect> rects;
    Boxes want;
  };
  const Case cases[] = {
    {"side by side, touching", {{0, 0, 10, 10}, {10, 0, 20, 10}}, {{0, 0, 20, 10}}},
    {"above each other, touching", {{0, 0, 10, 10}, {0, 10, 10, 20}}, {{0, 0, 10, 20}}},
    {"2 x 2 grid", {{0, 0, 5, 5}, {5, 5, 10, 10}, {5, 0, 10, 5}, {0, 5, 5, 10}}, {{0, 0, 10, 10}}},
    // Two rectangles sharing neither rows nor columns: the second is kept.
    {"diagonal", {{0, 0, 10, 10}, {20, 20, 30, 30}}, {{0, 0, 10, 10}, {20, 20, 30, 30}}},
    {"same rows, apart", {{0, 0, 10, 10}, {12, 0, 20, 10}}, {{0, 0, 10, 10}, {12, 0, 20, 10}}},
    {"covered in the last band", {{0, 0, 10, 10}, {20, 0, 30, 10}, {2, 0, 8, 10}},
     {{0, 0, 10, 10}, {20, 0, 30, 10}}},
    {"widens the last box", {{0, 0, 10, 10}, {20, 0, 30, 10}, {25, 0, 40, 10}},
     {{0, 0, 10, 10}, {20, 0, 40, 10}}},
    {"left of the last band", {{10, 0, 20, 10}, {30, 0, 40, 10}, {0, 0, 5, 10}},
     {{0, 0, 5, 10}, {10, 0, 20, 10}, {30, 0, 40, 10}}},
    {"below, coalesced", {{0, 0, 10, 10}, {20, 0, 30, 10}, {0, 10, 10, 20}, {20, 10, 30, 20}},
     {{0, 0, 10, 20}, {20, 0, 30, 20}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rfb::Region r = region(c.rects);
    EXPECT_EQ(boxesOf(r.raw()), c.want);
    EXPECT_VALID(r.raw());
    EXPECT_EQ(r.raw()->data == nullptr, c.want.size() == 1);
  }

  rfb::Region a(rfb::Rect(0, 0, 10, 10)), b(rfb::Rect(20, 20, 30, 30)), d;
  EXPECT_TRUE(Xregion::regionIntersect(d.raw(), a.raw(), b.raw()));
  EXPECT_EQ(d.raw()->data, Xregion::emptyData());
  EXPECT_TRUE(Xregion::regionSubtract(a.raw(), a.raw(), a.raw()));
  EXPECT_TRUE(a.isEmpty());
  EXPECT_VALID(a.raw());

  // Bands that clamping makes equal are merged.
  rfb::Rect steps[] = {{32000, 0, 32100, 10}, {32000, 10, 32200, 20}};
  rfb::Region merged;
  merged.addRects(2, steps);
  merged.translate(rfb::Point(700, 0));
  EXPECT_EQ(boxesOf(merged.raw()), (Boxes{{32700, 0, 32767, 20}}));
  EXPECT_EQ(merged.raw()->data, nullptr);

  // Moving a region at x 32000 by 1000 cuts at 32767 and drops what starts
  // beyond it.
  rfb::Rect near[] = {{31500, 0, 32000, 10}, {31000, 20, 31500, 30}, {32100, 20, 32200, 30}};
  rfb::Region edge;
  edge.addRects(3, near);
  edge.translate(rfb::Point(1000, 0));
  EXPECT_EQ(boxesOf(edge.raw()), (Boxes{{32500, 0, 32767, 10}, {32000, 20, 32500, 30}}));
  EXPECT_VALID(edge.raw());
}

// --- Allocation: growth, shrinking and failure ----------------------------------

struct AllocLog {
  std::vector<size_t> mallocs, reallocs;
  bool failRealloc = false;
};
AllocLog* allocLog = nullptr;

const Xregion::AllocCalls kLoggingCalls = {
  [](size_t n) -> void* {
    allocLog->mallocs.push_back(n);
    return malloc(n);
  },
  [](void* p, size_t n) -> void* {
    allocLog->reallocs.push_back(n);
    return allocLog->failRealloc ? nullptr : realloc(p, n);
  },
  [](void* p) { free(p); },
};

class XregionAlloc : public ::testing::Test {
protected:
  void SetUp() override
  {
    allocLog = &log;
    Xregion::setAllocCallsForTest(&kLoggingCalls);
  }
  void TearDown() override
  {
    Xregion::setAllocCallsForTest(nullptr);
    allocLog = nullptr;
  }
  static size_t boxes(size_t bytes) { return (bytes - sizeof(Xregion::RegionData)) / sizeof(RgnRect); }
  std::vector<size_t> reallocBoxes() const
  {
    std::vector<size_t> out;
    for (size_t b : log.reallocs)
      out.push_back(boxes(b));
    return out;
  }
  AllocLog log;
};

// k vertical stripes in one band, k horizontal stripes: k x k boxes.
void stripes(int k, rfb::Region& cols, rfb::Region& rows)
{
  std::vector<rfb::Rect> c, r;
  for (int i = 0; i < k; i++) {
    c.push_back(rfb::Rect(i * 4, 0, i * 4 + 2, k * 4));
    r.push_back(rfb::Rect(0, i * 4, k * 4, i * 4 + 2));
  }
  cols.addRects(k, c.data());
  rows.addRects(k, r.data());
}

TEST_F(XregionAlloc, GrowsByTheCountUpTo500ThenBy250AndShrinksHalfEmptyBlocks)
{
  rfb::Region cols, rows, d;
  stripes(40, cols, rows);
  log = AllocLog();
  ASSERT_TRUE(Xregion::regionIntersect(d.raw(), cols.raw(), rows.raw()));
  EXPECT_EQ(d.numRects(), 1600);
  ASSERT_EQ(log.mallocs.size(), 1u);
  EXPECT_EQ(boxes(log.mallocs[0]), 80u); // twice the larger operand
  EXPECT_EQ(reallocBoxes(), (std::vector<size_t>{160, 320, 640, 890, 1140, 1390, 1640}));

  // A block of 100 left with 40 boxes is shrunk to 40; with 60 it stays.
  for (int k : {40, 60}) {
    SCOPED_TRACE(k);
    std::vector<RgnRect> hundred;
    for (int i = 0; i < 100; i++)
      hundred.push_back({(int16_t)(i * 4), 0, (int16_t)(i * 4 + 2), 10});
    RgnRect ext = {0, 0, 398, 10};
    rfb::Region target, cols, rows;
    target.setBoxes(&ext, 100, hundred.data());
    std::vector<rfb::Rect> c;
    for (int i = 0; i < k / 2; i++)
      c.push_back(rfb::Rect(i * 4, 0, i * 4 + 2, 10));
    rfb::Rect r[] = {{0, 2, 1000, 4}, {0, 6, 1000, 8}};
    cols.addRects((int)c.size(), c.data());
    rows.addRects(2, r);
    log = AllocLog();
    ASSERT_TRUE(Xregion::regionIntersect(target.raw(), cols.raw(), rows.raw()));
    EXPECT_EQ(target.numRects(), k);
    EXPECT_EQ(target.raw()->data->size, k == 40 ? 40 : 100);
    EXPECT_EQ(reallocBoxes(), k == 40 ? std::vector<size_t>{40} : std::vector<size_t>{});
    EXPECT_TRUE(log.mallocs.empty());
    EXPECT_VALID(target.raw());
  }
}

TEST_F(XregionAlloc, InPlaceUnionInScanOrderNeedsNoBandSweepPerRectangle)
{
  // Each fast-path result must equal the band sweep's for the same input.
  std::mt19937 rng(3);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  rfb::Region fast, swept;
  Pix peer;
  int x = 0, y = 0, h = 4;
  for (int i = 0; i < 1000; i++) {
    if (uni(0, 9) == 0) {
      y += h + uni(0, 2);
      h = uni(1, 6);
      x = uni(0, 20);
    }
    int w = uni(1, 8);
    rfb::Region q(rfb::Rect(x, y, x + w, y + h));
    int qx = x;
    x += w + uni(-3, 3);
    ASSERT_TRUE(Xregion::regionUnion(fast.raw(), fast.raw(), q.raw()));
    rfb::Region next;
    ASSERT_TRUE(Xregion::regionUnion(next.raw(), swept.raw(), q.raw()));
    swept = std::move(next);
    pixman_region_union_rect(&peer.r, &peer.r, qx, y, w, h);
    ASSERT_EQ(boxesOf(fast.raw()), boxesOf(swept.raw())) << "rectangle " << i;
    ASSERT_EQ(boxesOf(fast.raw()), boxesOf(&peer.r)) << "rectangle " << i;
    ASSERT_EQ(tltest::regionInvariantError(fast.raw()), "") << "rectangle " << i;
  }
  // Built in place from rectangles in scan order, the block only doubles.
  size_t fastAllocs = 0;
  {
    AllocLog only;
    allocLog = &only;
    rfb::Region again;
    x = 0;
    for (int i = 0; i < 1000; i++, x += 3)
      again.assignUnion(rfb::Rect(x % 30000, 0, x % 30000 + 2, 4));
    fastAllocs = only.mallocs.size() + only.reallocs.size();
    allocLog = &log;
  }
  EXPECT_LT(fastAllocs, 40u);
}

TEST_F(XregionAlloc, FailedReallocBreaksTheRegionAndTheBreakagePassesOn)
{
  rfb::Region cols, rows, d(rfb::Rect(0, 0, 5, 5));
  stripes(20, cols, rows);
  log.failRealloc = true;
  EXPECT_FALSE(Xregion::regionIntersect(d.raw(), cols.raw(), rows.raw()));
  log.failRealloc = false;
  EXPECT_TRUE(d.isBroken());
  EXPECT_TRUE(d.isEmpty());
  EXPECT_VALID(d.raw());

  rfb::Region other(rfb::Rect(0, 0, 10, 10)), out;
  for (const OpCase& op : kOps) {
    SCOPED_TRACE(op.name);
    EXPECT_FALSE(op.ours(out.raw(), d.raw(), other.raw()));
    EXPECT_TRUE(out.isBroken());
    out.clear();
    EXPECT_FALSE(op.ours(out.raw(), other.raw(), d.raw()));
    EXPECT_TRUE(out.isBroken());
  }
  rfb::Region copy(d);
  EXPECT_TRUE(copy.isBroken());
  EXPECT_FALSE(Xregion::regionContainsPoint(d.raw(), 0, 0, nullptr));
  RgnRect box = {0, 0, 1, 1};
  EXPECT_EQ(Xregion::regionContainsRect(d.raw(), &box), Xregion::kOverlapOut);
  d.translate(rfb::Point(5, 5));
  EXPECT_TRUE(d.isBroken());
  EXPECT_VALID(d.raw());
  // addRects treats a broken region as empty.
  rfb::Rect one(1, 1, 2, 2);
  EXPECT_TRUE(d.addRects(1, &one));
  EXPECT_EQ(boxesOf(d.raw()), (Boxes{{1, 1, 2, 2}}));
}

} // namespace
