// The golden page of rich text in the light scheme (the dark one runs in
// WRichTextDarkTest, its own process: the default style is built once).
#include <gtest/gtest.h>

#include "richpage.h"

TEST(WRichTextGoldenTest, PageInTheLightScheme)
{
  EXPECT_FALSE(plat::isDarkMode());
  tltest::checkRichPage("richtext_page_light");
}
