// TLS connections made by SslConnector over TCP to openssl s_server, on the
// loop, with names resolved through the injected host table.
#include "crypto/Sha.h"
#include "io/IoWrapper.h"
#include "io/IpResolver.h"
#include "io/TcpConnector.h"
#include "netTestUtil.h"
#include "rdr/Exception.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslConnFactory.h"
#include "ssl/SslConnector.h"
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
  std::string connect(const ServerProcess& server, const std::string& host, io::Io** io = nullptr)
  {
    std::string endpoint = host + "::" + std::to_string(server.port());
    std::unique_ptr<io::IoConnector> tcp =
        std::make_unique<io::TcpConnector>(endpoint.c_str(), 0, 0);
    return report(factory_->newConnector(std::move(tcp), endpoint.c_str()), io);
  }
  std::string report(std::unique_ptr<io::IoConnector> connector, io::Io** io = nullptr)
  {
    nettest::Result result;
    connector->start(&result);
    EXPECT_TRUE(nettest::runUntil(mgr_, [&] { return result.reports > 0; }));
    EXPECT_EQ(result.reports, 1);
    if (!result.io)
      return result.error;
    EXPECT_TRUE(result.io->flags().count(plat::String("secureTransport")));
    if (io)
      *io = result.io.release();
    return "connected";
  }
  // A connector to endpoint over TCP, with hostName as given.
  std::unique_ptr<io::IoConnector> tlsTo(const std::string& endpoint, const char* hostName)
  {
    return std::make_unique<ssl::SslConnector>(
        std::make_unique<io::TcpConnector>(endpoint.c_str(), 0, 0),
        &ssl::SslPublicHttpsVerifier::instance(), factory_->trustManager(), hostName, nullptr);
  }
  // Runs the loop until the server has printed text.
  bool printed(ServerProcess& server, const std::string& text, int limitMs = 15000)
  {
    return nettest::runUntil(
        mgr_, [&] { return server.output().find(text) != std::string::npos; }, limitMs);
  }

  io::FdSelectManager mgr_;
  std::unique_ptr<ssl::SslConnFactory> factory_;
};

// A handler that collects what the connection delivers until its end.
struct Reader : io::IoHandler {
  void dataAvailable(io::Io* io) override
  {
    try {
      while (io->in()->check(false, 1)) {
        data.append(reinterpret_cast<const char*>(io->in()->getPtr()), io->in()->nUnread());
        io->in()->consume(io->in()->nUnread());
        io->in()->setCheckpoint();
      }
    } catch (const rdr::EndOfStream& e) {
      ended = std::string("end: ") + e.str();
    } catch (const plat::Exception& e) {
      ended = errorOf([&] { throw; });
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
    io->out()->writeBytes("hello\n", 6);
    io->out()->flush();
    ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return reader.data.size() >= 6; }));
    EXPECT_EQ(reader.data, "olleh\n");
    // s_server -rev ends the session on "CLOSE"; killing it is a TCP close.
    if (clean) {
      io->out()->writeBytes("CLOSE\n", 6);
      io->out()->flush();
    } else {
      server.reset();
    }
    ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return !reader.ended.empty(); }));
    EXPECT_EQ(reader.ended, clean ? "end: SSL connection closed"
                                  : "code 16: SSL Error: Underlying stream truncated");
    io->shutdown(io::Shutdown::kDrop);
    nettest::settle(mgr_);
  }
}

// Server-name indication carries names only: a numeric host, with or
// without brackets and port, or none gives no name, and the host-name
// verifier decides by the address. Both loopback addresses.
TEST_F(ConnectorTest, ServerNameIndication)
{
  struct Case {
    const char* address;
    const char* leaf;
    const char* target; // the endpoint's host
    const char* hostName; // "=" for the endpoint name
    const char* sni;
    const char* expected;
  } cases[] = {
      {"127.0.0.1", "valid", "valid.site.test", "=", "valid.site.test", "connected"},
      {"::1", "valid", "valid.site.test", "valid.site.test", "valid.site.test", "connected"},
      {"::1", "ip", "[::1]", "=", "none", "connected"},
      {"::1", "ip", "[::1]", "::1", "none", "connected"},
      {"::1", "ip", "[::1]", "[::1]", "none", "connected"},
      {"::1", "ip", "[::1]", "[::1]:443", "none", "connected"},
      {"127.0.0.1", "ip", "127.0.0.1", "127.0.0.1:443", "none", "connected"},
      {"127.0.0.1", "ip", "127.0.0.1", nullptr, "none", "connected"},
      {"::1", "valid", "[::1]", "=", "none",
       "SSL Error: SSL certificate does not match intended host"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + (c.hostName ? c.hostName : "null"));
    auto table = std::make_shared<io::HostTable>(true);
    table->add("valid.site.test", c.address);
    io::setHostLookup(table);
    ScriptedServer server("sink", c.leaf, c.address);
    std::string endpoint = std::string(c.target) + "::" + std::to_string(server.port());
    const char* hostName = c.hostName && !strcmp(c.hostName, "=") ? endpoint.c_str() : c.hostName;
    EXPECT_EQ(report(tlsTo(endpoint, hostName)), c.expected);
    EXPECT_TRUE(printed(server, std::string("sni ") + c.sni + "\n")) << server.output();
  }
}

// The ends of a connection as the scripted server times them: data and
// close_notify in one read, data then a TCP close, a close in the middle of
// the handshake.
TEST_F(ConnectorTest, ScriptedCloses)
{
  struct Case {
    const char* scenario;
    const char* connected;
    const char* data;
    const char* ended;
  } cases[] = {
      {"notify", "connected", "last words", "end: SSL connection closed"},
      {"truncate", "connected", "last words", "code 16: SSL Error: Underlying stream truncated"},
      {"hello", "SSL Error: SSL Connection Closed", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    ScriptedServer server(c.scenario);
    io::Io* io = nullptr;
    ASSERT_EQ(report(tlsTo("valid.site.test::" + std::to_string(server.port()),
                           "valid.site.test"),
                     &io),
              c.connected);
    if (!io)
      continue;
    Reader reader;
    io->setHandler(&reader);
    ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return !reader.ended.empty(); }));
    EXPECT_EQ(reader.data, c.data);
    EXPECT_EQ(reader.ended, c.ended);
    io->shutdown(io::Shutdown::kDrop);
    EXPECT_TRUE(printed(server, "eof"));
  }
}

// shutdown with flush sends what is pending, then close_notify: the server
// reads the data before the close_notify.
TEST_F(ConnectorTest, ShutdownFlushes)
{
  ScriptedServer server("sink");
  io::Io* io = nullptr;
  ASSERT_EQ(connect(server, "valid.site.test", &io), "connected");
  io->out()->writeBytes("tail-data", 9);
  io->shutdown(io::Shutdown::kFlush);
  EXPECT_TRUE(printed(server, "eof"));
  EXPECT_NE(server.output().find("close_notify 9 "
                                 "752df353d8e144b45f3033eb243b3e0d15dc67e6dabb4bc7ac694813f6c01990\n"
                                 "eof\n"),
            std::string::npos)
      << server.output();
}

namespace {

// What reaches the inner connection's output: the size of each write and
// the number of flushes. Its window stays empty, so every byte passes
// writeBytes.
class CountingOut : public rdr::OutStream {
public:
  explicit CountingOut(rdr::OutStream* inner) : inner_(inner) {}
  void writeBytes(const void* data, int len) override
  {
    writes.push_back(len);
    inner_->writeBytes(data, len);
  }
  void flush() override
  {
    flushes++;
    inner_->flush();
  }
  int64_t length() override { return inner_->length(); }
  int bytesBuffered() override { return inner_->bytesBuffered(); }
  int spaceAvailable() override { return inner_->spaceAvailable(); }
  int overrun(int, int) override { throw plat::Exception("CountingOut: not a window"); }

  std::vector<int> writes;
  int flushes = 0;

private:
  rdr::OutStream* inner_;
};

class CountingIo : public io::IoWrapper {
public:
  explicit CountingIo(io::Io* inner) : IoWrapper(inner, nullptr), counting(inner->out())
  {
    setStreams(in(), &counting);
  }
  CountingOut counting;
};

} // namespace

// A flushed write reaches the inner stream as records of at most 16384
// bytes of data, then one flush.
TEST_F(ConnectorTest, FlushedWriteRecords)
{
  ScriptedServer server("sink", "ip");
  auto* counting = new CountingIo(new io::TcpIo(connectTo("127.0.0.1", server.port()),
                                                io::TcpIoFlags::kOwnFd));
  io::Io* io = nullptr;
  ASSERT_EQ(report(std::make_unique<ssl::SslConnector>(io::IoPtr(counting),
                                                       &ssl::SslPublicHttpsVerifier::instance(),
                                                       factory_->trustManager(), nullptr, nullptr),
                   &io),
            "connected");
  const int kOverhead = 29; // GCM: header, explicit nonce, tag
  std::string sent;
  for (int size : {1, 2047, 2048, 6000, ssl::SslIo::kMaxPlainBytes}) {
    SCOPED_TRACE(size);
    counting->counting.writes.clear();
    counting->counting.flushes = 0;
    std::string data(size, (char)('a' + size % 26));
    io->out()->writeBytes(data.data(), size);
    io->out()->flush();
    sent += data;
    int total = 0;
    for (int w : counting->counting.writes) {
      EXPECT_LE(w - kOverhead, ssl::SslIo::kMaxRecordPayload);
      total += w - kOverhead;
    }
    EXPECT_EQ(total, size);
    EXPECT_EQ(counting->counting.flushes, 1);
  }
  io->shutdown(io::Shutdown::kFlush);
  plat::MBuf<unsigned char> digest;
  crypto::Sha::digest(256, (int)sent.size(), sent.data(), digest, false);
  EXPECT_TRUE(printed(server, "close_notify " + std::to_string(sent.size()) + " " +
                                  tltest::toHex(bytes(digest)) + "\n"))
      << server.output();
}

// 64 MiB each way at once, checked by digest on both sides.
TEST_F(ConnectorTest, Bulk)
{
  const int64_t kSize = 64 << 20;
  ScriptedServer server("source:" + std::to_string(kSize));
  io::Io* io = nullptr;
  ASSERT_EQ(connect(server, "valid.site.test", &io), "connected");
  struct Both : Reader {
    void writable(io::Io* io) override
    {
      while (left > 0 && io->out()->spaceAvailable() > 0) {
        int n = (int)std::min<int64_t>(left, sizeof block);
        for (int i = 0; i < n; i += 4)
          memcpy(block + i, &(seed = seed * 1103515245 + 12345), 4);
        sha.update(n, block);
        io->out()->writeBytes(block, n);
        left -= n;
      }
      io->out()->flush();
    }
    int64_t left = kSize;
    uint32_t seed = 1;
    char block[65536];
    crypto::Sha sha{256, false};
  } both;
  io->setHandler(&both);
  ASSERT_TRUE(nettest::runUntil(
      mgr_, [&] { return both.left == 0 && (int64_t)both.data.size() == kSize; }, 300000));
  EXPECT_EQ(both.ended, "");
  io->shutdown(io::Shutdown::kFlush);
  unsigned char digest[32];
  both.sha.final(digest, sizeof digest);
  EXPECT_TRUE(printed(server,
                      "close_notify " + std::to_string(kSize) + " " +
                          tltest::toHex(std::string((const char*)digest, 32)) + "\n",
                      60000));
  plat::MBuf<unsigned char> got;
  crypto::Sha::digest(256, (int)both.data.size(), both.data.data(), got, false);
  EXPECT_NE(server.output().find("sent " + std::to_string(kSize) + " " + tltest::toHex(bytes(got))),
            std::string::npos);
}

// With 10240 decrypted bytes unread the rest stays encrypted; a reader that
// then drains the plain stream gets everything, the rest of the record the
// library held back included, with no further byte from the peer, and then
// the close_notify read on its demand.
TEST_F(ConnectorTest, PlainStreamLimit)
{
  ScriptedServer server("notify:32768"); // two full records
  io::Io* io = nullptr;
  ASSERT_EQ(connect(server, "valid.site.test", &io), "connected");
  struct Idle : io::IoHandler {
    void dataAvailable(io::Io*) override { calls++; }
    void writable(io::Io*) override {}
    int calls = 0;
  } idle;
  io->setHandler(&idle);
  auto* plain = static_cast<rdr::MemIoStream*>(io->in());
  ASSERT_TRUE(printed(server, "sent 32768 "));
  ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return plain->lengthWritten() > 0; }));
  int calls = idle.calls;
  for (int i = 0; i < 20; i++)
    mgr_.processOnce(10);
  // Nobody is woken while the reader makes no room.
  EXPECT_EQ(idle.calls, calls);
  // Not even the first record is all decrypted.
  EXPECT_GE(plain->lengthWritten(), ssl::SslIo::kMaxPlainBytes);
  EXPECT_LT(plain->lengthWritten(), ssl::SslIo::kMaxRecordPayload);
  Reader reader;
  io->setHandler(&reader);
  io->markReadable();
  ASSERT_TRUE(nettest::runUntil(mgr_, [&] { return !reader.ended.empty(); }));
  EXPECT_EQ(reader.ended, "end: SSL connection closed");
  EXPECT_EQ(reader.data.size(), 32768u);
  plat::MBuf<unsigned char> digest;
  crypto::Sha::digest(256, (int)reader.data.size(), reader.data.data(), digest, false);
  EXPECT_NE(server.output().find("sent 32768 " + tltest::toHex(bytes(digest))), std::string::npos);
  io->shutdown(io::Shutdown::kDrop);
  nettest::settle(mgr_);
}

// A null handler during the handshake holds it; a handler set again lets it
// finish.
TEST_F(ConnectorTest, NullHandlerDuringHandshake)
{
  SServer server(serverCert("ip"));
  auto* tls = new ssl::SslIo(
      io::IoPtr(new io::TcpIo(connectTo("127.0.0.1", server.port()), io::TcpIoFlags::kOwnFd)),
      &ssl::SslPublicHttpsVerifier::instance(), factory_->trustManager(), nullptr, nullptr);
  struct Writable : Reader {
    void writable(io::Io*) override { count++; }
    int count = 0;
  } events;
  tls->setHandler(&events);
  tls->setHandler(nullptr);
  for (int i = 0; i < 10; i++)
    mgr_.processOnce(10);
  EXPECT_EQ(events.count, 0);
  tls->setHandler(&events);
  EXPECT_TRUE(nettest::runUntil(mgr_, [&] { return events.count > 0; }));
  EXPECT_EQ(tls->storedError(), nullptr);
  tls->shutdown(io::Shutdown::kDrop);
  nettest::settle(mgr_);
}

// Destroying the connector in each state leaves no descriptor and no
// memory behind, and ends every connection the server accepted. The server
// never answers, so "handshaking" lasts.
TEST_F(ConnectorTest, DestroyInEachState)
{
  ScriptedServer server("hold");
  std::string endpoint = "valid.site.test::" + std::to_string(server.port());
  auto count = [&](const std::string& line) {
    std::string out = server.output();
    int n = 0;
    for (size_t at = 0; (at = out.find(line, at)) != std::string::npos; at++)
      n++;
    return n;
  };
  enum State { kIdle, kStarted, kConnecting, kHandshaking, kOverIo, kOverIoHandshaking };
  int fds = tltest::countFds();
  int hellos = 0;
  for (State state : {kIdle, kStarted, kConnecting, kHandshaking, kOverIo, kOverIoHandshaking}) {
    SCOPED_TRACE(state);
    std::unique_ptr<io::IoConnector> connector;
    if (state >= kOverIo)
      connector = std::make_unique<ssl::SslConnector>(
          io::IoPtr(new io::TcpIo(connectTo("127.0.0.1", server.port()), io::TcpIoFlags::kOwnFd)),
          &ssl::SslPublicHttpsVerifier::instance(), factory_->trustManager(), endpoint.c_str(),
          nullptr);
    else
      connector = tlsTo(endpoint, endpoint.c_str());
    nettest::Result result;
    if (state != kIdle && state != kOverIo)
      connector->start(&result);
    if (state == kConnecting)
      mgr_.processOnce(0);
    if (state == kHandshaking || state == kOverIoHandshaking) {
      hellos++;
      EXPECT_TRUE(nettest::runUntil(mgr_, [&] { return count("hello\n") == hellos; }));
    }
    connector.reset();
    nettest::settle(mgr_);
    EXPECT_EQ(result.reports, 0);
  }
  EXPECT_EQ(tltest::countFds(), fds);
  EXPECT_GE(count("conn\n"), 3);
  EXPECT_TRUE(nettest::runUntil(mgr_, [&] { return count("eof\n") == count("conn\n"); }));
}
