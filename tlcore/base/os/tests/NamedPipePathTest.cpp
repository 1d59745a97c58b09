// Named-pipe paths, their matching, the removal of stale pipes (as the test
// user and as root, in a temporary /tmp) and user ids.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "childio.h"
#include "os/AppInfo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "testutil.h"

namespace {

// A socket bound at path: listening (kept open, returned) or stale (closed).
int bindAt(const std::string& path, bool listening)
{
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un sun = {};
  sun.sun_family = AF_UNIX;
  strncpy(sun.sun_path, path.c_str(), sizeof(sun.sun_path) - 1);
  EXPECT_EQ(0, bind(fd, (struct sockaddr*)&sun, sizeof(sun))) << path;
  if (listening) {
    listen(fd, 5);
    return fd;
  }
  close(fd);
  return -1;
}

class TmpScope {
public:
  TmpScope()
  {
    os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
    os::setTmpDirForTest(dir.path().c_str());
  }
  ~TmpScope() { os::setTmpDirForTest(nullptr); }
  tltest::TempDir dir;
};

TEST(NamedPipePath, Forms)
{
  TmpScope tmp;
  std::string base = os::getTmpPath(nullptr).str();
  std::string app = os::AppInfo::getAppName(false);
  struct Case {
    long long pid;
    int index;
    std::string tail;
  } cases[] = {{0, -1, ""}, {1234, 2, ".1234.2"}, {0, 2, ".0.2"}, {0, 0, ""}, {77, -1, ".77"},
               {-1, -1, "." + std::to_string(getpid())}};
  for (const Case& c : cases)
    EXPECT_EQ(base + "/" + app + ".SetupComms" + c.tail,
              os::makeNamedPipePath("SetupComms", nullptr, nullptr, c.pid, c.index).str());
  EXPECT_EQ(tmp.dir.path() + "/." + os::AppInfo::getPathComp(false) + "-42/other.lp",
            os::makeNamedPipePath("lp", "42", "other", 0, -1).str());

  struct Match {
    const char* entry;
    const char* name;
    const char* app;
    bool match;
  } matches[] = {{"app.pipe.12.3", "pipe", "app", true}, {"app.pipe", nullptr, "app", true},
                 {"app.pipe", "pipe", nullptr, true},    {"app.pipes", "pipe", "app", false},
                 {"apps.pipe", "pipe", "app", false},    {"app", "pipe", nullptr, false},
                 {"app", nullptr, "app", true}};
  for (const Match& m : matches)
    EXPECT_EQ(m.match, os::matchNamedPipeName(m.entry, m.name, m.app)) << m.entry;
}

TEST(NamedPipePath, ParseUid)
{
  uid_t uid = 0;
  os::parseUid(uid, "-1");
  EXPECT_EQ((uid_t)-1, uid);
  os::parseUid(uid, "4294967295");
  EXPECT_EQ(4294967295u, uid);
  os::parseUid(uid, "0");
  EXPECT_EQ(0u, uid);
  os::parseUid(uid, nullptr);
  EXPECT_EQ(geteuid(), uid);
  for (const char* bad : {"12a", "", "4294967296", "-2147483649", " 1", "+1", "-"})
    EXPECT_THROW(os::parseUid(uid, bad), plat::Exception) << bad;
}

// In dir: a stale pipe (removed), a live one and one whose check throws
// (a path too long to connect to) stay, and an entry of another name stays.
std::string cleanDir(const std::string& dir)
{
  std::string stale = dir + "/app.pipe.1", live = dir + "/app.pipe.2";
  std::string longName = dir + "/app.pipe." + std::string(110 - dir.size(), '9');
  std::string other = dir + "/app.other.1";
  bindAt(stale, false);
  int l = bindAt(live, true);
  tltest::TempDir scratch;
  close(open(longName.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  bindAt(other, false);
  os::removeStaleNamedPipes("pipe", "app");
  std::string r;
  for (const std::string& p : {stale, live, longName, other})
    r += access(p.c_str(), F_OK) == 0 ? "kept " : "gone ";
  close(l);
  return r;
}

TEST(NamedPipePath, RemoveStaleAsUserAndRoot)
{
  TmpScope tmp;
  chmod(tmp.dir.path().c_str(), 01777);
  if (tltest::testUser()) {
    std::string asUser = tltest::childReport(
        [] { return cleanDir(os::getTmpPath(nullptr).str()); }, tltest::ChildUser::kTestUser);
    EXPECT_EQ("gone kept kept kept ", asUser);
  }
  if (geteuid() == 0) {
    // Root cleans every user's directory of this path component.
    std::string dir = tmp.dir.path() + "/." + os::AppInfo::getPathComp(false) + "-12345";
    mkdir(dir.c_str(), 0700);
    EXPECT_EQ("gone kept kept kept ", cleanDir(dir));
  } else {
    EXPECT_EQ("gone kept kept kept ", cleanDir(os::getTmpPath(nullptr).str()));
  }
}

// What the test user plants for root's clean-up: a folder of the path
// component that links to root's folder, a folder named as root's, and a
// file that is no socket in its own folder. Root removes only the stale
// socket in the user's own folder.
TEST(NamedPipePath, RemoveStaleAsRootFollowsNothing)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "root's clean-up";
  TL_REQUIRE_TEST_USER();
  TmpScope tmp;
  chmod(tmp.dir.path().c_str(), 01777);
  const std::string base = tmp.dir.path() + "/.tlcomp-";
  const std::string own = base + std::to_string(tltest::testUser()->uid);
  tltest::TempDir victim;
  tltest::commandOutput("touch " + (victim / "app.pipe.1"));
  ASSERT_EQ(0, tltest::forkAsTestUser([&] {
    mkdir((base + "0").c_str(), 0700);
    mkdir(own.c_str(), 0700);
    bindAt(base + "0/app.pipe.2", false);
    bindAt(own + "/app.pipe.3", false);
    return system(("touch " + own + "/app.pipe.4 && ln -s " + victim.path() + " " + base + "l").c_str());
  }));
  os::removeStaleNamedPipes("pipe", "app");
  std::string r;
  for (const std::string& p : {victim / "app.pipe.1", base + "0/app.pipe.2", own + "/app.pipe.3", own + "/app.pipe.4"})
    r += access(p.c_str(), F_OK) == 0 ? "kept " : "gone ";
  EXPECT_EQ("kept kept gone kept ", r);
}

} // namespace
