// The style record: light defaults, the record made from a style request
// and the default font. The dark scheme runs in WStyleDarkTest (its own
// process, since the default is built once).
#include <gtest/gtest.h>

#include "plat/Markup.h"
#include "tlutil/Font.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;
using wvw::WStyle;

Colour grey(int v)
{
  return Colour{v, v, v};
}

TEST(WStyleTest, LightDefaults)
{
  WStyle zero;
  EXPECT_EQ(zero.font, nullptr);
  EXPECT_EQ(zero.caretWidth, 0);
  EXPECT_EQ(zero.bg, Colour());

  tlutil::Font* font = tlutil::Font::bold(100);
  WStyle::setDefaultFont(font);
  const WStyle& s = WStyle::getDefault();
  EXPECT_EQ(&s, &WStyle::getDefault());
  // A font placed before the default was built stays.
  EXPECT_EQ(s.font, font);
  Colour c;
  for (const char* name : {"contentText", "disabledText", "contentBg"}) {
    ASSERT_TRUE(plat::lookupColor(name, c)) << name;
  }
  EXPECT_EQ(s.contentText, plat::getColor("contentText", Colour()));
  EXPECT_EQ(s.disabledText, plat::getColor("disabledText", Colour()));
  EXPECT_EQ(s.contentBg, plat::getColor("contentBg", Colour()));
  const std::pair<Colour, Colour> fields[] = {
      {s.disabledBg, grey(216)},   {s.bg, grey(216)},         {s.buttonPressed, grey(216)},
      {s.buttonFace, grey(184)},   {s.bevelLight, grey(238)}, {s.bevelFrame, grey(165)},
      {s.selectedText, grey(255)}, {s.selectionBg, Colour{56, 56, 200}}, {s.mark, grey(0)},
  };
  for (const auto& f : fields)
    EXPECT_EQ(f.first, f.second);
  EXPECT_EQ(s.caretWidth, 2);
  WStyle::setDefaultFont(tlutil::Font::regular(120));
}

TEST(WStyleTest, FromSpec)
{
  struct Case {
    plat::Markup::Style request;
    Colour text, bg;
  } cases[] = {
      {plat::Markup::Style(0, 150, 700), WStyle::getDefault().contentText, WStyle::getDefault().bg},
      {plat::Markup::Style(0, 120, 400, "#ff0000", "navy"), Colour{255, 0, 0}, Colour{0, 0, 128}},
      {plat::Markup::Style(0, 120, 400, "no such colour", ""), WStyle::getDefault().contentText,
       WStyle::getDefault().bg},
  };
  for (const Case& c : cases) {
    WStyle out;
    EXPECT_EQ(&WStyle::fromSpec(out, c.request), &out);
    EXPECT_EQ(out.font, tlutil::Font::forStyle(tlutil::FontSpec{c.request.size, c.request.weight}));
    EXPECT_EQ(out.contentText, c.text);
    EXPECT_EQ(out.bg, c.bg);
    EXPECT_EQ(out.bevelFrame, WStyle::getDefault().bevelFrame);
  }
}

} // namespace
