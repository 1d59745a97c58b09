// The scaler: the worked cases of the rounding rule, every kernel against
// a per-pixel evaluation of the rule over every pair of test formats
// (source channels read through the drawing code's own conversion),
// whole images against random tilings, and the kernel table's choices.
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orthcube.h"
#include "plat/Exception.h"
#include "rfb/PixDraw.h"
#include "rfb/PixMemory.h"
#include "tlutil/Scaler.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;
using tlutil::Scaler;

// A managed buffer that records the areas read from it.
class RecordingBuffer : public ManagedPixelBuffer {
public:
  using ManagedPixelBuffer::ManagedPixelBuffer;
  const uint8_t* getPixelsR(const Rect& r, int* stride) override
  {
    reads.push_back(r);
    return ManagedPixelBuffer::getPixelsR(r, stride);
  }
  std::vector<Rect> reads;
};

// A buffer of w x h pixels of one 8-bit channel (rgb888 with equal
// channels), filled row by row from values.
std::unique_ptr<RecordingBuffer> greyImage(int w, int h, const std::vector<int>& values)
{
  auto buf = std::make_unique<RecordingBuffer>(rfb::rgb888Format(), Rect(0, 0, w, h));
  for (int i = 0; i < w * h; i++)
    buf->setPixel(Point(i % w, i / w), (uint32_t)values[i] * 0x010101u);
  return buf;
}

std::vector<int> scaleGrey(RecordingBuffer& src, int w, int h, const Rect& r)
{
  Scaler s;
  s.coords_.dstSz = Point(w, h);
  s.setSource(&src, true);
  std::vector<uint32_t> out((size_t)r.area());
  s.getImage(out.data(), r);
  std::vector<int> v;
  for (uint32_t p : out)
    v.push_back((int)(p & 0xff));
  return v;
}

TEST(Scaler, WorkedCases)
{
  // Two rounding stages: rows 15 and 36, then (51 + 1) / 2.
  auto a = greyImage(2, 2, {10, 20, 30, 41});
  EXPECT_EQ(std::vector<int>{26}, scaleGrey(*a, 1, 1, Rect(0, 0, 1, 1)));
  auto b = greyImage(1, 1, {77});
  EXPECT_EQ(std::vector<int>(9, 77), scaleGrey(*b, 3, 3, Rect(0, 0, 3, 3)));
  // (2 p0 + p1) and (p1 + 2 p2) over 3 units, each rounded.
  auto c = greyImage(3, 1, {10, 20, 101});
  EXPECT_EQ((std::vector<int>{(40 + 1) / 3, (222 + 1) / 3}), scaleGrey(*c, 2, 1, Rect(0, 0, 2, 1)));
  auto d = greyImage(3, 1, {255, 255, 255});
  EXPECT_EQ((std::vector<int>{255, 255}), scaleGrey(*d, 2, 1, Rect(0, 0, 2, 1)));
  // Pixel (1, 1) of a doubled 2 x 2 reads only source pixel (0, 0).
  auto e = greyImage(2, 2, {9, 50, 60, 70});
  EXPECT_EQ(std::vector<int>{9}, scaleGrey(*e, 4, 4, Rect(1, 1, 2, 2)));
  ASSERT_EQ(1u, e->reads.size());
  EXPECT_EQ(Rect(0, 0, 1, 1), e->reads[0]);
}

TEST(Scaler, MissingKernelsThrowFromGetImageOnly)
{
  Scaler none;
  uint32_t px = 0;
  try {
    none.getImage(&px, Rect(0, 0, 1, 1));
    FAIL();
  } catch (const plat::Exception& e) {
    EXPECT_STREQ("Scaler error: no source", e.str());
  }
  none.getImage(&px, Rect()); // empty: nothing to do

  ManagedPixelBuffer argb(rfb::argb8888Format(), Rect(0, 0, 2, 2));
  Scaler s;
  s.coords_.dstSz = Point(1, 1);
  s.setSource(&argb, false);
  s.dstFormat = rfb::rgb565Format();
  s.update();
  EXPECT_EQ(nullptr, s.kernel());
  char a[PixelFormat::kPrintSize] = "", b[PixelFormat::kPrintSize] = "";
  rfb::argb8888Format().print(a);
  rfb::rgb565Format().print(b);
  try {
    s.getImage(&px, Rect(0, 0, 1, 1));
    FAIL();
  } catch (const plat::Exception& e) {
    EXPECT_EQ(std::string("Scaler error: ") + a + " to " + b, e.str());
  }
}

TEST(Scaler, EqualFormatAndSizeCopiesRows)
{
  ManagedPixelBuffer src(rfb::rgb565Format(), Rect(3, 4, 8, 7));
  std::mt19937 rng(5);
  for (int y = 4; y < 7; y++)
    for (int x = 3; x < 8; x++)
      src.setPixel(Point(x, y), rng() & 0xffff);
  Scaler s;
  s.coords_.dstSz = Point(5, 3);
  s.setSource(&src, true);
  ASSERT_STREQ("copy", s.kernel()->name);
  std::vector<uint16_t> out(5 * 3 + 2, 0xAAAA);
  s.getImage(out.data(), Rect(0, 0, 5, 3), 6);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++)
      EXPECT_EQ(src.getPixel(Point(x + 3, y + 4)), out[y * 6 + x]);
  EXPECT_EQ(0xAAAA, out[5]);
}

PixelFormat fmt(int bpp, int depth, bool be, int rm, int gm, int bm, int rs, int gs, int bs, int as, int am)
{
  return PixelFormat(bpp, depth, be, true, rm, gm, bm, rs, gs, bs, as, am);
}

struct TestFormat {
  const char* name;
  PixelFormat pf;
};

std::vector<TestFormat> testFormats()
{
  return {
      {"rgb222", rfb::rgb222Format()},
      {"rgb111", rfb::rgb111Format()},
      {"pal8", rfb::pal8Format()},
      {"rgb565", rfb::rgb565Format()},
      {"rgb555", rfb::rgb555Format()},
      {"rgb565be", fmt(16, 16, true, 31, 63, 31, 11, 5, 0, 0, 0)},
      {"argb4444", fmt(16, 16, false, 15, 15, 15, 8, 4, 0, 12, 15)},
      {"rgb24", fmt(24, 24, false, 255, 255, 255, 16, 8, 0, 0, 0)},
      {"argb6666", fmt(24, 24, false, 63, 63, 63, 12, 6, 0, 18, 63)},
      {"xrgb8888", rfb::xrgb8888Format()},
      {"xbgr8888", rfb::rgb888Format()},
      {"argb8888", rfb::argb8888Format()},
      {"abgr8888", rfb::abgr8888Format()},
      {"xrgb8888be", fmt(32, 24, true, 255, 255, 255, 16, 8, 0, 0, 0)},
      {"rgb10", fmt(32, 30, false, 1023, 1023, 1023, 20, 10, 0, 0, 0)},
      {"nogreen", fmt(16, 10, false, 31, 0, 31, 5, 0, 0, 0, 0)},
  };
}

TEST(Scaler, KernelTable)
{
  std::map<std::string, PixelFormat> f;
  for (const auto& t : testFormats())
    f[t.name] = t.pf;
  struct Case {
    const char* src;
    const char* dst;
    const char* kernel; // null: none
  } cases[] = {
      {"rgb222", "rgb222", "rgb222"},         {"rgb565", "rgb565", "rgb565"},
      {"xrgb8888", "xrgb8888", "xrgb8888"},   {"rgb111", "rgb111", "same1"},
      {"rgb555", "rgb555", "same2"},          {"rgb24", "rgb24", "same3"},
      {"xbgr8888", "xbgr8888", "same4"},      {"argb4444", "argb4444", "alpha2"},
      {"argb8888", "argb8888", "alpha4"},     {"argb6666", "argb6666", nullptr},
      {"rgb565", "argb8888", "into-alpha2"},  {"pal8", "abgr8888", "into-alpha1"},
      {"argb4444", "argb8888", "into-alpha2"}, {"argb6666", "abgr8888", "into-alpha3"},
      {"argb8888", "rgb565", nullptr},        {"rgb565", "argb4444", nullptr},
      {"pal8", "rgb565", "from8-2"},          {"rgb222", "xrgb8888", "from8-4"},
      {"pal8", "rgb24", "generic1-3"},        {"rgb222", "pal8", "generic1-1"},
      {"pal8", "pal8", "generic1-1"},            {"rgb565", "xrgb8888", "generic2-4"},
      {"rgb565be", "rgb565be", "generic2-2"}, {"xrgb8888be", "argb8888", nullptr},
      {"rgb565", "xrgb8888be", "generic2-4"}, {"rgb10", "rgb10", nullptr},
      {"rgb565", "rgb10", nullptr},           {"nogreen", "xrgb8888", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.src) + " to " + c.dst);
    const tlutil::ScaleKernel* k = tlutil::pickKernel(f.at(c.src), f.at(c.dst));
    EXPECT_EQ(std::string(c.kernel ? c.kernel : "none"), k ? k->name : "none");
  }
}

// The rule, evaluated for one destination pixel at a time.
struct Reference {
  const PixelFormat& sf;
  const PixelFormat& df;
  rfb::ColourMap* cm;
  std::string kernel;

  bool raw() const
  {
    for (const char* p : {"same", "alpha", "rgb", "xrgb"})
      if (kernel.rfind(p, 0) == 0)
        return true;
    return false;
  }
  int channels() const { return kernel.rfind("alpha", 0) == 0 || kernel.rfind("into", 0) == 0 ? 4 : 3; }

  void read(uint32_t p, int c[4]) const
  {
    if (raw()) {
      const int sh[4] = {sf.redShift, sf.greenShift, sf.blueShift, sf.alphaShift};
      const int mx[4] = {sf.redMax, sf.greenMax, sf.blueMax, sf.alphaMax};
      for (int k = 0; k < 4; k++)
        c[k] = (int)((p >> sh[k]) & (uint32_t)mx[k]);
    } else {
      rfb::rgbaFromPixel(sf, p, c, cm);
    }
  }
  uint32_t write(const int c[4]) const
  {
    if (raw())
      return (uint32_t)c[0] << df.redShift | (uint32_t)c[1] << df.greenShift | (uint32_t)c[2] << df.blueShift |
             (channels() == 4 ? (uint32_t)c[3] << df.alphaShift : 0);
    if (channels() == 4) {
      const int mx[4] = {df.redMax, df.greenMax, df.blueMax, df.alphaMax};
      const int sh[4] = {df.redShift, df.greenShift, df.blueShift, df.alphaShift};
      uint32_t p = 0;
      for (int k = 0; k < 4; k++)
        p |= (uint32_t)((c[k] * mx[k] + 127) / 255) << sh[k];
      return p;
    }
    return df.pixelFromRGB(c, cm);
  }

  uint32_t pixel(ManagedPixelBuffer& src, Point dstSz, int X, int Y) const
  {
    const int64_t sw = src.rect.width(), sh = src.rect.height(), dw = dstSz.x, dh = dstSz.y;
    const int rx = (1 << 23) / (int)sw, ry = (1 << 23) / (int)sh;
    int acc[4] = {0, 0, 0, 0};
    for (int64_t sy = 0; sy < sh; sy++) {
      int64_t oy = std::min((sy + 1) * dh, (Y + 1) * sh) - std::max(sy * dh, Y * sh);
      if (oy <= 0)
        continue;
      int sum[4] = {0, 0, 0, 0};
      for (int64_t sx = 0; sx < sw; sx++) {
        int64_t ox = std::min((sx + 1) * dw, (X + 1) * sw) - std::max(sx * dw, X * sw);
        if (ox <= 0)
          continue;
        int c[4];
        read(src.getPixel(Point((int)sx, (int)sy).translate(src.rect.topLeft)), c);
        for (int k = 0; k < 4; k++)
          sum[k] += c[k] * (int)ox;
      }
      for (int k = 0; k < 4; k++)
        acc[k] += (((sum[k] + (int)sw / 2) * rx) >> 23) * (int)oy;
    }
    int c[4];
    for (int k = 0; k < 4; k++)
      c[k] = ((acc[k] + (int)sh / 2) * ry) >> 23;
    return write(c);
  }
};

TEST(Scaler, EveryKernelFollowsTheRuleOnAnyTiling)
{
  std::mt19937 rng(38);
  tltest::OrthCube cube(6, 6, 6);
  const auto formats = testFormats();
  int pairs = 0;
  for (const auto& s : formats) {
    for (const auto& d : formats) {
      SCOPED_TRACE(std::string(s.name) + " to " + d.name);
      const bool big = (++pairs % 23) == 0;
      const int maxSide = big ? 300 : 24;
      auto side = [&] { return 1 + (int)(rng() % maxSide); };
      Point srcSz(side(), side()), dstSz(side(), side());
      if (big)
        srcSz.y = dstSz.y = 1 + (int)(rng() % 6); // wide and flat, to keep it quick
      ManagedPixelBuffer src(s.pf, Rect(2, 3, 2 + srcSz.x, 3 + srcSz.y), &cube);
      for (int y = 0; y < srcSz.y; y++)
        for (int x = 0; x < srcSz.x; x++)
          src.setPixel(Point(2 + x, 3 + y), (uint32_t)rng());
      Scaler sc;
      sc.coords_.dstSz = dstSz;
      sc.setSource(&src, false);
      sc.dstFormat = d.pf;
      sc.dstColourMap = &cube;
      sc.update();
      if (!sc.kernel()) {
        uint32_t px;
        EXPECT_THROW(sc.getImage(&px, Rect(0, 0, 1, 1)), plat::Exception);
        continue;
      }
      if (sc.kernel()->name == std::string("copy"))
        continue;
      const int bytes = d.pf.bpp / 8;
      Reference ref{s.pf, d.pf, &cube, sc.kernel()->name};
      std::vector<uint8_t> whole((size_t)dstSz.x * dstSz.y * bytes), tiled(whole.size());
      sc.getImage(whole.data(), Rect(0, 0, dstSz.x, dstSz.y));
      // Random tiles, each written at its place with the whole stride.
      for (int y = 0; y < dstSz.y;) {
        int h = 1 + (int)(rng() % 7);
        h = std::min(h, dstSz.y - y);
        for (int x = 0; x < dstSz.x;) {
          int w = std::min(1 + (int)(rng() % 9), dstSz.x - x);
          sc.getImage(tiled.data() + ((size_t)y * dstSz.x + x) * bytes, Rect(x, y, x + w, y + h), dstSz.x);
          x += w;
        }
        y += h;
      }
      ASSERT_EQ(whole, tiled);
      int bad = 0;
      for (int y = 0; y < dstSz.y && bad < 3; y++)
        for (int x = 0; x < dstSz.x && bad < 3; x++) {
          uint32_t got = rfb::pixmem::loadAny(whole.data() + ((size_t)y * dstSz.x + x) * bytes, bytes);
          uint32_t want = ref.pixel(src, dstSz, x, y) & (bytes == 4 ? 0xffffffffu : (1u << (8 * bytes)) - 1);
          if (got != want) {
            ADD_FAILURE() << sc.kernel()->name << " at " << x << "," << y << ": " << got << " != " << want;
            bad++;
          }
        }
    }
  }
}

} // namespace
