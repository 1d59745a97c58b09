// The dark scheme of the default style, and a default that no later change
// of the scheme reaches. Its own process: the default is built once.
#include <gtest/gtest.h>

#include "plat/Colour.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;

struct Scheme : plat::SysColors {
  bool getColor(const char* name, Colour& out) override
  {
    if (std::string(name) != "contentText")
      return false;
    out = Colour{1, 2, 3};
    return true;
  }
  bool isDarkMode() override { return dark; }
  bool dark = true;
};

TEST(WStyleDarkTest, DarkDefaultsStayOnceBuilt)
{
  static Scheme scheme;
  plat::setSysColors(&scheme);
  const wvw::WStyle& s = wvw::WStyle::getDefault();
  const std::pair<Colour, int> fields[] = {
      {s.disabledBg, 48}, {s.bg, 48}, {s.buttonPressed, 85}, {s.buttonFace, 102}, {s.bevelLight, 68},
      {s.bevelFrame, 119},
  };
  for (const auto& f : fields)
    EXPECT_EQ(f.first, (Colour{f.second, f.second, f.second}));
  EXPECT_EQ(s.contentText, (Colour{1, 2, 3}));
  EXPECT_EQ(s.selectionBg, (Colour{56, 56, 200}));
  scheme.dark = false;
  EXPECT_EQ(&wvw::WStyle::getDefault(), &s);
  EXPECT_EQ(s.bg, (Colour{48, 48, 48}));
}

} // namespace
