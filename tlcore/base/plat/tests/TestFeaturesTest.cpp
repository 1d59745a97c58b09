#include "plat/TestFeatures.h"

#include <string.h>
#include <sys/stat.h>

#include <mutex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FileTestUtil.h"
#include "os/AppInfo.h"
#include "os/dirs.h"
#include "plat/Log.h"
#include "testutil.h"

using ::testing::ElementsAre;

namespace {

tltest::CaptureDest capture("TestFeaturesCapture", tltest::CaptureDest::kLevelText);

const std::string kFixtureKey = std::string(TL_TEST_SUPPORT_DIR) + "/TestFeaturesEnableKey";

class TestFeaturesTest : public filetest::ScratchDir {
protected:
  void SetUp() override
  {
    ScratchDir::SetUp();
    plat::setLogOverride("TestFeaturesEnableKey:TestFeaturesCapture:110");
    // The key is looked for in the first directory that has one.
    mkdir(path("a").c_str(), 0755);
    mkdir(path("b").c_str(), 0755);
    dirs_ = {plat::String(path("a").c_str()), plat::String(path("b").c_str())};
    plat::setTestFeaturesDirsForTests(&dirs_);
    plat::resetTestFeaturesGateForTests();
    capture.take();
  }
  void TearDown() override
  {
    plat::setTestFeaturesDirsForTests(nullptr);
    plat::setTestFeaturesDigestForTests(nullptr);
    plat::resetTestFeaturesGateForTests();
    plat::setLogOverride(nullptr);
    ScratchDir::TearDown();
  }

  std::vector<plat::String> dirs_;
};

struct GateCase {
  const char* name;
  // "" for no key file; "fixture" for the fixture key.
  std::string contents;
  bool enabled;
  // %s stands for the key file's path.
  std::vector<std::string> lines;
};

TEST_F(TestFeaturesTest, DecidesFromTheKeyFile)
{
  const std::string key = filetest::readFile(kFixtureKey);
  ASSERT_EQ(64u, key.size());
  const GateCase cases[] = {
      {"none", "", false, {"100 Enabled 0"}},
      {"too large", std::string(1026, 'k'), false,
       {"100 Error reading '%s': Error: file is too large (1026 > 1025)", "100 Enabled 0"}},
      {"wrong digest", key.substr(1), false, {"100 Enabled 0"}},
      {"fixture key", key, true, {"100 Enabled 1"}},
  };
  for (const GateCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = path("b/TestFeaturesEnableKey");
    unlink(file.c_str());
    if (!c.contents.empty())
      filetest::writeFile(file, c.contents);
    plat::resetTestFeaturesGateForTests();
    EXPECT_EQ(c.enabled, plat::isTestFeaturesEnabled());
    std::vector<std::string> expected;
    for (std::string line : c.lines) {
      size_t at = line.find("%s");
      if (at != std::string::npos)
        line.replace(at, 2, file);
      expected.push_back(line);
    }
    EXPECT_EQ(expected, capture.take());
  }
}

TEST_F(TestFeaturesTest, LaterCallsKeepTheFirstAnswer)
{
  std::string file = path("a/TestFeaturesEnableKey");
  EXPECT_FALSE(plat::isTestFeaturesEnabled());
  filetest::writeFile(file, filetest::readFile(kFixtureKey));
  EXPECT_FALSE(plat::isTestFeaturesEnabled());

  plat::resetTestFeaturesGateForTests();
  EXPECT_TRUE(plat::isTestFeaturesEnabled());
  unlink(file.c_str());
  EXPECT_TRUE(plat::isTestFeaturesEnabled());
  EXPECT_THAT(capture.take(), ElementsAre("100 Enabled 0", "100 Enabled 1"));
}

TEST_F(TestFeaturesTest, ReleaseDigestRefusesTheFixtureKey)
{
  ASSERT_NE(0, memcmp(plat::getTestFeaturesDigest(), plat::getReleaseTestFeaturesDigest(), 32))
      << "test builds carry the fixture key's digest";
  filetest::writeFile(path("a/TestFeaturesEnableKey"), filetest::readFile(kFixtureKey));
  plat::setTestFeaturesDigestForTests(plat::getReleaseTestFeaturesDigest());
  EXPECT_FALSE(plat::isTestFeaturesEnabled());
}

TEST_F(TestFeaturesTest, FindsTheKeyInThePersistentStore)
{
  os::AppInfo::set("tfapp", nullptr, "tfcomp", nullptr, nullptr);
  os::setConfigDir(dir.c_str());
  mkdir(path("tfapp.d").c_str(), 0700);
  filetest::writeFile(path("tfapp.d/TestFeaturesEnableKey"), filetest::readFile(kFixtureKey));
  plat::setTestFeaturesDirsForTests(nullptr);
  EXPECT_TRUE(plat::isTestFeaturesEnabled());
}

} // namespace
