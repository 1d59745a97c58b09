// Drawing into pixel buffers. Every destination is a window of a larger
// block whose guard bytes must survive each call; lines and rounded
// rectangles against a python reference of their stepping; rotation
// against the index formulas; scrolling against copies from a snapshot;
// compositing against pixman where it is exact and against a scalar
// reference of the blend formulas for all 16 pairs of pixel sizes.
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pixman.h>

#include "rfb/PixDraw.h"
#include "rfb/Region.h"
#include "testutil.h"

namespace {

using rfb::FullFramePixelBuffer;
using rfb::Pixel;
using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;

constexpr int kGuard = 5;
constexpr uint8_t kGuardByte = 0xA5;

// A buffer of the given rect inside a block with kGuard pixels of guard
// bytes on every side (its stride is wider than its width).
class Guarded {
public:
  Guarded(const PixelFormat& pf, const Rect& r, rfb::ColourMap* cm = nullptr)
      : bytes_(pf.bpp / 8), stride_(r.width() + 2 * kGuard),
        mem_((size_t)bytes_ * stride_ * (r.height() + 2 * kGuard), kGuardByte),
        buf(pf, r, cm, mem_.data() + bytes_ * (kGuard * stride_ + kGuard), stride_)
  {
    for (int y = r.topLeft.y; y < r.bottomRight.y; y++)
      for (int x = r.topLeft.x; x < r.bottomRight.x; x++)
        buf.setPixel(Point(x, y), 0);
  }
  // Guard bytes that changed.
  int spoiled() const
  {
    int n = 0;
    for (size_t i = 0; i < mem_.size(); i++) {
      int px = (int)(i / bytes_) % stride_, py = (int)(i / bytes_) / stride_;
      bool inside = px >= kGuard && px < kGuard + buf.rect.width() && py >= kGuard && py < kGuard + buf.rect.height();
      if (!inside && mem_[i] != kGuardByte)
        n++;
    }
    return n;
  }
  void randomise(std::mt19937& rng)
  {
    for (int y = buf.rect.topLeft.y; y < buf.rect.bottomRight.y; y++)
      for (int x = buf.rect.topLeft.x; x < buf.rect.bottomRight.x; x++)
        buf.setPixel(Point(x, y), rng() & mask());
  }
  uint32_t mask() const { return bytes_ == 4 ? 0xffffffffu : (1u << (8 * bytes_)) - 1; }
  std::vector<Pixel> pixels() const
  {
    std::vector<Pixel> out;
    for (int y = buf.rect.topLeft.y; y < buf.rect.bottomRight.y; y++)
      for (int x = buf.rect.topLeft.x; x < buf.rect.bottomRight.x; x++)
        out.push_back(buf.getPixel(Point(x, y)));
    return out;
  }

private:
  int bytes_;
  int stride_;
  std::vector<uint8_t> mem_;

public:
  FullFramePixelBuffer buf;
};

PixelFormat format24()
{
  return PixelFormat(24, 24, false, true, 255, 255, 255, 16, 8, 0, 0, 0);
}

// One format of each size, with alpha at 32 bits.
const PixelFormat& formatOfSize(int bpp)
{
  static const PixelFormat f24 = format24();
  static const PixelFormat f8;
  switch (bpp) {
  case 8: return f8;
  case 16: return rfb::rgb565Format();
  case 24: return f24;
  default: return rfb::argb8888Format();
  }
}

Rect randomRect(std::mt19937& rng, const Rect& around, int spill)
{
  std::uniform_int_distribution<int> x(around.topLeft.x - spill, around.bottomRight.x + spill);
  std::uniform_int_distribution<int> y(around.topLeft.y - spill, around.bottomRight.y + spill);
  int x1 = x(rng), x2 = x(rng), y1 = y(rng), y2 = y(rng);
  return Rect(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
}

TEST(PixDraw, EdgeCases)
{
  Guarded g(PixelFormat(), Rect(0, 0, 10, 10));
  auto set = [&]() {
    std::vector<Point> pts;
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 10; x++)
        if (g.buf.getPixel(Point(x, y)))
          pts.push_back(Point(x, y));
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 10; x++)
        g.buf.setPixel(Point(x, y), 0);
    return pts;
  };
  rfb::drawLine(g.buf, Point(0, 0), Point(3, 1), 1);
  EXPECT_EQ(set(), (std::vector<Point>{{0, 0}, {1, 0}, {2, 1}}));
  rfb::drawLine(g.buf, Point(4, 4), Point(4, 4), 1);
  EXPECT_TRUE(set().empty());

  // Width 0 draws nothing; bands are clipped to the buffer, not the rect.
  rfb::drawRectBorder(g.buf, Rect(2, 2, 6, 4), 1, 0);
  EXPECT_TRUE(set().empty());
  rfb::drawRectBorder(g.buf, Rect(2, 2, 4, 4), 1, 4);
  std::vector<Point> border = set();
  EXPECT_NE(std::find(border.begin(), border.end(), Point(3, 5)), border.end());
  EXPECT_NE(std::find(border.begin(), border.end(), Point(0, 3)), border.end());
  EXPECT_EQ(g.spoiled(), 0);

  // A one-row gradient is the top colour.
  rfb::ManagedPixelBuffer m(rfb::xrgb8888Format(), Rect(0, 0, 3, 3));
  const int top[3] = {10, 20, 30}, bottom[3] = {200, 100, 0};
  rfb::fillVerticalGradient(m, Rect(0, 1, 3, 2), top, bottom);
  EXPECT_EQ(m.getPixel(Point(2, 1)), 0x0a141eu);
  rfb::fillVerticalGradient(m, Rect(0, 0, 3, 3), top, bottom);
  // Divisions truncate toward zero: blue steps 30, 16, 1.
  EXPECT_EQ(m.getPixel(Point(0, 1)), (uint32_t)(105 << 16 | 60 << 8 | 16));
  EXPECT_EQ(m.getPixel(Point(0, 2)), 0xc86401u);

  // Rotating a 2 x 3 source by a quarter turn puts its bottom-left first.
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dst[6] = {};
  rfb::copyRotated(src, dst, Point(3, 2), 1, 0, 0, 1);
  EXPECT_EQ(std::vector<uint8_t>(dst, dst + 6), (std::vector<uint8_t>{5, 3, 1, 6, 4, 2}));

  // OVER of a source without alpha onto its own format copies it.
  rfb::ManagedPixelBuffer a(rfb::xrgb8888Format(), Rect(0, 0, 2, 1)), b(rfb::xrgb8888Format(), Rect(0, 0, 2, 1));
  a.setPixel(Point(0, 0), 0xff123456);
  b.setPixel(Point(0, 0), 0x00ffffff);
  rfb::blendImage(a, Point(0, 0), b, Rect(0, 0, 2, 1));
  EXPECT_EQ(b.getPixel(Point(0, 0)), 0xff123456u);

  // Mask 0 leaves the destination; 255 with an opaque colour writes it.
  const int colour[4] = {10, 20, 30, 255};
  const uint8_t mask[2] = {0, 255};
  b.setPixel(Point(0, 0), 0x00445566);
  rfb::fillAlphaMask(b, Rect(0, 0, 2, 1), colour, mask, 0);
  EXPECT_EQ(b.getPixel(Point(0, 0)), 0x00445566u);
  EXPECT_EQ(b.getPixel(Point(1, 0)), 0x000a141eu);

  uint8_t row[12] = {};
  rfb::fillRow(row, 0x010203, 4, 3);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{3, 2, 1, 3, 2, 1}));
  rfb::fillRow(row, 0x7f7f, 5, 2);
  rfb::fillRow(row + 10, 0x12345, 1, 2);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 12), (std::vector<uint8_t>{127, 127, 127, 127, 127, 127, 127, 127, 127,
                                                                       127, 0x45, 0x23}));
  rfb::fillRow(row, 0xffffffff, 3, 5);
  EXPECT_EQ(row[0], 127);
}

TEST(PixDraw, LinesAndRoundedRectsFollowTheReferenceStepping)
{
  const int w = 40, h = 30;
  std::mt19937 rng(37);
  std::vector<std::string> requests, ours;
  Guarded g(PixelFormat(), Rect(0, 0, w, h));
  auto collect = [&]() {
    std::string out;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        if (g.buf.getPixel(Point(x, y))) {
          out += (out.empty() ? "" : " ") + std::to_string(x) + "," + std::to_string(y);
          g.buf.setPixel(Point(x, y), 0);
        }
    return out.empty() ? "-" : out;
  };
  std::uniform_int_distribution<int> cx(-10, w + 10), cy(-10, h + 10), radius(0, 20);
  for (int i = 0; i < 300; i++) {
    Point a(cx(rng), cy(rng)), b(cx(rng), cy(rng));
    rfb::drawLine(g.buf, a, b, 1);
    requests.push_back("line " + std::to_string(a.x) + " " + std::to_string(a.y) + " " + std::to_string(b.x) + " " +
                       std::to_string(b.y) + " " + std::to_string(w) + " " + std::to_string(h));
    ours.push_back(collect());
  }
  for (int i = 0; i < 300; i++) {
    Rect r = randomRect(rng, Rect(0, 0, w, h), 6);
    int rad = radius(rng);
    rfb::drawRoundedRect(g.buf, r, rad, 1);
    requests.push_back("rrect " + std::to_string(r.topLeft.x) + " " + std::to_string(r.topLeft.y) + " " +
                       std::to_string(r.bottomRight.x) + " " + std::to_string(r.bottomRight.y) + " " +
                       std::to_string(rad) + " " + std::to_string(w) + " " + std::to_string(h));
    ours.push_back(collect());
  }
  // Radius 10 on a 6 x 30 rectangle is radius 3.
  rfb::drawRoundedRect(g.buf, Rect(2, 0, 8, 30), 10, 1);
  std::string r10 = collect();
  rfb::drawRoundedRect(g.buf, Rect(2, 0, 8, 30), 3, 1);
  EXPECT_EQ(r10, collect());
  EXPECT_EQ(g.spoiled(), 0);

  std::vector<std::string> want =
    tltest::pythonLines(std::string(TL_TEST_SUPPORT_DIR) + "/draw_reference.py", requests);
  ASSERT_EQ(want.size(), ours.size());
  for (size_t i = 0; i < ours.size(); i++)
    EXPECT_EQ(ours[i], want[i]) << requests[i];
}

TEST(PixDraw, CopyRotatedFollowsTheIndexFormulas)
{
  std::mt19937 rng(5);
  for (int bytes = 1; bytes <= 4; bytes++) {
    for (int q = 1; q <= 3; q++) {
      for (int rep = 0; rep < 5; rep++) {
        int w = 1 + rng() % 9, h = 1 + rng() % 9;
        int srcW = q == 2 ? w : h, srcH = q == 2 ? h : w;
        int srcStride = srcW + (int)(rng() % 3), dstStride = w + (int)(rng() % 3);
        std::vector<uint8_t> src((size_t)srcStride * srcH * bytes);
        for (uint8_t& b : src)
          b = (uint8_t)rng();
        std::vector<uint8_t> dst((size_t)dstStride * h * bytes, 0xEE), want = dst;
        for (int r = 0; r < h; r++)
          for (int c = 0; c < w; c++) {
            int i = q == 1 ? r : q == 2 ? w - 1 - c : h - 1 - r;
            int j = q == 1 ? w - 1 - c : q == 2 ? h - 1 - r : c;
            memcpy(&want[((size_t)r * dstStride + c) * bytes], &src[((size_t)j * srcStride + i) * bytes], bytes);
          }
        rfb::copyRotated(src.data(), dst.data(), Point(w, h), bytes, srcStride, dstStride, q);
        ASSERT_EQ(dst, want) << bytes << " bytes, " << q << " turns, " << w << "x" << h;
      }
    }
  }
}

TEST(PixDraw, ScrollRegionEqualsCopyingFromASnapshotInEveryDirection)
{
  std::mt19937 rng(11);
  const Rect area(3, -4, 43, 26);
  for (int dir = 0; dir < 8; dir++) {
    static const int dirs[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
    for (int rep = 0; rep < 6; rep++) {
      Point delta(dirs[dir][0] * (1 + (int)(rng() % 7)), dirs[dir][1] * (1 + (int)(rng() % 7)));
      Guarded g(rfb::rgb565Format(), area);
      g.randomise(rng);
      rfb::Region region;
      for (int k = 0; k < 6; k++)
        region.assignUnion(randomRect(rng, area, 4));
      std::vector<Pixel> snap = g.pixels();
      auto old = [&](int x, int y) {
        return snap[(size_t)(y - area.topLeft.y) * area.width() + (x - area.topLeft.x)];
      };
      rfb::scrollRegion(g.buf, region, delta);
      for (int y = area.topLeft.y; y < area.bottomRight.y; y++)
        for (int x = area.topLeft.x; x < area.bottomRight.x; x++) {
          bool moved = region.contains(Point(x, y)) && area.contains(Point(x - delta.x, y - delta.y));
          ASSERT_EQ(g.buf.getPixel(Point(x, y)), moved ? old(x - delta.x, y - delta.y) : old(x, y))
            << "delta " << delta.x << "," << delta.y << " at " << x << "," << y;
        }
      ASSERT_EQ(g.spoiled(), 0);
    }
  }
}

// Random calls with rectangles that spill over the edges: each matches a
// per-pixel model where that is simple, and none touches the guards.
TEST(PixDraw, NothingIsWrittenOutsideTheDestination)
{
  std::mt19937 rng(3);
  for (int bpp : {8, 16, 24, 32}) {
    const PixelFormat& pf = formatOfSize(bpp);
    const Rect area(-7, 2, 17, 20);
    Guarded g(pf, area);
    for (int rep = 0; rep < 60; rep++) {
      g.randomise(rng);
      std::vector<Pixel> before = g.pixels();
      Rect r = randomRect(rng, area, 8);
      Pixel p = rng() & g.mask();
      std::vector<uint8_t> bits(64 * 8), pixels(64 * 64 * 4), alpha(64 * 64);
      for (uint8_t& b : bits)
        b = (uint8_t)rng();
      for (uint8_t& b : pixels)
        b = (uint8_t)rng();
      for (uint8_t& b : alpha)
        b = (uint8_t)rng();
      int op = rep % 10, bitOffset = (int)(rng() % 8);
      const int rgba[4] = {40, 50, 60, 90}, top[3] = {0, 0, 0}, bottom[3] = {255, 128, 9};
      switch (op) {
      case 0: rfb::fillRect(g.buf, r, p); break;
      case 1: rfb::xorRect(g.buf, r, p); break;
      case 2: rfb::drawBitmap(g.buf, r, p, bits.data(), 8, bitOffset); break;
      case 3: rfb::copyPixelsMasked(g.buf, r, pixels.data(), bits.data(), 64, 8, bitOffset); break;
      case 4: rfb::fillAlphaMask(g.buf, r, rgba, alpha.data(), 64); break;
      case 5: rfb::fillVerticalGradient(g.buf, r, top, bottom); break;
      case 6: rfb::copyPixelsToRect(g.buf, r, pixels.data(), 64); break;
      case 7: rfb::scrollRect(g.buf, r, Point((int)(rng() % 9) - 4, (int)(rng() % 9) - 4)); break;
      case 8: rfb::drawRoundedRect(g.buf, r, (int)(rng() % 12), p); break;
      default: {
        rfb::ManagedPixelBuffer src(formatOfSize(8 << (rng() % 4)), randomRect(rng, area, 8));
        if (src.data)
          memcpy(src.data, pixels.data(), std::min<size_t>(src.capacity(), pixels.size()));
        rfb::blendImage(src, Point((int)(rng() % 5), 1), g.buf, r, rng() % 2 ? rfb::blendOver : rfb::blendHalfOver);
      }
      }
      ASSERT_EQ(g.spoiled(), 0) << bpp << " bpp, op " << op;
      if (op > 3)
        continue;
      std::vector<Pixel> after = g.pixels();
      int bytes = bpp / 8;
      for (int y = area.topLeft.y; y < area.bottomRight.y; y++)
        for (int x = area.topLeft.x; x < area.bottomRight.x; x++) {
          size_t i = (size_t)(y - area.topLeft.y) * area.width() + (x - area.topLeft.x);
          Pixel want = before[i];
          if (r.contains(Point(x, y))) {
            int n = bitOffset + x - r.topLeft.x;
            bool bit = (bits[(size_t)(y - r.topLeft.y) * 8 + n / 8] >> (7 - n % 8)) & 1;
            Pixel from = 0;
            memcpy(&from, &pixels[((size_t)(y - r.topLeft.y) * 64 + (x - r.topLeft.x)) * bytes], bytes);
            want = op == 0 ? p : op == 1 ? want ^ p : !bit ? want : op == 2 ? p : from;
          }
          ASSERT_EQ(after[i], want) << bpp << " bpp, op " << op << " at " << x << "," << y;
        }
    }
  }
}

// --- Compositing --------------------------------------------------------------------

struct PixmanCase {
  pixman_format_code_t code;
  PixelFormat pf;
};

const std::vector<PixmanCase>& pixmanFormats()
{
  static const std::vector<PixmanCase> v = {
    {PIXMAN_a8r8g8b8, rfb::argb8888Format()},
    {PIXMAN_x8r8g8b8, rfb::xrgb8888Format()},
    {PIXMAN_a8b8g8r8, rfb::abgr8888Format()},
    {PIXMAN_x8b8g8r8, rfb::rgb888Format()},
    {PIXMAN_r8g8b8, format24()},
    {PIXMAN_b8g8r8, PixelFormat(24, 24, false, true, 255, 255, 255, 0, 8, 16, 0, 0)},
  };
  return v;
}

// Premultiplied random a8r8g8b8 pixels with some fully clear and opaque.
void fillPremultiplied(rfb::ManagedPixelBuffer& b, std::mt19937& rng)
{
  for (int y = 0; y < b.rect.height(); y++)
    for (int x = 0; x < b.rect.width(); x++) {
      uint32_t a = rng() % 4 == 0 ? 255 : rng() % 4 == 0 ? 0 : rng() & 255;
      uint32_t p = a << 24;
      for (int s : {16, 8, 0})
        p |= (uint32_t)(a ? rng() % (a + 1) : 0) << s;
      b.setPixel(Point(x, y), p);
    }
}

void pixmanComposite(pixman_op_t op, rfb::ManagedPixelBuffer& src, pixman_format_code_t sc,
                     rfb::ManagedPixelBuffer& dst, pixman_format_code_t dc)
{
  int w = dst.rect.width(), h = dst.rect.height();
  // pixman's strides are whole words: the widths below keep rows so.
  pixman_image_t* s =
    pixman_image_create_bits(sc, w, h, reinterpret_cast<uint32_t*>(src.data), w * src.bytesPerPixel());
  pixman_image_t* d =
    pixman_image_create_bits(dc, w, h, reinterpret_cast<uint32_t*>(dst.data), w * dst.bytesPerPixel());
  pixman_image_composite32(op, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

TEST(PixDraw, CompositingEqualsPixman)
{
  std::mt19937 rng(9);
  const Rect r(0, 0, 64, 9); // 64 x 3 bytes is a multiple of 4
  auto run = [&](pixman_op_t op, const PixmanCase& s, const PixmanCase& d) {
    rfb::ManagedPixelBuffer src(s.pf, r), ours(d.pf, r), theirs(d.pf, r);
    if (s.pf.alphaMax)
      fillPremultiplied(src, rng);
    else
      for (int i = 0; i < src.capacity(); i++)
        src.data[i] = (uint8_t)rng();
    for (int i = 0; i < ours.capacity(); i++)
      ours.data[i] = theirs.data[i] = (uint8_t)rng();
    if (d.pf.alphaMax) // pixman's destination alpha is real
      for (int y = 0; y < 9; y++)
        for (int x = 0; x < 64; x++)
          ours.setPixel(Point(x, y), ours.getPixel(Point(x, y)) | 0xff000000u);
    memcpy(theirs.data, ours.data, ours.capacity());
    rfb::blendImage(src, Point(0, 0), ours, r, op == PIXMAN_OP_OVER ? rfb::blendOver : rfb::blendCopy);
    pixmanComposite(op, src, s.code, theirs, d.code);
    for (int y = 0; y < 9; y++)
      for (int x = 0; x < 64; x++) {
        Pixel a = ours.getPixel(Point(x, y)), b = theirs.getPixel(Point(x, y));
        if (!d.pf.alphaMax && d.pf.bpp == 32)
          a &= 0xffffff, b &= 0xffffff;
        ASSERT_EQ(a, b) << (op == PIXMAN_OP_OVER ? "OVER " : "SRC ") << s.code << " onto " << d.code << " at " << x
                        << "," << y;
      }
  };
  const auto& f = pixmanFormats();
  run(PIXMAN_OP_OVER, f[0], f[0]);
  run(PIXMAN_OP_OVER, f[0], f[1]);
  for (const PixmanCase& s : f)
    for (const PixmanCase& d : f)
      run(PIXMAN_OP_SRC, s, d);
}

// The Part's conversions and blends, written out per channel.
struct Ref {
  static uint32_t swap(uint32_t v, int bpp)
  {
    return bpp == 16 ? ((v & 0xff) << 8 | (v >> 8 & 0xff)) : bpp == 32 ? __builtin_bswap32(v) : v;
  }
  static void toRGBA(const PixelFormat& f, uint32_t p, int o[4])
  {
    if (f.bigEndian)
      p = swap(p, f.bpp);
    const int max[4] = {f.redMax, f.greenMax, f.blueMax, f.alphaMax};
    const int shift[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
    bool plain = max[0] == 255 && max[1] == 255 && max[2] == 255;
    for (int c = 0; c < 4; c++) {
      int v = (int)(p >> shift[c]) & max[c];
      if (c == 3)
        o[c] = max[3] == 0 ? 255 : max[3] == 255 ? v : (v * 255 + max[3] / 2) / max[3];
      else
        o[c] = plain ? v : (v * 255 + max[c] / 2) / max[c];
    }
  }
  static uint32_t fromRGBA(const PixelFormat& f, const int in[4])
  {
    const int max[4] = {f.redMax, f.greenMax, f.blueMax, f.alphaMax};
    const int shift[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
    bool plain = max[0] == 255 && max[1] == 255 && max[2] == 255;
    uint32_t p = 0;
    for (int c = 0; c < 4; c++) {
      int v = std::min(255, in[c]);
      if (c == 3 ? max[3] != 255 : !plain)
        v = (v * max[c] + 127) / 255;
      p |= (uint32_t)v << shift[c];
    }
    return f.bigEndian ? swap(p, f.bpp) : p;
  }
};

int d255(int x) { return (x + 127) / 255; }

using RefBlend = void (*)(const int s[4], int d[4]);
void refOver(const int s[4], int d[4])
{
  for (int c = 0; c < 4; c++)
    d[c] = s[c] + d255(d[c] * (255 - s[3]));
}

TEST(PixDraw, BlendsFollowTheirFormulasForEveryPairOfSizes)
{
  struct Blend {
    const char* name;
    rfb::BlendFunc ours;
    RefBlend ref;
  };
  const Blend blends[] = {
    {"over", rfb::blendOver, refOver},
    {"copy", rfb::blendCopy, [](const int s[4], int d[4]) { std::copy(s, s + 4, d); }},
    {"grey copy", rfb::blendGreyCopy,
     [](const int s[4], int d[4]) {
       int g = (19661 * s[0] + 38666 * s[1] + 7209 * s[2]) >> 16;
       d[0] = d[1] = d[2] = g;
       d[3] = s[3];
     }},
    {"grey over", rfb::blendGreyOver,
     [](const int s[4], int d[4]) {
       int g = (19661 * s[0] + 38666 * s[1] + 7209 * s[2]) >> 16;
       const int grey[4] = {g, g, g, s[3]};
       refOver(grey, d);
     }},
    {"premultiply", rfb::premultiply,
     [](const int s[4], int d[4]) {
       for (int c = 0; c < 3; c++)
         d[c] = d255(s[c] * s[3]);
       d[3] = s[3];
     }},
    {"unpremultiply", rfb::unpremultiply,
     [](const int s[4], int d[4]) {
       for (int c = 0; c < 3; c++)
         d[c] = s[3] ? (s[c] * 255 + s[3] / 2) / s[3] : 0;
       d[3] = s[3];
     }},
    {"half over", rfb::blendHalfOver,
     [](const int s[4], int d[4]) {
       int h[4];
       for (int c = 0; c < 4; c++)
         h[c] = d255(s[c] * 127);
       refOver(h, d);
     }},
  };
  std::mt19937 rng(21);
  const Rect r(0, 0, 13, 5);
  for (int sb : {8, 16, 24, 32})
    for (int db : {8, 16, 24, 32}) {
      PixelFormat sf = formatOfSize(sb), df = formatOfSize(db);
      if (db == 16)
        df = rfb::rgb555Format(), df.bigEndian = true; // byte order too
      for (const Blend& b : blends) {
        rfb::ManagedPixelBuffer src(sf, r), dst(df, r);
        std::vector<Pixel> before;
        for (int y = 0; y < 5; y++)
          for (int x = 0; x < 13; x++) {
            src.setPixel(Point(x, y), rng());
            dst.setPixel(Point(x, y), rng());
            before.push_back(dst.getPixel(Point(x, y)));
          }
        rfb::blendImage(src, Point(1, 0), dst, Rect(0, 1, 13, 5), b.ours);
        for (int y = 0; y < 5; y++)
          for (int x = 0; x < 13; x++) {
            Pixel want = before[(size_t)y * 13 + x];
            if (y >= 1 && x < 12) {
              int s[4], d[4];
              Ref::toRGBA(sf, src.getPixel(Point(x + 1, y - 1)), s);
              Ref::toRGBA(df, want, d);
              b.ref(s, d);
              want = Ref::fromRGBA(df, d) & (db == 32 ? 0xffffffffu : (1u << db) - 1);
              if (sf.alphaMax == 0 && b.ours == rfb::blendOver && sf.equal(df))
                want = src.getPixel(Point(x + 1, y - 1));
            }
            ASSERT_EQ(dst.getPixel(Point(x, y)), want) << b.name << " " << sb << " onto " << db << " at " << x << ","
                                                       << y;
          }
      }
    }
}

TEST(PixDraw, AlphaMasksFollowTheirFormulaAndTheXrgbPathsEqualTheTemplate)
{
  std::mt19937 rng(17);
  const Rect r(0, 0, 21, 6);
  std::vector<uint8_t> mask(21 * 6);
  for (PixelFormat pf : {formatOfSize(8), formatOfSize(16), formatOfSize(24), formatOfSize(32), rfb::xrgb8888Format()}) {
    for (int alpha : {255, 128, 0}) {
      int rgba[4] = {(int)(rng() % (alpha + 1)), (int)(rng() % (alpha + 1)), (int)(rng() % (alpha + 1)), alpha};
      for (uint8_t& m : mask)
        m = rng() % 3 == 0 ? 0 : rng() % 3 == 0 ? 255 : (uint8_t)rng();
      rfb::ManagedPixelBuffer a(pf, r), b(pf, r);
      for (int i = 0; i < a.capacity(); i++)
        a.data[i] = b.data[i] = (uint8_t)rng();
      std::vector<Pixel> before;
      for (int y = 0; y < 6; y++)
        for (int x = 0; x < 21; x++)
          before.push_back(a.getPixel(Point(x, y)));
      rfb::fillAlphaMask(a, r, rgba, mask.data(), 0);
      rfb::setGenericPathsForTest(true);
      rfb::fillAlphaMask(b, r, rgba, mask.data(), 0);
      rfb::setGenericPathsForTest(false);
      ASSERT_EQ(memcmp(a.data, b.data, a.capacity()), 0) << (int)pf.bpp << " alpha " << alpha;
      for (int y = 0; y < 6; y++)
        for (int x = 0; x < 21; x++) {
          int m = mask[(size_t)y * 21 + x], d[4];
          Ref::toRGBA(pf, before[(size_t)y * 21 + x], d);
          int k = 255 - d255(m * alpha);
          int out[4];
          for (int c = 0; c < 3; c++)
            out[c] = d255(m * rgba[c] + k * d[c]);
          out[3] = d255(m * alpha + k * d[3]);
          ASSERT_EQ(a.getPixel(Point(x, y)), Ref::fromRGBA(pf, out)) << (int)pf.bpp << " at " << x << "," << y;
        }
    }
  }
}

TEST(PixDraw, WordWideOverEqualsTheTemplate)
{
  // Any bytes, premultiplied or not, between the 32-bit layouts it serves.
  std::mt19937 rng(23);
  const PixelFormat formats[] = {rfb::argb8888Format(), rfb::abgr8888Format(), rfb::xrgb8888Format(),
                                 rfb::rgb888Format(), PixelFormat(32, 32, false, true, 255, 255, 255, 24, 16, 8, 0, 255)};
  for (const PixelFormat& sf : formats)
    for (const PixelFormat& df : formats) {
      rfb::ManagedPixelBuffer src(sf, Rect(0, 0, 33, 3)), a(df, Rect(0, 0, 33, 3)), b(df, Rect(0, 0, 33, 3));
      for (int i = 0; i < src.capacity(); i++)
        src.data[i] = (uint8_t)rng();
      for (int i = 0; i < a.capacity(); i++)
        a.data[i] = b.data[i] = (uint8_t)rng();
      rfb::blendImage(src, Point(0, 0), a, a.rect);
      rfb::setGenericPathsForTest(true);
      rfb::blendImage(src, Point(0, 0), b, b.rect);
      rfb::setGenericPathsForTest(false);
      ASSERT_EQ(memcmp(a.data, b.data, a.capacity()), 0) << "shifts " << (int)sf.redShift << " onto "
                                                         << (int)df.redShift;
    }
}

TEST(PixDrawDeathTest, CopyRegionNeedsAPositiveTile)
{
  rfb::ManagedPixelBuffer a(rfb::rgb565Format(), Rect(0, 0, 8, 8)), b(rfb::rgb565Format(), Rect(0, 0, 8, 8));
  rfb::Region region(Rect(0, 0, 8, 8));
  EXPECT_DEATH(rfb::copyRegion(&a, Point(0, 0), b, region, Point(4, 0)), "'maxTile.x > 0 && maxTile.y > 0'");
  EXPECT_DEATH(rfb::copyRegion(&a, Point(0, 0), b, region, Point(-1, 4)), "'maxTile.x > 0 && maxTile.y > 0'");
}

TEST(PixDraw, CopyRegionCopiesEachBoxInTiles)
{
  std::mt19937 rng(2);
  rfb::ManagedPixelBuffer src(format24(), Rect(-5, -5, 30, 30));
  for (int i = 0; i < src.capacity(); i++)
    src.data[i] = (uint8_t)rng();
  Guarded g(format24(), Rect(0, 0, 20, 20));
  rfb::Region region(Rect(1, 1, 9, 7));
  region.assignUnion(Rect(12, 3, 19, 18));
  rfb::copyRegion(&src, Point(-3, 4), g.buf, region, Point(3, 2));
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++)
      ASSERT_EQ(g.buf.getPixel(Point(x, y)), region.contains(Point(x, y)) ? src.getPixel(Point(x - 3, y + 4)) : 0u);
  EXPECT_EQ(g.spoiled(), 0);
}

// Rows at distances around the 4 KiB window, overlapping or not: memmove's.
TEST(PixDraw, CopyRowsEqualsRowByRowMemmoveAtEveryDistance)
{
  std::mt19937 rng(5);
  const int width = 37, height = 3, rowBytes = 45 * 4; // 148 bytes of each row copied
  std::vector<uint8_t> block(4 * 4096 + 4 * rowBytes * height), want;
  for (long distance : {-300L, -64L, -1L, 0L, 1L, 16L, 63L, 64L, 200L, 255L, 256L, 4095L, 4096L,
                        4100L, 4351L, 3L * rowBytes + 1, 3L * rowBytes + 4096}) {
    std::generate(block.begin(), block.end(), [&] { return (uint8_t)rng(); });
    want = block;
    size_t from = 4096 + 16, to = from + distance;
    for (int y = 0; y < height; y++)
      memmove(&want[to + (size_t)y * rowBytes], &want[from + (size_t)y * rowBytes],
              (size_t)width * 4);
    rfb::copyRows(&block[from], &block[to], Point(width, height), 4, 45, 45);
    ASSERT_EQ(block, want) << "distance " << distance;
  }
}

} // namespace
