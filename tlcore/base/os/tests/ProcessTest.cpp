#include "os/process.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/AppInfo.h"
#include "os/paths.h"
#include "osTestUtil.h"
#include "plat/Exception.h"
#include "plat/numbers.h"

namespace {

bool isOpen(int fd)
{
  return fcntl(fd, F_GETFD) >= 0;
}

int openCount()
{
  int n = 0;
  for (int fd = 0; fd < 1024; fd++)
    n += isOpen(fd);
  return n;
}

// Starts the program with the arguments and environment; returns once the
// exec has happened (the close-on-exec pipe reads end of stream).
pid_t spawn(std::vector<const char*> args, std::vector<const char*> env)
{
  int fds[2];
  EXPECT_EQ(0, pipe2(fds, O_CLOEXEC));
  args.push_back(nullptr);
  env.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execve(args[0], (char**)args.data(), (char**)env.data());
    _exit(127);
  }
  close(fds[1]);
  char c;
  EXPECT_EQ(0, read(fds[0], &c, 1));
  close(fds[0]);
  return pid;
}

int reap(pid_t pid)
{
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

} // namespace

TEST(Process, CloseFdsFromAndExcept)
{
  struct Case {
    bool withoutProc;
    bool except;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "withoutProc " << c.withoutProc << " except " << c.except);
    int status = ostest::inChild([&c] {
      if (c.withoutProc &&
          (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
           umount2("/proc", MNT_DETACH) != 0))
        return 77;
      if (c.withoutProc && access("/proc/self/fd", F_OK) == 0)
        return 78;
      for (int fd : {10, 200, 900})
        if (dup2(0, fd) != fd)
          return 20;
      if (c.except)
        os::closeFdsExcept(3, {200, 5000});
      else
        os::closeFdsFrom(3);
      if (!isOpen(0) || !isOpen(1) || !isOpen(2))
        return 1;
      if (isOpen(10) || isOpen(900))
        return 2;
      return isOpen(200) == c.except ? 0 : 3;
    });
    if (status == 77 || status == 78) {
      std::cout << "cannot unmount /proc here; case skipped\n";
      continue;
    }
    EXPECT_EQ(0, status);
  }
}

TEST(Process, EnsureStdioOpen)
{
  EXPECT_EQ(0, ostest::inChild([] {
              int before = openCount();
              close(0);
              close(2);
              os::ensureStdioOpen();
              struct stat null, st;
              stat("/dev/null", &null);
              for (int fd : {0, 2}) {
                if (fstat(fd, &st) != 0 || st.st_rdev != null.st_rdev)
                  return 1;
                if (fcntl(fd, F_GETFD) & FD_CLOEXEC)
                  return 2;
              }
              // No helper descriptor is left behind.
              return openCount() == before ? 0 : 3;
            }));
}

TEST(Process, InfoOfRealProcesses)
{
  pid_t sleeper = spawn({"/bin/sleep", "30"}, {"FOO=bar", "EMPTY=", "X=a=b"});
  os::ProcessInfo info(sleeper);
  EXPECT_EQ(sleeper, info.getPid());
  EXPECT_EQ(getpid(), info.getParentPid());
  EXPECT_EQ((int)getuid(), info.getUid());
  EXPECT_EQ((int)geteuid(), info.getEuid());
  EXPECT_EQ((int)getgid(), info.getGid());
  EXPECT_EQ((int)getegid(), info.getEgid());
  info.readCmdline();
  ASSERT_EQ(2u, info.getCmdline().size());
  EXPECT_STREQ("/bin/sleep", info.getCmdline()[0].get());
  EXPECT_STREQ("30", info.getCmdline()[1].get());
  info.readEnviron();
  const os::ProcessInfo::Environment& env = info.getEnviron();
  ASSERT_EQ(3u, env.size());
  EXPECT_STREQ("bar", env.at(plat::String("FOO")).get());
  EXPECT_STREQ("", env.at(plat::String("EMPTY")).get());
  EXPECT_STREQ("a=b", env.at(plat::String("X")).get());
  // The child shares our controlling terminal, whatever it is.
  EXPECT_EQ(os::getVirtualTerminal(getpid()), os::getVirtualTerminal(sleeper));
  kill(sleeper, SIGKILL);
  reap(sleeper);

  // A process that has ended and been collected has no status any more.
  pid_t done = spawn({"/bin/true"}, {});
  EXPECT_EQ(0, reap(done));
  os::ProcessInfo gone(done);
  EXPECT_EQ(-1, gone.getPid());
  gone.readCmdline();
  EXPECT_TRUE(gone.getCmdline().empty());
  EXPECT_EQ(0, os::getVirtualTerminal(done));
  EXPECT_EQ(-1, os::ProcessInfo(-1).getUid());
}

TEST(Process, Accounts)
{
  std::string rootName = ostest::run("getent passwd 0 | cut -d: -f1");
  EXPECT_EQ(rootName, os::getUserName(0, "?").str());
  EXPECT_STREQ("fallback", os::getUserName(3999999999u, "fallback").get());

  os::Account account;
  account.lookup(true, rootName.c_str(), 99);
  ASSERT_TRUE(account.found());
  EXPECT_EQ(0u, account.get().pw_uid);
  EXPECT_EQ(ostest::run("getent passwd 0 | cut -d: -f6"), account.getHomeDir());

  struct Case {
    bool byName;
    const char* name;
    uid_t uid;
    const char* message;
  } cases[] = {
      {true, "no-such-user-here", 0, "getpwnam(no-such-user-here): account not found"},
      {true, nullptr, 0, "getpwnam(<null>): null name"},
      {false, nullptr, 3999999999u, "getpwuid(3999999999): account not found"},
  };
  for (const Case& c : cases) {
    try {
      account.lookup(c.byName, c.name, c.uid);
      ADD_FAILURE() << c.message;
    } catch (plat::SystemException& e) {
      EXPECT_STREQ(c.message, e.str());
      EXPECT_FALSE(account.found());
    }
  }
}

TEST(Process, PrivateTemporaryDirectory)
{
  ostest::TempDir tmp;
  os::setTmpDirForTest(tmp.path().c_str());
  os::AppInfo::set("app", "company", "zarn", nullptr, nullptr);
  std::string own = tmp / (".zarn-" + std::to_string(geteuid()));
  EXPECT_EQ(tmp / ".zarn-someone", os::getTmpPath("someone").str());
  EXPECT_NE(0, access((tmp / ".zarn-someone").c_str(), F_OK));

  struct Case {
    const char* what;
    std::function<void()> prepare; // makes what is at the path beforehand
    bool refused;
  } cases[] = {
      {"created", [] {}, false},
      {"an own readable directory is made private",
       [&] { mkdir(own.c_str(), 0755); }, false},
      {"a symbolic link", [&] {
         mkdir((tmp / "elsewhere").c_str(), 0700);
         symlink((tmp / "elsewhere").c_str(), own.c_str());
       }, true},
      {"an own directory others can write to", [&] {
         mkdir(own.c_str(), 0700);
         chmod(own.c_str(), 0777);
       }, true},
      {"a file", [&] { tmp.write(own.substr(tmp.path().size() + 1), ""); }, true},
      {"another user's directory", [&] {
         mkdir(own.c_str(), 0700);
         if (chown(own.c_str(), geteuid() == 0 ? 65534 : 0, -1) != 0)
           rmdir(own.c_str()); // not possible unprivileged: the row then passes as created
       }, geteuid() == 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    if (c.refused) {
      try {
        os::getTmpPath(nullptr);
        ADD_FAILURE();
      } catch (plat::Exception& e) {
        EXPECT_EQ(own + " is not a private directory of this user", e.str());
      }
    } else {
      EXPECT_EQ(own, os::getTmpPath(nullptr).str());
      struct stat st;
      ASSERT_EQ(0, lstat(own.c_str(), &st));
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(0700u, st.st_mode & 07777);
    }
    unlink(own.c_str());
    rmdir(own.c_str());
  }
  os::setTmpDirForTest(nullptr);
}
