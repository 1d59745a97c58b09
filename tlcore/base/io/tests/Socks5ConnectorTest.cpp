// SOCKS 5 connections through real proxies (microsocks, dante) started on
// free loopback ports, and through a scripted proxy for the replies real
// servers don't produce. Tunnels carry a ping/pong exchange both ways to a
// line server in the test.
#include "io/Socks5Connector.h"

#include <stdio.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "io/ProxyFetcherConnector.h"
#include "io/ProxySettings.h"
#include "netTestUtil.h"

namespace {

// The report of one connector, with the proxy error's kind.
class Outcome : public io::IoConnected {
public:
  void connected(io::IoConnector*, io::IoPtr c) override
  {
    reports++;
    io.reset(c.release());
  }
  void failed(io::IoConnector*, const plat::Exception& e) override
  {
    reports++;
    message = e.str();
    auto* pe = dynamic_cast<const io::ProxyError*>(&e);
    kind = pe ? pe->getKind() : "(not a ProxyError)";
  }
  int reports = 0;
  io::IoPtr io{nullptr, io::Shutdown::kDrop};
  std::string kind;
  std::string message;
};

// Collects what a tunnel receives.
class Sink : public io::IoHandler {
public:
  void dataAvailable(io::Io* c) override
  {
    while (c->in()->check(false, 1)) {
      got += (char)c->in()->readU8();
      c->in()->setCheckpoint();
    }
  }
  void writable(io::Io*) override {}
  std::string got;
};

// A file name of this process in /tmp.
std::string tmpFile(const char* name)
{
  return "/tmp/tl-" + std::to_string(getpid()) + "-" + name;
}

using nettest::freePort;
using tlnet::Peer;

// The scripted proxy: one script per connection; log() gives what the
// client sent, one line per connection.
class Scripted {
public:
  explicit Scripted(const std::vector<std::string>& scripts)
  {
    logPath = tmpFile("socks_scripted.log");
    std::string cmd = "/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/socks_scripted.py " + logPath;
    for (auto& s : scripts)
      cmd += " '" + s + "'";
    pipe = popen(cmd.c_str(), "r");
    if (!pipe || fscanf(pipe, "%d", &port) != 1)
      port = 0;
  }
  ~Scripted()
  {
    if (pipe)
      pclose(pipe);
    unlink(logPath.c_str());
  }
  std::string log()
  {
    pclose(pipe); // the script exits once its connections are served
    pipe = nullptr;
    std::ifstream f(logPath);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  FILE* pipe = nullptr;
  int port = 0;
  std::string logPath;
};

class Socks5ConnectorTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    mgr.reset(new io::FdSelectManager);
    server.reset(new nettest::LineServer(AF_INET));
  }
  void TearDown() override
  {
    io::ProxyTcpConnector::setTimeoutMsForTests(0);
    server.reset();
    nettest::settle(*mgr);
    mgr.reset();
  }

  // Runs connector to its report; a tunnel is checked with ping/pong.
  void run(io::IoConnector* connector, Outcome& out)
  {
    connector->start(&out);
    ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return out.reports > 0; }));
    if (!out.io)
      return;
    io::IoPtr tunnel(std::move(out.io));
    Sink sink;
    tunnel->setHandler(&sink, true);
    tunnel->out()->writeBytes("ping\n", 5);
    tunnel->out()->flush();
    EXPECT_TRUE(nettest::runUntil(*mgr, [&] { return sink.got.size() >= 5; }));
    EXPECT_EQ("pong\n", sink.got);
  }

  std::unique_ptr<io::FdSelectManager> mgr;
  std::unique_ptr<nettest::LineServer> server;
};

TEST_F(Socks5ConnectorTest, RealProxies)
{
  struct Case {
    const char* what;
    const char* peer; // "microsocks", "microsocks-auth" or "dante"
    const char* target;
    const char* user;
    const char* password;
    const char* kind; // "" for a working tunnel
  } cases[] = {
      {"no authentication", "microsocks", "127.0.0.1", nullptr, nullptr, ""},
      {"target by name", "microsocks", "localhost", nullptr, nullptr, ""},
      {"user and password", "microsocks-auth", "127.0.0.1", "alice", "s3cret", ""},
      // Refused without authentication: one retry offering user and
      // password, then nothing to send.
      {"retry without credentials", "microsocks-auth", "127.0.0.1", nullptr, nullptr,
       "AuthenticationRequired"},
      {"wrong password", "microsocks-auth", "127.0.0.1", "alice", "wrong", "AuthenticationFailed"},
      {"dante", "dante", "127.0.0.1", nullptr, nullptr, ""},
  };
  const char* microsocks = "/usr/bin/microsocks";
  const char* danted = "/usr/sbin/danted";
  if (access(microsocks, X_OK) != 0 || access(danted, X_OK) != 0)
    GTEST_SKIP() << "microsocks or danted missing";

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int port = freePort();
    std::string portText = std::to_string(port);
    std::string conf = tmpFile("danted.conf");
    std::unique_ptr<Peer> peer;
    if (strcmp(c.peer, "dante") == 0) {
      std::ofstream(conf) << "internal: 127.0.0.1 port = " << port
                          << "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
                             "user.privileged: root\nuser.unprivileged: nobody\n"
                             "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                             "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
      peer.reset(new Peer({danted, "-f", conf, "-N", "1", "-p", conf + ".pid"}, {port}));
    } else if (strcmp(c.peer, "microsocks") == 0) {
      peer.reset(new Peer({microsocks, "-i", "127.0.0.1", "-p", portText}, {port}));
    } else {
      peer.reset(new Peer(
          {microsocks, "-i", "127.0.0.1", "-p", portText, "-u", "alice", "-P", "s3cret"}, {port}));
    }
    ASSERT_TRUE(peer->ready()) << c.peer << " did not start";

    std::string proxy = "127.0.0.1:" + portText;
    io::Socks5Connector connector(c.target, server->port, proxy.c_str(), io::IoPtr(), nullptr);
    if (c.user)
      connector.setCredentials(c.user, c.password);
    Outcome out;
    run(&connector, out);
    EXPECT_EQ(1, out.reports);
    EXPECT_EQ(c.kind, out.kind) << out.message;
    peer.reset();
    unlink(conf.c_str());
    unlink((conf + ".pid").c_str());
  }
}

// Through the proxy-aware connector: a SOCKS URL and a direct one.
TEST_F(Socks5ConnectorTest, ProxyFetcherConnectorChoosesTheConnector)
{
  if (access("/usr/bin/microsocks", X_OK) != 0)
    GTEST_SKIP() << "microsocks missing";
  int port = freePort();
  Peer peer({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)}, {port});
  ASSERT_TRUE(peer.ready());
  std::string socksUrl = "socks://127.0.0.1:" + std::to_string(port);
  struct Case {
    std::string url;
    std::string method;
  } cases[] = {{socksUrl, "Direct TCP via SOCKS5 proxy 127.0.0.1:" + std::to_string(port)},
               {"direct://", "Direct TCP"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    io::ProxyFetcherConnector connector("127.0.0.1", server->port,
                                        io::ProxyFetcherSync::fromUrl(c.url.c_str(), {}), nullptr);
    EXPECT_STREQ("Direct TCP via proxy settings", connector.methodName(false));
    Outcome out;
    run(&connector, out);
    EXPECT_EQ("", out.kind) << out.message;
    EXPECT_EQ(c.method, connector.methodName(false));
  }
}

TEST_F(Socks5ConnectorTest, ScriptedReplies)
{
  const std::string ok4 = "s05000001c00002010050";
  const std::string request = "05010001c000020101bb"; // 192.0.2.1 port 443
  struct Case {
    const char* what;
    std::vector<std::string> scripts;
    const char* kind;   // "" for success
    const char* detail; // expected in the message, or null
    std::string log;    // what the proxy read
    const char* target = "192.0.2.1";
  } cases[] = {
      {"replies one byte at a time",
       {"g o0500 q o05000001c00002010050"},
       "",
       nullptr,
       "050100 " + request + "\n"},
      {"bound address given as a name",
       {"g s0500 q s0500000309" + std::string("6c6f63616c686f7374") + "0050"},
       "",
       nullptr,
       "050100 " + request + "\n"},
      {"IPv6 bound address",
       {"g s0500 q s0500000400000000000000000000000000000001"
        "0050"},
       "",
       nullptr,
       "050100 " + request + "\n"},
      {"target by name",
       {"g s0500 q " + ok4},
       "",
       nullptr,
       "050100 0501000309" + std::string("6c6f63616c686f7374") + "01bb\n",
       "localhost"},
      {"host name over 255 bytes is refused",
       {"g s0500 q"},
       "ConnectFailed",
       "Host name longer than 255 bytes",
       "050100 eof\n",
       nullptr},
      {"bad version in method reply", {"g s0400"}, "BadProtocol", nullptr, "050100\n"},
      {"unknown method", {"g s0501"}, "AuthenticationUnsupported", nullptr, "050100\n"},
      {"user/pass selected, none known",
       {"g s0502"},
       "AuthenticationRequired",
       "UserPass authentication selected by proxy but no password supplied",
       "050100\n"},
      {"refused twice",
       {"g s05ff", "g s05ff"},
       "AuthenticationUnsupported",
       nullptr,
       "050100\n05020200\n"},
      {"code 02 retried once",
       {"g s0500 q s0502", "g s0500 q s0502"},
       "ConnectDenied",
       nullptr,
       "050100 " + request + "\n05020200 " + request + "\n"},
      {"code 01", {"g s0500 q s0501"}, "BadProtocol", nullptr, "050100 " + request + "\n"},
      {"code 03", {"g s0500 q s0503"}, "ConnectFailed", nullptr, "050100 " + request + "\n"},
      {"code 04", {"g s0500 q s0504"}, "ConnectFailed", nullptr, "050100 " + request + "\n"},
      {"code 05", {"g s0500 q s0505"}, "ConnectFailed", nullptr, "050100 " + request + "\n"},
      {"code 06", {"g s0500 q s0506"}, "ConnectFailed", nullptr, "050100 " + request + "\n"},
      {"code 07", {"g s0500 q s0507"}, "BadProtocol", nullptr, "050100 " + request + "\n"},
      {"code 08", {"g s0500 q s0508"}, "ConnectDenied", nullptr, "050100 " + request + "\n"},
      {"code 09", {"g s0500 q s0509"}, "BadProtocol", nullptr, "050100 " + request + "\n"},
      {"code ff", {"g s0500 q s05ff"}, "BadProtocol", nullptr, "050100 " + request + "\n"},
      {"unknown address type",
       {"g s0500 q s0500000500"},
       "BadProtocol",
       nullptr,
       "050100 " + request + "\n"},
      {"bad reply version",
       {"g s0500 q s0400"},
       "BadProtocol",
       nullptr,
       "050100 " + request + "\n"},
      {"closed mid-exchange", {"g close"}, "ConnectionError", nullptr, "050100\n"},
      {"silent proxy",
       {"g hold"},
       "BadProtocol",
       "Connecting to Proxy Server timed out",
       "050100\n"},
  };
  std::string longName(300, 'a');
  cases[4].target = longName.c_str();
  io::ProxyTcpConnector::setTimeoutMsForTests(500);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scripted proxy(c.scripts);
    ASSERT_NE(0, proxy.port);
    std::string via = "127.0.0.1:" + std::to_string(proxy.port);
    Outcome out;
    {
      io::Socks5Connector connector(c.target, 443, via.c_str(), io::IoPtr(), nullptr);
      connector.start(&out);
      ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return out.reports > 0; }));
    }
    out.io.reset();
    nettest::settle(*mgr); // lets the closing connection reach the proxy
    EXPECT_EQ(1, out.reports);
    EXPECT_EQ(c.kind, out.kind) << out.message;
    if (c.detail) {
      EXPECT_NE(std::string::npos, out.message.find(c.detail)) << out.message;
    }
    EXPECT_EQ(c.log, proxy.log());
  }
}

} // namespace
