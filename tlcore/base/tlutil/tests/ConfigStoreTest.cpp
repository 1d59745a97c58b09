#include "tlutil/ConfigStore.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "os/AppInfo.h"
#include "os/dirs.h"
#include "osTestUtil.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"

using namespace plat;

namespace {

class ConfigStoreTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    os::AppInfo::set("app", "Company", "pc", nullptr, nullptr);
    os::setSystemConfigDir((dir / "etc").c_str());
    os::setConfigDir((dir / "user").c_str());
    os::setProgramConfigFile((dir / "user/app").c_str());
  }

  void put(const std::string& rel, const std::string& text)
  {
    std::string path = dir / rel;
    mkDirWithParents(dirName(path.c_str()).get(), false, false);
    dir.write(rel, text);
  }

  ostest::TempDir dir;
};

TEST_F(ConfigStoreTest, FilesAreListedInReadingOrder)
{
  std::string e = dir / "etc", u = dir / "user";
  {
    tlutil::ConfigStoreFile store("/opt/prog");
    EXPECT_EQ(tlutil::ConfigStore::get(), &store);
    std::map<int, std::vector<std::string>> files;
    for (const auto& level : store.getFiles())
      for (const String& f : level.second)
        files[level.first].push_back(f.get());
    std::map<int, std::vector<std::string>> expected = {
        {10,
         {"/opt/prog/pc/config.d/common", "/opt/prog/pc/config.d/common.custom",
          "/opt/prog/pc/config.d/app", e + "/config.d/common", e + "/config.d/common.custom",
          e + "/config.d/app", u + "/common", u + "/app"}},
        {30,
         {"/opt/prog/pc/policy.d/common", "/opt/prog/pc/policy.d/app", e + "/policy.d/common",
          e + "/policy.d/app"}},
    };
    EXPECT_EQ(files, expected);
  }
  EXPECT_EQ(tlutil::ConfigStore::get(), nullptr);
}

TEST_F(ConfigStoreTest, LaterFilesWinAndPolicyWinsOverAll)
{
  put("etc/config.d/common", "A=sys\nB=sys\nC=sys\n");
  put("etc/config.d/app", "B=sysapp\n");
  put("user/app", "A=user\nC=user\n");
  put("etc/policy.d/common", "A=policy\n");
  Configuration cfg("T");
  StringParameter* a = cfg.addString("A", "d", "");
  StringParameter* b = cfg.addString("B", "d", "");
  StringParameter* c = cfg.addString("C", "d", "");

  tlutil::ConfigStoreFile store(nullptr);
  store.loadAll(false, &cfg);
  EXPECT_STREQ(a->getValue(), "user");
  EXPECT_STREQ(b->getValue(), "sysapp");
  EXPECT_STREQ(c->getValue(), "user");
  EXPECT_EQ(c->getPriority(), kPriorityPreference);
  store.loadAll(true, &cfg);
  EXPECT_STREQ(a->getValue(), "policy");
  EXPECT_EQ(a->getPriority(), kPriorityPolicy);

  // A file that exists but cannot be read stops the loading.
  mkDir((dir / "user/common").c_str(), false, false);
  try {
    store.load(kPriorityPreference, &cfg);
    ADD_FAILURE();
  } catch (Exception& e) {
    EXPECT_TRUE(strStartsWith(e.str(), ("Error reading " + dir / "user/common" + ": ").c_str()))
        << e.str();
  }
}

} // namespace
