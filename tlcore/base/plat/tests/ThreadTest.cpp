// Threads, their log lines and failure paths, and the condition's limits.
#include "plat/Thread.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/Time.h"
#include "testutil.h"

using plat::Thread;

namespace {

using tltest::LogCapture;

// A runner that blocks until released, so tests control when it ends.
struct Gate : plat::ThreadRunner {
  void run(Thread*) override
  {
    runs++;
    plat::MutexLock lock(mutex);
    while (!open)
      cond.wait();
    finished = true;
  }
  void release()
  {
    plat::MutexLock lock(mutex);
    open = true;
    cond.broadcast();
  }
  std::atomic<int> runs{0};
  std::atomic<bool> finished{false};
  bool open = false;
  plat::Mutex mutex;
  plat::Condition cond{mutex};
};

std::string eventLine(const char* event, const char* name, pthread_t handle,
                      const char* detail = nullptr)
{
  char line[256];
  snprintf(line, sizeof line, "%-9s %s %lx%s%s", event, name, (unsigned long)handle,
           detail ? ": " : "", detail ? detail : "");
  return line;
}

// The main thread's and the new thread's lines interleave freely.
std::vector<std::string> sorted(std::vector<std::string> v)
{
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ThreadTest, SecondStartMakesNoSecondThread)
{
  LogCapture capture("Threading");
  Gate gate;
  pthread_t handle;
  {
    Thread t("Twice", &gate);
    t.start();
    handle = t.getHandle();
    t.start();
    EXPECT_EQ(t.getState(), Thread::kStarted);
    EXPECT_EQ(t.getHandle(), handle);
    gate.release();
    t.join();
    EXPECT_EQ(t.getState(), Thread::kJoined);
    t.join(); // already joined: nothing
  }
  EXPECT_EQ(gate.runs, 1);
  EXPECT_EQ(sorted(capture.lines()),
            sorted({eventLine("created", "Twice", 0), eventLine("started", "Twice", handle),
                    eventLine("stopped", "Twice", handle), eventLine("join", "Twice", handle),
                    eventLine("joined", "Twice", handle), eventLine("destroy", "Twice", handle),
                    eventLine("destroyed", "Twice", handle)}));
}

TEST(ThreadTest, RunnerExceptionIsLoggedAsFailed)
{
  struct Thrower : plat::ThreadRunner {
    void run(Thread*) override { throw plat::Exception("no address for host"); }
  } thrower;
  LogCapture capture("Threading");
  Thread t("Resolver", &thrower);
  t.start();
  t.join();
  std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(sorted(lines), sorted({eventLine("created", "Resolver", 0),
                                   eventLine("started", "Resolver", t.getHandle()),
                                   eventLine("failed", "Resolver", t.getHandle(),
                                             "no address for host"),
                                   eventLine("join", "Resolver", t.getHandle()),
                                   eventLine("joined", "Resolver", t.getHandle())}));
  EXPECT_EQ(capture.levels(), std::vector<int>(lines.size(), 100));
}

TEST(ThreadTest, DestructorWaitsForTheRunner)
{
  Gate gate;
  auto* t = new Thread("Waited", &gate);
  t->start();
  std::thread releaser([&] {
    plat::sleepMs(50);
    gate.release();
  });
  delete t;
  EXPECT_TRUE(gate.finished);
  releaser.join();
}

TEST(ThreadTest, CurrentThreadObjects)
{
  Thread* main = Thread::current();
  EXPECT_STREQ(main->getName(), "Native");
  EXPECT_EQ(main->getState(), Thread::kNative);
  EXPECT_TRUE(pthread_equal(main->getHandle(), pthread_self()));
  EXPECT_EQ(Thread::current(), main);
  main->join(); // returns at once: it is this very thread
  EXPECT_EQ(main->getState(), Thread::kNative);

  struct Asker : plat::ThreadRunner {
    void run(Thread*) override { seen = Thread::current(); }
    Thread* seen = nullptr;
  } asker;
  Thread t("Asker", &asker);
  t.start();
  t.join();
  EXPECT_EQ(asker.seen, &t);

  // A foreign thread gets its own native object, freed when it ends (the
  // leak checker would see it otherwise).
  std::string foreignName;
  std::thread foreign([&] { foreignName = Thread::current()->getName(); });
  foreign.join();
  EXPECT_EQ(foreignName, "Native");
}

// Run in a forked child: a user limited to no new processes cannot get a
// thread (root is exempt from the limit, so the child drops to nobody).
void startWithoutThreadsLeft()
{
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
    _exit(3);
  struct rlimit none = {0, 0};
  if (setrlimit(RLIMIT_NPROC, &none) != 0)
    _exit(4);
  Gate gate;
  gate.release();
  {
    Thread t("Doomed", &gate);
    try {
      t.start();
      fprintf(stderr, "started\n");
      _exit(1);
    } catch (plat::SystemException& e) {
      fprintf(stderr, "%s\n", e.str());
      if (e.getErr() != EAGAIN || t.getState() != Thread::kCreated || t.getHandle() != 0)
        _exit(2);
    }
  } // the destructor must not wait for a thread that never existed
  _exit(gate.runs == 0 ? 0 : 5);
}

TEST(ThreadDeathTest, CreationFailureThrows)
{
  EXPECT_EXIT(startWithoutThreadsLeft(), testing::ExitedWithCode(0), "^pthread_create: ");
}

TEST(ThreadDeathTest, MutexIsRecursiveAndConditionWaitsOnlyWithoutTimeout)
{
  plat::Mutex m;
  {
    plat::MutexLock outer(m);
    plat::MutexLock inner(m);
  }
  plat::Condition c(m);
  EXPECT_DEATH(
      {
        plat::MutexLock lock(m);
        c.wait(5);
      },
      "Assertion 'timeoutMs == -1' failed at .*: Condition timed wait not implemented yet");
}

} // namespace
