// TCP connectors against listeners on 127.0.0.1 and ::1 (ports chosen by
// the system), through the real resolver and the staggered multi-connector.
#include "io/TcpConnector.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <memory>

#include "io/IpResolver.h"
#include "io/TcpIo.h"
#include "netTestUtil.h"

namespace {

using nettest::Result;

nettest::CaptureDest capture("tcpcap");

class TcpConnectorTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    plat::setLogOverride("TcpAddrConnector:tcpcap:100");
    capture.clear();
    mgr.reset(new io::FdSelectManager);
  }
  void TearDown() override
  {
    io::setHostLookup(nullptr);
    io::IpResolverMgr::shutdown();
    nettest::settle(*mgr);
    mgr.reset();
    plat::setLogOverride(nullptr);
  }
  bool run(const std::function<bool()>& done) { return nettest::runUntil(*mgr, done); }

  std::unique_ptr<io::FdSelectManager> mgr;
};

// A connector that fails when told to (or at once when begun).
class FakeConnector : public io::IoConnectorBase {
public:
  FakeConnector(const char* name, bool failAtOnce) : name(name), failAtOnce(failAtOnce) {}
  void begin() override
  {
    begun = true;
    if (failAtOnce)
      failNow();
  }
  void cancel() override {}
  void failNow() { failed(plat::Exception(name)); }
  const char* name;
  bool failAtOnce;
  bool begun = false;
};

TEST_F(TcpConnectorTest, LoopbackConnectionsAndTheirNames)
{
  struct Case {
    int family;
    const char* bindAddress; // null: the family's loopback address
    const char* host;
    const char* endpointFormat;
    const char* displayFormat;
    bool secure;
  } cases[] = {
      {AF_INET, nullptr, "127.0.0.1", "127.0.0.1::%d", "127.0.0.1::%d (TCP)", true},
      {AF_INET6, nullptr, "[::1]", "[::1]::%d", "::1::%d (TCP)", true},
      // The same host reached as an IPv4-mapped IPv6 address is not loopback
      // for the flag.
      {AF_INET6, "::ffff:127.0.0.1", "::ffff:127.0.0.1", "[::ffff:127.0.0.1]::%d",
       "::ffff:127.0.0.1::%d (TCP)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    int lfd;
    int port;
    if (c.bindAddress) {
      lfd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
      int off = 0;
      setsockopt(lfd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
      io::IpInfo a(c.bindAddress, 0);
      ASSERT_EQ(0, bind(lfd, a.sockAddr(), a.len()));
      listen(lfd, 4);
      port = io::IpInfo(lfd, true).port();
    } else {
      lfd = nettest::loopbackSocket(c.family, 4, &port);
    }
    io::TcpConnector tc(c.host, port);
    Result r;
    tc.start(&r);
    EXPECT_EQ(0, r.reports) << "reported from inside start";
    ASSERT_TRUE(run([&] { return r.reports > 0; }));
    ASSERT_TRUE(r.io) << r.error;
    EXPECT_EQ(c.secure, r.io->flags().count(plat::String("secureTransport")) == 1);
    std::string endpoint = plat::format(c.endpointFormat, port).str();
    EXPECT_STREQ(endpoint.c_str(), r.io->peerEndpoint());
    EXPECT_STREQ(endpoint.c_str(), r.io->resolvedPeerEndpoint());
    EXPECT_STREQ(plat::format(c.displayFormat, port).str(), r.io->displayName());
    EXPECT_STREQ("Direct TCP", tc.methodName(false));
    r.io.reset();
    close(lfd);
  }
}

// Two addresses for one name, the first refused: the second attempt starts
// at once instead of after the stagger, through resolver and multi alike.
TEST_F(TcpConnectorTest, RefusedFirstAddressStartsTheNextAtOnce)
{
  int port;
  int lfd = nettest::loopbackSocket(AF_INET, 4, &port);
  int p6;
  int refused = nettest::loopbackSocket(AF_INET6, -1, &p6, port);

  // A stagger far beyond the time limit of the run: only the failure can
  // start the second attempt in time.
  io::IoConnectorMulti multi(60000);
  multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo("::1", port), "dual.test"));
  multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", port), "dual.test"));
  Result r;
  multi.start(&r);
  ASSERT_TRUE(run([&] { return r.reports > 0; }));
  ASSERT_TRUE(r.io) << r.error;
  EXPECT_STREQ(plat::format("dual.test::%d", port).str(), r.io->peerEndpoint());
  EXPECT_EQ(1, capture.countPrefix(plat::format("TCP to [::1]::%d failed: ", port).str()));
  r.io.reset();

  // The same through a name with both addresses.
  auto table = std::make_shared<io::HostTable>(true);
  table->add("dual.test", "::1");
  table->add("dual.test", "127.0.0.1");
  io::setHostLookup(table);
  io::TcpConnector tc("dual.test", port);
  Result r2;
  tc.start(&r2);
  ASSERT_TRUE(run([&] { return r2.reports > 0; }));
  ASSERT_TRUE(r2.io) << r2.error;
  EXPECT_STREQ("127.0.0.1", r2.io->peerAddress());
  r2.io.reset();
  close(lfd);
  close(refused);
}

TEST_F(TcpConnectorTest, AllRefusedGiveOneFailureWithTheLastError)
{
  nettest::RefusedPort refused;
  ASSERT_GE(refused.fd6, 0);
  auto table = std::make_shared<io::HostTable>(true);
  for (const char* a : {"127.0.0.1", "::1", "127.0.0.1"})
    table->add("three.test", a);
  io::setHostLookup(table);
  io::TcpConnector tc("three.test", refused.port);
  Result r;
  tc.start(&r);
  ASSERT_TRUE(run([&] { return r.reports > 0; }));
  nettest::settle(*mgr);
  EXPECT_EQ(1, r.reports);
  EXPECT_EQ(ECONNREFUSED, r.err) << r.error;

  // Which error travels: the last attempt to fail, not the last started.
  io::IoConnectorMulti multi(10);
  FakeConnector* first = new FakeConnector("first", false);
  FakeConnector* second = new FakeConnector("second", true);
  FakeConnector* third = new FakeConnector("third", true);
  multi.add(std::unique_ptr<io::IoConnector>(first));
  multi.add(std::unique_ptr<io::IoConnector>(second));
  multi.add(std::unique_ptr<io::IoConnector>(third));
  Result m;
  multi.start(&m);
  ASSERT_TRUE(run([&] { return third->begun; }));
  nettest::settle(*mgr);
  EXPECT_EQ(0, m.reports);
  first->failNow();
  EXPECT_EQ(1, m.reports);
  EXPECT_EQ("first", m.error);
}

// The first address never answers (its listener's queue is full); the
// second connects after the stagger and the first attempt is dropped with
// its socket.
TEST_F(TcpConnectorTest, SuccessAbandonsTheOtherAttemptsWithoutLeaks)
{
  int fdsBefore = nettest::countFds();
  int silentPort;
  int silent = nettest::loopbackSocket(AF_INET, 0, &silentPort);
  int queued = os::connectSocket(io::IpInfo(silentPort, true, AF_INET), SOCK_STREAM, true);
  int port;
  int lfd = nettest::loopbackSocket(AF_INET6, 4, &port);
  {
    io::IoConnectorMulti multi(10);
    multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo(silentPort, true, AF_INET), nullptr));
    multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo(port, true, AF_INET6), nullptr));
    Result r;
    multi.start(&r);
    ASSERT_TRUE(run([&] { return r.reports > 0; }));
    ASSERT_TRUE(r.io) << r.error;
    EXPECT_STREQ(plat::format("[::1]::%d", port).str(), r.io->peerEndpoint());
    EXPECT_EQ(1, capture.count(plat::format("Trying TCP to 127.0.0.1::%d", silentPort).str()));
    r.io.reset();
    nettest::settle(*mgr);
  }
  nettest::settle(*mgr);
  close(queued);
  close(silent);
  close(lfd);
  EXPECT_EQ(fdsBefore, nettest::countFds());
}

// A resolver destroyed with the request unanswered must not leave the
// caller waiting for ever.
TEST_F(TcpConnectorTest, ResolverGoneIsReportedAsFailure)
{
  auto table = std::make_shared<io::HostTable>(true);
  table->add("gone.test", "127.0.0.1");
  io::setHostLookup(table);
  io::TcpConnector tc("gone.test", 9);
  Result r;
  tc.start(&r);
  io::IpResolverMgr::shutdown();
  EXPECT_EQ(0, r.reports);
  ASSERT_TRUE(run([&] { return r.reports > 0; }));
  EXPECT_EQ("Name resolver gone before answering", r.error);
}

TEST_F(TcpConnectorTest, BlockingConnectTakesTheFirstAddressThatWorks)
{
  int port;
  int lfd = nettest::loopbackSocket(AF_INET6, 4, &port);
  int p4;
  int refused = nettest::loopbackSocket(AF_INET, -1, &p4, port);
  io::IoConnectorMulti multi(-1);
  multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo(port, true, AF_INET), nullptr));
  multi.add(std::make_unique<io::TcpAddrConnector>(io::IpInfo(port, true, AF_INET6), nullptr));
  io::Io* c = multi.connect().release();
  EXPECT_STREQ("::1", c->peerAddress());
  c->shutdown(io::Shutdown::kDrop);
  close(refused);
  try {
    io::TcpConnector("127.0.0.1", port).connect();
    ADD_FAILURE() << "connected to a refusing port";
  } catch (plat::SystemException& e) {
    EXPECT_EQ(ECONNREFUSED, e.getErr());
  }
  close(lfd);
}

} // namespace
