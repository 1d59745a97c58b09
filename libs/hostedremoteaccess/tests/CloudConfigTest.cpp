// Where the cloud configuration package comes from: the first data
// directory's "CloudConfig.pkg" within its size limits, else the built-in
// copy; "%s not available" is in CloudConfigNoResourceTest.cpp.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "hostedremoteaccess/CloudConfig.h"
#include "os/dirs.h"
#include "plat/Resource.h"
#include "testutil.h"

using namespace hostedremoteaccess;

namespace {

std::string builtIn()
{
  plat::BuiltInResource res = plat::findBuiltInResource(kCloudConfigName);
  return res.data ? std::string(static_cast<const char*>(res.data), res.size) : std::string();
}

std::string read()
{
  plat::MBuf<unsigned char> bytes = readCloudConfig();
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.length());
}

class CloudConfig : public ::testing::Test {
protected:
  void SetUp() override { os::setSystemConfigDir(dir_.path().c_str()); }
  void TearDown() override { os::setSystemConfigDir(""); }
  tltest::TempDir dir_{"cloudconfig"};
};

} // namespace

TEST_F(CloudConfig, SizesAtTheLimitsAndUnreadableFiles)
{
  ASSERT_FALSE(builtIn().empty());
  const std::string path = dir_ / kCloudConfigName;
  struct Case {
    size_t size;
    bool fromDisk;
  } cases[] = {{1, true}, {kMaxCloudConfigSize, true}, {kMaxCloudConfigSize + 1, false}, {0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string text(c.size, 'p');
    dir_.write(kCloudConfigName, text);
    tltest::LogCapture log("CloudConfig");
    EXPECT_EQ(c.fromDisk ? text : builtIn(), read());
    // Only the built-in copy has its certificates parsed when first used.
    bool wasBuiltIn = c.fromDisk;
    readCloudConfig(&wasBuiltIn);
    EXPECT_EQ(!c.fromDisk, wasBuiltIn);
    std::vector<std::string> expected = {"Using " + path};
    if (!c.fromDisk) {
      expected.push_back(path + " has bad size");
      expected.push_back("Getting CloudConfig.pkg from built-in resource");
    }
    std::vector<std::string> once = expected;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(expected, log.lines());
  }
  // Found, but reading fails: a directory of that name.
  remove(path.c_str());
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  EXPECT_EQ(builtIn(), read());
}

TEST_F(CloudConfig, MissingFileTakesTheBuiltInCopy)
{
  tltest::LogCapture log("CloudConfig");
  EXPECT_EQ(builtIn(), read());
  EXPECT_EQ((std::vector<std::string>{"CloudConfig.pkg file not found",
                                      "Getting CloudConfig.pkg from built-in resource"}),
            log.lines());
  EXPECT_EQ((std::vector<int>{100, 30}), log.levels());
}
