// Wrappers over a descriptor connection on one end of a socket pair.
#include "io/IoWrapper.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "io/FdIo.h"
#include "netTestUtil.h"

namespace {

class Handler : public io::IoHandler {
public:
  void dataAvailable(io::Io* c) override
  {
    dataFrom = c;
    while (c->in()->check(false, 1)) {
      received += (char)c->in()->readU8();
      c->in()->setCheckpoint();
    }
  }
  void writable(io::Io*) override {}
  void closed(io::Io* c) override
  {
    closedCalls++;
    closedFrom = c;
  }
  io::Io* dataFrom = nullptr;
  io::Io* closedFrom = nullptr;
  std::string received;
  int closedCalls = 0;
};

// Knows when it is gone.
class TestWrapper : public io::IoWrapper {
public:
  TestWrapper(io::Io* inner, io::IoHandler* h, bool* gone) : IoWrapper(inner, h), gone(gone) {}
  ~TestWrapper() override { *gone = true; }
  bool* gone;
};

class IoWrapperTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    fdsBefore = nettest::countFds();
    mgr.reset(new io::FdSelectManager);
    pair();
  }
  void pair()
  {
    os::socketPair(sv);
    os::setBlocking(sv[0], false);
  }
  void TearDown() override
  {
    nettest::settle(*mgr);
    mgr.reset();
    close(sv[0]);
    EXPECT_EQ(fdsBefore, nettest::countFds());
  }
  io::FdIo* inner() { return new io::FdIo(sv[1], io::FdIoFlags::kOwnFd); }
  // True once the peer end reads the end of the stream.
  bool peerSeesEnd()
  {
    char c;
    return read(sv[0], &c, 1) == 0;
  }

  int fdsBefore = 0;
  std::unique_ptr<io::FdSelectManager> mgr;
  int sv[2] = {-1, -1};
};

TEST_F(IoWrapperTest, NamedIoAnswersItsTextsAndForwardsTheRest)
{
  io::FdIo* fdIo = inner();
  std::string innerName = fdIo->displayName();
  io::NamedIo* named = new io::NamedIo(fdIo, "target.example::443", "target.example", nullptr,
                                       nullptr);
  EXPECT_STREQ("target.example::443", named->peerEndpoint());
  EXPECT_STREQ("target.example::443", named->resolvedPeerEndpoint());
  EXPECT_STREQ("target.example", named->peerAddress());
  EXPECT_EQ(innerName, named->displayName());
  EXPECT_EQ(fdIo->in(), named->in());
  named->shutdown(io::Shutdown::kDrop);
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return peerSeesEnd(); }));
}

TEST_F(IoWrapperTest, EventsReachTheHandlerAsTheWrapper)
{
  Handler h;
  bool gone = false;
  TestWrapper* w = new TestWrapper(inner(), &h, &gone);
  ASSERT_EQ(3, write(sv[0], "abc", 3));
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return h.received == "abc"; }));
  EXPECT_EQ(w, h.dataFrom);
  w->out()->writeBytes("xy", 2);
  w->shutdown(io::Shutdown::kFlush | io::Shutdown::kTellHandler);
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return gone; }));
  char buf[4];
  EXPECT_EQ(2, read(sv[0], buf, sizeof(buf)));
  EXPECT_EQ(w, h.closedFrom);
}

// A wrapper ends with its inner connection whether or not it has a handler,
// and its handler hears the close only when asked to.
TEST_F(IoWrapperTest, ShutdownEndsWrapperAndInner)
{
  struct Case {
    bool withHandler;
    bool tellHandler;
    int closedCalls;
  } cases[] = {
      {false, true, 0},
      {true, false, 0},
      {true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.withHandler << c.tellHandler);
    if (sv[1] < 0)
      pair();
    Handler h;
    bool gone = false;
    TestWrapper* w = new TestWrapper(inner(), c.withHandler ? &h : nullptr, &gone);
    sv[1] = -1;
    w->shutdown(c.tellHandler ? io::Shutdown::kTellHandler : io::Shutdown::kDrop);
    ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return gone; }));
    EXPECT_EQ(c.closedCalls, h.closedCalls);
    EXPECT_TRUE(peerSeesEnd());
    close(sv[0]);
    sv[0] = -1;
  }
}

} // namespace
