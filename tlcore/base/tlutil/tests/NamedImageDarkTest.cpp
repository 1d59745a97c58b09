// Named images in dark mode (a process of its own, since the colour
// provider is installed once): the "_darkbg" variant wins where it exists,
// the plain image answers where it does not, and the failed dark lookup
// is cached empty without a word in the log.
#include <gtest/gtest.h>

#include "plat/Colour.h"
#include "plat/Configuration.h"
#include "plat/Resource.h"
#include "testutil.h"
#include "tlutil/NamedImage.h"

namespace {

using rfb::Point;
using tlutil::NamedImagePixelBuffer;

TEST(NamedImageDark, PrefersTheDarkVariant)
{
  static plat::SysColorsGeneric colours;
  plat::setSysColors(&colours);
  plat::Configuration::global().get("_DarkMode").setParam("1", plat::kPriorityPolicy);
  ASSERT_TRUE(plat::isDarkMode());
  // A dark variant of statusInfo: the 32 x 32 pixel info-frame picture.
  plat::BuiltInResource frame = plat::findBuiltInResource("infoframe_notify@2x.png");
  plat::addBuiltInResource("statusInfo_darkbg@2x.png", frame.size, frame.data);

  tltest::LogCapture log("NamedImagePixelBuffer");
  auto dark = NamedImagePixelBuffer::get("statusInfo");
  EXPECT_EQ(Point(16, 16), Point(dark->rect.width(), dark->rect.height()));
  auto plain = NamedImagePixelBuffer::get("statusError");
  EXPECT_EQ(Point(48, 48), Point(plain->rect.width(), plain->rect.height()));
  auto miss = NamedImagePixelBuffer::getCached("statusError_darkbg", Point(), NamedImagePixelBuffer::Log::Quiet);
  EXPECT_TRUE(miss->rect.isEmpty());
  EXPECT_EQ(plain.get(), NamedImagePixelBuffer::get("statusError").get());
  EXPECT_TRUE(log.lines().empty());
}

} // namespace
