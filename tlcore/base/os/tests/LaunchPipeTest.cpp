// Launches with a pipe. The direct route: the descriptor argument before
// the extra arguments, the connection handed over on a later pass, the
// collected text and its trimming, input fed to an echoing child. The
// elevated route, as the unprivileged test user
// with `ElevateCmd` standing in for the elevation program: the child proves
// the pipe and talks; elevation programs that fail or never start the child;
// the child's option parsing and its challenge check.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "childio.h"
#include "crypto/Sha.h"
#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "os/LaunchPipe.h"
#include "os/NamedPipeListener.h"
#include "os/UnixIo.h"
#include "os/elevate.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/Time.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

namespace {

const char* const kChild = TL_LAUNCH_PIPE_CHILD;

class Owner : public os::LaunchWithPipeCallback {
public:
  void launched(io::IoPtr io) override
  {
    calls++;
    got = std::move(io);
  }
  // Runs the loop until launched was called, 10 s at most.
  void wait()
  {
    plat::Time end = plat::getMonoTime() + 10 * plat::kTicksPerSecond;
    while (!calls && plat::getMonoTime() < end)
      os::AppLoop::selectManager().processOnce(50);
  }
  int calls = 0;
  io::IoPtr got;
};

std::string readAll(io::Io* io)
{
  int fd = dynamic_cast<io::FdIo*>(io)->getFd();
  std::string out;
  char buf[256];
  for (;;) {
    struct pollfd pfd = {fd, POLLIN, 0};
    poll(&pfd, 1, 10000);
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0)
      out.append(buf, (size_t)n);
    else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
      break;
  }
  return out;
}

os::LaunchProcess::Cfg childCfg()
{
  os::LaunchProcess::Cfg cfg;
  cfg.args.emplace_back(kChild);
  cfg.elevate = true;
  return cfg;
}

// Runs fn as the test user (elevation is skipped for root) with
// `ElevateCmd` set, in a fresh temporary directory for the pipes.
std::string asUser(const char* elevateCmd, const std::function<std::string()>& fn)
{
  tltest::TempDir tmp;
  chmod(tmp.path().c_str(), 01777);
  return tltest::childReport(
      [&] {
        os::AppLoop::selectManager();
        os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
        os::setTmpDirForTest(tmp.path().c_str());
        os::ElevateCmd.setParam(elevateCmd, plat::kPriorityPreference);
        try {
          return fn();
        } catch (plat::Exception& e) {
          return std::string(e.str());
        }
      },
      geteuid() == 0 ? tltest::ChildUser::kTestUser : tltest::ChildUser::kSame);
}

TEST(LaunchPipe, ElevatedChildProvesThePipeAndTalks)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  std::string uid = std::to_string(geteuid() == 0 ? tltest::testUser()->uid : geteuid());
  EXPECT_EQ("hello " + uid + " no pipe left", asUser("/usr/bin/env", [] {
              os::LaunchWithPipe launcher(childCfg());
              io::IoPtr io = launcher.startChild();
              std::string text = readAll(io.get());
              io.reset();
              std::string dir = os::getTmpPath(nullptr).str();
              bool left = tltest::commandOutput("ls -A " + dir).find("launchpipe") != std::string::npos;
              return text + (left ? " pipe left" : " no pipe left");
            }));
  EXPECT_EQ("hello " + uid, asUser("/usr/bin/env", [] {
              os::LaunchWithPipe launcher(childCfg());
              Owner owner;
              launcher.launch(&owner);
              if (owner.calls)
                return std::string("called inside launch");
              owner.wait();
              return owner.got ? readAll(owner.got.get()) : std::string("null");
            }));
}

TEST(LaunchPipe, ElevationProgramFailures)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  std::string child = kChild;
  // A failing program ends the launch at once; one that ends well without
  // starting the child leaves it the 5 s grace (the loop allows 10 s).
  struct Case {
    const char* cmd;
    std::string syncText;
    const char* asyncText;
  } cases[] = {
      {"/bin/false", "Launch failed: elevate prog failed with status 1 for " + child,
       "null before the grace"},
      {"/bin/true", "Launch failed: timed out waiting for " + child, "null after the grace"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.syncText, asUser(c.cmd, [] {
                os::LaunchWithPipe launcher(childCfg());
                launcher.startChild();
                return std::string("connected");
              }));
    EXPECT_EQ(c.asyncText, asUser(c.cmd, [] {
                os::LaunchWithPipe launcher(childCfg());
                Owner owner;
                plat::Time start = plat::getMonoTime();
                launcher.launch(&owner);
                owner.wait();
                if (!owner.calls || owner.got)
                  return std::string(owner.calls ? "connected" : "nothing");
                bool graced = plat::getMonoTime() - start >= 5 * plat::kTicksPerSecond;
                return std::string(graced ? "null after the grace" : "null before the grace");
              }));
  }
  EXPECT_EQ("Launch failed: elevate prog failed with status 1 for x",
            std::string(os::LaunchFailed("Launch failed: elevate prog failed with status %d for %s",
                                         1, "x")
                            .str()));
}

// A null-terminated argv over words (which must outlive it).
std::vector<char*> argvOf(std::vector<std::string>& words)
{
  std::vector<char*> argv;
  for (std::string& w : words)
    argv.push_back(&w[0]);
  argv.push_back(nullptr);
  return argv;
}

std::string parse(std::vector<std::string> words, int need)
{
  std::vector<char*> argv = argvOf(words);
  char** cursor = argv.data();
  os::LaunchedProcessPipe::Args args;
  try {
    os::LaunchedProcessPipe::parseArgs(args, cursor, need);
  } catch (plat::Exception& e) {
    return e.str();
  }
  return std::string(args.pipeName.str()) + " " + args.logPath.str() + " " +
         std::to_string(args.hash.size()) + " left " + std::to_string(cursor - argv.data());
}

int forks = 0;

TEST(LaunchPipe, ChildOptions)
{
  os::LaunchedProcessPipe::setForkForTest([] { forks++; });
  os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
  const std::string log = std::string(os::getTmpPath(nullptr).get()) + "/lppDebug.log";
  loc::Localize::instance()->init({});
  plat::Configuration::global().set("Locale", "en", plat::kPriorityPreference);
  struct Case {
    std::vector<std::string> words;
    int need;
    std::string result;
  } cases[] = {
      {{"/p"}, 0, "/p /dev/null 0 left 1"},
      {{"-lppDebug", "-hash", "00ff", "-fork", "/p", "x"}, 1, "/p " + log + " 2 left 5"},
      {{"-hash", "abc", "/p"}, 0, "-hash argument bad or missing"},
      {{"-hash", "zz", "/p"}, 0, "-hash argument bad or missing"},
      {{"-hash"}, 0, "-hash argument bad or missing"},
      {{}, 0, "Bad command-line: got <null> instead of pipe name"},
      {{"-other"}, 0, "Bad command-line: got -other instead of pipe name"},
      {{"/p"}, 1, "This program is not intended to be run directly."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.result, parse(c.words, c.need));
  EXPECT_EQ(1, forks);
  os::LaunchedProcessPipe::setForkForTest(nullptr);
}

// A listening socket at path.
int listenAt(const std::string& path)
{
  int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un sun = {};
  sun.sun_family = AF_UNIX;
  strncpy(sun.sun_path, path.c_str(), sizeof(sun.sun_path) - 1);
  EXPECT_EQ(0, bind(server, (struct sockaddr*)&sun, sizeof(sun))) << path;
  listen(server, 1);
  return server;
}

// Runs fn in a child with a private /tmp (a tmpfs in its own mount
// namespace), so that the fixed log path is the test's alone.
std::string inPrivateTmp(const std::function<std::string()>& fn)
{
  return tltest::childReport([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
      return "no mount namespace";
    return fn();
  });
}

std::string sha256Hex(const std::string& bytes)
{
  unsigned char digest[32];
  crypto::Sha sha(256, false);
  sha.update((int)bytes.size(), (const unsigned char*)bytes.data());
  sha.final(digest, 32);
  return tltest::toHex(std::string((const char*)digest, 32));
}

// The log with its leading "2026-01-31 23:59:59Z" as "<time>".
std::string withoutTime(std::string log)
{
  const char pattern[] = "dddd-dd-dd dd:dd:ddZ";
  size_t n = sizeof(pattern) - 1;
  for (size_t i = 0; i < n; i++)
    if (i >= log.size() || (pattern[i] == 'd' ? !isdigit((unsigned char)log[i]) : log[i] != pattern[i]))
      return log;
  return log.replace(0, n, "<time>");
}

// The child's debug log ("-lppDebug"): the connection and a wrong
// challenge's "Bad hash" go there; an inherited descriptor writes none.
TEST(LaunchPipe, ChildSideLog)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root for a mount namespace";
  os::AppLoop::selectManager();
  os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
  const std::string zeros(32, '\0'), ones(32, '\1');
  struct Case {
    std::vector<std::string> words;
    std::string result; // then the log, or "no log"
  } cases[] = {
      {{"-lppDebug", "-hash", sha256Hex(zeros), "/tmp/p"},
       "Bad hash, stderr moved|<time>: connecting to '/tmp/p'\nBad hash\n"},
      {{"-lppDebug", "-hash", sha256Hex(ones), "/tmp/p"},
       "connected, stderr moved|<time>: connecting to '/tmp/p'\n"},
      {{"-lppDebug", "7"}, "descriptor 7, stderr kept|no log"},
  };
  int sv[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
  ASSERT_EQ(7, dup3(sv[1], 7, O_CLOEXEC)); // before the report pipe takes it
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, inPrivateTmp([&]() -> std::string {
                // A launcher that sends 32 ones and waits for the child to go.
                int server = listenAt("/tmp/p");
                std::thread sender([&] {
                  int conn = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
                  if (conn < 0)
                    return;
                  EXPECT_EQ(32, write(conn, ones.data(), ones.size()));
                  char b;
                  EXPECT_EQ(0, read(conn, &b, 1));
                  close(conn);
                });
                struct stat before, after;
                fstat(2, &before);
                std::vector<std::string> words = c.words;
                std::vector<char*> argv = argvOf(words);
                char** cursor = argv.data();
                os::LaunchedProcessPipe::Args args;
                std::string r;
                try {
                  io::IoPtr io = os::LaunchedProcessPipe::connect(args, cursor, 0);
                  int fd = dynamic_cast<io::FdIo*>(io.get())->getFd();
                  r = fd == 7 ? "descriptor 7" : "connected";
                } catch (plat::Exception& e) {
                  r = e.str();
                }
                fstat(2, &after);
                shutdown(server, SHUT_RDWR); // lets a sender that got nobody go
                sender.join();
                close(server);
                bool kept = before.st_dev == after.st_dev && before.st_ino == after.st_ino;
                r += kept ? ", stderr kept|" : ", stderr moved|";
                std::string log = std::string(os::getTmpPath(nullptr).get()) + "/lppDebug.log";
                struct stat st;
                if (stat(log.c_str(), &st) != 0 || (st.st_mode & 0777) != 0600)
                  return r + "no log"; // or not private
                return r + withoutTime(tltest::readFile(log));
              }))
        << c.words.back();
  }
  close(7);
  close(sv[0]);
  close(sv[1]);
}

TEST(LaunchPipe, ChildSideConnections)
{
  os::AppLoop::selectManager();
  tltest::TempDir dir;
  std::string path = dir / "pipe";
  int server = listenAt(path);

  // Without "-hash" nothing is read: connected while the server is silent.
  std::thread silent([&] {
    int c = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    char b;
    EXPECT_EQ(0, read(c, &b, 1));
    close(c);
  });
  std::string plain = tltest::childReport([&] {
    std::vector<std::string> words = {path, "-dummy"};
    char* argv[] = {&words[0][0], &words[1][0], nullptr};
    char** cursor = argv;
    os::LaunchedProcessPipe::Args args;
    io::IoPtr io = os::LaunchedProcessPipe::connect(args, cursor, 0);
    // "-dummy" stands for standard input.
    char** dummy = argv + 1;
    io::IoPtr in = os::LaunchedProcessPipe::connect(args, dummy, 0);
    return std::string(io ? "connected " : "none ") +
           std::to_string(dynamic_cast<io::FdIo*>(in.get())->getFd());
  });
  silent.join();
  close(server);
  EXPECT_EQ("connected 0", plain);
}

} // namespace

namespace {

// An owner that destroys the listener from inside its accept callback.
class Deleting : public os::LaunchWithPipeCallback {
public:
  void launched(io::IoPtr io) override
  {
    got = std::move(io);
    listener.reset();
  }
  std::unique_ptr<os::LaunchPipeListener> listener;
  io::IoPtr got;
};

TEST(LaunchPipe, ListenerDestroyedInsideItsAcceptCallback)
{
  os::AppLoop::selectManager();
  os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
  tltest::TempDir tmp;
  os::setTmpDirForTest(tmp.path().c_str());
  os::LaunchProcess::Cfg cfg;
  cfg.args.emplace_back("/bin/true");
  Deleting owner;
  owner.listener.reset(new os::LaunchPipeListener(cfg, &owner));
  ASSERT_EQ(5u, cfg.args.size()); // program, -hash, digest, -fork, path
  std::string path = cfg.args[4].str();
  int fd = os::UnixIo::connectUnix(path.c_str(), os::UnixIo::kStream);
  plat::Time end = plat::getMonoTime() + 10 * plat::kTicksPerSecond;
  while (owner.listener && plat::getMonoTime() < end)
    os::AppLoop::selectManager().processOnce(50);
  os::AppLoop::selectManager().processOnce(0);
  EXPECT_FALSE(owner.listener);
  ASSERT_TRUE(owner.got);
  unsigned char challenge[32];
  EXPECT_EQ(32, read(fd, challenge, sizeof(challenge)));
  close(fd);
  EXPECT_NE(0, access(path.c_str(), F_OK)); // the pipe went with it
  os::setTmpDirForTest(nullptr);
}

// Two connections before the loop runs: the first is handed on with the
// challenge, the second is shut down unanswered.
TEST(LaunchPipe, ListenerKeepsTheFirstConnection)
{
  os::AppLoop::selectManager();
  os::AppInfo::set("tlpipes", nullptr, "tlcomp", nullptr, nullptr);
  tltest::TempDir tmp;
  os::setTmpDirForTest(tmp.path().c_str());
  os::LaunchProcess::Cfg cfg;
  cfg.args.emplace_back("/bin/true");
  Owner owner;
  os::LaunchPipeListener listener(cfg, &owner);
  int first = os::UnixIo::connectUnix(cfg.args[4].str(), os::UnixIo::kStream);
  int second = os::UnixIo::connectUnix(cfg.args[4].str(), os::UnixIo::kStream);
  for (int i = 0; i < 20; i++)
    os::AppLoop::selectManager().processOnce(20);
  EXPECT_EQ(1, owner.calls);
  unsigned char challenge[33];
  EXPECT_EQ(32, read(first, challenge, sizeof(challenge)));
  EXPECT_EQ(0, read(second, challenge, sizeof(challenge)));
  close(first);
  close(second);
  os::setTmpDirForTest(nullptr);
}

// The child's log at a path another user reached: a link planted there,
// another user's file or FIFO is not written, nor waited on (in a private
// /tmp of a mount namespace).
TEST(LaunchPipe, DebugLogRefusesLinksAndOtherUsersFiles)
{
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root for a mount namespace";
  TL_REQUIRE_TEST_USER();
  uid_t other = tltest::testUser()->uid;
  std::string text = inPrivateTmp([&]() -> std::string {
    os::LaunchedProcessPipe::Args args;
    args.logPath = plat::String("/tmp/lppDebug.log");
    std::string r;
    alarm(20); // a blocking open ends the child
    for (int round = 0; round < 3; round++) {
      unlink("/tmp/lppDebug.log");
      if (round == 0) {
        if (symlink("/tmp/victim", "/tmp/lppDebug.log") != 0)
          return "symlink";
      } else if (round == 2) {
        if (mkfifo("/tmp/lppDebug.log", 0666) != 0 || chown("/tmp/lppDebug.log", other, other) != 0)
          return "fifo";
      } else {
        int f = open("/tmp/lppDebug.log", O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        if (f < 0 || fchown(f, other, other) != 0)
          return "chown";
        close(f);
      }
      int saved = dup(2);
      os::LaunchedProcessPipe::redirectStderr(args);
      fprintf(stderr, "written\n");
      char target[256] = {};
      ssize_t n = readlink("/proc/self/fd/2", target, sizeof(target) - 1);
      r += std::string(n > 0 ? target : "?") + " ";
      dup2(saved, 2);
      close(saved);
      struct stat st;
      r += stat("/tmp/victim", &st) == 0 ? "victim " : "";
      if (round == 1 && stat("/tmp/lppDebug.log", &st) == 0 && st.st_size != 0)
        r += "written ";
    }
    return r;
  });
  EXPECT_EQ("/dev/null /dev/null /dev/null ", text);
}

} // namespace

namespace {

// Through real sudo (the test command allows the child for the test user
// without a password): the child runs as root and proves the pipe.
TEST(LaunchPipe, RealSudoBothForms)
{
  TL_REQUIRE_TEST_USER();
  if (tltest::runAsTestUser({"/bin/sh", "-c", std::string("/usr/bin/sudo -n -l ") + kChild +
                                                  " >/dev/null 2>&1"}) != 0)
    GTEST_SKIP() << "needs the sudo drop-in that scripts/sudo-test-dropin.sh installs";
  // The blocking and the asynchronous form.
  auto talk = [](bool async) {
    os::LaunchWithPipe launcher(childCfg());
    Owner owner;
    if (async) {
      launcher.launch(&owner);
      owner.wait();
    }
    io::IoPtr io = async ? std::move(owner.got) : launcher.startChild();
    std::string text = io ? readAll(io.get()) : std::string("null");
    io.reset();
    bool left = false;
    if (DIR* d = opendir(os::getTmpPath(nullptr).str())) {
      while (struct dirent* e = readdir(d))
        left |= strstr(e->d_name, "launchpipe") != nullptr;
      closedir(d);
    }
    return text + (left ? " pipe left" : "");
  };
  for (bool async : {false, true})
    EXPECT_EQ("hello 0", asUser("/usr/bin/sudo -n", [&] { return talk(async); })) << async;

  // A terminal that runs the real sudo, both found in the program folder.
  tltest::TempDir bin;
  chmod(bin.path().c_str(), 0755);
  bin.write("xterm",
            "#!/bin/sh\nwhile [ $# -gt 0 ]; do case \"$1\" in -e) shift; exec \"$@\";; esac; "
            "shift; done\nexit 1\n",
            0755);
  ASSERT_EQ(0, symlink("/usr/bin/sudo", (bin / "sudo").c_str()));
  for (bool async : {false, true})
    EXPECT_EQ("hello 0", asUser("", [&] {
                os::setElevateProgramDirsForTest({plat::String(bin.path().c_str())});
                unsetenv("DBUS_SESSION_BUS_ADDRESS");
                return talk(async);
              }))
        << async;
}

} // namespace

namespace {

os::LaunchProcess::Cfg shell(const std::string& script, std::vector<std::string> extra = {})
{
  os::LaunchProcess::Cfg cfg;
  for (const char* a : {"/bin/sh", "-c"})
    cfg.args.emplace_back(a);
  cfg.args.emplace_back(script.c_str());
  cfg.args.emplace_back("sh");
  for (const std::string& e : extra)
    cfg.extraArgs.emplace_back(e.c_str());
  return cfg;
}

TEST(LaunchWithPipe, CollectedTextAndArguments)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  struct Case {
    std::string script;
    bool trim;
    std::string text;
  } cases[] = {
      {"printf '%s|' \"$@\"; echo", true, "0|e1|e 2|"},
      {"printf '%s|' \"$@\"; echo", false, "0|e1|e 2|\n"},
      {"printf 'line\\n\\n'", true, "line\n"},
      {"true", true, ""},
  };
  int before = tltest::countFds();
  for (const Case& c : cases) {
    os::LaunchWithPipe launcher(shell(c.script, {"e1", "e 2"}));
    EXPECT_EQ(c.text, launcher.runAndCollectText(c.trim).str()) << c.script;
  }
  os::AppLoop::selectManager().processOnce(0);
  EXPECT_EQ(before, tltest::countFds());
}


TEST(LaunchWithPipe, LaunchedOnALaterPass)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  Owner owner;
  os::LaunchWithPipe launcher(shell("printf hi"));
  launcher.launch(&owner);
  EXPECT_EQ(0, owner.calls);
  owner.wait();
  ASSERT_EQ(1, owner.calls);
  ASSERT_TRUE(owner.got);
  rdr::MemOutStream text;
  while (!os::copyStream(*owner.got->in(), text, false))
    os::AppLoop::selectManager().processOnce(50);
  EXPECT_EQ("hi", std::string((const char*)text.data(), (size_t)text.length()));
}

TEST(LaunchWithPipe, InputToAnEchoingChildDrainsToItsEnd)
{
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  std::string input(200000, 'x');
  os::LaunchWithPipe launcher(shell("cat"));
  int before = tltest::countFds();
  // Returns only once the child has taken everything and ended.
  launcher.runWithInput(input.size(), (const uint8_t*)input.data());
  os::AppLoop::selectManager().processOnce(0);
  EXPECT_EQ(before, tltest::countFds());
}

} // namespace
