#include "plat/Select.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/Time.h"

namespace {

struct Pipe {
  Pipe() { EXPECT_EQ(0, pipe2(fd, O_CLOEXEC)); }
  ~Pipe()
  {
    close(fd[0]);
    close(fd[1]);
  }
  int fd[2];
};

TEST(SelectTest, TimeOutAndReadiness)
{
  Pipe p;
  fd_set r;
  struct Case {
    bool ready;
    int timeout;
    bool update;
    int result;
    int remaining;
  };
  for (const Case& c : std::vector<Case>{
           {false, 0, true, 0, 0},      // a poll
           {false, 30, true, 0, 0},     // the whole time-out has passed
           {false, 30, false, 0, 30},   // not asked to update
           {true, 5000, true, 1, 5000}, // only a time-out or a signal updates
           {true, -1, true, 1, -1},
       }) {
    if (c.ready) {
      ASSERT_EQ(1, write(p.fd[1], "x", 1));
    }
    FD_ZERO(&r);
    FD_SET(p.fd[0], &r);
    int t = c.timeout;
    EXPECT_EQ(c.result, plat::selectWithTimeout(p.fd[0] + 1, &r, nullptr, nullptr, &t, c.update));
    EXPECT_EQ(c.remaining, t) << c.timeout;
    EXPECT_EQ(c.ready, FD_ISSET(p.fd[0], &r) != 0);
    char b;
    if (c.ready) {
      ASSERT_EQ(1, read(p.fd[0], &b, 1));
    }
  }

  int closed = dup(p.fd[0]);
  close(closed);
  FD_ZERO(&r);
  FD_SET(closed, &r);
  int t = 0;
  try {
    plat::selectWithTimeout(closed + 1, &r, nullptr, nullptr, &t, false);
    ADD_FAILURE();
  } catch (plat::SystemException& e) {
    EXPECT_EQ(EBADF, e.getErr());
    EXPECT_EQ(0, strncmp(e.str(), "select: ", 8)) << e.str();
  }
}

// 300.5 ms pass between the first and every later reading.
std::atomic<int> clockReads{0};
plat::Time fakeClock(plat::Time, bool*)
{
  return 1000000000 + (clockReads++ ? 3005000 : 0);
}

void onSignal(int)
{
}

TEST(SelectTest, SignalClearsSetsAndReportsRemaining)
{
  struct sigaction sa = {}, old;
  sa.sa_handler = onSignal; // no SA_RESTART: select must see EINTR
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(0, sigaction(SIGUSR1, &sa, &old));

  Pipe idle, full;
  fcntl(full.fd[1], F_SETFL, O_NONBLOCK);
  char block[4096] = {};
  while (write(full.fd[1], block, sizeof(block)) > 0) {
  }

  // Signals keep coming until select has seen one, however late it starts.
  std::atomic<bool> done{false};
  pthread_t self = pthread_self();
  std::thread kicker([&] {
    while (!done) {
      pthread_kill(self, SIGUSR1);
      usleep(10000);
    }
  });

  plat::MonoClockFn oldClock = plat::setMonoClock(fakeClock);
  for (int timeout : {60000, -1}) {
    clockReads = 0;
    fd_set r, w, e;
    FD_ZERO(&r);
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(idle.fd[0], &r);
    FD_SET(full.fd[1], &w);
    FD_SET(idle.fd[0], &e);
    int t = timeout;
    int nfds = std::max(idle.fd[0], full.fd[1]) + 1;
    EXPECT_EQ(-1, plat::selectWithTimeout(nfds, &r, &w, &e, &t, true));
    EXPECT_FALSE(FD_ISSET(idle.fd[0], &r));
    EXPECT_FALSE(FD_ISSET(full.fd[1], &w));
    EXPECT_FALSE(FD_ISSET(idle.fd[0], &e));
    // 59699.5 ms left, rounded up; no limit stays no limit.
    EXPECT_EQ(timeout < 0 ? -1 : 59700, t);
  }
  plat::setMonoClock(oldClock);
  done = true;
  kicker.join();
  sigaction(SIGUSR1, &old, nullptr);
}

} // namespace
