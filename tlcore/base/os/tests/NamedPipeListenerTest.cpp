// The named pipe listener against clients in forked processes, some of them
// running as another user.
#include "os/NamedPipeListener.h"

#include <dirent.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <utime.h>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "io/FdSelectManager.h"
#include "os/UnixIo.h"
#include "osTestUtil.h"
#include "plat/Exception.h"
#include "testutil.h"
#include "testuser.h"

namespace {

constexpr uid_t kNobody = 65534;

using tltest::countFds;

// Keeps what it accepts until destroyed.
class Collector : public io::IoAcceptor {
public:
  ~Collector() override
  {
    for (io::Io* io : ios)
      io->shutdown(io::Shutdown::kDrop);
  }
  void ioAccept(io::IoPtr io) override { ios.push_back(io.release()); }
  std::vector<io::Io*> ios;
};

// Connects from a child, as uid (or as ourselves with -1); the exit status
// is 0 or the connect's errno.
int connectFromChild(const std::string& path, int uid)
{
  return ostest::inChild([&] {
    if (uid >= 0 && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
                     setresuid(uid, uid, uid) != 0))
      return 90;
    try {
      close(os::UnixIo::connectUnix(path.c_str(), os::UnixIo::kStream));
      return 0;
    } catch (plat::SystemException& e) {
      return e.getErr();
    }
  });
}

mode_t modeOf(const std::string& path, uid_t* owner = nullptr)
{
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return 0;
  if (owner)
    *owner = st.st_uid;
  return st.st_mode & 07777;
}

class NamedPipeListenerTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    fdsBefore = countFds();
    // Reachable (not readable) for a client of another user.
    chmod(dir.path().c_str(), 0711);
    mgr = std::make_unique<io::FdSelectManager>();
  }
  void TearDown() override
  {
    mgr.reset();
    os::UnixSocketRefreshInterval.resetValues(false);
    EXPECT_EQ(fdsBefore, countFds());
  }
  bool runUntil(const std::function<bool()>& done)
  {
    for (int i = 0; i < 400 && !done(); i++)
      mgr->processOnce(50);
    return done();
  }
  static os::NamedPipeListener::Config config(const std::string& path)
  {
    os::NamedPipeListener::Config c;
    c.path = plat::String(path.c_str());
    return c;
  }

  int fdsBefore = 0;
  ostest::TempDir dir;
  std::unique_ptr<io::FdSelectManager> mgr;
};

TEST_F(NamedPipeListenerTest, SocketModesAndPeerUser)
{
  struct Case {
    const char* name;
    bool ownerOnly;
    uint32_t owner;
    bool subdir;
    int peer; // -1: this user
    int connectErr;
    int credUid; // the user the check expects; -1: this user
    bool credOk;
  } cases[] = {
      {"shared", false, os::NamedPipeListener::kNoOwner, false, -1, 0, -1, true},
      {"shared-other-user", false, os::NamedPipeListener::kNoOwner, false, kNobody, 0, -1, false},
      {"private-other-user", true, os::NamedPipeListener::kNoOwner, false, kNobody, EACCES, -1,
       false},
      {"private-own", true, os::NamedPipeListener::kNoOwner, true, -1, 0, -1, true},
      {"owned-by-peer", true, kNobody, true, kNobody, 0, kNobody, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool needsRoot = c.peer >= 0 || c.owner != os::NamedPipeListener::kNoOwner;
    if (needsRoot && geteuid() != 0)
      continue;
    std::string sockDir = c.subdir ? dir / c.name : dir.path();
    std::string path = sockDir + "/sock";
    os::NamedPipeListener::Config cfg = config(path);
    cfg.ownerOnly = c.ownerOnly;
    cfg.owner = c.owner;
    cfg.createDir = c.subdir;
    auto listener = std::make_unique<os::NamedPipeListener>(cfg);
    Collector accepted;
    listener->setAcceptor(&accepted);

    uid_t fileOwner = 0,
          expectOwner = c.owner == os::NamedPipeListener::kNoOwner ? geteuid() : c.owner;
    EXPECT_EQ((c.ownerOnly ? 0600 : 0666) | S_ISVTX, modeOf(path, &fileOwner));
    EXPECT_EQ(expectOwner, fileOwner);
    if (c.subdir) {
      EXPECT_EQ(0700, modeOf(sockDir, &fileOwner));
      EXPECT_EQ(expectOwner, fileOwner);
    }

    ASSERT_EQ(c.connectErr, connectFromChild(path, c.peer));
    if (c.connectErr == 0) {
      ASSERT_TRUE(runUntil([&] { return !accepted.ios.empty(); }));
      io::Io* io = accepted.ios[0];
      EXPECT_EQ(1u, io->flags().count(plat::String("incoming")));
      uid_t expectUid = c.credUid < 0 ? geteuid() : (uid_t)c.credUid;
      if (c.credOk) {
        EXPECT_NO_THROW(os::namedPipeCredCheck(io, expectUid));
      } else {
        try {
          os::namedPipeCredCheck(io, expectUid);
          ADD_FAILURE() << "another user's peer passed the check";
        } catch (plat::Exception& e) {
          EXPECT_STREQ("namedPipeCredCheck: uid mismatch", e.str());
        }
      }
    }
    listener.reset();
    EXPECT_EQ(0, modeOf(path)) << "socket file left behind";
  }
}

TEST_F(NamedPipeListenerTest, PathRules)
{
  std::string live = dir / "live";
  auto liveListener = std::make_unique<os::NamedPipeListener>(config(live));
  std::string stale = dir / "stale";
  {
    // A socket file nobody listens on any more.
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    strcpy(a.sun_path, stale.c_str());
    ASSERT_EQ(0, bind(s, (struct sockaddr*)&a, sizeof(a)));
    close(s);
  }
  std::string elsewhere = dir / "elsewhere";
  mkdir(elsewhere.c_str(), 0700);
  symlink(elsewhere.c_str(), (dir / "link").c_str());
  mkdir((dir / "open").c_str(), 0777);
  chmod((dir / "open").c_str(), 0777);

  std::string name107(107 - dir.path().size() - 1, 'p');
  std::string name108 = name107 + "q";
  struct Case {
    std::string path;
    bool createDir;
    const char* error; // null: works
    int err;
  } cases[] = {
      {dir / name107, false, nullptr, 0},
      {dir / name108, false, "NamedPipeListener", ENAMETOOLONG},
      {live, false, "name already bound", EADDRINUSE},
      {stale, false, nullptr, 0},
      {dir / "link/sock", true, "is not a private directory of this user", 0},
      {dir / "open/sock", true, "is not a private directory of this user", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    os::NamedPipeListener::Config cfg = config(c.path);
    cfg.createDir = c.createDir;
    try {
      os::NamedPipeListener listener(cfg);
      EXPECT_EQ(nullptr, c.error);
      EXPECT_TRUE(os::UnixIo::isServerRunning(c.path.c_str()));
    } catch (plat::Exception& e) {
      ASSERT_NE(nullptr, c.error) << e.str();
      EXPECT_NE(nullptr, strstr(e.str(), c.error)) << e.str();
      if (c.err) {
        EXPECT_EQ(c.err, dynamic_cast<plat::SystemException&>(e).getErr());
      }
    }
    if (c.path != live) {
      EXPECT_EQ(0, modeOf(c.path)) << "socket file left behind";
    }
  }
  EXPECT_TRUE(os::UnixIo::isServerRunning(live.c_str()));
  EXPECT_EQ(0700, modeOf(elsewhere)) << "changed through the link";
}

TEST_F(NamedPipeListenerTest, RefreshRecreatesDeletedSocket)
{
  os::UnixSocketRefreshInterval.setValue(0, plat::kPriorityPreference);
  std::string path = dir / "sock";
  os::NamedPipeListener listener(config(path));
  Collector accepted;
  listener.setAcceptor(&accepted);
  ASSERT_EQ(0, unlink(path.c_str()));
  ASSERT_TRUE(runUntil([&] { return modeOf(path) != 0; }));
  ASSERT_EQ(0, connectFromChild(path, -1));
  EXPECT_TRUE(runUntil([&] { return accepted.ios.size() == 1; }));
}

// With no descriptor left the listener stops watching instead of spinning,
// and takes the waiting connection once descriptors are back.
TEST_F(NamedPipeListenerTest, PausesWhenOutOfDescriptors)
{
  std::string path = dir / "sock";
  int status = ostest::inChild([&] {
    os::NamedPipeListener listener(config(path));
    Collector accepted;
    listener.setAcceptor(&accepted);
    // A first connection takes the whole accept path while descriptors
    // are plentiful (the sanitizers' checks need a pipe the first time).
    int first = os::UnixIo::connectUnix(path.c_str(), os::UnixIo::kStream);
    if (!runUntil([&] { return accepted.ios.size() == 1; }))
      return 9;
    int second = os::UnixIo::connectUnix(path.c_str(), os::UnixIo::kStream);
    // So does the process's first exception (accept's EMFILE below).
    try {
      throw plat::SystemException("accept", EMFILE);
    } catch (plat::Exception&) {
    }
    struct rlimit saved, low;
    getrlimit(RLIMIT_NOFILE, &saved);
    low = saved;
    // Every descriptor number below the lowest free one is taken.
    int lowest = fcntl(0, F_DUPFD_CLOEXEC, 0);
    close(lowest);
    low.rlim_cur = lowest;
    if (setrlimit(RLIMIT_NOFILE, &low) != 0)
      return 10;
    for (int i = 0; i < 5 && listener.isListening(); i++)
      mgr->processOnce(20);
    bool paused = !listener.isListening() && accepted.ios.size() == 1;
    setrlimit(RLIMIT_NOFILE, &saved);
    if (!paused)
      return 11;
    if (!runUntil([&] { return accepted.ios.size() == 2; }))
      return 12;
    close(first);
    close(second);
    return listener.isListening() ? 0 : 13;
  });
  EXPECT_EQ(0, status);
}

// Root binds a socket for a user in that user's directory while the user
// keeps renaming links to a root file over the socket path: neither the
// binding, the sticky bit nor the refresh may reach the root file.
TEST_F(NamedPipeListenerTest, RootBindingForAUserFollowsNoLink)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  std::string sockDir = dir / "user";
  ASSERT_EQ(0, mkdir(sockDir.c_str(), 0700));
  ASSERT_EQ(0, chown(sockDir.c_str(), user.uid, user.gid));
  std::string victim = dir.write("victim", "root's\n", 0640);
  struct utimbuf old = {1000000, 1000000};
  ASSERT_EQ(0, utime(victim.c_str(), &old));
  std::string path = sockDir + "/sock";

  int stop[2];
  ASSERT_EQ(0, pipe2(stop, O_CLOEXEC));
  pid_t attacker = tltest::spawn([&] {
    close(stop[1]);
    if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0)
      return 90;
    fcntl(stop[0], F_SETFL, O_NONBLOCK);
    std::string link = sockDir + "/link";
    char c;
    // Mostly a tight loop, with short pauses so that on a loaded machine the
    // listener still gets rounds in which it binds.
    time_t end = time(nullptr) + 120;
    for (unsigned n = 0; time(nullptr) < end && read(stop[0], &c, 1) < 0;) {
      unlink(link.c_str());
      if (symlink(victim.c_str(), link.c_str()) == 0)
        rename(link.c_str(), path.c_str());
      if (++n % 8 == 0)
        usleep(200);
    }
    return 0;
  });
  close(stop[0]);

  os::UnixSocketRefreshInterval.setValue(0, plat::kPriorityPreference);
  os::NamedPipeListener::Config cfg = config(path);
  cfg.owner = user.uid;
  cfg.createDir = true;
  cfg.ownerOnly = true;
  cfg.skipLiveCheck = true;
  int bound = 0;
  struct stat st = {};
  time_t end = time(nullptr) + 20;
  for (int round = 0; round < 300 && time(nullptr) < end; round++) {
    try {
      os::NamedPipeListener listener(cfg);
      bound++;
      // The refresh timer is due at once.
      mgr->processOnce(0);
      mgr->processOnce(0);
    } catch (plat::Exception&) {
    }
    ASSERT_EQ(0, lstat(victim.c_str(), &st));
    if (st.st_uid != 0 || (st.st_mode & 07777) != 0640 || st.st_mtime != old.modtime) {
      ADD_FAILURE() << "round " << round << ": the root file changed";
      break;
    }
  }
  close(stop[1]);
  EXPECT_EQ(0, tltest::waitChild(attacker));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_GT(bound, 0);
}

} // namespace
