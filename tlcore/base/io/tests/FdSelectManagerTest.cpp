// The select loop: pass order, next-pass work, wake-ups and teardown.
#include "io/FdSelectManager.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "io/FdKicker.h"
#include "os/socket.h"
#include "plat/Time.h"
#include "rdr/InStream.h"
#include "testutil.h"

namespace {

std::vector<std::string> events;

// Exposes the extra list, which only managers other than select fill.
class TestManager : public io::FdSelectManager {
public:
  void queueExtra(io::FdHandler* h)
  {
    insertSorted(pendingExtra_, h);
    wake();
  }
};

class Recorder : public io::FdHandler {
public:
  Recorder(const char* name, int fd = -1) : FdHandler(fd, false), name(name) {}
  void readable() override
  {
    events.push_back(name + ".read");
    if (onRead)
      onRead();
  }
  void writable() override { events.push_back(name + ".write"); }
  void extraEvent() override { events.push_back(name + ".extra"); }
  void managerDestroyed() override { events.push_back(name + ".destroyed"); }
  std::string name;
  std::function<void()> onRead;
};

class Tick : public plat::Timer::Callback {
public:
  explicit Tick(std::function<void()> fn) : fn(std::move(fn)) {}
  bool timerExpired(plat::Timer*) override
  {
    fn();
    return false;
  }
  std::function<void()> fn;
};

int64_t elapsedMs(plat::Time start)
{
  return (plat::getMonoTime() - start) / plat::kTicksPerMilli;
}

using tltest::countFds;

class FdSelectManagerTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    events.clear();
    fdsBefore = countFds();
  }
  void TearDown() override { EXPECT_EQ(fdsBefore, countFds()); }
  int fdsBefore = 0;
};

TEST_F(FdSelectManagerTest, OnePassRunsTimersDeferredExtraReadWriteInOrder)
{
  TestManager mgr;
  int sv[2];
  os::socketPair(sv);
  ASSERT_EQ(1, write(sv[1], "x", 1));
  Recorder h("h", sv[0]);
  mgr.setRegistered(&h, true);
  mgr.setEvents(&h, io::FdEvents::kRead | io::FdEvents::kWrite);

  io::DeferredCall deferred([] { events.push_back("deferred"); });
  Tick tick([&] {
    events.push_back("timer");
    mgr.queueExtra(&h);
  });
  plat::Timer timer(&tick);
  timer.start(0);
  deferred.post();

  // Readable and writable from select, a timer and a deferred call: one
  // pass, in the loop's order.
  EXPECT_TRUE(mgr.processOnce(-1));
  EXPECT_EQ((std::vector<std::string>{"timer", "deferred", "h.extra", "h.read", "h.write"}),
            events);

  // A readable() that drops write interest keeps writable() from running.
  events.clear();
  h.onRead = [&] { mgr.setEvents(&h, io::FdEvents::kRead); };
  EXPECT_TRUE(mgr.processOnce(-1));
  EXPECT_EQ((std::vector<std::string>{"h.read"}), events);

  mgr.setRegistered(&h, false);
  close(sv[0]);
  close(sv[1]);
}

TEST_F(FdSelectManagerTest, WorkQueuedFromACallbackRunsNextPassWithoutBlocking)
{
  io::FdSelectManager mgr;
  Recorder a("a"), b("b");
  mgr.setRegistered(&a, true);
  mgr.setRegistered(&b, true);
  struct Dead {
    ~Dead() { events.push_back("deleted"); }
  };
  a.onRead = [&] {
    mgr.queueReadable(&b);
    mgr.deleteLater(new Dead);
  };
  // The guard fires only if a pass blocks where it should not.
  Tick guard([] { events.push_back("guard"); });
  plat::Timer guardTimer(&guard);
  guardTimer.start(20000);

  mgr.queueReadable(&a);
  mgr.processOnce(-1);
  EXPECT_EQ((std::vector<std::string>{"a.read"}), events);
  mgr.processOnce(-1);
  EXPECT_EQ((std::vector<std::string>{"a.read", "deleted", "b.read"}), events);
  mgr.setRegistered(&a, false);
  mgr.setRegistered(&b, false);
}

TEST_F(FdSelectManagerTest, TimerBoundsTheWait)
{
  io::FdSelectManager mgr;
  EXPECT_FALSE(mgr.processOnce(0));

  Tick tick([] { events.push_back("timer"); });
  plat::Timer timer(&tick);
  timer.start(50);
  plat::Time start = plat::getMonoTime();
  EXPECT_TRUE(mgr.processOnce(-1));
  EXPECT_GE(elapsedMs(start), 50);
  EXPECT_EQ((std::vector<std::string>{"timer"}), events);

  // A descriptor outside the select set is only ever called when queued.
  Recorder high("high", 1024);
  mgr.setRegistered(&high, true);
  mgr.setEvents(&high, io::FdEvents::kRead);
  EXPECT_FALSE(mgr.processOnce(0));
  mgr.queueReadable(&high);
  mgr.processOnce(0);
  EXPECT_EQ("high.read", events.back());
  mgr.setRegistered(&high, false);
}

io::FdKicker* signalKicker;

void onSignal(int)
{
  signalKicker->kick('s');
}

class KickCounter : public io::FdKickerCallback {
public:
  void kicked(io::FdKicker*, rdr::InStream* in) override
  {
    while (in->check(false, 1)) {
      const char* p = (const char*)in->getPtr();
      bytes.append(p, in->consume(in->nUnread()));
      in->setCheckpoint();
    }
  }
  std::string bytes;
};

TEST_F(FdSelectManagerTest, KickFromAThreadOrASignalWakesABlockedPass)
{
  struct sigaction sa = {}, old;
  sa.sa_handler = onSignal; // no SA_RESTART, as the system installs them
  sigaction(SIGUSR1, &sa, &old);
  pthread_t loopThread = pthread_self();

  for (bool viaSignal : {false, true}) {
    SCOPED_TRACE(viaSignal ? "signal" : "thread");
    io::FdSelectManager mgr;
    KickCounter counter;
    io::FdKicker kicker(&counter);
    signalKicker = &kicker;
    bool guardFired = false;
    Tick guard([&] { guardFired = true; });
    plat::Timer guardTimer(&guard);
    guardTimer.start(20000);

    std::thread other([&] {
      usleep(50000);
      if (viaSignal)
        pthread_kill(loopThread, SIGUSR1);
      else
        kicker.kick('t');
    });
    while (counter.bytes.empty() && !guardFired)
      mgr.processOnce(-1);
    other.join();
    EXPECT_FALSE(guardFired);
    EXPECT_EQ(viaSignal ? "s" : "t", counter.bytes);
    EXPECT_FALSE(kicker.hasPendingBytes());
  }
  sigaction(SIGUSR1, &old, nullptr);
}

TEST_F(FdSelectManagerTest, DestructionRunsDeletesThenTellsHandlersHighestFirst)
{
  io::FdSelectManager outer;
  Recorder handlers[3] = {Recorder("0"), Recorder("1"), Recorder("2")};
  struct Dead {
    ~Dead() { events.push_back("deleted"); }
  };
  bool ran = false;
  io::DeferredCall neverRuns([&] { ran = true; });
  {
    io::FdSelectManager inner(true);
    EXPECT_EQ(&inner, io::FdManager::current());
    for (Recorder& h : handlers)
      inner.setRegistered(&h, true);
    inner.deleteLater(new Dead);
    neverRuns.post();
  }
  EXPECT_EQ(&outer, io::FdManager::current());
  EXPECT_EQ((std::vector<std::string>{"deleted", "2.destroyed", "1.destroyed", "0.destroyed"}),
            events);
  EXPECT_FALSE(neverRuns.isPending());
  outer.processOnce(0);
  EXPECT_FALSE(ran);
}

} // namespace
