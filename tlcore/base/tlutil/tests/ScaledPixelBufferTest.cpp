// Scaled views against the scaler they wrap, pass-through views, the
// source areas they prepare, nine-slice drawing (corners exact, edges and
// centre as scaled views, small targets and images) and the drag
// threshold at two scales.
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "rfb/Region.h"
#include "tlutil/ScaledPixelBuffer.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::Point;
using rfb::Rect;
using tlutil::ScaledPixelBuffer;

// Records the areas it is asked to prepare.
class Source : public ManagedPixelBuffer {
public:
  Source(const rfb::PixelFormat& pf, const Rect& r, uint32_t seed) : ManagedPixelBuffer(pf, r)
  {
    std::mt19937 rng(seed);
    for (int y = r.topLeft.y; y < r.bottomRight.y; y++)
      for (int x = r.topLeft.x; x < r.bottomRight.x; x++)
        setPixel(Point(x, y), (uint32_t)rng());
  }
  void prepareRegion(const rfb::Region& region) override { prepared.push_back(region.getBoundingRect()); }
  std::vector<Rect> prepared;
};

uint32_t viewPixel(rfb::PixelBuffer& pb, int x, int y)
{
  int stride = 0;
  const uint8_t* p = pb.getPixelsR(Rect(x, y, x + 1, y + 1), &stride);
  uint32_t v = 0;
  memcpy(&v, p, pb.format.bpp / 8);
  return v;
}

TEST(ScaledPixelBuffer, PassThroughReadsTheSource)
{
  Source src(rfb::xrgb8888Format(), Rect(5, 6, 15, 12), 1);
  ScaledPixelBuffer view(&src, Point(10, 6));
  EXPECT_TRUE(view.isPassThrough());
  int a = 0, b = 0;
  EXPECT_EQ(src.getPixelsR(Rect(7, 8, 9, 9), &a), view.getPixelsR(Rect(2, 2, 4, 3), &b));
  EXPECT_EQ(a, b);
}

TEST(ScaledPixelBuffer, PreparedAreasEqualTheScaler)
{
  Source src(rfb::xrgb8888Format(), Rect(3, 1, 5, 3), 2);
  ScaledPixelBuffer view(&src, Point(4, 4));
  EXPECT_FALSE(view.isPassThrough());
  // 1 x 1 of a doubled 2 x 2 needs 1 x 1 of the source.
  view.prepareRegion(rfb::Region(Rect(1, 1, 2, 2)));
  ASSERT_EQ(1u, src.prepared.size());
  EXPECT_EQ(Rect(3, 1, 4, 2), src.prepared[0]);
  EXPECT_EQ(src.getPixel(Point(3, 1)) & 0xffffff, viewPixel(view, 1, 1));
  // Areas outside the view are cut off before anything is scaled.
  view.prepareRegion(rfb::Region(Rect(2, 2, 40, 40)));
  EXPECT_EQ(Rect(4, 2, 5, 3), src.prepared.back());

  tlutil::Scaler sc;
  sc.coords_.dstSz = Point(7, 5);
  sc.setSource(&src, true);
  std::vector<uint32_t> want(7 * 5);
  sc.getImage(want.data(), Rect(0, 0, 7, 5));
  ScaledPixelBuffer whole(&src, Point(7, 5), ScaledPixelBuffer::Prepare::Now);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 7; x++)
      EXPECT_EQ(want[y * 7 + x], viewPixel(whole, x, y));
}

TEST(ScaledPixelBuffer, NineSliceKeepsCornersAndStretchesTheRest)
{
  const int insets[4] = {3, 2, 4, 5};
  Source image(rfb::xrgb8888Format(), Rect(10, 20, 20, 31), 3); // 10 x 11
  const Rect target(7, 9, 37, 33);                              // 30 x 24
  ManagedPixelBuffer dst(rfb::xrgb8888Format(), Rect(0, 0, 45, 40));
  rfb::fillRect(dst, dst.rect, 0x123456);
  tlutil::drawNineSlice(insets, &image, &dst, target, rfb::blendCopy);

  // Corners copied exactly, and nothing outside the target.
  for (int y = 0; y < 40; y++) {
    for (int x = 0; x < 45; x++) {
      Point p(x, y);
      if (!target.contains(p)) {
        ASSERT_EQ(0x123456u, dst.getPixel(p)) << x << "," << y;
        continue;
      }
      int ix = x - target.topLeft.x < 3 ? 10 + x - 7 : x >= 37 - 4 ? 20 - (37 - x) : -1;
      int iy = y - target.topLeft.y < 2 ? 20 + y - 9 : y >= 33 - 5 ? 31 - (33 - y) : -1;
      if (ix >= 0 && iy >= 0) {
        ASSERT_EQ(image.getPixel(Point(ix, iy)), dst.getPixel(p)) << x << "," << y;
      }
    }
  }
  // The centre is the inner image scaled to the inner target.
  rfb::SubPixelBuffer inner(image, Rect(13, 22, 16, 26), true);
  ScaledPixelBuffer centre(&inner, Point(23, 17), ScaledPixelBuffer::Prepare::Now);
  for (int y = 0; y < 17; y++)
    for (int x = 0; x < 23; x++)
      ASSERT_EQ(viewPixel(centre, x, y), dst.getPixel(Point(10 + x, 11 + y)));

  // Targets and images smaller than the insets: only pieces with area,
  // and nothing outside the target.
  for (const Rect& small : {Rect(2, 2, 6, 5), Rect(2, 2, 2, 9), Rect(0, 0, 1, 1)}) {
    rfb::fillRect(dst, dst.rect, 0x123456);
    tlutil::drawNineSlice(insets, &image, &dst, small, rfb::blendCopy);
    for (int y = 0; y < 40; y++) {
      for (int x = 0; x < 45; x++) {
        if (!small.contains(Point(x, y))) {
          ASSERT_EQ(0x123456u, dst.getPixel(Point(x, y)));
        }
      }
    }
  }
  Source tiny(rfb::xrgb8888Format(), Rect(0, 0, 2, 3), 4);
  tlutil::drawNineSlice(insets, &tiny, &dst, target, rfb::blendCopy);
  Source empty(rfb::xrgb8888Format(), Rect(), 5);
  tlutil::drawNineSlice(insets, &empty, &dst, target, rfb::blendCopy);
}

TEST(DragThreshold, DependsOnTheScale)
{
  struct Case {
    int ppmm;
    Point move;
    bool exceeded;
  } cases[] = {
      {4, Point(5, 0), false}, {4, Point(0, -5), false}, {4, Point(6, 0), true}, {4, Point(-3, -6), true},
      {8, Point(10, 10), false}, {8, Point(0, 11), true}, {8, Point(-11, 0), true},
  };
  for (const auto& c : cases) {
    plat::ppmm.setParam(c.ppmm, plat::kPriorityPolicy);
    tlutil::DragThreshold t;
    t.start(Point(100, 200));
    EXPECT_EQ(c.exceeded, t.exceeded(Point(100 + c.move.x, 200 + c.move.y))) << c.ppmm;
    if (c.exceeded) {
      EXPECT_FALSE(t.exceeded(Point(500, 500))); // once per start
    }
    t.start(Point(0, 0));
    EXPECT_TRUE(t.exceeded(Point(500, 500)));
  }
  plat::ppmm.setParam(4, plat::kPriorityPolicy);
}

} // namespace
