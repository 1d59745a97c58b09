#include "os/PersistentStore.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/AppInfo.h"
#include "os/dirs.h"
#include "osTestUtil.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "rootdir.h"
#include "testuser.h"

namespace {

std::vector<std::string> searchDirs(const char* programDir)
{
  std::vector<plat::String> dirs;
  os::getDataSearchDirs(dirs, programDir);
  std::vector<std::string> out;
  for (const plat::String& d : dirs)
    out.push_back(d.get());
  return out;
}

int mode(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (int)(st.st_mode & 07777) : -1;
}

TEST(PersistentStoreTest, DataSearchOrder)
{
  os::AppInfo::set("app", "Company", "p", nullptr, nullptr);
  struct Case {
    const char* sysDir;
    const char* programDir;
    std::vector<std::string> expected;
  } cases[] = {
      {"/etc/zarn",
       "/usr/bin",
       {"/etc/zarn", "/usr/bin", "/usr/bin/p", "/usr/bin/share/p", "/usr/share/p", "/share/p"}},
      {"", "/usr/bin", {"/usr/bin", "/usr/bin/p", "/usr/bin/share/p", "/usr/share/p", "/share/p"}},
      {"", "/opt", {"/opt", "/opt/p", "/opt/share/p", "/share/p"}},
      {"", "/", {"/", "/p", "/share/p"}},
      {"/etc/zarn", nullptr, {"/etc/zarn"}},
  };
  for (const Case& c : cases) {
    os::setSystemConfigDir(c.sysDir);
    EXPECT_EQ(searchDirs(c.programDir), c.expected) << c.programDir;
  }
  os::setSystemConfigDir("");
}

// As root, a data directory beside the program that another user owns, or
// lies below one, is not searched.
TEST(PersistentStoreTest, AsRootDataDirsOfOtherUsersAreLeftOut)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  tltest::RootOnlyDir root;
  ASSERT_FALSE(root.path().empty());
  os::AppInfo::set("app", "Company", "p", nullptr, nullptr);
  os::setSystemConfigDir("");
  const std::string r = root.path();
  for (const std::string& d : {r + "/a", r + "/a/bin", r + "/b", r + "/b/bin", r + "/b/bin/p"})
    ASSERT_EQ(0, mkdir(d.c_str(), 0755)) << d;
  // The user owns a's program directory and b's data directory beside it.
  ASSERT_EQ(0, chown((r + "/a/bin").c_str(), user.uid, user.gid));
  ASSERT_EQ(0, chown((r + "/b/bin/p").c_str(), user.uid, user.gid));
  EXPECT_EQ(searchDirs((r + "/a/bin").c_str()),
            (std::vector<std::string>{r + "/a/share/p", r + "/share/p"}));
  EXPECT_EQ(searchDirs((r + "/b/bin").c_str()),
            (std::vector<std::string>{r + "/b/bin", r + "/b/bin/share/p", r + "/b/share/p",
                                      r + "/share/p"}));
}

TEST(PersistentStoreTest, StorePathIsInTheConfigurationDirectory)
{
  os::AppInfo::set("app", "Company", "p", nullptr, nullptr);
  os::setConfigDir("");
  EXPECT_TRUE(os::getPersistentStorePath(nullptr).isNull());
  os::setConfigDir("/home/u/.zarn/config.d");
  EXPECT_STREQ(os::getPersistentStorePath(nullptr).get(), "/home/u/.zarn/config.d/app.d");
  EXPECT_STREQ(os::getPersistentStorePath("Other").get(), "/home/u/.zarn/config.d/Other.d");
  os::setConfigDir("");
}

TEST(PersistentStoreTest, ItemsAreWrittenPrivatelyAndReadBack)
{
  ostest::TempDir tmp;
  std::string dir = tmp / "app.d";
  os::PersistentStoreFile store(dir.c_str());
  plat::MBuf<unsigned char> buf(4);
  EXPECT_FALSE(store.read("item", buf));
  EXPECT_EQ(buf.length(), 0);

  store.write("item", "abc", 3);
  ASSERT_TRUE(store.read("item", buf));
  EXPECT_EQ(std::string((const char*)buf.data(), buf.length()), "abc");
  EXPECT_TRUE(buf.isSecure());
  EXPECT_EQ(mode(dir), 0700);
  EXPECT_EQ(mode(dir + "/item"), 0600);
  store.write("item", "", 0); // an empty item is still there
  EXPECT_TRUE(store.read("item", buf));
  EXPECT_EQ(buf.length(), 0);

  // Removing an item takes the directories it leaves empty, and only those.
  store.write("x/y/z", "1", 1);
  store.write("x/other", "2", 1);
  EXPECT_EQ(mode(dir + "/x/y"), 0700);
  store.remove("x/y/z");
  EXPECT_FALSE(plat::pathExists((dir + "/x/y").c_str()));
  EXPECT_TRUE(plat::pathExists((dir + "/x/other").c_str()));
  store.remove("x/other");
  EXPECT_FALSE(plat::pathExists((dir + "/x").c_str()));
  store.remove(nullptr);
  EXPECT_FALSE(plat::pathExists(dir.c_str()));

  os::PersistentStoreFile none("");
  EXPECT_FALSE(none.read("item", buf));
  EXPECT_THROW(none.write("item", "a", 1), plat::Exception);
}

} // namespace
