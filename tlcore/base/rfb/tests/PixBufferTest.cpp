// Pixel buffers: memory layout over rects that do not start at 0,0, views
// and sub-buffers, managed memory (format and size changes, taking and
// giving memory) and each bounds fault with its detail text.
#include <string.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "rfb/PixBuffer.h"
#include "rfb/Region.h"

namespace {

using rfb::FullFramePixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::Point;
using rfb::Rect;
using rfb::SubPixelBuffer;

// Pixel value from its coordinates, to see where pixels came from.
rfb::Pixel tag(int x, int y) { return (uint32_t)(x & 0xffff) | (uint32_t)(y & 0xffff) << 16; }

void fillTags(FullFramePixelBuffer& b)
{
  for (int y = b.rect.topLeft.y; y < b.rect.bottomRight.y; y++)
    for (int x = b.rect.topLeft.x; x < b.rect.bottomRight.x; x++)
      b.setPixel(Point(x, y), tag(x, y));
}

TEST(PixBuffer, AddressesPixelsFromTheRectsOriginInEverySize)
{
  for (int bpp : {8, 16, 24, 32}) {
    rfb::PixelFormat pf;
    pf.bpp = (uint8_t)bpp;
    pf.depth = (uint8_t)std::min(bpp, 24);
    ManagedPixelBuffer b(pf, Rect(-3, 5, 4, 9));
    const uint32_t mask = bpp == 32 ? 0xffffffffu : (1u << bpp) - 1;
    fillTags(b);
    int stride = -1;
    uint8_t* p = b.getPixelsRW(Rect(1, 7, 2, 8), &stride);
    EXPECT_EQ(stride, 7);
    EXPECT_EQ(p, b.data + (bpp / 8) * ((1 + 3) + (7 - 5) * 7));
    // 24 bits low byte first; others in host order.
    uint32_t v = 0;
    memcpy(&v, p, bpp / 8);
    EXPECT_EQ(v, tag(1, 7) & mask) << bpp;
    EXPECT_EQ(b.getPixel(Point(-3, 8)), tag(-3, 8) & mask);

    std::vector<uint8_t> out(7 * 4 * 4, 0);
    b.getImage(out.data(), Rect(-3, 5, 4, 9), 0);
    EXPECT_EQ(memcmp(out.data(), b.data, 7 * 4 * (bpp / 8)), 0);
  }
  rfb::PixelFormat odd;
  odd.bpp = 12;
  uint8_t mem[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  FullFramePixelBuffer f(odd, Rect(0, 0, 2, 1), nullptr, mem, 0);
  EXPECT_EQ(f.getPixel(Point(0, 0)), 0u);
  f.setPixel(Point(1, 0), 0xffff);
  EXPECT_EQ(mem[1], 2);
}

TEST(PixBuffer, ViewsAndSubBuffersShareMemoryAndKeepTheirOrigins)
{
  ManagedPixelBuffer parent(rfb::xrgb8888Format(), Rect(10, 20, 30, 40));
  fillTags(parent);

  // Starts left of and above the parent: the part outside is cut, the
  // origin stays at the asked rect's top-left.
  FullFramePixelBuffer view(parent, Rect(5, 15, 15, 25));
  EXPECT_EQ(view.rect, Rect(5, 5, 10, 10));
  EXPECT_EQ(view.stride, 20);
  EXPECT_EQ(view.getPixel(Point(5, 5)), tag(10, 20));
  view.setPixel(Point(9, 9), 77);
  EXPECT_EQ(parent.getPixel(Point(14, 24)), 77u);
  EXPECT_TRUE(FullFramePixelBuffer(parent, Rect(50, 50, 60, 60)).rect.isEmpty());

  SubPixelBuffer atRect(parent, Rect(25, 35, 40, 50), true);
  EXPECT_EQ(atRect.rect, Rect(0, 0, 5, 5));
  int stride = 0;
  const uint8_t* p = atRect.getPixelsR(Rect(1, 1, 2, 2), &stride);
  EXPECT_EQ(stride, 20);
  uint32_t v;
  memcpy(&v, p, 4);
  EXPECT_EQ(v, tag(26, 36));
  SubPixelBuffer atSource(parent, Rect(25, 35, 40, 50), false);
  EXPECT_EQ(atSource.rect, Rect(25, 35, 30, 40));
  EXPECT_EQ(atSource.getPixelsR(Rect(26, 36, 27, 37), &stride), p);
  EXPECT_EQ(atSource.getPixelsR(Rect(100, 100, 100, 200), &stride), nullptr);
  EXPECT_EQ(atSource.format.bpp, 32);
}

TEST(PixBuffer, EmptyRequestsGiveNullWithTheStride)
{
  ManagedPixelBuffer none(rfb::rgb565Format(), Rect(0, 0, 0, 0));
  EXPECT_EQ(none.data, nullptr);
  EXPECT_EQ(none.capacity(), 0);
  ManagedPixelBuffer b(rfb::rgb565Format(), Rect(0, 0, 8, 4));
  int stride = -1;
  EXPECT_EQ(b.getPixelsRW(Rect(1000, 1000, 900, 2000), &stride), nullptr);
  EXPECT_EQ(stride, 8);
}

TEST(PixBuffer, FormatAndSizeChangesManageMemory)
{
  ManagedPixelBuffer b(rfb::rgb222Format(), Rect(2, 3, 12, 13));
  EXPECT_EQ(b.capacity(), 100);
  memset(b.data, 0x3f, 100);
  uint8_t* before = b.data;
  b.setPF(rfb::rgb222Format()); // equal: nothing changes
  EXPECT_EQ(b.data[0], 0x3f);
  b.setSize(Point(10, 10));
  EXPECT_EQ(b.data[99], 0x3f);

  // Shrinking keeps the larger memory and clears it.
  b.setSize(Point(4, 5));
  EXPECT_EQ(b.data, before);
  EXPECT_EQ(b.capacity(), 100);
  EXPECT_EQ(b.rect, Rect(2, 3, 6, 8));
  EXPECT_EQ(b.stride, 4);
  EXPECT_EQ(b.data[50], 0);

  // 8 to 32 bpp on the same rect allocates anew, all zero.
  b.setSize(Point(10, 10));
  memset(b.data, 0x11, 100);
  b.setPF(rfb::xrgb8888Format());
  EXPECT_NE(b.data, before);
  EXPECT_EQ(b.capacity(), 400);
  for (int i = 0; i < b.capacity(); i++)
    ASSERT_EQ(b.data[i], 0) << i;

  // preserveOnResize keeps the overlap at the same coordinates.
  fillTags(b);
  b.preserveOnResize = true;
  b.setSize(Point(2, 8));
  EXPECT_EQ(b.rect, Rect(2, 3, 4, 11));
  EXPECT_EQ(b.getPixel(Point(3, 7)), tag(3, 7));
  b.setSize(Point(12, 12));
  EXPECT_EQ(b.getPixel(Point(3, 10)), tag(3, 10));
  EXPECT_EQ(b.getPixel(Point(4, 10)), 0u);
  EXPECT_EQ(b.getPixel(Point(3, 11)), 0u);
  b.preserveOnResize = false;
  b.setSize(Point(3, 8));
  EXPECT_EQ(b.getPixel(Point(3, 7)), 0u);

  b.setSize(Point(0, 5));
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.capacity(), 0);
}

TEST(PixBuffer, TakeAndSetData)
{
  ManagedPixelBuffer b(rfb::xrgb8888Format(), Rect(1, 1, 3, 3));
  fillTags(b);
  std::unique_ptr<uint8_t[]> taken = b.takeData();
  EXPECT_EQ(b.rect, Rect(1, 1, 1, 1));
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.stride, 0);
  EXPECT_EQ(b.capacity(), 0);
  uint32_t v;
  memcpy(&v, taken.get() + 12, 4);
  EXPECT_EQ(v, tag(2, 2));

  b.setData(std::move(taken), 16, Rect(5, 5, 7, 7));
  EXPECT_EQ(b.stride, 2);
  EXPECT_EQ(b.capacity(), 16);
  EXPECT_EQ(b.getPixel(Point(6, 6)), tag(2, 2));
  b.setData(std::make_unique<uint8_t[]>(20), 20);
  EXPECT_EQ(b.getPixel(Point(6, 6)), 0u);
}

TEST(PixBufferDeathTest, BoundsFaultsNameBothRectangles)
{
  ManagedPixelBuffer b(rfb::rgb565Format(), Rect(-2, -2, 8, 4));
  int stride;
  EXPECT_DEATH(b.getPixelsRW(Rect(0, 0, 9, 1), &stride),
               "Assertion 'rect.encloses\\(r\\)' failed at .*: getPixelsRW out of bounds: 0,0 to 9,1 outside "
               "-2,-2 to 8,4");
  SubPixelBuffer sub(b, Rect(0, 0, 4, 4), true);
  EXPECT_DEATH(sub.getPixelsR(Rect(3, 3, 5, 4), &stride),
               "'rect.encloses\\(r\\)' .*: getPixelsR out of bounds: 3,3 to 5,4 outside 0,0 to 4,4");
  ManagedPixelBuffer none(rfb::rgb565Format(), Rect());
  EXPECT_DEATH(none.getPixelsRW(Rect(0, 0, 1, 1), &stride), "outside 0,0 to 0,0");

  EXPECT_DEATH(ManagedPixelBuffer(rfb::rgb565Format(), Rect(0, 0, 40000, 1)), "'Rect\\(RgnRect\\(rect\\)\\) == rect'");
  EXPECT_DEATH(b.setData(std::make_unique<uint8_t[]>(10), 10, Rect(0, 0, 3, 2)), "'capacity_ >= sizeBytes\\(\\)'");
  // 4 x 32767 x 32767 bytes pass the 16-bit check but not an int.
  EXPECT_DEATH(ManagedPixelBuffer(rfb::xrgb8888Format(), Rect(0, 0, 32767, 32767)),
               "'sizeBytes\\(\\) <= kMaxCapacity'.*4294705156 bytes");
  EXPECT_DEATH(b.setData(std::make_unique<uint8_t[]>(16), 16, Rect(0, 0, 32767, 32767)), "'capacity_ >= sizeBytes\\(\\)'");
}

// Writes a 3 x 2 image of tags in its own format.
class TagLoader : public rfb::ImageLoader {
public:
  Point getSize() override { return Point(3, 2); }
  const rfb::PixelFormat& getPf() override { return rfb::rgb565Format(); }
  void getImage(rfb::WritablePixelBuffer* dst, Point pos) override
  {
    auto* b = static_cast<FullFramePixelBuffer*>(dst);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 3; x++)
        b->setPixel(Point(pos.x + x, pos.y + y), tag(x, y) & 0xffff);
  }
};

TEST(PixBuffer, LoaderConstructorTakesTheLoadersFormatAndSize)
{
  TagLoader loader;
  ManagedPixelBuffer b(&loader);
  EXPECT_TRUE(b.format.equal(rfb::rgb565Format()));
  EXPECT_EQ(b.rect, Rect(0, 0, 3, 2));
  EXPECT_EQ(b.getPixel(Point(2, 1)), 2u);
  ManagedPixelBuffer none(nullptr);
  EXPECT_TRUE(none.rect.isEmpty());
  EXPECT_EQ(none.data, nullptr);
}

class CountingBuffer : public FullFramePixelBuffer {
public:
  CountingBuffer() : FullFramePixelBuffer(rfb::PixelFormat(), Rect(-40000, 3, 5, 9), nullptr, nullptr, 1) {}
  void prepareRegion(const rfb::Region& r) override { seen = r.getBoundingRect(); }
  Rect seen;
};

TEST(PixBuffer, PrepareAsksForTheClampedRect)
{
  CountingBuffer b;
  b.prepare();
  EXPECT_EQ(b.seen, Rect(-32768, 3, 5, 9));
  EXPECT_EQ(b.query(), 0);
}

} // namespace
