// The program as a real process, run as an ordinary user (the test user
// when the tests run as root) with HOME in a temporary directory: the mode
// switch, command-line errors and usage, the error handler's log line and
// message, and SIGTERM/SIGINT ending the running program with status 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "ProgramRun.h"

namespace {

using tltest::has;
using tltest::runProgram;
using Result = tltest::ProgramRun::Result;

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
      {{"-uri", "x://y"},
       "tlzarnconnectsetup: Error contacting Tessaly Daziziz Setup\n\nDetails: Unsupported URI "
       "scheme x\n"},
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
    tltest::ProgramRun run(c.args, {tltest::wizardDisplay()});
    ASSERT_TRUE(run.waitShown());
    Result r = run.finish(c.signal);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(has(r.log, c.logged)) << r.log;
    EXPECT_TRUE(has(r.log, "CloudConfig: Using business identifier ")) << r.log;
    EXPECT_TRUE(has(r.log.substr(0, r.log.find("\n<")), c.header)) << r.log;
  }
}

} // namespace
