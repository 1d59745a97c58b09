// Timers against a replaced monotonic clock: ordering, time-outs, the
// periodic re-arm rule, re-entrant callbacks, nesting and clock jumps.
#include "plat/Timer.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "plat/Log.h"
#include "testutil.h"

using plat::Time;
using plat::Timer;
using plat::TimerManager;

namespace {

using tltest::LogCapture;

constexpr Time kMs = plat::kTicksPerMilli;

// The replaced clock: tests move it by hand and may have it report a jump.
Time gNow;
bool gJumpNext;
Time gLastLimit;

Time fakeClock(Time limit, bool* jumped)
{
  gLastLimit = limit;
  if (gJumpNext && jumped) {
    *jumped = true;
    gJumpNext = false;
  }
  return gNow;
}

class TimerTest : public testing::Test {
protected:
  TimerTest() : previous_(plat::setMonoClock(fakeClock))
  {
    gNow = 1000 * plat::kTicksPerSecond;
    gJumpNext = false;
  }
  ~TimerTest() override { plat::setMonoClock(previous_); }

  plat::MonoClockFn previous_;
  TimerManager manager_;
  std::vector<std::string> fired_;
};

// Records its firing in the test's list, then runs an optional action whose
// result is the callback's.
struct Probe : Timer::Callback {
  Probe(std::vector<std::string>* fired, std::string name, std::function<bool(Timer*)> action = {})
      : fired(fired), name(std::move(name)), action(std::move(action))
  {
  }
  bool timerExpired(Timer* t) override
  {
    fired->push_back(name);
    return action ? action(t) : false;
  }
  std::vector<std::string>* fired;
  std::string name;
  std::function<bool(Timer*)> action;
  Timer timer{this};
};

TEST_F(TimerTest, EqualDeadlinesFireInStartOrder)
{
  Probe a(&fired_, "a"), b(&fired_, "b"), c(&fired_, "c"), d(&fired_, "d"), late(&fired_, "late");
  late.timer.start(100); // the insertion walks from either end of the list
  a.timer.start(10);
  b.timer.start(10);
  c.timer.start(10);
  d.timer.start(5);
  gNow += 10 * kMs;
  EXPECT_EQ(manager_.processTimers(), 0);
  EXPECT_EQ(fired_, (std::vector<std::string>{"d", "a", "b", "c"}));
  late.timer.stop();
  EXPECT_EQ(manager_.processTimers(), -1);
}

TEST_F(TimerTest, TimeoutRoundsUpAndProcessReportsIt)
{
  struct Case {
    int startMs; // -1: nothing started
    Time advance;
    int timeout;
    int processed;
    bool fires;
  } cases[] = {
      {-1, 0, -1, -1, false},
      {0, 0, 0, 0, true},               // due at the next pass
      {1, 5000, 1, 1, false},           // 0.5 ms away is 1 ms, not 0
      {10, 0, 10, 10, false},           // not due: the wait is returned
      {10, 10 * kMs - 1, 1, 1, false},  // one tick short
      {1, 20 * kMs, 0, 0, true},        // overdue is 0, never negative
      {INT_MAX, 0, INT_MAX, INT_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.startMs << " ms, +" << c.advance << " ticks");
    fired_.clear();
    Probe p(&fired_, "p");
    if (c.startMs >= 0)
      p.timer.start(c.startMs);
    gNow += c.advance;
    Time when = 0;
    EXPECT_EQ(manager_.getTimeout(&when), c.timeout);
    EXPECT_EQ(when, gNow);
    EXPECT_EQ(manager_.processTimers(), c.processed);
    EXPECT_EQ(fired_.size(), c.fires ? 1u : 0u);
  }
}

TEST_F(TimerTest, PeriodicTimerKeepsRhythmWithoutBursts)
{
  struct Case {
    Time late;
    bool jumpAtRearm;
    Time next; // remaining after the pass
  } cases[] = {
      {0, false, 100 * kMs},
      {30 * kMs, false, 70 * kMs},
      {99 * kMs, false, 1 * kMs},
      {100 * kMs, false, 100 * kMs}, // old deadline + interval is now: not later
      {250 * kMs, false, 100 * kMs},
      {30 * kMs, true, 100 * kMs},   // a jump restarts from now
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "late " << c.late / kMs << " ms");
    LogCapture capture("TimerManager");
    Probe p(&fired_, "p", [&](Timer*) {
      gJumpNext = c.jumpAtRearm;
      return true;
    });
    p.timer.start(100);
    gNow += 100 * kMs + c.late;
    EXPECT_EQ(manager_.processTimers(), 0);
    EXPECT_TRUE(p.timer.isStarted());
    EXPECT_EQ(p.timer.getRemaining(), c.next);
    EXPECT_EQ(manager_.getTimeout(), (int)(c.next / kMs));
  }
}

TEST_F(TimerTest, CallbacksChangingOtherTimersInTheSamePass)
{
  auto* c = new Probe(&fired_, "c");
  Probe b(&fired_, "b");
  Probe a(&fired_, "a", [&](Timer*) {
    b.timer.stop();
    delete c;
    return false;
  });
  Probe d(&fired_, "d");
  a.timer.start(1);
  b.timer.start(1);
  c->timer.start(1);
  d.timer.start(1);
  gNow += kMs;
  manager_.processTimers();
  EXPECT_EQ(fired_, (std::vector<std::string>{"a", "d"}));
  EXPECT_FALSE(b.timer.isStarted());
  EXPECT_EQ(manager_.processTimers(), -1);
}

TEST_F(TimerTest, CallbackRestartingItsTimerIsNotRearmedAgain)
{
  Probe p(&fired_, "p", [](Timer* t) {
    t->start(30);
    return true;
  });
  Probe other(&fired_, "other");
  p.timer.start(100);
  gNow += 100 * kMs;
  manager_.processTimers();
  EXPECT_EQ(p.timer.getRemaining(), 30 * kMs);
  EXPECT_EQ(p.timer.getInterval(), 30);
  // Scheduled once: stopping it leaves nothing behind.
  other.timer.start(500);
  p.timer.stop();
  EXPECT_EQ(manager_.getTimeout(), 500);
}

TEST_F(TimerTest, OwnerMayDestroyItselfInsideTheCallback)
{
  struct SelfDeleting : Timer::Callback {
    bool timerExpired(Timer*) override
    {
      delete this;
      return false;
    }
    Timer timer{this};
  };
  Probe after(&fired_, "after");
  auto* owner = new SelfDeleting;
  owner->timer.start(5);
  after.timer.start(5);
  gNow += 5 * kMs;
  EXPECT_EQ(manager_.processTimers(), 0); // the sanitiser checks nothing touches it
  EXPECT_EQ(fired_, std::vector<std::string>{"after"});
}

TEST_F(TimerTest, CallbackThatThrowsLeavesTheRestDue)
{
  Probe thrower(&fired_, "thrower", [](Timer*) -> bool { throw plat::Exception("boom"); });
  Probe next(&fired_, "next");
  thrower.timer.start(1);
  next.timer.start(1);
  gNow += kMs;
  EXPECT_THROW(manager_.processTimers(), plat::Exception);
  EXPECT_FALSE(thrower.timer.isStarted());
  EXPECT_TRUE(next.timer.isStarted());
  EXPECT_EQ(manager_.getTimeout(), 0);
  EXPECT_EQ(manager_.processTimers(), 0);
  EXPECT_EQ(fired_, (std::vector<std::string>{"thrower", "next"}));
}

TEST_F(TimerTest, NestedManagerGivesThePreviousOneBack)
{
  Probe outer(&fired_, "outer"), inner(&fired_, "inner");
  outer.timer.start(10);
  {
    TimerManager nested(true);
    EXPECT_EQ(TimerManager::current(), &nested);
    inner.timer.start(5);
    gNow += 5 * kMs;
    nested.processTimers();
    inner.timer.start(5);
    EXPECT_EQ(nested.getTimeout(), 5);
  }
  EXPECT_EQ(TimerManager::current(), &manager_);
  EXPECT_FALSE(inner.timer.isStarted());
  inner.timer.start(5);
  gNow += 5 * kMs;
  manager_.processTimers();
  EXPECT_EQ(fired_, (std::vector<std::string>{"inner", "outer", "inner"}));
}

TEST_F(TimerTest, ObserverHearsOfEveryNewEarliestDeadline)
{
  struct Recorder : TimerManager::Observer {
    void timeoutChanged(int ms) override { seen.push_back(ms); }
    std::vector<int> seen;
  } recorder;
  manager_.setObserver(&recorder);
  Probe a(&fired_, "a"), b(&fired_, "b");
  a.timer.start(50);
  b.timer.start(80); // not the head: nothing to tell
  a.timer.stop();
  b.timer.stop();
  b.timer.start(20);
  gNow += 20 * kMs;
  manager_.processTimers();
  EXPECT_EQ(recorder.seen, (std::vector<int>{50, 80, -1, 20, -1}));
  manager_.setObserver(nullptr);
}

TEST_F(TimerTest, ClockJumpRestartsEveryTimer)
{
  struct Case {
    Time step;
    const char* message;
  } cases[] = {
      {3600 * plat::kTicksPerSecond, "Time has jumped forwards - restarting timers"},
      {-3600 * plat::kTicksPerSecond, "Time has moved backwards - restarting timers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LogCapture capture("TimerManager");
    Probe a(&fired_, "a"), b(&fired_, "b");
    b.timer.start(300);
    a.timer.start(100);
    gNow += 50 * kMs;
    manager_.getTimeout();
    // The clock is told the latest reading it may give without a jump.
    EXPECT_EQ(gLastLimit, gNow - 50 * kMs + 100 * kMs + 240 * plat::kTicksPerSecond);
    gNow += c.step;
    gJumpNext = true;
    EXPECT_EQ(manager_.getTimeout(), 100);
    EXPECT_EQ(a.timer.getRemaining(), 100 * kMs);
    EXPECT_EQ(b.timer.getRemaining(), 300 * kMs);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(capture.levels(), (std::vector<int>{30}));
  }
  Probe idle(&fired_, "idle");
  idle.timer.start(1);
  idle.timer.stop();
  manager_.getTimeout();
  EXPECT_EQ(gLastLimit, -1);
}

TEST(TimerDeathTest, MisuseIsFatal)
{
  struct Case {
    const char* expression;
    std::function<void()> misuse;
  } cases[] = {
      {"thrInst",
       [] {
         struct Nop : Timer::Callback {
           bool timerExpired(Timer*) override { return false; }
         } nop;
         Timer t(&nop);
         t.start(1);
       }},
      {"nested \\|\\| !thrInst",
       [] {
         TimerManager first;
         TimerManager second;
       }},
      {"thrInst == this",
       [] {
         auto* outer = new TimerManager;
         TimerManager nested(true);
         delete outer;
       }},
  };
  for (const Case& c : cases)
    EXPECT_DEATH(c.misuse(), std::string("Assertion '") + c.expression + "' failed");
}

} // namespace
