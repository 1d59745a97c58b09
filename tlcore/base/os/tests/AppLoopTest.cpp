// The application loop: exit before and during run, a stopped loop, the
// one-loop rule, and the start-up log replayed when run starts.
#include <gtest/gtest.h>

#include <string>

#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "plat/Log.h"
#include "plat/Timer.h"
#include "testutil.h"

namespace {

// Calls exit with each status from inside one timer callback.
class ExitTimer : public plat::Timer::Callback {
public:
  explicit ExitTimer(std::vector<int> statuses) : statuses_(std::move(statuses)), timer_(this)
  {
    timer_.start(1);
  }
  bool timerExpired(plat::Timer*) override
  {
    for (int s : statuses_)
      os::AppLoop::exit(s);
    return false;
  }

private:
  std::vector<int> statuses_;
  plat::Timer timer_;
};

TEST(AppLoop, ExitStatuses)
{
  {
    os::AppLoop loop;
    os::AppLoop::exit(3);
    EXPECT_EQ(3, loop.run()); // returns without waiting
    // Stopped for good: a second run returns the stored status at once.
    EXPECT_EQ(3, loop.run());
  }
  {
    os::AppLoop loop;
    ExitTimer timer({1, 2});
    EXPECT_EQ(2, loop.run());
  }
  EXPECT_EQ(nullptr, os::AppLoop::instance());
}

TEST(AppLoopDeathTest, OneLoopAtATime)
{
  EXPECT_DEATH(os::AppLoop::exit(0), "Assertion 'inst' failed");
  EXPECT_DEATH(
      {
        os::AppLoop a;
        os::AppLoop b;
      },
      "Assertion '!inst' failed");
}

// Takes messages only once enabled, as the log file once it is opened.
class LateDest : public plat::LogDest {
public:
  LateDest() : LogDest("apploopdest") {}
  void write(int, const char*, const char* text) override { lines.push_back(text); }
  bool enabled() override { return on; }
  bool on = false;
  std::vector<std::string> lines;
};
LateDest lateDest;
plat::LogSrc testLog("AppLoopTest");

TEST(AppLoop, StartupLogReplayedWhenRunStarts)
{
  int rc = tltest::inChild([] {
    plat::resetMemLogForTests();
    plat::setLogOverride("*:apploopdest:100");
    testLog.status("before run");
    lateDest.on = true;
    os::AppLoop loop;
    os::AppLoop::exit(0);
    if (!lateDest.lines.empty())
      return 1;
    loop.run();
    for (const std::string& l : lateDest.lines)
      if (l == "before run")
        return 0;
    return 2;
  });
  EXPECT_EQ(0, rc);
}

} // namespace
