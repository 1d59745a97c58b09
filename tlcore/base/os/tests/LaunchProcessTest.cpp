// Launching children with a helper program that reports what it got:
// exec failures, descriptor mappings, environment, signal state, detach
// levels, timed waits, monitors and the pid manager; no zombie and no
// descriptor is left behind.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "childio.h"
#include "io/FdIo.h"
#include "io/FdKicker.h"
#include "io/FdSelectManager.h"
#include "io/IpResolver.h"
#include "os/AppLoop.h"
#include "os/LaunchProcess.h"
#include "os/ProcessMonitor.h"
#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/LogDestFile.h"
#include "plat/Time.h"
#include "rdr/Exception.h"
#include "rdr/FdInStream.h"
#include "testutil.h"

namespace {

using os::LaunchProcess;

// Descriptors this program inherited (from whatever started it) are not
// the process's leaks: mark them close-on-exec before any test runs.
const bool inheritedMarked = [] {
  DIR* d = opendir("/proc/self/fd");
  while (struct dirent* e = readdir(d)) {
    int fd = atoi(e->d_name);
    if (fd > 2 && fd != dirfd(d))
      fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  closedir(d);
  return true;
}();
using tltest::TempDir;

plat::LogSrc testLog("LaunchProcessTest");

const char* const kHelper = TL_LAUNCH_HELPER;

std::vector<plat::String> strings(const std::vector<std::string>& v)
{
  std::vector<plat::String> out;
  for (const std::string& s : v)
    out.emplace_back(s.c_str());
  return out;
}

LaunchProcess::Cfg helperCfg(const std::string& report, const std::string& ending,
                             std::vector<std::string> extra = {})
{
  LaunchProcess::Cfg cfg;
  std::vector<std::string> args{kHelper, report, ending};
  args.insert(args.end(), extra.begin(), extra.end());
  cfg.args = strings(args);
  return cfg;
}

struct Report {
  std::vector<std::string> args, env;
  std::map<int, std::string> fds;
  std::map<std::string, unsigned long long> masks; // SigCgt, SigIgn, SigBlk
  int ppid = -1;
};

Report parse(const std::string& text)
{
  Report r;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "arg ") == 0)
      r.args.push_back(line.substr(4));
    else if (line.compare(0, 4, "env ") == 0)
      r.env.push_back(line.substr(4));
    else if (line.compare(0, 3, "fd ") == 0) {
      size_t sp = line.find(' ', 3);
      r.fds[std::stoi(line.substr(3, sp - 3))] = line.substr(sp + 1);
    } else if (line.compare(0, 3, "Sig") == 0)
      r.masks[line.substr(0, 6)] = std::stoull(line.substr(7), nullptr, 16);
    else if (line.compare(0, 5, "ppid ") == 0)
      r.ppid = std::stoi(line.substr(5));
  }
  return r;
}

std::string fdTarget(int fd)
{
  char buf[512];
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof(buf) - 1);
  return std::string(buf, n > 0 ? (size_t)n : 0);
}

bool sigBit(unsigned long long mask, int signal)
{
  return (mask >> (signal - 1)) & 1;
}

// Zombies whose parent is this process.
std::vector<int> zombies()
{
  std::vector<int> out;
  DIR* d = opendir("/proc");
  while (struct dirent* e = readdir(d)) {
    int pid = atoi(e->d_name);
    if (pid <= 0)
      continue;
    std::string stat = tltest::readFileIfAny("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
      continue;
    char state = 0;
    int ppid = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && state == 'Z' &&
        ppid == getpid())
      out.push_back(pid);
  }
  closedir(d);
  return out;
}

void pump(const std::function<bool()>& done)
{
  plat::Time end = plat::getMonoTime() + 20 * plat::kTicksPerSecond;
  while (!done() && plat::getMonoTime() < end)
    os::AppLoop::selectManager().processOnce(50);
}

// Starts the helper with the launcher prepared by setup, waits for it and
// returns its report (written to a file). The process's descriptor count
// is the same afterwards.
Report runHelper(const std::function<void(LaunchProcess&)>& setup = {},
                 const std::function<void(LaunchProcess::Cfg&)>& configure = {})
{
  TempDir dir;
  std::string file = dir / "report";
  os::AppLoop::selectManager();
  os::PidManager::ensure(); // its signal pipe stays
  int before = tltest::countFds();
  {
    LaunchProcess::Cfg cfg = helperCfg(file, "exit:0");
    if (configure)
      configure(cfg);
    LaunchProcess launcher(cfg);
    if (setup)
      setup(launcher);
    launcher.start();
    int code = -1;
    EXPECT_TRUE(launcher.wait(&code, -1));
    EXPECT_EQ(0, code);
  }
  EXPECT_EQ(before, tltest::countFds());
  return parse(tltest::readFileIfAny(file));
}

// --- Exec failures --------------------------------------------------------------

TEST(LaunchProcess, ExecFailuresComeBackWithTheChildsError)
{
  TempDir dir;
  std::string plain = dir.write("plain", "#!/bin/sh\n", 0644);
  std::string longPath = "/" + std::string(200, 'q');
  struct Case {
    std::vector<std::string> args;
    bool search;
    std::string message;
    const char* type;
    int closeFrom = -1; // the error pipe survives the closing
  } cases[] = {
      {{"/nonexistent-tl/prog"}, false,
       "execve(/nonexistent-tl/prog): " + std::string(strerror(ENOENT)) + " (2)", "System-2"},
      {{plain}, false, "execve(" + plain + "): " + strerror(EACCES) + " (13)", "System-13"},
      {{longPath}, false, ("execve(" + longPath).substr(0, 127) + ": " + strerror(ENOENT) + " (2)",
       "System-2"},
      {{"/nonexistent-tl/prog"}, false,
       "execve(/nonexistent-tl/prog): " + std::string(strerror(ENOENT)) + " (2)", "System-2", 3},
      {{"no-such-program-tl"}, true,
       "no-such-program-tl does not exist or is not executable: " + std::string(strerror(ENOENT)) +
           " (2)",
       "System-2"},
  };
  for (const Case& c : cases) {
    int before = tltest::countFds();
    {
      LaunchProcess::Cfg cfg;
      cfg.args = strings(c.args);
      cfg.searchPath = c.search;
      cfg.closeFdsFrom = c.closeFrom;
      LaunchProcess launcher(cfg);
      try {
        launcher.start();
        ADD_FAILURE() << c.message;
      } catch (plat::SystemException& e) {
        EXPECT_EQ(c.message, e.str());
        EXPECT_STREQ(c.type, e.getType());
      }
      EXPECT_EQ(-1, launcher.pid()); // collected
    }
    EXPECT_EQ(before, tltest::countFds()) << c.message;
  }
  EXPECT_TRUE(zombies().empty());
}

// --- Descriptors ------------------------------------------------------------------

class Resolved : public io::IpResolver::Callback {
public:
  void resolved(io::IpResolver*, io::IpInfoList&) override { done = true; }
  void failed(io::IpResolver*, const plat::Exception&) override { done = true; }
  bool done = false;
};

class NoKicks : public io::FdKickerCallback {
  void kicked(io::FdKicker*, rdr::InStream*) override {}
};

TEST(LaunchProcess, ChildHoldsOnlyStdioAndWhatWasMapped)
{
  // Descriptors the process holds elsewhere: a log file, sockets, a kicker,
  // the signal pipe and a resolver thread.
  os::AppLoop::selectManager();
  TempDir dir;
  plat::LogDestFile log("launchtestfile", "test", nullptr);
  log.setPath((dir / "test.log").c_str());
  log.write(30, "test", "a line");
  struct sockaddr_in sin = {};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int listener = os::bindSocket((struct sockaddr*)&sin, sizeof(sin), SOCK_STREAM, false);
  NoKicks noKicks;
  io::FdKicker kicker(&noKicks);
  Resolved resolved;
  os::AppLoop::selectManager();
  io::IpResolverMgr::getResolver()->resolve(&resolved, "127.0.0.1", 80, 0);
  pump([&] { return resolved.done; });

  Report plain = runHelper();
  EXPECT_EQ((std::map<int, std::string>{{0, "/dev/null"}, {1, "/dev/null"}, {2, fdTarget(2)}}),
            plain.fds);

  // Mapped to 7 and to the lowest free number (where the error pipe would
  // land without care).
  // The first source opened takes the free number, so it moves aside too.
  std::string a = dir / "a", b = dir / "b";
  int freeFd = fcntl(0, F_DUPFD_CLOEXEC, 0);
  close(freeFd);
  Report mapped = runHelper([&](LaunchProcess& l) {
    l.redirectFd(7, open(a.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    l.redirectFd(freeFd, open(b.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  });
  EXPECT_EQ(a, mapped.fds[7]);
  EXPECT_EQ(b, mapped.fds[freeFd]);
  EXPECT_EQ(5u, mapped.fds.size()) << ::testing::PrintToString(mapped.fds);

  // The same mapping with a program that is missing still reports it.
  LaunchProcess::Cfg cfg;
  cfg.args = strings({"/nonexistent-tl/prog"});
  LaunchProcess failing(cfg);
  failing.redirectFd(freeFd, open(b.c_str(), O_WRONLY | O_CLOEXEC));
  EXPECT_THROW(failing.start(), plat::SystemException);
  close(listener);
}

TEST(LaunchProcess, StdoutAndStderrSwap)
{
  TempDir dir;
  std::string a = dir / "a", b = dir / "b";
  int rc = tltest::inChild([&] {
    int fa = open(a.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int fb = open(b.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (dup2(fa, 1) < 0 || dup2(fb, 2) < 0)
      return 1;
    LaunchProcess l(helperCfg("fd:1", "exit:0"));
    l.redirectFd(1, 2);
    l.redirectFd(2, 1);
    l.start();
    int code = -1;
    return l.wait(&code, -1) && code == 0 ? 0 : 2;
  });
  ASSERT_EQ(0, rc);
  Report r = parse(tltest::readFileIfAny(b)); // the child's 1 is the parent's 2
  EXPECT_EQ(b, r.fds[1]);
  EXPECT_EQ(a, r.fds[2]);
}

TEST(LaunchProcess, FilesPipesAndCapture)
{
  TempDir dir;
  std::string out = dir.write("out", std::string(5000, 'x'));
  chmod(out.c_str(), 0644);
  for (bool append : {false, true}) {
    LaunchProcess l(helperCfg("-", "exit:0"));
    l.redirectOutputToFile(out.c_str(), append);
    l.start();
    l.wait(nullptr, -1);
  }
  std::string text = tltest::readFileIfAny(out);
  EXPECT_EQ(0u, text.find("arg ")); // truncated, then appended
  EXPECT_EQ(2u, parse(text).args.size() / 3);
  std::string fresh = dir / "fresh";
  LaunchProcess f(helperCfg("-", "exit:0"));
  f.redirectToFile(1, fresh.c_str(), LaunchProcess::FileMode::kTruncate);
  f.start();
  f.wait(nullptr, -1);
  struct stat st;
  ASSERT_EQ(0, stat(fresh.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // The process-wide collector (and its signal pipe) a blocking wait may
  // make is not the launcher's to close.
  os::AppLoop::selectManager();
  os::PidManager::ensure();
  int before = tltest::countFds();
  int code = -1;
  plat::String captured = LaunchProcess(helperCfg("-", "exit:3")).runAndCapture(&code, 5000);
  EXPECT_EQ(3, code);
  Report r = parse(captured.str());
  EXPECT_EQ("/dev/null", r.fds[2]);
  EXPECT_EQ(0u, r.fds[1].find("pipe:"));

  // Output and error share one connection: a socket pair, or a pipe.
  for (bool socket : {true, false}) {
    LaunchProcess p(helperCfg("-", "exit:0"));
    io::IoPtr io = socket ? p.startWithPipe({1, 2}) : p.startWithOutputPipe({1, 2}, 1 << 20);
    int fd = static_cast<io::FdIo*>(io.get())->getFd();
    std::string got;
    char buf[4096];
    for (;;) {
      struct pollfd pfd = {fd, POLLIN, 0};
      poll(&pfd, 1, 10000);
      ssize_t n = read(fd, buf, sizeof(buf));
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR)))
        break;
      if (n > 0)
        got.append(buf, (size_t)n);
    }
    Report s = parse(got);
    EXPECT_EQ(0u, s.fds[1].find(socket ? "socket:" : "pipe:"));
    EXPECT_EQ(s.fds[1], s.fds[2]);
    p.wait(nullptr, -1);
    io.reset();
    os::AppLoop::selectManager().processOnce(0);
    os::AppLoop::selectManager().processOnce(0);
  }
  EXPECT_EQ(before, tltest::countFds());

}

TEST(LaunchProcess, ErrorPipeCarriesWhatTheChildWrites)
{
  // The child writes to every descriptor above 2 it holds: only the pipe.
  LaunchProcess::Cfg c;
  c.args = strings({"/bin/bash", "-c",
                    "for n in {3..200}; do { printf hello >&$n; } 2>/dev/null; done; true"});
  LaunchProcess sh(c);
  LaunchProcess::ErrorPipe pipe(sh);
  EXPECT_GT(pipe.childFd(), 2);
  sh.start();
  std::string said;
  try {
    for (;;)
      said += (char)pipe.in().readU8();
  } catch (rdr::EndOfStream&) {
  }
  EXPECT_EQ("hello", said);
  sh.wait(nullptr, -1);
}

// --- Environment -----------------------------------------------------------------

TEST(LaunchProcess, Environment)
{
  setenv("TLTEST_WINS", "process", 1);
  setenv("TLTEST_GONE", "x", 1);
  Report r = runHelper({}, [](LaunchProcess::Cfg& c) {
    c.env[plat::String("TLTEST_WINS")] = plat::String("env");
    c.unsetEnv.emplace_back("TLTEST_GONE");
  });
  auto has = [](const Report& rep, const std::string& e) {
    return std::find(rep.env.begin(), rep.env.end(), e) != rep.env.end();
  };
  EXPECT_TRUE(has(r, "TLTEST_WINS=env"));
  EXPECT_FALSE(has(r, "TLTEST_WINS=process"));
  EXPECT_FALSE(has(r, "TLTEST_GONE=x"));
  EXPECT_TRUE(has(r, std::string("PATH=") + getenv("PATH")));
  Report only = runHelper({}, [](LaunchProcess::Cfg& c) {
    c.noInheritEnv = true;
    c.env[plat::String("ONLY")] = plat::String("1");
  });
  EXPECT_EQ(std::vector<std::string>{"ONLY=1"}, only.env);
}

// --- Signals ----------------------------------------------------------------------

class Ignore : public os::SignalHandler::Callback {
  void handle(int) override {}
};

sigset_t currentMask()
{
  sigset_t s;
  sigprocmask(SIG_SETMASK, nullptr, &s);
  return s;
}

// sigaction replaced as a sanitizer replaces it: a launched child that
// still shares the launcher's memory must not call it (it would write the
// launcher's tables).
long launcherPid = 0;
int childSigactions = 0;

} // namespace

extern "C" int sigaction(int s, const struct sigaction* act, struct sigaction* old)
{
  childSigactions += launcherPid && syscall(SYS_getpid) != launcherPid;
  using Fn = int (*)(int, const struct sigaction*, struct sigaction*);
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "sigaction"))(s, act, old);
}

namespace {

bool sameMask(const sigset_t& a, const sigset_t& b)
{
  for (int s = 1; s < 65; s++)
    if (sigismember(&a, s) != sigismember(&b, s))
      return false;
  return true;
}

// In a child of the test: handlers for SIGINT, SIGTERM and SIGCHLD and
// SIGUSR1 blocked; the launch (as set up) must leave the mask as it was.
std::string launchKeepsMask(const std::function<void()>& launch)
{
  os::AppLoop::selectManager();
  static Ignore ignore;
  for (int s : {SIGINT, SIGTERM, SIGCHLD})
    os::SignalHandler::instance().addHandler(s, &ignore, true);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, nullptr);
  sigset_t before = currentMask();
  launcherPid = getpid();
  std::string result;
  try {
    launch();
    result = "ok";
  } catch (plat::Exception& e) {
    result = e.str();
  }
  return result + (sameMask(before, currentMask()) ? " mask kept" : " mask changed") +
         (childSigactions ? " sigaction in child" : "");
}

TEST(LaunchProcess, SignalsDefaultInChildAndMaskKeptInParent)
{
  TempDir dir;
  std::string file = dir / "report";
  std::string text = tltest::childReport([&] {
    os::initSocketProcessLimits(); // SIGPIPE ignored here
    std::string r = launchKeepsMask([&] {
      LaunchProcess l(helperCfg(file, "exit:0"));
      l.start();
      l.wait(nullptr, -1);
    });
    return r + "; " + launchKeepsMask([] {
             LaunchProcess::Cfg cfg;
             cfg.args = strings({"/nonexistent-tl/prog"});
             LaunchProcess(cfg).start();
           });
  });
  EXPECT_EQ("ok mask kept; execve(/nonexistent-tl/prog): " + std::string(strerror(ENOENT)) +
                " (2) mask kept",
            text);
  Report r = parse(tltest::readFileIfAny(file));
  for (int s : {SIGINT, SIGTERM, SIGCHLD, SIGPIPE})
    EXPECT_FALSE(sigBit(r.masks["SigCgt"], s) || sigBit(r.masks["SigIgn"], s)) << s;
  EXPECT_EQ(1ull << (SIGUSR1 - 1), r.masks["SigBlk"]);
}

TEST(LaunchProcess, ForkFailureKeepsMask)
{
  TL_REQUIRE_TEST_USER();
  std::string text = tltest::childReport(
      [] {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_NPROC, &none);
        return launchKeepsMask([] {
          LaunchProcess::Cfg cfg;
          cfg.args = strings({"/bin/true"});
          LaunchProcess(cfg).start();
        });
      },
      tltest::ChildUser::kTestUser);
  EXPECT_EQ("fork: " + std::string(strerror(EAGAIN)) + " (11) mask kept", text);
}

// --- Detach levels and waits ------------------------------------------------------

bool waitForFile(const std::string& path)
{
  for (int i = 0; i < 1000 && access(path.c_str(), F_OK) != 0; i++)
    usleep(10000);
  usleep(20000); // the report is written in one call
  return access(path.c_str(), F_OK) == 0;
}

TEST(LaunchProcess, DetachLevels)
{
  os::AppLoop::selectManager();
  TempDir dir;
  std::string file = dir / "detached";
  LaunchProcess::Cfg cfg = helperCfg(file, "exit:0");
  cfg.reaper = LaunchProcess::Reaper::kDetached;
  LaunchProcess detached(cfg);
  detached.start();
  EXPECT_EQ(-1, detached.pid());
  EXPECT_THROW(detached.wait(nullptr, 0), plat::Exception);
  ASSERT_TRUE(waitForFile(file));
  EXPECT_NE(getpid(), parse(tltest::readFileIfAny(file)).ppid);
  EXPECT_TRUE(zombies().empty()); // the middle child was collected

  {
    LaunchProcess::Cfg c1;
    c1.args = strings({"/bin/sh", "-c", "sleep 0.2"});
    c1.reaper = LaunchProcess::Reaper::kPidManager;
    LaunchProcess reaped(c1);
    reaped.start();
  }
  EXPECT_EQ(1, os::PidManager::pending());
  pump([] { return os::PidManager::pending() == 0; });
  EXPECT_EQ(0, os::PidManager::pending());

  int pid;
  {
    LaunchProcess::Cfg c0;
    c0.args = strings({"/bin/sh", "-c", "sleep 0.2"});
    LaunchProcess owned(c0);
    owned.start();
    pid = owned.pid();
  } // waits
  EXPECT_EQ(-1, waitpid(pid, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
  EXPECT_TRUE(zombies().empty());
}

TEST(LaunchProcess, AsUidRewritesTheCommandLine)
{
  if (getuid() != 0 || geteuid() != 0)
    GTEST_SKIP() << "needs root";
  TempDir dir;
  std::string file = dir / "report";
  LaunchProcess::Cfg cfg = helperCfg(file, "exit:0");
  cfg.asUid = 4321;
  cfg.setuidViaSelf = false;
  LaunchProcess l(cfg);
  l.start();
  l.wait(nullptr, -1);
  EXPECT_EQ((std::vector<std::string>{kHelper, "-setuidhelper", "4321", kHelper, file, "exit:0"}),
            parse(tltest::readFileIfAny(file)).args);
}

plat::Time fakeNow = 0;
std::vector<int> sleeps;
plat::Time fakeClock(plat::Time, bool*)
{
  return fakeNow;
}
void fakeSleep(int ms)
{
  sleeps.push_back(ms);
  fakeNow += (plat::Time)ms * plat::kTicksPerMilli;
}

TEST(LaunchProcess, WaitTimeouts)
{
  LaunchProcess l(helperCfg("-", "sleep:100"));
  l.start();
  EXPECT_FALSE(l.wait(nullptr, 0));
  fakeNow = plat::getMonoTime();
  plat::MonoClockFn previous = plat::setMonoClock(fakeClock);
  os::setWaitSleepForTest(fakeSleep);
  EXPECT_FALSE(l.wait(nullptr, 1000));
  os::setWaitSleepForTest(nullptr);
  plat::setMonoClock(previous);
  EXPECT_EQ(std::vector<int>(10, 100), sleeps);
  kill(l.pid(), SIGKILL);
  int code = 0;
  EXPECT_TRUE(l.wait(&code, -1));
  EXPECT_EQ(-9, code);
}

// --- Exit codes through waits and monitors ------------------------------------------

class Owner : public os::ProcessMonitor::Callback {
public:
  void processExited(os::ProcessMonitor* monitor, int exitCode) override
  {
    codes[monitor].push_back(exitCode);
    if (deleteInside)
      owned.reset();
  }
  std::map<os::ProcessMonitor*, std::vector<int>> codes;
  std::unique_ptr<os::ProcessMonitor> owned;
  bool deleteInside = false;
};

TEST(LaunchProcess, ExitCodesAndTheirLogLines)
{
  os::AppLoop::selectManager();
  struct Case {
    const char* ending;
    int code;
    std::string log; // after "(<helper>) exited with "
  } cases[] = {{"exit:3", 3, "status 3"},
               {"exit:0", 0, ""},
               {"signal:9", -9, "signal SIGKILL"},
               {"signal:15", -15, "signal SIGTERM"}};
  for (const Case& c : cases) {
    for (bool monitor : {false, true}) {
      tltest::LogCapture capture("ProcessMonitor");
      LaunchProcess l(helperCfg("-", c.ending));
      l.start();
      int pid = l.pid();
      int code = 1000;
      if (monitor) {
        Owner owner;
        std::unique_ptr<os::ProcessMonitor> m = l.makeMonitor(&owner);
        EXPECT_EQ(-1, l.pid());
        pump([&] { return !owner.codes.empty(); });
        code = owner.codes[m.get()].at(0);
      } else {
        EXPECT_TRUE(l.wait(&code, -1));
      }
      EXPECT_EQ(c.code, code) << c.ending;
      std::vector<std::string> expected;
      if (!c.log.empty())
        expected.push_back("child " + std::to_string(pid) + " (" + kHelper + ") exited with " +
                           c.log);
      EXPECT_EQ(expected, capture.lines()) << c.ending;
    }
  }
}

TEST(ProcessMonitor, EdgeCases)
{
  os::AppLoop::selectManager();
  Owner owner;
  // Ended before the monitor was made: the zero-delay timer sees it.
  {
    LaunchProcess l(helperCfg("-", "exit:0"));
    l.start();
    siginfo_t info;
    waitid(P_PID, (id_t)l.pid(), &info, WEXITED | WNOWAIT);
    std::unique_ptr<os::ProcessMonitor> m = l.makeMonitor(&owner);
    pump([&] { return owner.codes.count(m.get()) != 0; });
    EXPECT_EQ(std::vector<int>{0}, owner.codes[m.get()]);
  }
  // The owner deletes its monitor inside the callback.
  {
    Owner deleting;
    deleting.deleteInside = true;
    LaunchProcess l(helperCfg("-", "exit:5"));
    l.start();
    deleting.owned = l.makeMonitor(&deleting);
    os::ProcessMonitor* raw = deleting.owned.get();
    pump([&] { return !deleting.owned; });
    EXPECT_EQ(std::vector<int>{5}, deleting.codes[raw]);
  }
  // kill on a pid that is gone: logged, no call back, the pid manager
  // takes it.
  {
    tltest::LogCapture capture("ProcessMonitor");
    pid_t gone = tltest::spawn([] { return 0; });
    tltest::waitChild(gone);
    Owner quiet;
    os::ProcessMonitor m(gone, &quiet, "gone");
    m.kill(SIGTERM);
    pump([] { return os::PidManager::pending() == 0; });
    os::AppLoop::selectManager().processOnce(0);
    EXPECT_TRUE(quiet.codes.empty());
    std::vector<std::string> lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("kill(" + std::to_string(gone) + ",SIGTERM): " + strerror(ESRCH) + " (3)",
              lines[0]);
  }
  // Destroying a monitor whose child runs waits for it.
  {
    LaunchProcess::Cfg c;
    c.args = strings({"/bin/sh", "-c", "sleep 0.2"});
    LaunchProcess l(c);
    l.start();
    int pid = l.pid();
    l.makeMonitor(nullptr).reset();
    EXPECT_EQ(-1, waitpid(pid, nullptr, WNOHANG));
  }
  // A hand-over on a thread without a descriptor manager leaves the pid.
  {
    LaunchProcess l(helperCfg("-", "exit:0"));
    l.start();
    int pid = l.pid();
    std::thread([&] { l.setReaper(LaunchProcess::Reaper::kDetached); }).join();
    EXPECT_EQ(-1, l.pid());
    EXPECT_EQ(0, os::PidManager::pending());
    EXPECT_EQ(pid, waitpid(pid, nullptr, 0)); // still ours to collect
  }
  EXPECT_TRUE(zombies().empty());
}

TEST(ProcessMonitor, FiftyChildrenEndingAtOnce)
{
  os::AppLoop::selectManager();
  int gate[2];
  ASSERT_EQ(0, pipe2(gate, O_CLOEXEC));
  Owner owner;
  std::vector<std::unique_ptr<os::ProcessMonitor>> monitors;
  for (int i = 0; i < 50; i++) {
    LaunchProcess::Cfg c;
    c.args = strings({"/bin/cat"});
    LaunchProcess l(c);
    l.redirectFd(0, dup3(gate[0], 100 + i, O_CLOEXEC));
    l.start();
    monitors.push_back(l.makeMonitor(&owner));
  }
  close(gate[0]);
  close(gate[1]); // every cat reads its end now
  size_t reported = 0;
  pump([&] {
    reported = owner.codes.size();
    return reported == 50;
  });
  os::AppLoop::selectManager().processOnce(100);
  ASSERT_EQ(50u, owner.codes.size());
  for (auto& c : owner.codes)
    EXPECT_EQ(std::vector<int>{0}, c.second);
  monitors.clear();
  EXPECT_TRUE(zombies().empty());
}

// --- Free functions ---------------------------------------------------------------

TEST(LaunchProcess, FreeFunctions)
{
  EXPECT_EQ(0, os::runAndWait(strings({"true"})));
  // The launch left ThreadSanitizer's state of this thread alone: locked
  // logging on two threads is no race (a report fails the test).
  std::thread other([] { testLog.info("other"); });
  testLog.info("main");
  other.join();
  EXPECT_EQ(4, os::runAndWait(strings({"sh", "-c", "exit 4"})));
  TempDir dir;
  std::string file = dir / "stdin";
  int fd = os::startDetachedWithStdinPipe(strings({"/bin/sh", "-c", "cat > " + file + ".tmp && mv " +
                                                                        file + ".tmp " + file}));
  ASSERT_EQ(3, write(fd, "abc", 3));
  close(fd);
  ASSERT_TRUE(waitForFile(file));
  EXPECT_EQ("abc", tltest::readFileIfAny(file));
}

} // namespace
