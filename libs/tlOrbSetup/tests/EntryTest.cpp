// The program as a real process, run as an ordinary user (the test user
// when the tests run as root) with HOME in a temporary directory: the mode
// switch, command-line errors and usage, the error handler's log line and
// message, and SIGTERM/SIGINT ending the running program with status 0.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "plat/Time.h"
#include "testuser.h"
#include "testutil.h"

namespace {

struct Result {
  int status = -1; // exit status, or 100 + signal
  std::string out, err, log;
};

std::string readFile(const std::string& path)
{
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the program with args; with a signal, sends it once the stand-in
// window has been shown (the loop is about to run). With no argv at all
// (argc 0) when args holds only "(none)".
Result runProgram(const std::vector<std::string>& args, int signal = 0)
{
  Result result;
  tltest::TempDir home("tlentry");
  const tltest::TestUser* user = geteuid() == 0 ? tltest::testUser() : nullptr;
  if (user && chown(home.path().c_str(), user->uid, user->gid) != 0)
    return result;
  std::string outPath = home / "stdout", errPath = home / "stderr";
  std::string logPath = home / ".zarn/tlzarnconnectsetup.log";
  std::vector<char*> argv;
  if (args != std::vector<std::string>{"(none)"}) {
    argv.push_back(const_cast<char*>(TL_PROGRAM));
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(120);
    if (user && (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0))
      _exit(121);
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("ZARN_PROFILE");
    unsetenv("ZARN_CONFIG_PROFILE");
    unsetenv("ZARN_PROFILE_DIR");
    execv(TL_PROGRAM, argv.data());
    _exit(122);
  }
  if (signal) {
    plat::Time end = plat::getMonoTime() + 60 * plat::kTicksPerSecond;
    while (readFile(logPath).find("HeadlessWindow: show") == std::string::npos &&
           plat::getMonoTime() < end)
      usleep(10000);
    kill(pid, signal);
  }
  result.status = tltest::waitChild(pid);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  result.log = readFile(logPath);
  return result;
}

bool has(const std::string& text, const std::string& part)
{
  return text.find(part) != std::string::npos;
}

class Entry : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (geteuid() == 0 && !tltest::testUser())
      GTEST_SKIP() << "needs the test user when run as root";
  }
};

TEST_F(Entry, ModesAndStartupErrors)
{
  struct Case {
    std::vector<std::string> args;
    const char* err; // expected on standard error
  };
  const Case cases[] = {
      // The helper is root's only.
      {{"-helper"}, "tlzarnconnectsetup_helper: Assertion 'geteuid() == 0' failed"},
      {{"-uri", "x://y"}, "tlzarnconnectsetup: The -uri mode is not available in this build\n"},
      // Only as the very first argument.
      {{"-Log=SetupApp:stderr:0", "-uri"}, "SetupApp: [BadCmdLineArg] "},
      {{"-Log=SetupApp:stderr:0", "-helper"}, "SetupApp: [BadCmdLineArg] "},
      {{"-HELPER"}, "tlzarnconnectsetup: "},
  };
  for (const Case& c : cases) {
    Result r = runProgram(c.args);
    EXPECT_EQ(1, r.status) << c.args[0];
    EXPECT_TRUE(has(r.err, c.err)) << r.err;
    // The message itself is shown without the tag.
    size_t shown = r.err.rfind("tlzarnconnectsetup");
    ASSERT_NE(std::string::npos, shown) << r.err;
    EXPECT_FALSE(has(r.err.substr(shown), "[BadCmdLineArg]")) << r.err;
    // Only the process that becomes the wizard opens its log file.
    EXPECT_EQ("", r.log);
  }
}

TEST_F(Entry, UsageEndsWithStatusOne)
{
  Result r = runProgram({"-help"});
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(has(r.out, "Tessaly Daziziz Setup 3.0.3 (r200) x64 (")) << r.out;
  EXPECT_TRUE(has(r.out, "(default=$ZARN_PROFILE_DIR)")) << r.out;
}

TEST_F(Entry, SignalsEndTheLoopWithStatusZero)
{
  struct Case {
    int signal;
    std::vector<std::string> args;
    const char* logged;
    const char* header; // in the log file's header
  };
  const Case cases[] = {
      {SIGTERM, {}, "SetupApp: Got signal SIGTERM", "All rights reserved."},
      {SIGINT, {"-Locale=de"}, "SetupApp: Got signal SIGINT", "Alle Rechte vorbehalten."},
      {SIGTERM, {"(none)"}, "SetupApp: Got signal SIGTERM", "All rights reserved."},
  };
  for (const Case& c : cases) {
    Result r = runProgram(c.args, c.signal);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(has(r.log, c.logged)) << r.log;
    EXPECT_TRUE(has(r.log.substr(0, r.log.find("\n<")), c.header)) << r.log;
  }
}

} // namespace
