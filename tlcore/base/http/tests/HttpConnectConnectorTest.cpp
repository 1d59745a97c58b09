// CONNECT tunnels through real proxies (tinyproxy, squid) and a scripted
// one, all on 127.0.0.1, to a line server run by the test; the User-Agent
// text.
#include "http/HttpConnectConnector.h"

#include <langinfo.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "netTestUtil.h"
#include "http/UserAgent.h"
#include "io/ProxyTcpConnector.h"
#include "loc/Locale.h"
#include "os/AppInfo.h"
#include "plat/Regex.h"
#include "rdr/BufferedOutStream.h"

namespace {

using nettest::freePort;
using nettest::Result;
using nettest::waitForPort;
using tlnet::Peer;
using tlnet::PeerOutput;

bool matches(const std::string& text, const char* pattern)
{
  std::unique_ptr<plat::Regex> re = plat::Regex::create(pattern, 0);
  return re && re->search(text.c_str());
}

std::string readFile(const std::string& path)
{
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Collects what comes back through a tunnel.
struct Collector : io::IoHandler {
  void dataAvailable(io::Io* c) override
  {
    while (c->in()->check(false, 1))
      got += (char)c->in()->readU8();
    c->in()->setCheckpoint();
  }
  void writable(io::Io*) override {}
  void closed(io::Io*) override { gone = true; }
  std::string got;
  bool gone = false;
};

class HttpConnectTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (!os::AppInfo::isAppNameSet())
      os::AppInfo::setAppName("tltest");
    mgr.reset(new io::FdSelectManager);
    lines.reset(new nettest::LineServer(AF_INET));
  }
  void TearDown() override
  {
    nettest::settle(*mgr);
    lines.reset();
    nettest::settle(*mgr);
    mgr.reset();
  }

  // Runs one connector to the end; the tunnel (kept in result) or "".
  void connect(const std::string& host, int port, int proxyPort, const char* user,
               const char* password)
  {
    std::string proxy = "127.0.0.1:" + std::to_string(proxyPort);
    result.reset(new Result);
    connector.reset(
        new http::HttpConnectConnector(host.c_str(), port, proxy.c_str(), io::IoPtr(), nullptr));
    if (user)
      connector->setCredentials(user, password);
    connector->start(result.get());
    ASSERT_TRUE(nettest::runUntil(
        *mgr, [&] { return result->reports > 0; }, 30000));
    EXPECT_EQ(1, result->reports);
  }

  // Sends "ping" through the tunnel and expects reply back.
  void exchange(const std::string& reply)
  {
    ASSERT_TRUE(result->io) << result->error;
    Collector c;
    result->io->setHandler(&c, true);
    result->io->out()->writeBytes("ping\n", 5);
    result->io->out()->flush();
    EXPECT_TRUE(nettest::runUntil(*mgr, [&] { return c.got.size() >= reply.size(); }));
    EXPECT_EQ(reply, c.got);
    result->io.reset();
  }

  // Starts the scripted proxy; its port.
  int scripted(const std::string& scenario)
  {
    std::string program = std::string(TL_TEST_SUPPORT_DIR) + "/connect_scripted.py";
    script.reset(
        new Peer({"/usr/bin/python3", program, scenario, log.path()}, {}, PeerOutput::kPipe));
    return atoi(script->readLine().c_str());
  }
  // Waits for the scripted proxy to log line.
  bool scriptLogged(const std::string& line)
  {
    return nettest::runUntil(*mgr, [&] {
      return ("\n" + readFile(log.path())).find("\n" + line + "\n") != std::string::npos;
    });
  }

  std::unique_ptr<io::FdSelectManager> mgr;
  std::unique_ptr<nettest::LineServer> lines;
  std::unique_ptr<Result> result;
  std::unique_ptr<http::HttpConnectConnector> connector;
  tltest::TempFile log{"", "connect_log"};
  std::unique_ptr<Peer> script;
};

TEST_F(HttpConnectTest, TinyproxyRetriesAfterClosing407OnNewConnection)
{
  if (access("/usr/bin/tinyproxy", X_OK) != 0)
    GTEST_SKIP() << "no tinyproxy";
  tltest::TempDir dir("tinyproxy");
  int port = freePort();
  std::string conf =
      dir.write("conf", "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 60\n" +
                            "BasicAuth user password\nConnectPort " + std::to_string(lines->port) +
                            "\nAllow 127.0.0.1\nLogLevel Critical\n");
  Peer peer({"/usr/bin/tinyproxy", "-d", "-c", conf}, {});
  ASSERT_TRUE(waitForPort(port, 30000));
  // Its 407 is HTTP/1.0 with "Connection: close".
  connect("127.0.0.1", lines->port, port, "user", "password");
  exchange("pong\n");
}

TEST_F(HttpConnectTest, Squid407OnKeptConnection)
{
  if (access("/usr/sbin/squid", X_OK) != 0 || access("/usr/lib/squid/basic_ncsa_auth", X_OK) != 0)
    GTEST_SKIP() << "no squid";
  tltest::TempDir dir("squid");
  chmod(dir.path().c_str(), 0777); // squid drops root for its helpers
  std::string hash = tltest::commandOutput("openssl passwd -apr1 password");
  dir.write("passwd", "user:" + hash);
  int port = freePort();
  std::string d = dir.path();
  std::string conf = dir.write(
      "conf", "http_port 127.0.0.1:" + std::to_string(port) + "\npid_filename " + d +
                  "/squid.pid\ncache_log " + d + "/cache.log\naccess_log none\ncache deny all\n" +
                  "coredump_dir " + d + "\nvisible_hostname localhost\nnetdb_filename none\n" +
                  "shutdown_lifetime 0 seconds\nauth_param basic program " +
                  "/usr/lib/squid/basic_ncsa_auth " + d + "/passwd\nauth_param basic realm t\n" +
                  "acl authed proxy_auth REQUIRED\nhttp_access allow authed\n" +
                  "http_access deny all\n");
  Peer peer({"/usr/sbin/squid", "-N", "-f", conf}, {});
  ASSERT_TRUE(waitForPort(port, 120000));

  connect("127.0.0.1", lines->port, port, "user", "password");
  exchange("pong\n");
  // A second 407 after the credentials went out.
  connect("127.0.0.1", lines->port, port, "user", "wrong");
  EXPECT_NE(std::string::npos, result->error.find("(AuthenticationFailed)")) << result->error;
}

TEST_F(HttpConnectTest, ScriptedReplies)
{
  struct Case {
    const char* scenario;
    bool credentials;
    const char* error; // a part of the failure's message; null: the tunnel opens
    int connections;
  } cases[] = {
      // The 5 body bytes of the 200 are not tunnel data.
      {"onebyte", false, nullptr, 1},
      {"digest", true, "(AuthenticationUnsupported) [Proxy-Authenticate:Digest realm=\"x\"]", 1},
      {"s503", false, "HTTP status 503 (Service Unavailable) (ConnectFailed)", 1},
      {"s500", false, "HTTP status 500 (Internal Server Error) (BadProtocol)", 1},
      {"close", false, "(ConnectionError)", 1},
      {"http10", true, nullptr, 2},
      {"pconnclose", true, nullptr, 2},
      {"connclose", true, nullptr, 2},
      {"nolength", true, nullptr, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    truncate(log.path().c_str(), 0);
    int port = scripted(c.scenario);
    ASSERT_GT(port, 0);
    connect("127.0.0.1", 9, port, c.credentials ? "user" : nullptr, "password");
    if (c.error) {
      EXPECT_NE(std::string::npos, result->error.find(c.error)) << result->error;
    } else {
      // The buffer that carried the credentials wipes what it sent.
      ASSERT_TRUE(result->io) << result->error;
      auto* out = dynamic_cast<rdr::BufferedOutStream*>(result->io->out()->getBottomStream());
      ASSERT_NE(nullptr, out);
      EXPECT_EQ(c.credentials, out->isSecure());
      exchange("ping\n");
    }
    std::string text = readFile(log.path());
    EXPECT_NE(std::string::npos, text.find("conn " + std::to_string(c.connections) + "\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("conn " + std::to_string(c.connections + 1) + "\n"));
    script.reset();
  }
}

// A 407 that closes its connection lets it go at once, not when the user
// has answered; the answer goes over a new connection.
TEST_F(HttpConnectTest, ClosingChallengeReleasesConnectionBeforeTheAnswer)
{
  struct Prompt : io::ProxyPasswdPrompt {
    void ask(io::ProxyNeeds, const char*, Callback* cb) override { asked = cb; }
    void cancel(Callback*) override { asked = nullptr; }
    Callback* asked = nullptr;
  } prompt;
  int port = scripted("connclose");
  ASSERT_GT(port, 0);
  std::string proxy = "127.0.0.1:" + std::to_string(port);
  result.reset(new Result);
  connector.reset(
      new http::HttpConnectConnector("127.0.0.1", 9, proxy.c_str(), io::IoPtr(), &prompt));
  connector->start(result.get());
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return prompt.asked != nullptr; }));
  EXPECT_TRUE(scriptLogged("eof 1 1"));
  prompt.asked->passwordEntered("user", "password");
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return result->reports > 0; }));
  exchange("ping\n");
  EXPECT_TRUE(scriptLogged("conn 2"));
}

TEST_F(HttpConnectTest, RequestLinesUnderGermanLocale)
{
  int port = scripted("record");
  ASSERT_GT(port, 0);
  {
    // English day and month names in the Date line whatever the locale,
    // which must be in force for this to prove anything.
    loc::LocaleSetter german("de_DE");
    ASSERT_STREQ("So", nl_langinfo(ABDAY_1)) << "locale de_DE.UTF-8 is not generated";
    connect("[2001:db8::1]", 443, port, nullptr, nullptr);
  }
  exchange("ping\n");
  std::string text = readFile(log.path());
  EXPECT_NE(std::string::npos, text.find("> CONNECT [2001:db8::1]:443 HTTP/1.1\n")) << text;
  EXPECT_NE(std::string::npos, text.find("> Host: [2001:db8::1]:443\n")) << text;
  EXPECT_TRUE(matches(text, "\n> Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9][0-9] "
                            "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|"
                            "Dec) [0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] GMT\n"))
      << text;
  EXPECT_TRUE(matches(text, "\n> User-Agent: tltest \\(.*; de_DE\\)\n")) << text;
}

TEST_F(HttpConnectTest, TargetWithControlCharactersIsNotSent)
{
  int port = scripted("record");
  ASSERT_GT(port, 0);
  const char* hosts[] = {"evil\r\nX-Injected: 1", "a b", "tab\there", "del\x7f", ""};
  int n = 0;
  for (const char* host : hosts) {
    SCOPED_TRACE(host);
    connect(host, 443, port, nullptr, nullptr);
    EXPECT_NE(std::string::npos, result->error.find("Bad target host name (ConnectionError)"))
        << result->error;
    n++;
    EXPECT_TRUE(scriptLogged("eof " + std::to_string(n) + " 0"));
  }
}

TEST(UserAgent, ProductAndLocale)
{
  if (!os::AppInfo::isAppNameSet())
    os::AppInfo::setAppName("tltest");
  struct Case {
    const char* version;
    const char* locale;
    const char* pattern;
  } cases[] = {
      {nullptr, "fr_FR", "^tltest \\(.*Linux [^;]*; [^;]+; fr_FR\\)$"},
      {"7.2.1 build 5", "fr_FR", "^tltest/7\\.2\\.1 \\(.*; fr_FR\\)$"},
      {"7.2d3", "fr_FR", "^tltest/7\\.2 \\(.*; fr_FR\\)$"},
      {nullptr, "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklm",
       "^tltest \\(.*; en_US\\)$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    http::setUserAgentVersion(c.version);
    loc::LocaleSetter setter(c.locale);
    std::string ua = http::userAgent().get();
    EXPECT_TRUE(matches(ua, c.pattern)) << ua;
  }
  http::setUserAgentVersion(nullptr);
}

} // namespace
