#include "tlutil/ConfigStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "os/AppInfo.h"
#include "os/dirs.h"
#include "osTestUtil.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"
#include "rootdir.h"
#include "testuser.h"

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
    mkDirWithParents(dirName(path.c_str()).get(), plat::DirMode::kShared);
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
  mkDir((dir / "user/common").c_str(), plat::DirMode::kShared);
  try {
    store.load(kPriorityPreference, &cfg);
    ADD_FAILURE();
  } catch (Exception& e) {
    EXPECT_TRUE(strStartsWith(e.str(), ("Error reading " + dir / "user/common" + ": ").c_str()))
        << e.str();
  }
}

// Writes text to path, creating it 0644.
bool writeText(const std::string& path, const std::string& text)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && fchmod(fd, 0644) == 0 &&
            write(fd, text.data(), text.size()) == (ssize_t)text.size();
  if (fd >= 0)
    close(fd);
  return ok;
}

// As root, the installation's policy counts only when root alone can change
// it and every directory above it: each way another user could have written
// it is refused.
TEST_F(ConfigStoreTest, AsRootOnlyAnInstallationOfRootsOwnIsRead)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  tltest::RootOnlyDir root;
  ASSERT_FALSE(root.path().empty());
  enum Attack { kNone, kUserOwnsProgramDir, kFolderWritable, kUserOwnsFile, kLinkToUsersFile };
  const std::pair<Attack, const char*> cases[] = {
      {kNone, "set"},          {kUserOwnsProgramDir, ""}, {kFolderWritable, ""},
      {kUserOwnsFile, ""},     {kLinkToUsersFile, ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string prog = root / ("prog" + std::to_string(n++));
    std::string policy = prog + "/pc/policy.d";
    mkDirWithParents(policy.c_str(), plat::DirMode::kShared);
    for (const std::string& d : {prog, prog + "/pc", policy})
      ASSERT_EQ(0, chmod(d.c_str(), 0755));
    std::string file = policy + "/common";
    std::string users = user.home + "/tlpolicy." + std::to_string(getpid());
    switch (c.first) {
    case kNone:
      ASSERT_TRUE(writeText(file, "A=set\n"));
      break;
    case kUserOwnsProgramDir:
      // The owner of the program directory swaps in a tree of its own.
      ASSERT_EQ(0, chown(prog.c_str(), user.uid, user.gid));
      ASSERT_EQ(0, tltest::forkAsTestUser([&] {
        return rename((prog + "/pc").c_str(), (prog + "/old").c_str()) == 0 &&
                       mkdir((prog + "/pc").c_str(), 0755) == 0 &&
                       mkdir(policy.c_str(), 0755) == 0 && writeText(file, "A=evil\n")
                   ? 0
                   : 1;
      }));
      break;
    case kFolderWritable:
      ASSERT_EQ(0, chmod(policy.c_str(), 0777));
      ASSERT_EQ(0, tltest::forkAsTestUser([&] { return writeText(file, "A=evil\n") ? 0 : 1; }));
      break;
    case kUserOwnsFile:
      ASSERT_TRUE(writeText(file, "A=set\n"));
      ASSERT_EQ(0, chown(file.c_str(), user.uid, user.gid));
      ASSERT_EQ(0, tltest::forkAsTestUser([&] { return writeText(file, "A=evil\n") ? 0 : 1; }));
      break;
    case kLinkToUsersFile:
      ASSERT_EQ(0, tltest::forkAsTestUser([&] { return writeText(users, "A=evil\n") ? 0 : 1; }));
      ASSERT_EQ(0, symlink(users.c_str(), file.c_str()));
      break;
    }
    Configuration cfg("T");
    StringParameter* a = cfg.addString("A", "d", "");
    tlutil::ConfigStoreFile store(prog.c_str());
    store.load(kPriorityPolicy, &cfg);
    EXPECT_STREQ(a->getValue(), c.second);
    unlink(users.c_str());
  }
}

} // namespace
