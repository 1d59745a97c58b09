#include "plat/Colour.h"

#include <string.h>

#include <gtest/gtest.h>

#include "plat/Configuration.h"

namespace {

// Knows "contentBg" while `knows` is set; the scheme is the generic one.
class TestColors : public plat::SysColors {
public:
  bool getColor(const char* name, plat::Colour& out) override
  {
    if (!knows || strcmp(name, "contentBg") != 0)
      return false;
    out = {1, 2, 3};
    return true;
  }
  bool isDarkMode() override { return generic.isDarkMode(); }
  bool knows = false;
  plat::SysColorsGeneric generic;
};

TestColors provider;

void setDark(bool on)
{
  ASSERT_TRUE(plat::Configuration::global().find("_DarkMode")->setParam(on ? "1" : "0", 10));
}

} // namespace

TEST(Colour, NamesAndModes)
{
  static bool installed = false;
  if (!installed) {
    plat::setSysColors(&provider);
    installed = true;
  }
  struct Case {
    const char* name;
    bool dark;
    bool found;
    plat::Colour c;
  } cases[] = {
      {"#1976D2", false, true, {25, 118, 210}},
      {"#1976d2", true, true, {25, 118, 210}},
      {"#1976d", false, false, {}},
      {"#1976d2x", false, false, {}},
      {"#19g6d2", false, false, {}},
      {"contentBg", false, true, {255, 255, 255}},
      {"contentBg", true, true, {0, 0, 0}},
      {"selectedBg", false, true, {0xd1, 0xe8, 0xff}},
      {"selectedBg", true, true, {0x41, 0x64, 0x8a}},
      {"helpBg", true, true, {0x44, 0x33, 0x22}},
      {"navy", false, true, {0, 0, 128}},
      {"navy", true, true, {0, 0, 128}},
      {"orange", true, true, {255, 165, 0}},
      {"statusRed", true, true, {201, 0, 0}},
      {"customBigBtnBg", false, true, {25, 118, 210}},
      {"Navy", false, false, {}},
      {"", false, false, {}},
      {nullptr, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    setDark(c.dark);
    EXPECT_EQ(c.dark, plat::isDarkMode());
    plat::Colour out{7, 7, 7};
    EXPECT_EQ(c.found, plat::lookupColor(c.name, out));
    EXPECT_EQ(c.found ? c.c : (plat::Colour{7, 7, 7}), out);
    plat::Colour fallback{9, 9, 9};
    EXPECT_EQ(c.found ? c.c : fallback, plat::getColor(c.name, fallback));
  }

  // The provider wins for the names it knows, and only for those.
  setDark(false);
  provider.knows = true;
  EXPECT_EQ((plat::Colour{1, 2, 3}), plat::getColor("contentBg", {}));
  EXPECT_EQ((plat::Colour{1, 2, 3}), plat::getColorWithFallback("nope", "contentBg"));
  EXPECT_EQ((plat::Colour{0xec, 0xec, 0xec}), plat::getColor("buttonBg", {}));
  plat::Colour out;
  EXPECT_FALSE(plat::lookupColor("nope", out));
  provider.knows = false;
  EXPECT_EQ((plat::Colour{255, 255, 255}), plat::getColor("contentBg", {}));

  EXPECT_EQ((plat::Colour{201, 0, 0}), plat::getColorWithFallback("unknown", "statusRed"));
  EXPECT_EQ((plat::Colour{0, 0, 128}), plat::getColorWithFallback("navy", "statusRed"));
  EXPECT_EQ((plat::Colour{}), plat::getColorWithFallback("unknown", "alsoUnknown"));
  setDark(false);
}
