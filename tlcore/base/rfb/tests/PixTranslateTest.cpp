// Translation between pixel formats: which routine each set-up rule picks,
// every routine against the one-table rule applied pixel by pixel, the byte
// rearrangements (and their four-at-a-time forms against the per-pixel
// template), colour-mapped output through a test colour cube, the via
// format, when tables are rebuilt, the scratch buffer and the faults.
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orthcube.h"
#include "rfb/PixDraw.h"
#include "rfb/PixTranslate.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::Pixel;
using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;
using rfb::TransPixelBuffer;

// A palette of n entries with arbitrary colours.
class Palette : public rfb::ColourMap {
public:
  explicit Palette(int n, unsigned seed = 1) : rgb_(3 * n)
  {
    std::mt19937 rng(seed);
    for (int& c : rgb_)
      c = (int)(rng() & 255);
  }
  void getColour(int i, int rgb[3]) override { memcpy(rgb, &rgb_[3 * i], 3 * sizeof(int)); }
  int size() override { return (int)rgb_.size() / 3; }

private:
  std::vector<int> rgb_;
};

PixelFormat fmt(int bpp, int depth, bool big, int rm, int gm, int bm, int rs, int gs, int bs, int am = 0, int as = 0)
{
  return PixelFormat(bpp, depth, big, true, rm, gm, bm, rs, gs, bs, as, am);
}

const PixelFormat kRgb24 = fmt(24, 24, false, 255, 255, 255, 0, 8, 16);
const PixelFormat kXrgb24 = fmt(24, 24, false, 255, 255, 255, 16, 8, 0);

uint32_t readPixel(const uint8_t* p, int bytes)
{
  uint32_t v = 0;
  for (int i = 0; i < bytes; i++)
    v |= (uint32_t)p[i] << (8 * i);
  return v;
}

void randomise(ManagedPixelBuffer& b, std::mt19937& rng)
{
  for (int i = 0; i < b.capacity(); i++)
    b.data[i] = (uint8_t)rng();
}

// The one-table rule for one pixel: its colour (through the via format for
// true-colour output) as an output pixel with the output's colour map.
Pixel oneTableRule(TransPixelBuffer& t, ManagedPixelBuffer& src, Pixel p, const PixelFormat* via)
{
  int rgba[4];
  const PixelFormat& in = src.format;
  if (!in.trueColour && in.bpp > 8)
    p = (in.bigEndian ? __builtin_bswap16((uint16_t)p) : p) & ((1u << in.depth) - 1);
  rfb::rgbaFromPixel(in.trueColour || in.bpp == 8 ? in : rfb::pal8Format(), p, rgba, src.getColourMap());
  if (via && t.format.trueColour)
    rfb::rgbaFromPixel(*via, via->pixelFromRGB(rgba, nullptr), rgba, nullptr);
  return t.format.pixelFromRGB(rgba, t.getColourMap());
}

// Translates a random image and compares each pixel with the rule.
void expectRule(TransPixelBuffer& t, ManagedPixelBuffer& src, const PixelFormat* via, rfb::ColourMap* cube = nullptr)
{
  const Rect r(src.rect.topLeft.x + 1, src.rect.topLeft.y + 2, src.rect.bottomRight.x - 1, src.rect.bottomRight.y);
  int ob = t.format.bpp / 8, ib = src.format.bpp / 8;
  std::vector<uint8_t> out((size_t)r.width() * r.height() * ob + 64, 0x5a);
  t.getImage(out.data(), r, 0);
  EXPECT_EQ(out.back(), 0x5a);
  for (int y = r.topLeft.y; y < r.bottomRight.y; y++)
    for (int x = r.topLeft.x; x < r.bottomRight.x; x++) {
      Pixel p = readPixel(src.getPixelsRW(Rect(x, y, x + 1, y + 1), nullptr), ib);
      Pixel want;
      if (cube) { // a user map reached through the cube
        int rgba[4], c[3];
        rfb::rgbaFromPixel(src.format, p, rgba, nullptr);
        cube->getColour(cube->lookup(rgba), c);
        want = (Pixel)t.getColourMap()->lookup(c);
      } else {
        want = oneTableRule(t, src, p, via);
      }
      size_t at = ((size_t)(y - r.topLeft.y) * r.width() + (x - r.topLeft.x)) * ob;
      // Only colour bits: the rule sets no alpha, rearrangements keep
      // alpha and padding bytes as they are.
      const int white[3] = {255, 255, 255};
      Pixel mask = t.format.trueColour ? t.format.pixelFromRGB(white, nullptr) : ~0u;
      ASSERT_EQ(readPixel(&out[at], ob) & mask, want & mask)
        << t.routineNameForTest() << " pixel " << std::hex << p << " at " << std::dec << x << "," << y;
    }
}

class PixTranslate : public ::testing::Test {
protected:
  void SetUp() override { rfb::setColourCubeMaker(tltest::OrthCube::make); }
  void TearDown() override { rfb::setColourCubeMaker(nullptr); }
  std::mt19937 rng{37};
};

TEST_F(PixTranslate, EachRuleChoosesItsRoutineAndEqualsTheOneTableRule)
{
  PixelFormat rgb555big = rfb::rgb555Format();
  rgb555big.bigEndian = true;
  PixelFormat pal16 = rfb::pal8Format();
  pal16.bpp = 16;
  PixelFormat bgrBig = rfb::xrgb8888Format();
  bgrBig.bigEndian = true; // the same bytes as rgb888 with alpha byte first
  PixelFormat deep = rfb::xrgb8888Format();
  struct Case {
    PixelFormat in, out;
    int option;
    const char* routine;
  };
  const Case cases[] = {
    {rfb::rgb565Format(), rfb::rgb565Format(), 0, "none"},
    {rfb::xrgb8888Format(), kRgb24, 0, "rearrange 32->24"},
    {rfb::rgb888Format(), kXrgb24, 0, "rearrange 32->24"},
    {kRgb24, rfb::xrgb8888Format(), 0, "rearrange 24->32"},
    {rfb::xrgb8888Format(), rfb::rgb888Format(), 0, "swap 32"},
    {rfb::argb8888Format(), rfb::abgr8888Format(), 0, "swap 32"},
    {rfb::xrgb8888Format(), kXrgb24, 0, "channels"},
    {rfb::argb8888Format(), rfb::rgb888Format(), 0, "channels"},
    {rfb::xrgb8888Format(), bgrBig, 0, "channels"},
    {rfb::rgb565Format(), rfb::xrgb8888Format(), 0, "one table 16->32"},
    {rfb::rgb565Format(), rfb::xrgb8888Format(), 1, "channels"},
    {rfb::rgb555Format(), rfb::rgb565Format(), 0, "one table 16->16"},
    {rfb::rgb555Format(), rfb::rgb565Format(), 1, "channels 555"},
    {rgb555big, kRgb24, 0, "one table 16->24"},
    {PixelFormat(), rfb::rgb565Format(), 0, "one table 8->16"},
    {rfb::rgb222Format(), rfb::rgb111Format(), 0, "one table 8->8"},
    {rfb::pal8Format(), rfb::xrgb8888Format(), 0, "one table 8->32"},
    {pal16, rfb::rgb565Format(), 0, "one table 16->16"},
    {kRgb24, rgb555big, 0, "channels"},
    {kXrgb24, PixelFormat(), 0, "channels"},
    {rfb::xrgb8888Format(), rfb::pal8Format(), 0, "channels"},
    {rfb::rgb565Format(), rfb::pal8Format(), 0, "one table 16->8"},
    {rfb::rgb555Format(), rfb::pal8Format(), 1, "channels 555"},
    {PixelFormat(), rfb::pal8Format(), 0, "one table 8->8"},
    {rfb::pal8Format(), rfb::pal8Format(), 0, "none"},
    {deep, deep, 0, "none"},
  };
  Palette palette(256, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.routine);
    ManagedPixelBuffer src(c.in, Rect(-3, 4, 18, 13), c.in.trueColour ? nullptr : &palette);
    randomise(src, rng);
    TransPixelBuffer t(c.option);
    t.setPF(c.out);
    t.setSource(&src);
    EXPECT_STREQ(t.routineNameForTest(), c.routine);
    EXPECT_EQ(t.rect, src.rect);
    expectRule(t, src, nullptr);
    if (!strcmp(c.routine, "none")) {
      int stride = 0;
      EXPECT_EQ(t.getPixelsR(Rect(0, 5, 2, 6), &stride), src.getPixelsRW(Rect(0, 5, 2, 6), nullptr));
    }
  }
}

TEST_F(PixTranslate, RearrangementsMoveBytesAndMatchThePerPixelTemplate)
{
  ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, 4, 1));
  src.setPixel(Point(0, 0), 0x00112233); // red 0x11 at shift 16
  TransPixelBuffer t;
  t.setPF(kRgb24);
  t.setSource(&src);
  uint8_t out[12] = {};
  t.getImage(out, Rect(0, 0, 1, 1), 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0x11, 0x22, 0x33}));

  struct Pair {
    PixelFormat in, out;
  };
  const Pair pairs[] = {{rfb::xrgb8888Format(), kRgb24}, {kRgb24, rfb::xrgb8888Format()},
                        {rfb::argb8888Format(), rfb::abgr8888Format()}};
  for (const Pair& p : pairs) {
    for (int w : {1, 3, 4, 7, 33}) {
      ManagedPixelBuffer s(p.in, Rect(0, 0, w + 2, 3));
      randomise(s, rng);
      TransPixelBuffer tr;
      tr.setPF(p.out);
      tr.setSource(&s);
      std::vector<uint8_t> fast(w * 3 * 4, 1), slow(w * 3 * 4, 1);
      tr.getImage(fast.data(), Rect(1, 0, w + 1, 3), 0);
      rfb::setGenericPathsForTest(true);
      tr.getImage(slow.data(), Rect(1, 0, w + 1, 3), 0);
      rfb::setGenericPathsForTest(false);
      ASSERT_EQ(fast, slow) << tr.routineNameForTest() << " width " << w;
      int ib = p.in.bpp / 8, ob = p.out.bpp / 8;
      for (int i = 0; i < w * 3; i++) {
        const uint8_t* in = s.data + ((i / w) * (w + 2) + 1 + i % w) * ib;
        const uint8_t* o = &fast[i * ob];
        ASSERT_EQ(o[0], in[2]);
        ASSERT_EQ(o[1], in[1]);
        ASSERT_EQ(o[2], in[0]);
        if (ob == 4) {
          ASSERT_EQ(o[3], ib == 4 ? in[3] : 0);
        }
      }
    }
  }
}

TEST_F(PixTranslate, ColourMappedOutputGoesThroughTheCube)
{
  ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, 12, 9));
  randomise(src, rng);
  TransPixelBuffer t;
  t.setPF(rfb::pal8Format());
  t.setSource(&src);
  // Depth 8: a 6 x 6 x 6 cube, reported while there is no user map.
  ASSERT_NE(t.getColourMap(), nullptr);
  EXPECT_EQ(t.getColourMap()->size(), 216);
  EXPECT_EQ(t.getCubeOrSourceColourMap(), t.getColourMap());
  PixelFormat pal6 = rfb::pal8Format();
  pal6.depth = 6;
  t.setPF(pal6);
  EXPECT_EQ(t.getColourMap()->size(), 64);
  expectRule(t, src, nullptr);

  // A user map that is no cube: channels add up to a cube entry, which a
  // further table maps to the user map's nearest entry.
  Palette user(40, 3);
  t.setPF(rfb::pal8Format());
  t.setColourMap(&user);
  EXPECT_STREQ(t.routineNameForTest(), "channels via cube");
  EXPECT_EQ(t.getColourMap(), &user);
  tltest::OrthCube cube(6, 6, 6);
  expectRule(t, src, nullptr, &cube);
  ManagedPixelBuffer src555(rfb::rgb555Format(), Rect(0, 0, 12, 9));
  randomise(src555, rng);
  TransPixelBuffer t555(1);
  t555.setPF(rfb::pal8Format());
  t555.setColourMap(&user);
  t555.setSource(&src555);
  EXPECT_STREQ(t555.routineNameForTest(), "channels 555 via cube");
  expectRule(t555, src555, nullptr, &cube);

  // An orthogonal user map is used directly.
  tltest::OrthCube small(2, 3, 4);
  t.setColourMap(&small);
  EXPECT_STREQ(t.routineNameForTest(), "channels");
  expectRule(t, src, nullptr);
}

TEST_F(PixTranslate, ViaFormatReducesPrecision)
{
  ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, 16, 8));
  randomise(src, rng);
  for (PixelFormat via : {rfb::rgb222Format(), rfb::rgb565Format(), rfb::rgb111Format()}) {
    TransPixelBuffer t;
    t.setPF(rfb::xrgb8888Format());
    t.setViaPF(via);
    t.setViaPF(rfb::pal8Format()); // ignored
    t.setSource(&src);
    EXPECT_STREQ(t.routineNameForTest(), "channels");
    expectRule(t, src, &via);
    ManagedPixelBuffer src16(rfb::rgb565Format(), Rect(0, 0, 16, 8));
    randomise(src16, rng);
    TransPixelBuffer t16;
    t16.setPF(rfb::xrgb8888Format());
    t16.setViaPF(via);
    t16.setSource(&src16);
    expectRule(t16, src16, &via);
  }
  // As deep as the output: no translation at all.
  TransPixelBuffer t;
  t.setPF(rfb::xrgb8888Format());
  t.setViaPF(rfb::xrgb8888Format());
  t.setSource(&src);
  EXPECT_STREQ(t.routineNameForTest(), "none");
}

TEST_F(PixTranslate, TablesAreRebuiltOnlyOnARealChange)
{
  ManagedPixelBuffer a(rfb::rgb565Format(), Rect(0, 0, 4, 4)), b(rfb::rgb565Format(), Rect(0, 0, 8, 2)),
    c(rfb::rgb555Format(), Rect(0, 0, 4, 4));
  TransPixelBuffer t;
  t.setPF(rfb::xrgb8888Format());
  EXPECT_EQ(t.setupsForTest(), 0);
  t.setSource(&a);
  EXPECT_EQ(t.setupsForTest(), 1);
  t.setSource(&a);
  t.setSource(&b);
  t.setPF(rfb::xrgb8888Format());
  EXPECT_EQ(t.setupsForTest(), 1);
  EXPECT_EQ(t.rect, b.rect);
  t.setSource(&c);
  EXPECT_EQ(t.setupsForTest(), 2);
  t.setPF(rfb::rgb888Format());
  EXPECT_EQ(t.setupsForTest(), 3);
  t.setColourMap(nullptr);
  EXPECT_EQ(t.setupsForTest(), 4);
  t.setSource(nullptr);
  EXPECT_TRUE(t.rect.isEmpty());
}

TEST_F(PixTranslate, ScratchGrowsToTheLargestRectangle)
{
  ManagedPixelBuffer src(rfb::rgb565Format(), Rect(0, 0, 40, 40));
  randomise(src, rng);
  TransPixelBuffer t;
  t.setPF(rfb::xrgb8888Format());
  t.setSource(&src);
  int stride = 0;
  const uint8_t* p = t.getPixelsR(Rect(1, 1, 11, 11), &stride);
  EXPECT_EQ(stride, 10);
  EXPECT_EQ(t.scratchForTest()->capacity(), 400);
  Pixel first = readPixel(p, 4);
  EXPECT_EQ(first, oneTableRule(t, src, src.getPixel(Point(1, 1)), nullptr));
  t.getPixelsR(Rect(0, 0, 30, 5), &stride);
  EXPECT_EQ(t.scratchForTest()->capacity(), 600);
  p = t.getPixelsR(Rect(2, 3, 4, 5), &stride);
  EXPECT_EQ(stride, 2);
  EXPECT_EQ(t.scratchForTest()->capacity(), 600);
  EXPECT_EQ(readPixel(p + 4 * 3, 4), oneTableRule(t, src, src.getPixel(Point(3, 4)), nullptr));
}

TEST_F(PixTranslate, OddInputsTranslateSafely)
{
  // Values beyond the map's size, or no map at all, read as entry 0.
  Palette small(10, 4);
  ManagedPixelBuffer src(rfb::pal8Format(), Rect(0, 0, 16, 16), &small);
  for (int i = 0; i < 256; i++)
    src.data[i] = (uint8_t)i;
  TransPixelBuffer t;
  t.setPF(rfb::xrgb8888Format());
  t.setSource(&src);
  std::vector<uint8_t> out(256 * 4);
  t.getImage(out.data(), src.rect, 0);
  int c0[3];
  small.getColour(0, c0);
  EXPECT_EQ(readPixel(&out[200 * 4], 4), (Pixel)(c0[0] << 16 | c0[1] << 8 | c0[2]));
  src.colourMap = nullptr;
  TransPixelBuffer none;
  none.setPF(rfb::xrgb8888Format());
  none.setSource(&src);
  none.getImage(out.data(), src.rect, 0);
  EXPECT_EQ(readPixel(&out[5 * 4], 4), 0u);

  // A channel whose maximum is 0 gives 0, in the input or the via format.
  PixelFormat noBlue = fmt(32, 16, false, 255, 255, 0, 16, 8, 0);
  ASSERT_TRUE(noBlue.isValid());
  ManagedPixelBuffer nb(noBlue, Rect(0, 0, 8, 8));
  randomise(nb, rng);
  TransPixelBuffer tb;
  tb.setPF(rfb::rgb565Format());
  tb.setViaPF(fmt(16, 10, false, 31, 31, 0, 5, 0, 0));
  tb.setSource(&nb);
  EXPECT_STREQ(tb.routineNameForTest(), "channels");
  std::vector<uint8_t> o(64 * 2);
  tb.getImage(o.data(), nb.rect, 0);
  for (int i = 0; i < 64; i++)
    ASSERT_EQ(readPixel(&o[2 * i], 2) & 31, 0u);
}

TEST_F(PixTranslate, SameFormatsReadTheSourceUnchanged)
{
  ManagedPixelBuffer src(kRgb24, Rect(2, 2, 9, 6));
  randomise(src, rng);
  TransPixelBuffer t;
  t.setPF(kRgb24);
  t.setSource(&src);
  std::vector<uint8_t> out(7 * 4 * 3);
  t.getImage(out.data(), src.rect, 0);
  EXPECT_EQ(memcmp(out.data(), src.data, out.size()), 0);
}

using PixTranslateDeathTest = PixTranslate;

TEST_F(PixTranslateDeathTest, FaultsAreFatal)
{
  PixelFormat bad = rfb::xrgb8888Format();
  bad.depth = 0;
  ManagedPixelBuffer good(rfb::xrgb8888Format(), Rect(0, 0, 2, 2)), badSrc(bad, Rect(0, 0, 2, 2));
  TransPixelBuffer t;
  EXPECT_DEATH(t.setSource(&badSrc), "'inPF.isValid\\(\\)'");
  t.setSource(&good);
  EXPECT_DEATH(t.setPF(bad), "'pf.isValid\\(\\)'");
  PixelFormat big = rfb::xrgb8888Format();
  big.bigEndian = true;
  ManagedPixelBuffer bigSrc(big, Rect(0, 0, 2, 2));
  TransPixelBuffer t2;
  t2.setPF(rfb::rgb565Format());
  EXPECT_DEATH(t2.setSource(&bigSrc), "'inPF.isNativeEndian\\(\\)'");
  rfb::setColourCubeMaker(nullptr);
  TransPixelBuffer t3;
  t3.setPF(rfb::pal8Format());
  EXPECT_DEATH(t3.setSource(&good), "'cubeMaker'.*no colour cube maker registered");
}

} // namespace
