// IPC logging between a logging process (a forked child) and the receiving
// side in this process, over a socket pair.
#include "io/LogDestIpc.h"

#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"
#include "testutil.h"

namespace {

// Records "level source: text".
tltest::CaptureDest capture("ipccap", tltest::CaptureDest::kLevelSourceText);

plat::LogSrcViaIpc admin("Admin");

class Closed : public io::MsgIpc::Callback {
public:
  void closed(io::MsgIpc*) override { gone = true; }
  bool gone = false;
};

// Runs the loop until done() (or about 20 seconds).
bool runUntil(io::FdSelectManager& mgr, const std::function<bool()>& done)
{
  for (int i = 0; i < 400 && !done(); i++)
    mgr.processOnce(50);
  return done();
}

class LogDestIpcTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    capture.lines.clear();
    os::socketPair(sv);
  }
  void TearDown() override
  {
    if (childPid > 0) {
      kill(childPid, SIGKILL);
      waitpid(childPid, nullptr, 0);
    }
    plat::setLogOverride(nullptr);
  }

  // A forked peer running body on its end of the pair; body's result is
  // the exit status.
  void startChild(const std::function<int(int fd)>& body)
  {
    childPid = tltest::spawn([&] {
      close(sv[1]);
      return body(sv[0]);
    });
    ASSERT_GE(childPid, 0);
    close(sv[0]);
  }

  // The logging process: its own loop and a channel to this process.
  void startLogger(const std::function<int(io::FdSelectManager&, io::MsgIpc&)>& body)
  {
    startChild([&](int fd) {
      io::FdSelectManager mgr;
      Closed events;
      io::MsgIpc channel(&events, "Logger");
      channel.ioAccept(io::IoPtr(new io::FdIo(fd, io::FdIoFlags::kOwnFd)));
      plat::LogDestIpc::get()->setIpc(&channel);
      int status = body(mgr, channel);
      // Stay until the receiver has seen everything and hangs up.
      runUntil(mgr, [&] { return events.gone; });
      return status;
    });
  }

  // Runs the loop (which carries out the hang-up) until the logger exits.
  int loggerStatus(io::FdSelectManager& mgr)
  {
    int status = 0;
    runUntil(mgr, [&] { return waitpid(childPid, &status, WNOHANG) == childPid; });
    childPid = -1;
    return tltest::exitCode(status);
  }

  int sv[2] = {-1, -1};
  pid_t childPid = -1;
};

} // namespace

TEST_F(LogDestIpcTest, MessagesReachTheReceiverAtTheLevelItAsks)
{
  const std::string longSource(300, 'S'), longText(1500, 't');
  startLogger([&](io::FdSelectManager& mgr, io::MsgIpc&) {
    plat::LogDestIpc* dest = plat::LogDestIpc::get();
    plat::LogSrc child("Child");
    plat::setLogOverride("Child:ipc:200");
    // Before the receiver asks: queued, at most 1000 and the marker.
    for (int i = 0; i < 1500; i++)
      child.log(i % 3 == 0 ? 0 : i % 3 == 1 ? 30 : 100, "q%d", i);
    if (!runUntil(mgr, [&] { return dest->isPeerLevelKnown(); }))
      return 1;
    dest->write(0, longSource.c_str(), longText.c_str());
    child.status("s1");
    child.info("hidden");
    child.error("phase 1 done");
    // The receiver follows its own level from now on, then lowers it.
    if (!runUntil(mgr, [&] { return dest->getLevel() == 100; }))
      return 2;
    child.error("level %d", dest->getLevel());
    child.info("i2");
    child.debug("hidden too");
    child.error("done");
    return 0;
  });

  io::FdSelectManager mgr;
  plat::setLogOverride("Admin:ipccap:110");
  Closed events;
  io::MsgIpc channel(&events, "Receiver");
  channel.ioAccept(io::IoPtr(new io::FdIo(sv[1], io::FdIoFlags::kOwnFd)));
  admin.setIpc(&channel, true, 30);
  ASSERT_TRUE(runUntil(mgr, [&] { return capture.saw("0 Admin: Child: phase 1 done"); }));
  admin.setIpc(&channel, true, -1);
  plat::setLogOverride("Admin:ipccap:100");
  ASSERT_TRUE(runUntil(mgr, [&] { return capture.saw("0 Admin: Child: done"); }));
  channel.close(false);

  std::vector<std::string> expected;
  for (int i = 0; i < 1000; i++)
    if (i % 3 != 2)
      expected.push_back(std::to_string(i % 3 == 0 ? 0 : 30) + " Admin: Child: q" +
                         std::to_string(i));
  expected.push_back("0 Admin: LogDestIpc: Too many messages, discarding further ones");
  expected.push_back("0 Admin: " + longSource.substr(0, 255) + ": " + longText.substr(0, 1024));
  expected.push_back("30 Admin: Child: s1");
  expected.push_back("0 Admin: Child: phase 1 done");
  expected.push_back("0 Admin: Child: level 100");
  expected.push_back("100 Admin: Child: i2");
  expected.push_back("0 Admin: Child: done");
  EXPECT_EQ(expected, capture.lines);
  EXPECT_EQ(0, loggerStatus(mgr));
}

TEST_F(LogDestIpcTest, FatalAssertionSendsWhatIsQueued)
{
  startLogger([&](io::FdSelectManager& mgr, io::MsgIpc&) {
    plat::LogSrc child("Child");
    plat::setLogOverride("Child:ipc:200,Assertion:ipc:0");
    if (!runUntil(mgr, [&] { return plat::LogDestIpc::get()->isPeerLevelKnown(); }))
      return 1;
    // Queued and kicked, but the loop never runs again.
    child.error("last words");
    volatile bool never = false;
    PLAT_ASSERT(never);
    return 2;
  });
  io::FdSelectManager mgr;
  plat::setLogOverride("Admin:ipccap:110");
  Closed events;
  io::MsgIpc channel(&events, "Receiver");
  channel.ioAccept(io::IoPtr(new io::FdIo(sv[1], io::FdIoFlags::kOwnFd)));
  admin.setIpc(&channel, true);
  ASSERT_TRUE(runUntil(mgr, [&] { return events.gone; }));
  ASSERT_GE(capture.lines.size(), 2u);
  EXPECT_EQ("0 Admin: Child: last words", capture.lines[0]);
  EXPECT_EQ(0u, capture.lines[1].find("0 Admin: Assertion: Assertion 'never' failed at "))
      << capture.lines[1];
  EXPECT_EQ(100 + SIGABRT, loggerStatus(mgr));
}

TEST_F(LogDestIpcTest, EveryWireLevelIsLogged)
{
  startChild([](int fd) {
    io::FdSelectManager mgr;
    Closed events;
    io::MsgIpc channel(&events, "Raw");
    channel.ioAccept(io::IoPtr(new io::FdIo(fd, io::FdIoFlags::kOwnFd)));
    for (uint32_t level : {0x7fffffffu, 0x80000000u, 0xffffffffu}) {
      rdr::FramedOutStream& out = channel.writeMsg("logMsg");
      out.writeU32(level);
      out.writeShortString("Raw");
      out.writeString(std::to_string(level).c_str(), plat::LogDestIpc::kMaxText);
      out.endMsg(true);
    }
    runUntil(mgr, [&] { return events.gone; });
    return 0;
  });
  io::FdSelectManager mgr;
  plat::setLogOverride("Admin:ipccap:2147483647");
  Closed events;
  io::MsgIpc channel(&events, "Receiver");
  channel.ioAccept(io::IoPtr(new io::FdIo(sv[1], io::FdIoFlags::kOwnFd)));
  admin.setIpc(&channel, true);
  ASSERT_TRUE(runUntil(mgr, [&] { return capture.lines.size() >= 3; }));
  channel.close(false);
  const std::vector<std::string> expected = {"2147483647 Admin: Raw: 2147483647",
                                             "2147483647 Admin: Raw: 2147483648",
                                             "2147483647 Admin: Raw: 4294967295"};
  EXPECT_EQ(expected, capture.lines);
  EXPECT_EQ(0, loggerStatus(mgr));
}

// A receiver in another process that reads everything and asks for level
// 110 whenever it gets "again".
class AskingReceiver : public io::MsgIpc::Reader {
public:
  bool readMsg(const char* name, rdr::FramedInStream&, io::MsgIpc* channel) override
  {
    if (strcmp(name, "again") == 0) {
      rdr::FramedOutStream& out = channel->writeMsg("setLogLevel");
      out.writeU32(110);
      out.endMsg(true);
    }
    return true;
  }
};

// Writers on other threads kick the loop while the loop thread replaces the
// channel (and with it the kicker) over and over.
TEST_F(LogDestIpcTest, KicksFromOtherThreadsSurviveChannelChanges)
{
  startChild([](int fd) {
    io::FdSelectManager mgr;
    Closed events;
    io::MsgIpc channel(&events, "Receiver", io::MsgIpcFlags::kSync);
    AskingReceiver receiver;
    receiver.attachIpc(&channel);
    channel.addReader(nullptr, &receiver);
    channel.ioAccept(io::IoPtr(new io::FdIo(fd, io::FdIoFlags::kOwnFd)));
    channel.readAllMessages();
    return 0;
  });
  io::FdSelectManager mgr;
  Closed events;
  io::MsgIpc logger(&events, "Logger");
  logger.ioAccept(io::IoPtr(new io::FdIo(sv[1], io::FdIoFlags::kOwnFd)));
  plat::LogDestIpc* dest = plat::LogDestIpc::get();

  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; t++)
    writers.emplace_back([&] {
      while (!stop.load())
        dest->write(0, "Writer", "x");
    });
  for (int i = 0; i < 300; i++) {
    dest->setIpc(i % 5 == 4 ? nullptr : &logger);
    if (i % 5 == 4)
      continue;
    logger.writeMsg("again").endMsg(true);
    ASSERT_TRUE(runUntil(mgr, [&] { return dest->isPeerLevelKnown(); }));
    mgr.processOnce(0);
  }
  stop.store(true);
  for (std::thread& t : writers)
    t.join();
  dest->setIpc(nullptr);
  logger.close(false);
  EXPECT_EQ(0, loggerStatus(mgr));
}
