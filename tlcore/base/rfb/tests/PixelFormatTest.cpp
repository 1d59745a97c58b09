// Pixel formats: the constant formats and their printed forms, parsing of
// short names, validity, byte order, pixel values and colour-map lookups
// against a python reference, and the 16-byte stream form.
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rfb/ColourMap.h"
#include "rfb/PixelFormat.h"
#include "testutil.h"

namespace {

using rfb::PixelFormat;

std::string printed(const PixelFormat& pf)
{
  char buf[PixelFormat::kPrintSize] = "";
  pf.print(buf);
  return buf;
}

// The fields in constructor order, for comparing whole formats.
std::vector<int> fields(const PixelFormat& f)
{
  return {f.bpp,      f.depth,      f.bigEndian, f.trueColour, f.redMax,     f.greenMax,
          f.blueMax,  f.redShift,   f.greenShift, f.blueShift, f.alphaShift, f.alphaMax};
}

class TestColourMap : public rfb::ColourMapRW {
public:
  explicit TestColourMap(int n) : entries(n * 3, 0) {}
  void getColour(int i, int rgb[3]) override { memcpy(rgb, &entries[i * 3], sizeof(int) * 3); }
  int size() override { return (int)entries.size() / 3; }
  void setColour(int i, const int rgb[3]) override { memcpy(&entries[i * 3], rgb, sizeof(int) * 3); }
  std::vector<int> entries;
};

TEST(PixelFormat, ConstantFormatsHaveTheirFieldsAndPrintedForms)
{
  struct Row {
    const PixelFormat& pf;
    std::vector<int> fields;
    const char* text;
  };
  const Row rows[] = {
    {rfb::xrgb8888Format(), {32, 24, 0, 1, 255, 255, 255, 16, 8, 0, 0, 0}, "depth 24 (32 bpp) little-endian rgb888"},
    {rfb::rgb888Format(), {32, 24, 0, 1, 255, 255, 255, 0, 8, 16, 0, 0}, "depth 24 (32 bpp) little-endian bgr888"},
    {rfb::argb8888Format(), {32, 32, 0, 1, 255, 255, 255, 16, 8, 0, 24, 255},
     "depth 32 (32 bpp) little-endian argb8888"},
    {rfb::abgr8888Format(), {32, 32, 0, 1, 255, 255, 255, 0, 8, 16, 24, 255},
     "depth 32 (32 bpp) little-endian abgr8888"},
    {rfb::rgb565Format(), {16, 16, 0, 1, 31, 63, 31, 11, 5, 0, 0, 0}, "depth 16 (16 bpp) little-endian rgb565"},
    {rfb::rgb555Format(), {16, 15, 0, 1, 31, 31, 31, 10, 5, 0, 0, 0}, "depth 15 (16 bpp) little-endian rgb555"},
    {rfb::rgb222Format(), {8, 6, 0, 1, 3, 3, 3, 4, 2, 0, 0, 0}, "depth 6 (8 bpp) rgb222"},
    {rfb::rgb111Format(), {8, 3, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0}, "depth 3 (8 bpp) rgb111"},
    {rfb::pal8Format(), {8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "depth 8 (8 bpp) colour-map"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(fields(r.pf), r.fields) << r.text;
    EXPECT_EQ(printed(r.pf), r.text);
    EXPECT_TRUE(r.pf.isValid()) << r.text;
  }
  EXPECT_EQ(&rfb::rgb565Format(), &rfb::rgb565Format());
  EXPECT_EQ(printed(PixelFormat()), "depth 8 (8 bpp) bgr233");
}

TEST(PixelFormat, PrintsTheOtherCompactFormsAndTheLongForm)
{
  struct Case {
    PixelFormat pf;
    const char* text;
  };
  const Case cases[] = {
    {PixelFormat(32, 32, false, true, 255, 255, 255, 24, 16, 8, 0, 255), "depth 32 (32 bpp) little-endian rgba8888"},
    {PixelFormat(32, 32, false, true, 255, 255, 255, 8, 16, 24, 0, 255), "depth 32 (32 bpp) little-endian bgra8888"},
    {PixelFormat(16, 16, true, true, 31, 63, 31, 11, 5, 0, 0, 0), "depth 16 (16 bpp) big-endian rgb565"},
    {PixelFormat(16, 16, false, true, 15, 15, 15, 8, 4, 0, 12, 15), "depth 16 (16 bpp) little-endian argb4444"},
    {PixelFormat(32, 24, false, true, 255, 255, 255, 0, 16, 8, 0, 0),
     "depth 24 (32 bpp) little-endian rgb max 255,255,255 shift 0,16,8"},
    {PixelFormat(32, 32, false, true, 255, 255, 255, 0, 16, 8, 24, 255),
     "depth 32 (32 bpp) little-endian rgb max 255,255,255 shift 0,16,8 alpha max 255 shift 24"},
    // A gap between fields is no compact form.
    {PixelFormat(32, 24, false, true, 127, 255, 255, 16, 8, 0, 0, 0),
     "depth 24 (32 bpp) little-endian rgb max 127,255,255 shift 16,8,0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(printed(c.pf), c.text);

  // print appends, and cuts at 128 bytes on a character boundary.
  char buf[PixelFormat::kPrintSize];
  std::string prefix;
  for (int i = 0; i < 55; i++)
    prefix += "\xc3\xa9"; // 110 bytes of two-byte characters
  strcpy(buf, prefix.c_str());
  rfb::rgb565Format().print(buf);
  EXPECT_EQ(std::string(buf), prefix + std::string("depth 16 (16 bpp)").substr(0, 17));
  strcpy(buf, "x: ");
  rfb::rgb111Format().print(buf);
  EXPECT_STREQ(buf, "x: depth 3 (8 bpp) rgb111");
}

TEST(PixelFormat, ParsesShortNames)
{
  PixelFormat pf;
  ASSERT_TRUE(pf.parse("rgb565"));
  EXPECT_EQ(fields(pf), (std::vector<int>{16, 16, 0, 1, 31, 63, 31, 11, 5, 0, 0, 0}));
  ASSERT_TRUE(pf.parse("BGR888"));
  EXPECT_EQ(pf.bpp, 32);
  EXPECT_EQ(pf.redShift, 0);
  EXPECT_EQ(pf.blueShift, 16);
  ASSERT_TRUE(pf.parse("pal8"));
  EXPECT_FALSE(pf.trueColour);
  EXPECT_EQ(printed(pf), "depth 8 (8 bpp) colour-map");
  ASSERT_TRUE(pf.parse("PAL3"));
  EXPECT_EQ(pf.depth, 3);

  for (const char* bad : {"rgb56", "rgb5650", "rgb505", "pal0", "pal9", "pal", "palx", "xyz565", "", "rg"}) {
    PixelFormat p = rfb::rgb565Format();
    EXPECT_FALSE(p.parse(bad)) << bad;
    // Only the true-colour flag may have changed.
    p.trueColour = true;
    EXPECT_EQ(fields(p), fields(rfb::rgb565Format())) << bad;
  }
  PixelFormat p = rfb::rgb565Format();
  EXPECT_FALSE(p.parse("pal9"));
  EXPECT_FALSE(p.trueColour);

  // Every rgbNNN and bgrNNN name parses to a valid format that prints as it.
  for (const char* order : {"rgb", "bgr"}) {
    for (int n = 111; n <= 999; n++) {
      std::string name = order + std::to_string(n);
      if (name.find('0') != std::string::npos)
        continue;
      PixelFormat f;
      ASSERT_TRUE(f.parse(name.c_str())) << name;
      int depth = (name[3] - '0') + (name[4] - '0') + (name[5] - '0');
      int bpp = depth <= 8 ? 8 : depth <= 16 ? 16 : 32;
      ASSERT_EQ(f.depth, depth) << name;
      ASSERT_EQ(f.bpp, bpp) << name;
      ASSERT_TRUE(f.isValid()) << name;
      std::string text = printed(f);
      ASSERT_EQ(text.substr(text.size() - 7), " " + name) << text;
      PixelFormat again = f;
      again.depth = 1;
      again.updateDepth();
      ASSERT_EQ(again.depth, depth) << name;
    }
  }
}

TEST(PixelFormat, ValidityCountsSetBits)
{
  struct Case {
    PixelFormat pf;
    bool valid;
  };
  const Case cases[] = {
    // 0x8001 has its top bit far beyond 8 bits, but only two set bits.
    {PixelFormat(8, 8, false, true, 0x8001, 3, 3, 0, 2, 4, 0, 0), true},
    {PixelFormat(8, 8, false, true, 0x1ff, 1, 1, 0, 0, 0, 0, 0), false},
    {PixelFormat(16, 16, false, true, 31, 63, 31, 11, 5, 0, 0, 0), true},
    {PixelFormat(16, 16, false, true, 31, 63, 31, 12, 5, 0, 0, 0), false},
    {PixelFormat(12, 12, false, true, 15, 15, 15, 8, 4, 0, 0, 0), false},
    {PixelFormat(8, 0, false, true, 1, 1, 1, 0, 1, 2, 0, 0), false},
    {PixelFormat(8, 9, false, true, 1, 1, 1, 0, 1, 2, 0, 0), false},
    {PixelFormat(16, 9, false, false, 0, 0, 0, 0, 0, 0, 0, 0), false},
    {PixelFormat(16, 8, false, false, 0, 0, 0, 0, 0, 0, 0, 0), true},
    {PixelFormat(32, 32, false, true, 255, 255, 255, 16, 8, 0, 24, 255), true},
    {PixelFormat(32, 32, false, true, 255, 255, 255, 16, 8, 0, 25, 255), false},
    {PixelFormat(32, 24, false, true, 255, 255, 255, 16, 8, 0, 32, 0), true},
    {PixelFormat(32, 24, false, true, 255, 255, 255, 16, 8, 0, 33, 0), false},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
    EXPECT_EQ(cases[i].pf.isValid(), cases[i].valid) << "case " << i;
}

TEST(PixelFormat, EqualityByteOrderAndDepth)
{
  PixelFormat a = rfb::rgb222Format(), b = a;
  b.bigEndian = true;
  EXPECT_TRUE(a.equal(b)); // byte order means nothing at 8 bpp
  PixelFormat c = rfb::rgb565Format(), d = c;
  d.bigEndian = true;
  EXPECT_FALSE(c.equal(d));
  PixelFormat p = rfb::pal8Format(), q = p;
  q.redMax = 7;
  q.blueShift = 3;
  EXPECT_TRUE(p.equal(q));
  q.depth = 4;
  EXPECT_FALSE(p.equal(q));
  PixelFormat e = rfb::xrgb8888Format();
  e.alphaShift = 24;
  EXPECT_FALSE(e.equal(rfb::xrgb8888Format()));

  PixelFormat x = rfb::argb8888Format();
  x.depth = 1;
  x.updateDepth();
  EXPECT_EQ(x.depth, 32);
  PixelFormat cm = rfb::pal8Format();
  cm.depth = 5;
  cm.updateDepth();
  EXPECT_EQ(cm.depth, 5);

  struct Case {
    PixelFormat in;
    bool ok;
    std::vector<int> out;
  };
  const Case cases[] = {
    {PixelFormat(32, 24, true, true, 255, 255, 255, 16, 8, 0, 0, 0), true, {32, 24, 0, 1, 255, 255, 255, 8, 16, 24, 0, 0}},
    {PixelFormat(32, 32, true, true, 255, 255, 255, 16, 8, 0, 24, 255), true, {32, 32, 0, 1, 255, 255, 255, 8, 16, 24, 0, 255}},
    {PixelFormat(24, 24, true, true, 255, 255, 255, 16, 8, 0, 0, 0), true, {24, 24, 0, 1, 255, 255, 255, 0, 8, 16, 0, 0}},
    {PixelFormat(8, 6, true, true, 3, 3, 3, 4, 2, 0, 0, 0), true, {8, 6, 0, 1, 3, 3, 3, 4, 2, 0, 0, 0}},
    {PixelFormat(16, 16, true, true, 31, 63, 31, 11, 5, 0, 0, 0), false, {16, 16, 1, 1, 31, 63, 31, 11, 5, 0, 0, 0}},
    {rfb::rgb565Format(), true, {16, 16, 0, 1, 31, 63, 31, 11, 5, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    PixelFormat f = c.in;
    EXPECT_EQ(f.makeLittleEndian(), c.ok) << printed(c.in);
    EXPECT_EQ(fields(f), c.out) << printed(c.in);
  }
}

TEST(PixelFormat, PixelValuesAndLookupsMatchThePythonReference)
{
  int grey[3] = {128, 128, 128}, white[3] = {255, 255, 255};
  EXPECT_EQ(rfb::rgb565Format().pixelFromRGB(white, nullptr), 0xFFFFu);
  EXPECT_EQ(rfb::rgb565Format().pixelFromRGB(grey, nullptr), (16u << 11 | 32u << 5 | 16u));
  EXPECT_EQ(rfb::pal8Format().pixelFromRGB(grey, nullptr), 0u);

  std::mt19937 rng(101);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::string> requests;
  std::vector<uint32_t> ours;
  for (int i = 0; i < 600; i++) {
    PixelFormat pf;
    std::string name = std::string(uni(0, 1) ? "rgb" : "bgr") + std::to_string(uni(1, 9)) +
                       std::to_string(uni(1, 9)) + std::to_string(uni(1, 9));
    if (i % 10 == 0)
      pf = rfb::xrgb8888Format();
    else
      ASSERT_TRUE(pf.parse(name.c_str()));
    pf.bigEndian = uni(0, 1);
    int rgb[3] = {uni(0, 255), uni(0, 255), uni(0, 255)};
    if (i % 7 == 0)
      rgb[uni(0, 2)] = uni(0, 1) * 255;
    ours.push_back(pf.pixelFromRGB(rgb, nullptr));
    char line[160];
    snprintf(line, sizeof(line), "pixel %d %d %d %d %d %d %d %d %d %d %d", pf.bpp, pf.bigEndian, pf.redMax, pf.greenMax,
             pf.blueMax, pf.redShift, pf.greenShift, pf.blueShift, rgb[0], rgb[1], rgb[2]);
    requests.push_back(line);
  }
  for (int i = 0; i < 200; i++) {
    // Small palettes with repeated entries, so that ties happen.
    int n = uni(0, 12);
    TestColourMap cm(n);
    std::string line;
    int rgb[3] = {uni(0, 3) * 85, uni(0, 3) * 85, uni(0, 3) * 85};
    line = "lookup " + std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]) + " " +
           std::to_string(n);
    for (int k = 0; k < n; k++) {
      int c[3] = {uni(0, 3) * 85, uni(0, 3) * 85, uni(0, 3) * 85};
      cm.setColour(k, c);
      line += " " + std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
    }
    PixelFormat pf = rfb::pal8Format();
    pf.bigEndian = uni(0, 1);
    ours.push_back(pf.pixelFromRGB(rgb, &cm));
    ASSERT_EQ(ours.back(), (uint32_t)cm.lookup(rgb));
    requests.push_back(line);
  }
  std::vector<std::string> want =
    tltest::pythonLines(std::string(TL_TEST_SUPPORT_DIR) + "/pixel_reference.py", requests);
  ASSERT_EQ(want.size(), ours.size());
  for (size_t i = 0; i < ours.size(); i++)
    EXPECT_EQ(std::to_string(ours[i]), want[i]) << requests[i];

  TestColourMap src(3), dst(5);
  int c[3] = {1, 2, 3};
  src.setColour(2, c);
  dst.copyFrom(src);
  EXPECT_EQ(dst.entries, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0}));
}

TEST(PixelFormat, StreamFormByteForByteWithTheAlphaFixUp)
{
  rdr::MemOutStream out;
  rfb::argb8888Format().write(out);
  PixelFormat be(16, 16, true, true, 31, 63, 31, 11, 5, 0, 0, 0);
  be.write(out);
  EXPECT_EQ(tltest::toHex(std::string((const char*)out.data(), (size_t)out.length())),
            "2020000100ff00ff00ff1008001800ff"
            "10100101001f003f001f0b0500000000");
  rdr::MemInStream in(out.data(), (int)out.length());
  PixelFormat a, b;
  a.read(in);
  b.read(in);
  EXPECT_EQ(fields(a), fields(rfb::argb8888Format()));
  EXPECT_EQ(fields(b), fields(be));

  struct Case {
    const char* hex;
    std::vector<int> want;
  };
  const Case cases[] = {
    // Depth 24 with four 255 maxima: the alpha is junk and dropped.
    {"2018000100ff00ff00ff1008001800ff", {32, 24, 0, 1, 255, 255, 255, 16, 8, 0, 0, 0}},
    // No alpha but an alpha shift: the shift goes.
    {"2018000100ff00ff00ff100800070000", {32, 24, 0, 1, 255, 255, 255, 16, 8, 0, 0, 0}},
    // Any non-zero flag byte reads as true.
    {"2020020700ff00ff00ff1008001800ff", {32, 32, 1, 1, 255, 255, 255, 16, 8, 0, 24, 255}},
    // Nothing else is checked.
    {"0c63000001ff00030003ff0000010001", {12, 99, 0, 0, 511, 3, 3, 255, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::string bytes;
    for (size_t i = 0; i < strlen(c.hex); i += 2)
      bytes += (char)strtol(std::string(c.hex + i, 2).c_str(), nullptr, 16);
    rdr::MemInStream s(bytes.data(), (int)bytes.size());
    PixelFormat f;
    f.read(s);
    EXPECT_EQ(fields(f), c.want) << c.hex;
  }
}

} // namespace
