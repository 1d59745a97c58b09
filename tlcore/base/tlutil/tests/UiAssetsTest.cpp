// Every font and image the interface asks for is built in, under its
// exact name; "helvB21" is asked for but deliberately absent.
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Resource.h"

namespace {

TEST(UiAssets, AllBuiltIn)
{
  std::vector<std::string> names = {
      "helv15.gz", "helvB15.gz", "helv16.gz", "helvB16.gz", "helv21.gz", "eyeOpen@2x.png", "eyeClosed@2x.png",
      "copyToClipboard@2x.png", "copiedToClipboard@2x.png", "tlzarnonnecticon.png", "files.png",
      "tlzarnconnectsetup@2x.png", "bluebtnbg@2x.png", "graybtnbg@2x.png", "whitebtnbg@2x.png", "off-checkbox@2x.png",
      "on-checkbox@2x.png", "statusError@2x.png", "statusWarning@2x.png", "statusInfo@2x.png",
      "statusQuestion@2x.png", "statusPrivate@2x.png", "infoframe_success@2x.png", "infoframe_warning@2x.png",
      "infoframe_error@2x.png", "infoframe_locked@2x.png", "infoframe_notify@2x.png",
      "infoframe_preference@2x.png", "infoframe_default@2x.png"};
  for (int i = 0; i < 12; i++) {
    char n[32];
    snprintf(n, sizeof n, "spinner%02d.png", i);
    names.push_back(n);
    snprintf(n, sizeof n, "spinnerblack%02d.png", i);
    names.push_back(n);
  }
  for (const auto& n : names) {
    plat::BuiltInResource r = plat::findBuiltInResource(n.c_str());
    EXPECT_TRUE(r.data && r.size > 8) << n;
  }
  EXPECT_EQ(nullptr, plat::findBuiltInResource("helvB21.gz").data);
}

} // namespace
