// The connection pool against a keep-alive line server on the loop
// (127.0.0.1, port chosen by the system), with TCP connectors as its
// factory.
#include "io/IoPool.h"

#include <gtest/gtest.h>

#include <memory>

#include "io/IpResolver.h"
#include "io/TcpConnector.h"
#include "netTestUtil.h"

namespace {

using nettest::Result;

nettest::CaptureDest capture("poolcap");

class TcpFactory : public io::IoPool::Factory {
public:
  std::unique_ptr<io::IoConnector> makeConnector(const char* destination) override
  {
    return std::make_unique<io::TcpConnector>(destination, -1, 0);
  }
};

// Reads one answer line; whatever follows it is buffered but left unread.
class Client : public io::IoHandler {
public:
  void dataAvailable(io::Io* c) override
  {
    while (!done()) {
      if (!c->in()->check(false, 1))
        return;
      line += (char)c->in()->readU8();
      c->in()->setCheckpoint();
    }
    c->in()->check(false, 1);
  }
  void writable(io::Io*) override {}
  bool done() const { return !line.empty() && line.back() == '\n'; }
  std::string line;
};

class IoPoolTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::setLogOverride("IoPool:poolcap:110");
    capture.clear();
    mgr.reset(new io::FdSelectManager);
    server.reset(new nettest::LineServer(AF_INET));
    dest = plat::format("127.0.0.1::%d", server->port).str();
  }
  void TearDown() override
  {
    for (io::IoConnector* c : connectors)
      delete c;
    pool.reset();
    server.reset();
    io::IpResolverMgr::shutdown();
    nettest::settle(*mgr);
    mgr.reset();
    plat::setLogOverride(nullptr);
  }
  void makePool()
  {
    for (io::IoConnector* c : connectors)
      delete c;
    connectors.clear();
    pool.reset(new io::IoPool(&factory, 2, 60000));
  }
  bool run(const std::function<bool()>& done) { return nettest::runUntil(*mgr, done); }
  // Starts a pool connector; its report lands in the returned record.
  Result* ask(int waitMs)
  {
    io::IoConnector* c = pool->newConnector(dest.c_str(), waitMs).release();
    connectors.push_back(c);
    results.emplace_back(new Result);
    c->start(results.back().get());
    return results.back().get();
  }
  io::IoPtr get(int waitMs = 2000)
  {
    Result* r = ask(waitMs);
    EXPECT_TRUE(run([&] { return r->reports > 0; }));
    EXPECT_TRUE(r->io) << r->error;
    return std::move(r->io);
  }
  // One request and its answer line; with extra, until the bytes after the
  // line are in.
  void exchange(io::Io* c, const char* request = "ping", bool extra = false)
  {
    Client client;
    c->setHandler(&client, true);
    c->out()->writeBytes(request, (int)strlen(request));
    c->out()->writeU8('\n');
    c->out()->flush();
    EXPECT_TRUE(run([&] { return client.done() && (!extra || c->in()->nUnread() > 0); }));
    EXPECT_EQ("pong\n", client.line);
    c->setHandler(nullptr, true);
  }
  int logged(const char* format)
  {
    return capture.count(plat::format(format, dest.c_str()).str());
  }

  std::unique_ptr<io::FdSelectManager> mgr;
  std::unique_ptr<nettest::LineServer> server;
  std::string dest;
  TcpFactory factory;
  std::unique_ptr<io::IoPool> pool;
  std::vector<io::IoConnector*> connectors;
  std::vector<std::unique_ptr<Result>> results;
};

TEST_F(IoPoolTest, ReleasedConnectionIsReused)
{
  makePool();
  io::IoPtr first = get();
  io::Io* firstIo = first.get();
  exchange(firstIo);
  pool->releaseIo(dest.c_str(), std::move(first));
  EXPECT_EQ(1u, pool->idleCount());

  io::IoPtr second = get();
  EXPECT_EQ(firstIo, second.get());
  exchange(second.get());
  EXPECT_EQ(1, server->accepted);
  EXPECT_EQ(1, logged("Re-using open Io to %s"));
  EXPECT_GE(io::IoPool::connectTime(connectors[0]), 0);
  EXPECT_EQ(-1, io::IoPool::connectTime(connectors[1]));
  pool->releaseIo(dest.c_str(), std::move(second));
}

TEST_F(IoPoolTest, WaiterGetsTheReleasedConnectionAtOnce)
{
  makePool();
  io::IoPtr first = get();
  io::Io* firstIo = first.get();
  Result* waiter = ask(2000);
  ASSERT_TRUE(run([&] { return logged("Waiting to re-use open Io to %s") == 1; }));
  exchange(firstIo);
  EXPECT_EQ(0, waiter->reports);
  pool->releaseIo(dest.c_str(), std::move(first));
  EXPECT_EQ(firstIo, waiter->io.get());
  EXPECT_EQ(1, logged("Immediately re-using open Io to %s"));
  EXPECT_EQ(1, server->accepted);
  pool->releaseIo(dest.c_str(), std::move(waiter->io));
}

// Connections held past their wait make the others open their own (the
// wait is bounded); of the three given back, two stay idle.
TEST_F(IoPoolTest, BoundedWaitAndAtMostTwoIdlePerDestination)
{
  makePool();
  Result* r[3] = {ask(50), ask(50), ask(50)};
  ASSERT_TRUE(run([&] { return r[0]->io && r[1]->io && r[2]->io; }));
  EXPECT_EQ(3, server->accepted);
  for (Result* x : r) {
    exchange(x->io.get());
    pool->releaseIo(dest.c_str(), std::move(x->io));
  }
  EXPECT_EQ(2u, pool->idleCount());
  EXPECT_EQ(1, logged("Not storing Io to %s in pool, connection limit reached"));
  ASSERT_TRUE(run([&] { return server->live.size() == 2; }));
}

// A connection that is not clean is not kept: bytes left unread when it is
// given back, or a close by the peer while it is idle.
TEST_F(IoPoolTest, UncleanConnectionsAreNotKept)
{
  struct Case {
    const char* request;
    bool peerClosesWhileIdle;
    const char* message;
  } cases[] = {
      {"ping+extra", false, "Not storing Io to %s in pool, extra data sent"},
      {"ping", true, "Removing Io to %s from pool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    makePool();
    ASSERT_TRUE(run([&] { return server->live.empty(); }));
    int acceptedBefore = server->accepted;
    io::IoPtr first = get();
    exchange(first.get(), c.request, !c.peerClosesWhileIdle);
    pool->releaseIo(dest.c_str(), std::move(first));
    if (c.peerClosesWhileIdle) {
      EXPECT_EQ(1u, pool->idleCount());
      ASSERT_EQ(1u, server->live.size());
      server->live.begin()->first->shutdown(io::Shutdown::kTellHandler);
      ASSERT_TRUE(run([&] { return pool->idleCount() == 0; }));
    }
    EXPECT_EQ(1, logged(c.message));
    EXPECT_EQ(0u, pool->idleCount());

    io::IoPtr next = get();
    EXPECT_EQ(acceptedBefore + 2, server->accepted);
    pool->releaseIo(dest.c_str(), std::move(next));
  }
}

} // namespace
