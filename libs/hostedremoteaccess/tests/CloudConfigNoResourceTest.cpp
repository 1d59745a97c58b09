// A program without a built-in "CloudConfig.pkg" and none on disk.
#include <gtest/gtest.h>

#include "hostedremoteaccess/CloudConfig.h"
#include "os/dirs.h"
#include "plat/Exception.h"
#include "testutil.h"

TEST(CloudConfigNoResource, NotAvailable)
{
  tltest::TempDir dir("cloudconfig");
  os::setSystemConfigDir(dir.path().c_str());
  try {
    hostedremoteaccess::readCloudConfig();
    ADD_FAILURE() << "no exception";
  } catch (plat::Exception& e) {
    EXPECT_STREQ("CloudConfig.pkg not available", e.str());
  }
  os::setSystemConfigDir("");
}
