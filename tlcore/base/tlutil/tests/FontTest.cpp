// Bitmap fonts: the built-in fonts' metrics and blocks, glyph 0 for what
// no block holds (invalid UTF-8 included), the layout helpers' edge cases,
// the font chosen at every scale, and refused font data.
#include <string.h>

#include <random>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rfb/PixDraw.h"
#include "testutil.h"
#include "tlutil/Font.h"

namespace {

using tlutil::Font;
using tlutil::FontZarnBm;

FontZarnBm* builtIn(const char* name)
{
  try {
    return static_cast<FontZarnBm*>(Font::byName(name).get());
  } catch (const plat::Exception& e) {
    ADD_FAILURE() << e.str();
    return nullptr;
  }
}

TEST(Font, BuiltInFontsHaveTheirMetricsAndBlocks)
{
  struct Case {
    const char* name;
    int ascent, descent, blocks;
    uint32_t last;
  } cases[] = {{"helv15", 12, 3, 17, 0xFF80}, {"helvB15", 12, 3, 13, 0x2200}, {"helv16", 13, 3, 13, 0x2200},
               {"helvB16", 13, 3, 13, 0x2200}, {"helv21", 16, 5, 13, 0x2200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FontZarnBm* f = builtIn(c.name);
    ASSERT_TRUE(f);
    EXPECT_EQ(c.ascent, f->ascent);
    EXPECT_EQ(c.ascent + c.descent, f->lineHeight);
    ASSERT_EQ(c.blocks, f->blockCount());
    EXPECT_EQ(0x80u, f->blockBase(1));
    EXPECT_EQ(c.last, f->blockBase(c.blocks));
    EXPECT_EQ(builtIn(c.name), f); // loaded once
    // Glyph 0 is a visible box; what no block holds, and invalid UTF-8,
    // measure as it.
    EXPECT_GT(f->glyph(0).width, 0);
    EXPECT_EQ(f->charWidth(0), f->charWidth(0x4E00));
    EXPECT_EQ(f->charWidth(0), f->textWidth("\xff"));
    EXPECT_EQ(f->charWidth('a') + f->charWidth(0) + f->charWidth('b'), f->textWidth("a\xe2\x82z", nullptr) -
                                                                            f->charWidth('z') + f->charWidth('b'));
  }
  EXPECT_THROW(Font::byName("helvB21"), plat::Exception);
}

TEST(Font, LayoutEdgeCases)
{
  Font* f = builtIn("helv15");
  std::vector<plat::String> lines;
  EXPECT_EQ(f->charWidth('a'), f->splitLines("a\n", 0, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_STREQ("a", lines[0].str());
  EXPECT_STREQ("", lines[1].str());
  lines.clear();
  EXPECT_EQ(0, f->splitLines("", 10, lines));
  EXPECT_EQ(1u, lines.size());
  lines.clear();
  EXPECT_EQ(0, f->splitLines(nullptr, 10, lines));
  EXPECT_TRUE(lines.empty());
  // Word wrap keeps the trailing blank in the line and its width.
  const int w = f->textWidth("aa ");
  EXPECT_EQ(w, f->splitLines("aa bb", w + 1, lines));
  ASSERT_EQ(2u, lines.size());
  EXPECT_STREQ("aa ", lines[0].str());
  EXPECT_STREQ("bb", lines[1].str());

  int width = 1;
  EXPECT_STREQ("\xE2\x80\xA6", f->ellipsize(width, "hello").str());
  EXPECT_EQ(f->charWidth(0x2026), width);
  width = 1000;
  EXPECT_TRUE(f->ellipsize(width, "hello").isNull());
  EXPECT_EQ(f->textWidth("hello"), width);

  const char* text = "MW";
  const int m = f->charWidth('M');
  EXPECT_EQ(text, f->charIndexAt(m / 2, text));
  EXPECT_EQ(text + 1, f->charIndexAt(m / 2 + 1, text));
  EXPECT_EQ(text + 2, f->charIndexAt(1000, text));
  EXPECT_EQ(text + 1, f->fitText(text, m));
  EXPECT_EQ(text + 2, f->fitText(text, 1000));

  rfb::ManagedPixelBuffer buf(rfb::xrgb8888Format(), rfb::Rect(0, 0, 60, 40));
  const int tw = f->textWidth("Hello");
  rfb::Rect block = f->drawTextInRect(buf, "Hello", rfb::Rect(10, 5, 10 + tw - 6, 35), 0xffffff, 1, 1);
  EXPECT_EQ(rfb::Rect(7, 5 + (30 - 15) / 2, 7 + tw, 5 + (30 - 15) / 2 + 15), block);
}

TEST(Font, ChosenByScale)
{
  for (int ppmm = 1; ppmm <= 32; ppmm++) {
    plat::ppmm.setParam(ppmm, plat::kPriorityPolicy);
    const char* regular = ppmm >= 8 ? "helv21" : ppmm >= 5 ? "helv16" : "helv15";
    const char* bold = ppmm >= 8 ? "helvB16" : ppmm >= 5 ? "helvB16" : "helvB15";
    EXPECT_EQ(builtIn(regular), Font::regular(120)) << ppmm;
    EXPECT_EQ(builtIn(bold), Font::bold(120)) << ppmm;
    EXPECT_EQ(builtIn(bold), Font::forStyle(tlutil::FontSpec{120, 700})) << ppmm;
  }
  plat::ppmm.setParam(4, plat::kPriorityPolicy);
}

std::string header(uint16_t blocks)
{
  std::string s = "\x7C\xCF\x0C\x72";
  s += std::string("\x00\x0C\x00\x03", 4);
  s += (char)(blocks >> 8);
  s += (char)blocks;
  return s;
}

TEST(Font, RefusesBadData)
{
  std::string glyphs(10 * 128, '\0');
  std::string wrapping = glyphs;
  memcpy(&wrapping[10], "\xFF\xFF\xFF\xFF\x00\x05\x00\x00\xFF\xFF", 10); // offset near 2^32
  struct Case {
    std::string data;
    const char* message;
  } cases[] = {
      {"\x7C\xCF\x0C\x73" + header(0).substr(4) + glyphs, "Bad font data"},
      {header(1024), "Bad font data"},
      {header(0) + wrapping, "Bad font data"},
      {header(0) + glyphs.substr(0, 100), "End of in-memory input stream"},
  };
  for (const auto& c : cases) {
    rdr::MemInStream in(c.data.data(), (int)c.data.size());
    try {
      FontZarnBm f(in);
      ADD_FAILURE() << c.message;
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(c.message, e.str());
    }
  }
  try {
    FontZarnBm::fromResource("nope");
    FAIL();
  } catch (const plat::Exception& e) {
    EXPECT_STREQ("Failed to read font nope: resource not found", e.str());
  }
}

} // namespace

namespace {

std::string jsonString(const std::string& s)
{
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\')
      out += '\\', out += (char)c;
    else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else
      out += (char)c;
  }
  return out + "\"";
}

TEST(Font, SplitLinesFollowsTheReference)
{
  Font* f = builtIn("helvB15");
  const std::vector<std::string> alphabet = {"a", "m", "W", " ", " ", "\t", "\r", "\n", "\xC3\xA9", "\xE2\x80\x94"};
  std::string widths = "{";
  for (const auto& ch : alphabet)
    if (ch != "\n")
      widths += jsonString(ch) + ":" + std::to_string(f->textWidth(ch.c_str())) + ",";
  widths.back() = '}';
  std::mt19937 rng(121);
  struct Case {
    std::string text;
    int maxWidth;
    bool keep, words;
  };
  std::vector<Case> cases;
  for (int i = 0; i < 300; i++) {
    Case c;
    for (int n = rng() % 40; n > 0; n--)
      c.text += alphabet[rng() % alphabet.size()];
    c.maxWidth = (int)(rng() % 80) - 5;
    c.keep = rng() % 2;
    c.words = rng() % 2;
    cases.push_back(c);
  }
  std::string json = "{\"widths\":" + widths + ",\"cases\":[";
  for (const auto& c : cases)
    json += "[" + jsonString(c.text) + "," + std::to_string(c.maxWidth) + "," + (c.keep ? "true" : "false") + "," +
            (c.words ? "true" : "false") + "],";
  json.back() = ']';
  json += "}";
  tltest::TempDir dir("splitlines");
  const std::string in = dir.write("cases.json", json);
  std::istringstream ref(
    tltest::commandOutput("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/splitlines_ref.py < " + in));
  for (const auto& c : cases) {
    std::vector<plat::String> lines;
    const int widest = f->splitLines(c.text.c_str(), c.maxWidth, lines,
                                     c.keep ? Font::Newline::Keep : Font::Newline::Drop,
                                     c.words ? Font::WordBreak::AtOverflow : Font::WordBreak::Never);
    std::string ours = std::to_string(widest);
    for (const auto& line : lines) {
      std::string hex;
      for (const char* p = line.str(); *p; p++) {
        char b[3];
        snprintf(b, sizeof b, "%02x", (unsigned char)*p);
        hex += b;
      }
      ours += " " + (hex.empty() ? std::string("-") : hex);
    }
    std::string want;
    std::getline(ref, want);
    EXPECT_EQ(want, ours) << jsonString(c.text) << " " << c.maxWidth;
  }
}

} // namespace

namespace {

using rfb::Point;
using rfb::Rect;

// Both buffers hold the same pixels.
bool samePixels(rfb::ManagedPixelBuffer& a, rfb::ManagedPixelBuffer& b)
{
  return memcmp(a.data, b.data, (size_t)a.sizeBytes()) == 0;
}

TEST(Font, DrawingPositions)
{
  Font* f = builtIn("helv16");
  const Rect r(5, 3, 95, 37);
  auto fresh = [] {
    auto b = std::make_unique<rfb::ManagedPixelBuffer>(rfb::xrgb8888Format(), Rect(0, 0, 100, 40));
    rfb::fillRect(*b, b->rect, 0);
    return b;
  };
  // One line, right-aligned and centred vertically.
  auto got = fresh(), want = fresh();
  f->drawTextEllipsized(*got, "Hi", r, 0xffffff, 2, 1);
  f->drawText(*want, "Hi", Point(5 + 90 - f->textWidth("Hi"), 3 + (34 - f->lineHeight) / 2), 0xffffff);
  EXPECT_TRUE(samePixels(*got, *want));
  // Shortened, centred.
  got = fresh(), want = fresh();
  const Rect narrow(5, 3, 45, 37);
  f->drawTextEllipsized(*got, "Hello wide world", narrow, 0xffffff, 1, 0);
  int width = 40;
  plat::String s = f->ellipsize(width, "Hello wide world");
  ASSERT_FALSE(s.isNull());
  EXPECT_LE(width, 40);
  f->drawText(*want, s.str(), Point(5 + (40 - width) / 2, 3), 0xffffff);
  EXPECT_TRUE(samePixels(*got, *want));
  // Wrapped lines, each centred in the block.
  got = fresh(), want = fresh();
  const int lw = f->textWidth("mm ");
  const Rect box(2, 2, 2 + lw + 2, 38);
  Rect block = f->drawTextInRect(*got, "mm ii", box, 0xffffff, 1, 2);
  const int widest = lw;
  EXPECT_EQ(Rect(2 + (box.width() - widest) / 2, 2 + 36 - 2 * f->lineHeight, 2 + (box.width() - widest) / 2 + widest,
                 38),
            block);
  f->drawText(*want, "mm ", Point(block.topLeft.x, block.topLeft.y), 0xffffff);
  f->drawText(*want, "ii", Point(block.topLeft.x + (widest - f->textWidth("ii")) / 2, block.topLeft.y + f->lineHeight),
              0xffffff);
  EXPECT_TRUE(samePixels(*got, *want));
}

} // namespace
