// Named messages between this process (event-driven or synchronous) and a
// forked peer over a socket pair.
#include "io/MsgIpc.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/MemOutStream.h"
#include "testutil.h"

namespace {

tltest::CaptureDest capture("msgipccap");

using tltest::countFds;

// A connection that knows when it is gone.
class GoneIo : public io::FdIo {
public:
  GoneIo(int fd, bool* gone) : FdIo(fd, io::FdIoFlags::kOwnFd), gone(gone) { *gone = false; }
  ~GoneIo() override { *gone = true; }
  bool* gone;
};

class Events : public io::MsgIpc::Callback {
public:
  void closed(io::MsgIpc* ipc) override
  {
    log.push_back("closed");
    if (onClosed)
      onClosed(ipc);
  }
  bool allowed(io::MsgIpc*, const char* name, bool isWrite) override
  {
    return !refuse || !refuse(name, isWrite);
  }
  void error(io::MsgIpc* ipc, const plat::Exception& e) override
  {
    log.push_back(std::string("error:") + e.str() +
                  (ipc->isConnected() ? " (still connected)" : ""));
    if (onError)
      onError(ipc);
  }
  std::vector<std::string> log;
  std::function<bool(const char*, bool)> refuse;
  std::function<void(io::MsgIpc*)> onError, onClosed;
};

class FnReader : public io::MsgIpc::Reader {
public:
  using Fn = std::function<bool(const char*, rdr::FramedInStream&, io::MsgIpc*)>;
  FnReader(io::MsgIpc& channel, const char* name, Fn fn) : fn(std::move(fn))
  {
    attachIpc(&channel);
    channel.addReader(name, this);
  }
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override
  {
    return fn(name, in, channel);
  }
  Fn fn;
};

// The wire bytes of one message.
std::string framed(const std::string& name, const std::string& body)
{
  rdr::MemOutStream mem;
  rdr::OutStreamV4 out(&mem);
  out.startMsg();
  out.writeU8((uint8_t)name.size());
  out.writeBytes(name.data(), (int)name.size());
  out.writeBytes(body.data(), (int)body.size());
  out.endMsg(false);
  return std::string((const char*)mem.data(), (size_t)mem.length());
}

bool writeAll(int fd, const std::string& s)
{
  return write(fd, s.data(), s.size()) == (ssize_t)s.size();
}

// Waits until the other side closes.
void awaitEof(int fd)
{
  char c;
  while (read(fd, &c, 1) > 0) {
  }
}

std::string pattern(int n)
{
  std::string s(n, 0);
  for (int i = 0; i < n; i++)
    s[i] = (char)(i * 31 + 7);
  return s;
}

std::string readBody(rdr::InStream& in, int n)
{
  std::string s(n, 0);
  in.readBytes(&s[0], n);
  return s;
}

class MsgIpcTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::setLogOverride("Ipc:msgipccap:100");
    capture.lines.clear();
    fdsBefore = countFds();
    mgr = std::make_unique<io::FdSelectManager>();
    os::socketPair(sv);
  }
  void TearDown() override
  {
    for (int& fd : sv)
      if (fd >= 0)
        close(fd);
    if (childPid > 0) {
      kill(childPid, SIGKILL);
      waitpid(childPid, nullptr, 0);
    }
    mgr.reset();
    plat::setLogOverride(nullptr);
    EXPECT_EQ(fdsBefore, countFds());
  }

  // The peer runs body on its end of the pair; its result is the exit
  // status (99 for an exception).
  void startPeer(const std::function<int(int fd)>& body)
  {
    childPid = tltest::spawn([&] {
      close(sv[1]);
      return body(sv[0]);
    });
    ASSERT_GE(childPid, 0);
    close(sv[0]);
    sv[0] = -1;
  }
  int peerStatus()
  {
    int status = tltest::waitChild(childPid);
    childPid = -1;
    return status;
  }
  // This side's connection; the channel takes it.
  io::Io* connection()
  {
    io::Io* io = new GoneIo(sv[1], &gone);
    sv[1] = -1;
    return io;
  }
  bool runUntil(const std::function<bool()>& done)
  {
    for (int i = 0; i < 400 && !done(); i++)
      mgr->processOnce(50);
    return done();
  }

  int fdsBefore = 0;
  std::unique_ptr<io::FdSelectManager> mgr;
  int sv[2] = {-1, -1};
  pid_t childPid = -1;
  bool gone = false;
};

// A synchronous channel for the peer's side of a test.
struct SyncPeer {
  explicit SyncPeer(int fd) : ipc(&events, "Peer", io::MsgIpcFlags::kSync)
  {
    ipc.ioAccept(io::IoPtr(new io::FdIo(fd, io::FdIoFlags::kOwnFd)));
  }
  Events events;
  io::MsgIpc ipc;
};

TEST_F(MsgIpcTest, DrippedBodyIsHandledOnceAndUnreadBytesAreSkipped)
{
  const std::string drip = pattern(3000), part = pattern(5000);
  startPeer([&](int fd) {
    std::string bytes =
        framed("Drip", drip) + framed("Part", part) + framed("Last", std::string("\0\0\0\7", 4));
    for (size_t at = 0; at < bytes.size(); at += 700) {
      if (!writeAll(fd, bytes.substr(at, 700)))
        return 1;
      usleep(20000);
    }
    awaitEof(fd);
    return 0;
  });
  Events events;
  io::MsgIpc ipc(&events, "Test");
  std::vector<std::string> handled;
  FnReader dripReader(ipc, "Drip", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
    std::string body = readBody(in, 3000);
    handled.push_back(body == drip ? "Drip ok" : "Drip corrupt");
    return true;
  });
  FnReader partReader(ipc, "Part", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
    handled.push_back(readBody(in, 4) == part.substr(0, 4) ? "Part ok" : "Part corrupt");
    return true;
  });
  FnReader lastReader(ipc, "Last", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
    handled.push_back("Last " + std::to_string(in.readU32()));
    return true;
  });
  ipc.ioAccept(io::IoPtr(connection()));
  EXPECT_TRUE(runUntil([&] { return handled.size() == 3; }));
  EXPECT_EQ((std::vector<std::string>{"Drip ok", "Part ok", "Last 7"}), handled);
  EXPECT_TRUE(ipc.isConnected());
  ipc.close(false);
  EXPECT_TRUE(runUntil([&] { return gone; }));
  EXPECT_EQ(0, peerStatus());
}

TEST_F(MsgIpcTest, NamesWithoutReader)
{
  struct Case {
    const char* name;
    bool replyBadMsg;
    const char* logLine; // null: nothing logged
    bool kept;
  } cases[] = {
      {"Unknown", false, "Test: Bad msg name 'Unknown'", true},
      {"unknown", true, nullptr, true},
      {"9digit", false, "Test: Bad msg name '9digit'", false},
      {"", false, "Test: Bad msg name ''", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (sv[0] < 0) {
      ASSERT_EQ(-1, childPid);
      os::socketPair(sv);
    }
    capture.lines.clear();
    startPeer([&](int fd) {
      SyncPeer peer(fd);
      peer.ipc.writeMsg(c.name).endMsg(true);
      if (!c.kept) {
        // Closed by the other side, perhaps while writing.
        try {
          peer.ipc.writeMsg("Ping").endMsg(true);
          peer.ipc.readAllMessages();
        } catch (plat::Exception&) {
        }
        return 0;
      }
      peer.ipc.writeMsg("Ping").endMsg(true);
      if (c.replyBadMsg) {
        try {
          peer.ipc.readMessage();
          return 1;
        } catch (plat::Exception& e) {
          if (std::string(e.str()) !=
              std::string("MsgIpc: expected message <null>, peer reports bad msg name '") + c.name +
                  "'")
            return 2;
        }
      }
      peer.ipc.readAllMessages();
      return 0;
    });
    Events events;
    io::MsgIpc ipc(&events, "Test");
    ipc.setReplyBadMsg(c.replyBadMsg);
    int pings = 0;
    FnReader ping(ipc, "Ping", [&](const char*, rdr::FramedInStream&, io::MsgIpc*) {
      pings++;
      return true;
    });
    ipc.ioAccept(io::IoPtr(connection()));
    EXPECT_TRUE(runUntil([&] { return pings > 0 || !events.log.empty(); }));
    EXPECT_EQ(c.kept ? 1 : 0, pings);
    EXPECT_EQ(c.kept, ipc.isConnected());
    EXPECT_EQ(c.kept ? std::vector<std::string>{} : std::vector<std::string>{"closed"}, events.log);
    if (c.logLine)
      EXPECT_TRUE(capture.saw(c.logLine));
    else
      EXPECT_TRUE(capture.lines.empty());
    ipc.close(false);
    EXPECT_TRUE(runUntil([&] { return gone; }));
    EXPECT_EQ(0, peerStatus());
  }
}

TEST_F(MsgIpcTest, RefusedNameOnWriteThrowsAndSendsNothing)
{
  startPeer([](int fd) {
    SyncPeer peer(fd);
    std::string got;
    FnReader any(peer.ipc, nullptr, [&](const char* name, rdr::FramedInStream&, io::MsgIpc*) {
      got = name;
      return true;
    });
    peer.ipc.readMessage();
    return got == "Open" ? 0 : 1;
  });
  Events events;
  events.refuse = [](const char* name, bool isWrite) { return isWrite && !strcmp(name, "Secret"); };
  io::MsgIpc ipc(&events, "Test");
  ipc.ioAccept(io::IoPtr(connection()));
  try {
    ipc.writeMsg("Secret").writeU32(1);
    FAIL() << "writeMsg did not throw";
  } catch (plat::Exception& e) {
    EXPECT_STREQ("MsgIpc::writeMsg: Message not currently allowed", e.str());
  }
  EXPECT_THROW(ipc.writeMsg("Secret", {{"x", 1}}), plat::Exception);
  EXPECT_TRUE(capture.saw("Test: Message 'Secret' not currently allowed"));
  ipc.writeMsg("Open").endMsg(true);
  EXPECT_EQ(0, peerStatus());
  ipc.close(false);
}

// The peer is a synchronous client; this side answers from the loop.
TEST_F(MsgIpcTest, BlockingClientAgainstEventDrivenServer)
{
  startPeer([](int fd) {
    SyncPeer peer(fd);
    uint32_t pong = 0;
    FnReader reader(peer.ipc, "Pong", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
      pong = in.readU32();
      if (pong == 50)
        throw plat::Exception("pong 50 refused");
      return true;
    });
    for (uint32_t i = 1; i <= 6; i++) {
      rdr::FramedOutStream& out = peer.ipc.writeMsg("Ping");
      out.writeU32(i);
      out.endMsg(true);
      std::string expectError = i == 4   ? "MsgIpc: expected message Pong, got Other"
                                : i == 5 ? "pong 50 refused"
                                         : "";
      try {
        peer.ipc.readMessage("Pong");
        if (!expectError.empty())
          return 10 + (int)i;
      } catch (plat::Exception& e) {
        if (e.str() != expectError)
          return 20 + (int)i;
        if (i == 4)
          peer.ipc.readMessage("Pong");
      }
      if (pong != i * 10)
        return 30 + (int)i;
    }
    return 0;
  });
  Events events;
  io::MsgIpc ipc(&events, "Test");
  FnReader ping(ipc, "Ping", [](const char*, rdr::FramedInStream& in, io::MsgIpc* channel) {
    uint32_t v = in.readU32();
    if (v == 4)
      channel->writeMsg("Other").endMsg(false);
    channel->writeMsg("Pong").writeU32(v * 10); // abandoned: dropped unsent
    rdr::FramedOutStream& out = channel->writeMsg("Pong");
    out.writeU32(v * 10);
    out.endMsg(true);
    return true;
  });
  ipc.ioAccept(io::IoPtr(connection()));
  EXPECT_TRUE(runUntil([&] { return !events.log.empty(); }));
  EXPECT_EQ(0, peerStatus());
  EXPECT_EQ("closed", events.log.back());
}

// A reader's error ends the connection before the owner hears of it, and
// the owner may destroy the channel from either callback.
TEST_F(MsgIpcTest, ReaderErrorClosesBeforeTellingAndSurvivesDestruction)
{
  for (const char* deleteIn : {"", "error", "closed"}) {
    SCOPED_TRACE(deleteIn);
    if (sv[0] < 0)
      os::socketPair(sv);
    startPeer([](int fd) {
      if (!writeAll(fd, framed("Bad", "xyz")))
        return 1;
      awaitEof(fd);
      return 0;
    });
    Events events;
    auto* ipc = new io::MsgIpc(&events, "Test");
    bool deleted = false;
    auto destroy = [&](io::MsgIpc* channel) {
      delete channel;
      deleted = true;
    };
    if (!strcmp(deleteIn, "error"))
      events.onError = destroy;
    if (!strcmp(deleteIn, "closed"))
      events.onClosed = destroy;
    FnReader bad(*ipc, "Bad", [](const char*, rdr::FramedInStream& in, io::MsgIpc*) -> bool {
      in.readU8();
      throw plat::Exception("bad body");
    });
    ipc->ioAccept(io::IoPtr(connection()));
    EXPECT_TRUE(runUntil([&] { return gone; }));
    std::vector<std::string> expect{"error:bad body"};
    if (strcmp(deleteIn, "error"))
      expect.push_back("closed");
    EXPECT_EQ(expect, events.log);
    EXPECT_EQ(0, peerStatus());
    if (!deleted) {
      // The channel takes the next connection.
      int pair[2];
      os::socketPair(pair);
      std::string got;
      FnReader ok(*ipc, "Ok", [&](const char* name, rdr::FramedInStream&, io::MsgIpc*) {
        got = name;
        return true;
      });
      bool gone2 = false;
      ipc->ioAccept(io::IoPtr(new GoneIo(pair[1], &gone2)));
      ASSERT_TRUE(writeAll(pair[0], framed("Ok", "")));
      EXPECT_TRUE(runUntil([&] { return !got.empty(); }));
      close(pair[0]);
      delete ipc;
      EXPECT_TRUE(runUntil([&] { return gone2; }));
    }
  }
}

TEST_F(MsgIpcTest, GarbledNameEndsSynchronousReaderWithEndOfStream)
{
  startPeer([](int fd) {
    if (!writeAll(fd, framed("9garbage", "body") + framed("Ping", "")))
      return 1;
    awaitEof(fd);
    return 0;
  });
  Events events;
  io::MsgIpc ipc(&events, "Test", io::MsgIpcFlags::kSync);
  FnReader ping(ipc, "Ping", [](const char*, rdr::FramedInStream&, io::MsgIpc*) { return true; });
  ipc.ioAccept(io::IoPtr(connection()));
  EXPECT_THROW(ipc.readMessage(), rdr::EndOfStream);
  EXPECT_EQ(std::vector<std::string>{"closed"}, events.log);
  EXPECT_THROW(ipc.readMessage("Ping"), rdr::EndOfStream);
  ipc.readAllMessages();
  EXPECT_EQ(0, peerStatus());
}

// The writer refuses a message over the limit before sending any of it; the
// receiver takes one exactly at the limit; a peer without the check gets a
// clear error instead of a silently dropped connection.
TEST_F(MsgIpcTest, MessageSizeLimitOnBothSides)
{
  constexpr int kLimit = io::MsgIpc::kDefaultMaxMsgSize;
  constexpr int kAtLimit = kLimit - 2 - 1 - 3; // header, name length, "Big"
  startPeer([&](int fd) {
    SyncPeer peer(fd);
    std::string body = pattern(kAtLimit + 1);
    rdr::FramedOutStream& big = peer.ipc.writeMsg("Big");
    big.writeBytes(body.data(), kAtLimit);
    big.endMsg(true);
    // The same whole, in pieces.
    peer.ipc.writeMsg("Big", {{body.data(), 100}, {body.data() + 100, kAtLimit - 100}});
    peer.ipc.flush();
    const std::string tooLarge =
        "MsgIpc::writeMsg: message 'Big' is larger than " + std::to_string(kLimit) + " bytes";
    try {
      peer.ipc.writeMsg("Big").writeBytes(body.data(), kAtLimit + 1);
      return 1;
    } catch (plat::Exception& e) {
      if (e.str() != tooLarge)
        return 2;
    }
    try {
      peer.ipc.writeMsg("Big", {{body.data(), kAtLimit + 1}});
      return 4;
    } catch (plat::Exception& e) {
      if (e.str() != tooLarge)
        return 5;
    }
    peer.ipc.writeMsg("Done").endMsg(true);
    // A writer that does not check.
    if (!writeAll(fd, framed("Huge", pattern(20000))))
      return 3;
    awaitEof(fd);
    return 0;
  });
  Events events;
  io::MsgIpc ipc(&events, "Test");
  std::vector<std::string> handled;
  FnReader big(ipc, "Big", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
    std::string body = readBody(in, kAtLimit);
    handled.push_back(body == pattern(kAtLimit) && in.atEnd() ? "Big ok" : "Big corrupt");
    return true;
  });
  FnReader done(ipc, "Done", [&](const char*, rdr::FramedInStream&, io::MsgIpc*) {
    handled.push_back("Done");
    return true;
  });
  FnReader huge(ipc, "Huge", [&](const char*, rdr::FramedInStream& in, io::MsgIpc*) {
    readBody(in, 20000);
    handled.push_back("Huge");
    return true;
  });
  ipc.ioAccept(io::IoPtr(connection()));
  EXPECT_TRUE(runUntil([&] { return events.log.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"Big ok", "Big ok", "Done"}), handled);
  EXPECT_EQ((std::vector<std::string>{"error:MsgIpc: message 'Huge' does not fit the " +
                                          std::to_string(kLimit) + "-byte receive buffer",
                                      "closed"}),
            events.log);
  EXPECT_TRUE(runUntil([&] { return gone; }));
  EXPECT_EQ(0, peerStatus());
}

// Closing from inside a reader leaves the connection alive until the call
// that is under way has returned.
TEST_F(MsgIpcTest, CloseFromReaderDefersTheDelete)
{
  startPeer([](int fd) {
    if (!writeAll(fd, framed("Quit", "")))
      return 1;
    awaitEof(fd);
    return 0;
  });
  Events events;
  io::MsgIpc ipc(&events, "Test");
  int fd = sv[1];
  std::string seen;
  FnReader quit(ipc, "Quit", [&](const char*, rdr::FramedInStream&, io::MsgIpc* channel) {
    channel->close(true);
    seen = gone || fcntl(fd, F_GETFD) < 0 ? "deleted at once" : "still alive";
    return true;
  });
  ipc.ioAccept(io::IoPtr(connection()));
  EXPECT_TRUE(runUntil([&] { return gone; }));
  EXPECT_EQ("still alive", seen);
  EXPECT_EQ(std::vector<std::string>{"closed"}, events.log);
  EXPECT_EQ(0, peerStatus());
}

} // namespace
