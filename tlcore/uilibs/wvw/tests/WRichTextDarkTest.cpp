// The golden page of rich text in the dark scheme of the built-in colour
// table. Its own process: the default style is built once.
#include <gtest/gtest.h>

#include "richpage.h"

namespace {

struct Dark : plat::SysColors {
  bool getColor(const char*, plat::Colour&) override { return false; }
  bool isDarkMode() override { return true; }
};

} // namespace

TEST(WRichTextDarkTest, PageInTheDarkScheme)
{
  static Dark dark;
  plat::setSysColors(&dark);
  EXPECT_EQ(wvw::WStyle::getDefault().bg, (plat::Colour{48, 48, 48}));
  tltest::checkRichPage("richtext_page_dark");
}
