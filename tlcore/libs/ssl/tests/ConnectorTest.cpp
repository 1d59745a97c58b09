// TLS connections made by SslConnector over TCP to openssl s_server, on the
// loop, with names resolved through the injected host table.
#include "io/IpResolver.h"
#include "io/TcpConnector.h"
#include "netTestUtil.h"
#include "rdr/Exception.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslConnFactory.h"
#include "ssl/SslIo.h"
#include "ssl/SslTrustManager.h"
#include "ssl/SslVerifier.h"
#include "sslTestUtil.h"

using namespace ssltest;

namespace {

class ConnectorTest : public ::testing::Test {
protected:
  ConnectorTest()
  {
    auto table = std::make_shared<io::HostTable>(true);
    for (const char* name : {"valid.site.test", "rsa.site.test", "unknown.site.test",
                             "expired.site.test", "other.site.test", "a.site.test",
                             "client.site.test", "badku.site.test", "noeku.site.test"})
      table->add(name, "127.0.0.1");
    io::setHostLookup(table);
    auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
    lookup->addCert(cert("root"));
    factory_ = std::make_unique<ssl::SslConnFactory>(std::move(lookup), nullptr);
  }
  ~ConnectorTest() override { io::setHostLookup(nullptr); }

  // What the connector reports: "connected" or the error's text.
  std::string connect(const SServer& server, const std::string& host, io::Io** io = nullptr)
  {
    std::string endpoint = host + "::" + std::to_string(server.port());
    std::unique_ptr<io::IoConnector> tcp =
        std::make_unique<io::TcpConnector>(endpoint.c_str(), 0, 0);
    std::unique_ptr<io::IoConnector> connector(factory_->newConnector(tcp, endpoint.c_str()));
    nettest::Result result;
    connector->start(&result);
    EXPECT_TRUE(nettest::runUntil(mgr_, [&] { return result.reports > 0; }));
    EXPECT_EQ(result.reports, 1);
    if (!result.io)
      return result.error;
    EXPECT_TRUE(result.io->flags.count(plat::String("secureTransport")));
    if (io)
      *io = result.io;
    else
      result.io->shutdown(false, false);
    return "connected";
  }

  io::FdSelectManager mgr_;
  std::unique_ptr<ssl::SslConnFactory> factory_;
};

// A handler that collects what the connection delivers until its end.
struct Reader : io::IoHandler {
  void dataAvailable(io::Io* io) override
  {
    try {
      while (io->in->check(false, 1)) {
        data.append(reinterpret_cast<const char*>(io->in->getPtr()), io->in->nUnread());
        io->in->consume(io->in->nUnread());
        io->in->setCheckpoint();
      }
    } catch (const rdr::EndOfStream&) {
      ended = "end";
    } catch (const plat::Exception& e) {
      ended = e.str();
    }
  }
  void writable(io::Io*) override {}
  std::string data;
  std::string ended;
};

} // namespace

// Each zoo condition reaches failed with its message, never connected.
TEST_F(ConnectorTest, Zoo)
{
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* host;
    const char* expected;
  } cases[] = {
      {"ecdsa", serverCert("valid"), "valid.site.test", "connected"},
      {"rsa", serverCert("rsaleaf"), "rsa.site.test", "connected"},
      {"wildcard", serverCert("wildcard"), "a.site.test", "connected"},
      {"ip san", serverCert("ip"), "127.0.0.1", "connected"},
      {"no intermediate",
       {"-cert", zooPath("valid.pem"), "-key", zooPath("valid.key")},
       "valid.site.test",
       "X.509 Error: Unknown issuer or bad signature"},
      {"unknown root", serverCert("unknown"), "unknown.site.test",
       "X.509 Error: Unknown issuer or bad signature"},
      {"expired", serverCert("expired"), "expired.site.test", "X.509 Error: Certificate expired"},
      {"wrong name", serverCert("valid"), "other.site.test", "X.509 Error: Invalid certificate"},
      {"wrong address", serverCert("valid"), "127.0.0.1",
       "SSL Error: SSL certificate does not match intended host"},
      {"client usage", serverCert("clientonly"), "client.site.test", "ssl_handshake: "},
      {"key usage", serverCert("badku"), "badku.site.test", "ssl_handshake: "},
      {"no extended usage", serverCert("noeku"), "noeku.site.test",
       "X.509 Error: Certificate usage not correct: missing serverAuth ext usage"},
  };
  int fds = tltest::countFds();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SServer server(c.args);
    std::string got = connect(server, c.host);
    EXPECT_EQ(got.substr(0, strlen(c.expected)), c.expected) << got;
  }
  nettest::settle(mgr_);
  EXPECT_EQ(tltest::countFds(), fds);
}

// Data both ways through SslIo, then the ends: close_notify after data is
// the end of the stream; a TCP close without it is code 16.
TEST_F(ConnectorTest, DataAndCloses)
{
  for (bool clean : {true, false}) {
    SCOPED_TRACE(clean);
    auto server = std::make_unique<SServer>(plus(serverCert("valid"), {"-rev"}));
    io::Io* io = nullptr;
    ASSERT_EQ(connect(*server, "valid.site.test", &io), "connected");
    Reader reader;
    io->setHandler(&reader);
    io->out->writeBytes("hello\n", 6);
    io->out->flush();
    ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return reader.data.size() >= 6; }));
    EXPECT_EQ(reader.data, "olleh\n");
    // s_server -rev ends the session on "CLOSE"; killing it is a TCP close.
    if (clean) {
      io->out->writeBytes("CLOSE\n", 6);
      io->out->flush();
    } else {
      server.reset();
    }
    ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return !reader.ended.empty(); }));
    EXPECT_EQ(reader.ended, clean ? "end" : "SSL Error: Underlying stream truncated");
    io->shutdown(false, false);
    nettest::settle(mgr_);
  }
}

// shutdown with flush sends what is pending, then close_notify (s_server
// prints the data, then "DONE" for the close_notify).
TEST_F(ConnectorTest, ShutdownFlushes)
{
  SServer server(serverCert("valid"));
  io::Io* io = nullptr;
  ASSERT_EQ(connect(server, "valid.site.test", &io), "connected");
  io->out->writeBytes("tail-data\n", 10);
  io->shutdown(true, false);
  std::string out = server.output("DONE", 15000);
  size_t data = out.find("tail-data\n");
  ASSERT_NE(data, std::string::npos) << out;
  EXPECT_NE(out.find("DONE", data), std::string::npos) << out;
  nettest::settle(mgr_);
}

// Destroying the connector in each state (not started, started, connecting,
// handshaking) leaves no descriptor and no memory behind.
TEST_F(ConnectorTest, DestroyInEachState)
{
  SServer server(serverCert("valid"));
  int fds = tltest::countFds();
  for (int passes : {-1, 0, 1, 2, 3, 5, 8}) {
    SCOPED_TRACE(passes);
    std::string endpoint = "valid.site.test::" + std::to_string(server.port());
    std::unique_ptr<io::IoConnector> tcp =
        std::make_unique<io::TcpConnector>(endpoint.c_str(), 0, 0);
    std::unique_ptr<io::IoConnector> connector(factory_->newConnector(tcp, endpoint.c_str()));
    nettest::Result result;
    if (passes >= 0)
      connector->start(&result);
    for (int i = 0; i < passes && !result.reports; i++)
      mgr_.processOnce(20);
    if (result.io)
      result.io->shutdown(false, false);
    connector.reset();
    nettest::settle(mgr_);
  }
  EXPECT_EQ(tltest::countFds(), fds);
}
