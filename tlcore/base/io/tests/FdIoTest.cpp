// Descriptor connections against a forked peer over a socket pair.
#include "io/FdIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "io/FdSelectManager.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"
#include "testutil.h"

namespace {

tltest::CaptureDest capture("fdiocap");

using tltest::countFds;

// Knows when it is gone, which is the only way to see a connection end.
class TestIo : public io::FdIo {
public:
  TestIo(int fd, bool* gone, io::FdIoFlags flags = io::FdIoFlags::kOwnFd)
      : FdIo(fd, flags), gone(gone)
  {
  }
  ~TestIo() override { *gone = true; }
  bool* gone;
};

class Handler : public io::IoHandler {
public:
  void dataAvailable(io::Io* io) override
  {
    if (onData) {
      onData(io);
      return;
    }
    // Reads until it blocks; the end of the stream throws out of here.
    while (io->in()->check(false, 1)) {
      const char* p = (const char*)io->in()->getPtr();
      received.append(p, io->in()->consume(io->in()->nUnread()));
      io->in()->setCheckpoint();
    }
  }
  void writable(io::Io*) override {}
  void closed(io::Io* io) override
  {
    closedCalls++;
    bufferedAtClose = io->out()->bytesBuffered();
  }
  std::function<void(io::Io*)> onData;
  std::string received;
  int closedCalls = 0;
  int bufferedAtClose = -1;
};

class Guard : public plat::Timer::Callback {
public:
  bool timerExpired(plat::Timer*) override
  {
    fired = true;
    return false;
  }
  bool fired = false;
};

constexpr int kBulk = 2 * 1024 * 1024;

class FdIoTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::setLogOverride("FdIo:fdiocap:100");
    capture.lines.clear();
    gone = false;
    guard.fired = false;
    fdsBefore = countFds();
    mgr = new io::FdSelectManager;
    guardTimer = new plat::Timer(&guard);
    guardTimer->start(20000);
    os::socketPair(sv);
  }
  void TearDown() override
  {
    if (childPid > 0) {
      kill(childPid, SIGKILL);
      waitpid(childPid, nullptr, 0);
    }
    for (int* fd : {&sv[0], &sv[1], &report[0]}) {
      if (*fd >= 0)
        close(*fd);
      *fd = -1;
    }
    delete guardTimer;
    delete mgr;
    plat::setLogOverride(nullptr);
    io::LazyFlushTimeout.resetValues(false);
    EXPECT_EQ(fdsBefore, countFds());
  }

  // The peer runs body on its end of the pair and may report a number.
  void fork(std::function<uint64_t(int fd)> body)
  {
    ASSERT_EQ(0, pipe(report));
    childPid = ::fork();
    ASSERT_GE(childPid, 0);
    if (childPid == 0) {
      // Gone with the test, even when it dies.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(sv[1]);
      close(report[0]);
      uint64_t n = body(sv[0]);
      ssize_t r = write(report[1], &n, sizeof(n));
      _exit(r == sizeof(n) ? 0 : 1);
    }
    close(sv[0]);
    sv[0] = -1;
    close(report[1]);
    report[1] = -1;
  }
  uint64_t childReport()
  {
    uint64_t n = 0;
    EXPECT_EQ((ssize_t)sizeof(n), read(report[0], &n, sizeof(n)));
    waitpid(childPid, nullptr, 0);
    childPid = -1;
    return n;
  }
  TestIo* connection(Handler* h)
  {
    TestIo* io = new TestIo(sv[1], &gone);
    sv[1] = -1;
    if (h)
      io->setHandler(h, true);
    return io;
  }
  void runUntil(const std::function<bool()>& done)
  {
    while (!done() && !guard.fired)
      mgr->processOnce(-1);
    EXPECT_FALSE(guard.fired) << "the loop stalled";
  }
  static void writeBulk(io::Io* io)
  {
    std::vector<char> data(kBulk, 'z');
    io->out()->writeBytes(data.data(), kBulk);
  }

  int fdsBefore = 0;
  io::FdSelectManager* mgr = nullptr;
  Guard guard;
  plat::Timer* guardTimer = nullptr;
  int sv[2] = {-1, -1};
  int report[2] = {-1, -1};
  pid_t childPid = -1;
  bool gone = false;
};

// Reads everything until the end of the stream, slowly.
uint64_t slowReader(int fd)
{
  char buf[16384];
  uint64_t total = 0;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0)
      return total;
    total += n;
    usleep(500);
  }
}

// Never reads; waits for the test to end it.
uint64_t stalledReader(int)
{
  pause();
  return 0;
}

// The flags decide whether the descriptor turns non-blocking and whether it
// is closed with the connection.
TEST_F(FdIoTest, FlagsSetBlockingAndOwnership)
{
  using F = io::FdIoFlags;
  struct Case {
    F flags;
    bool nonBlocking;
    bool closed;
  };
  for (Case c : {Case{F::kOwnFd, true, true}, Case{F::kNone, true, false},
                 Case{F::kBlocking, false, false}, Case{F::kOwnFd | F::kBlocking, false, true}}) {
    SCOPED_TRACE((unsigned)c.flags);
    os::setBlocking(sv[1], true);
    int fd = dup(sv[1]);
    gone = false;
    TestIo* io = new TestIo(fd, &gone, c.flags);
    EXPECT_EQ(c.nonBlocking, (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0);
    io->shutdown(io::Shutdown::kDrop);
    runUntil([&] { return gone; });
    EXPECT_EQ(c.closed, fcntl(fd, F_GETFD) == -1);
    if (!c.closed)
      close(fd);
  }
}

// Every buffered byte reaches a slow reader: through a flushing shutdown
// (closed only after the last byte), and after a detach, which writes out
// without waiting on the peer and leaves the rest to the loop even through
// a shutdown without flush.
TEST_F(FdIoTest, BufferedBytesReachASlowReader)
{
  for (bool detach : {false, true}) {
    SCOPED_TRACE(detach ? "detached, then shutdown without flush" : "flushing shutdown");
    TearDown();
    SetUp();
    fork(slowReader);
    Handler h;
    TestIo* io = connection(&h);
    writeBulk(io);
    ASSERT_GT(io->out()->bytesBuffered(), 0);
    if (detach) {
      io->setHandler(nullptr);
      io->shutdown(io::Shutdown::kDrop);
    } else {
      io->shutdown(io::Shutdown::kFlush | io::Shutdown::kTellHandler);
    }
    EXPECT_FALSE(gone);
    runUntil([&] { return gone; });
    EXPECT_EQ(detach ? 0 : 1, h.closedCalls);
    EXPECT_EQ(detach ? -1 : 0, h.bufferedAtClose);
    EXPECT_EQ((uint64_t)kBulk, childReport());
  }
}

TEST_F(FdIoTest, PeerThatExitsGivesReadErrorThenClosed)
{
  fork([](int fd) {
    ssize_t r = write(fd, "bye", 3);
    return (uint64_t)r;
  });
  Handler h;
  connection(&h);
  runUntil([&] { return gone; });
  EXPECT_EQ("bye", h.received);
  EXPECT_EQ(1, h.closedCalls);
  EXPECT_TRUE(capture.saw("Read error: End of IO stream"));
}

// A peer that takes nothing: however the connection is being ended, it ends
// after LazyFlushTimeout without blocking the loop, and a forgotten handler
// hears nothing (no fatal "handler" assertion either).
TEST_F(FdIoTest, StalledPeerEndsAfterLazyFlushTimeout)
{
  enum Way { kOpenReading, kFlushTellHandler, kFlushForgetHandler, kDetachThenFlush };
  struct Case {
    const char* name;
    Way way;
    int closedCalls;
  };
  const Case cases[] = {
      {"open, reading", kOpenReading, 1},
      {"flushing shutdown, handler told", kFlushTellHandler, 1},
      {"flushing shutdown, handler forgotten", kFlushForgetHandler, 0},
      {"detached, then flushing shutdown", kDetachThenFlush, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    io::LazyFlushTimeout.setParam(1, 100);
    fork(stalledReader);
    Handler h;
    TestIo* io = connection(&h);
    // A blocking flush would wait this long.
    io->setTimeout(60000);
    writeBulk(io);
    plat::Time start = plat::getMonoTime();
    switch (c.way) {
    case kOpenReading:
      break;
    case kFlushTellHandler:
      io->shutdown(io::Shutdown::kFlush | io::Shutdown::kTellHandler);
      break;
    case kFlushForgetHandler:
      io->shutdown(io::Shutdown::kFlush);
      break;
    case kDetachThenFlush:
      io->setHandler(nullptr);
      EXPECT_LT(plat::getMonoTime() - start, 10 * plat::kTicksPerSecond);
      io->shutdown(io::Shutdown::kFlush);
      break;
    }
    runUntil([&] { return gone; });
    int64_t ms = (plat::getMonoTime() - start) / plat::kTicksPerMilli;
    EXPECT_GE(ms, 900);
    EXPECT_LT(ms, 15000);
    EXPECT_EQ(c.closedCalls, h.closedCalls);
    EXPECT_TRUE(capture.saw("flush timer"));
    EXPECT_EQ(c.way == kOpenReading, capture.saw("Read error: Timed out"));
  }
}

// Ending a connection from inside its own dataAvailable never deletes it
// under the call (ASan would report the use after free).
TEST_F(FdIoTest, ShutdownFromInsideDataAvailableDeletesOnALaterPass)
{
  struct Case {
    const char* name;
    bool detachFirst;
    bool tellHandler;
  };
  const Case cases[] = {
      {"detach, then shutdown", true, false},
      {"shutdown, handler told", false, true},
      {"shutdown, handler forgotten", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    fork([](int fd) {
      ssize_t r = write(fd, "hello", 5);
      pause();
      return (uint64_t)r;
    });
    Handler h;
    bool goneInCallback = true;
    h.onData = [&](io::Io* io) {
      if (c.detachFirst)
        io->setHandler(nullptr);
      io->shutdown(c.tellHandler ? io::Shutdown::kTellHandler : io::Shutdown::kDrop);
      goneInCallback = gone;
    };
    connection(&h);
    runUntil([&] { return gone; });
    EXPECT_FALSE(goneInCallback);
    EXPECT_EQ(c.tellHandler ? 1 : 0, h.closedCalls);
  }
}

} // namespace
