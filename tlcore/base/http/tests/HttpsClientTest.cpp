// HTTPS with ssl::createHttpsClient against the scripted server speaking
// TLS with a CA made by openssl at test time: the "cacerts.pem" bundle of
// the data directory, else the built-in one; directly and through tinyproxy
// (CONNECT) and microsocks (SOCKS 5) to "localhost", the certificate checked
// against the target, never the proxy.
#include "ssl/HttpsClient.h"

#include <signal.h>
#include <stdlib.h>

#include <memory>

#include "httpTestUtil.h"
#include "netTestUtil.h"
#include "rootdir.h"
#include "http/UserAgent.h"
#include "io/ProxySettings.h"
#include "io/TcpConnector.h"
#include "os/AppInfo.h"
#include "os/dirs.h"

namespace {

using httptest::Outcome;
using httptest::ScriptedServer;

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

// A proxy program on a free port of 127.0.0.1; stopped when this goes.
struct Proxy {
  Proxy(const std::vector<std::string>& args, int port) : port(port)
  {
    pid = fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    nettest::waitForPort(port, 5000);
  }
  ~Proxy()
  {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
  int port;
};

struct Provider : io::ProxySettingsProvider {
  std::string server;
  bool enabled() override { return true; }
  plat::String proxyServer() override { return plat::String(server.c_str()); }
  plat::String proxyUser() override { return plat::String(); }
  plat::SecureString proxyPassword() override { return plat::SecureString(); }
};

class HttpsClientTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    httptest::prepareProcess();
    mgr.reset(new io::FdSelectManager);
    target = ca.server("target", "DNS:localhost");
    proxyOnly = ca.server("proxyaddr", "IP:127.0.0.1");
  }
  void TearDown() override
  {
    io::proxySettingsProvider() = nullptr;
    nettest::settle(*mgr);
    mgr.reset();
  }

  // A client whose bundle is the test CA, from a data directory that
  // passes the root checks; null when that cannot be made.
  std::unique_ptr<http::HttpClient> trustingClient()
  {
    if (data.path().empty())
      return nullptr;
    tltest::commandOutput("cp " + ca.path("ca.pem") + " " + (data / "cacerts.pem"));
    os::setSystemConfigDir(data.path().c_str());
    return ssl::createHttpsClient(nullptr);
  }
  Outcome get(http::HttpClient* client, const std::string& url)
  {
    std::unique_ptr<http::HttpRequest> r(client->newRequest("GET", url.c_str()));
    Outcome o;
    r->start(&o);
    EXPECT_TRUE(nettest::runUntil(*mgr, [&] { return o.done(); }));
    if (o.ok) {
      http::SharedBytes body = r->getResponseBody();
      o.error = std::string((const char*)body->data(), body->length());
    }
    r.reset();
    nettest::settle(*mgr);
    return o;
  }

  std::unique_ptr<io::FdSelectManager> mgr;
  httptest::TestCa ca;
  std::string target, proxyOnly;
  tltest::RootOnlyDir data;
};

TEST_F(HttpsClientTest, BundleFromDataDirectory)
{
  tltest::LogCapture log("SslCertLookupSystemFile");
  std::unique_ptr<http::HttpClient> client = trustingClient();
  if (!client)
    GTEST_SKIP() << "needs root for a trusted data directory";
  ScriptedServer server(httptest::Script{{"ok", {kOk}}}, target, ca.path("target.key"));
  std::string host = "localhost:" + std::to_string(server.port());
  Outcome o = get(client.get(), "https://" + host + "/ok/whole?x=1");
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_EQ("hello", o.error);
  EXPECT_EQ((std::vector<std::string>{"Using trusted certs from '" + (data / "cacerts.pem") + "'"}),
            log.lines());
  // The request on the wire, as over plain TCP.
  auto got = server.requests();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ("GET /ok/whole?x=1 HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " +
                http::userAgent().str() + "\r\n\r\n",
            got[0].bytes);
  // A plain-http URL is not this client's.
  EXPECT_THROW(client->newRequest("GET", "http://localhost/"), plat::Exception);
}

TEST_F(HttpsClientTest, BuiltInBundle)
{
  tltest::TempDir empty("httpsdata");
  os::setSystemConfigDir(empty.path().c_str());
  tltest::LogCapture log("SslCertLookupSystemFile");
  std::unique_ptr<http::HttpClient> client = ssl::createHttpsClient(nullptr);
  ScriptedServer server(httptest::Script{{"ok", {kOk}}}, target, ca.path("target.key"));
  Outcome o = get(client.get(), "https://localhost:" + std::to_string(server.port()) + "/ok/whole");
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(0u, o.error.find("Error connecting: ")) << o.error;
  EXPECT_EQ((std::vector<std::string>{"Using trusted certs from 'Built-in resource cacerts.pem'"}),
            log.lines());
}

// The certificate is checked against the target, whichever way the
// connection goes.
TEST_F(HttpsClientTest, ThroughProxies)
{
  std::unique_ptr<http::HttpClient> client = trustingClient();
  if (!client)
    GTEST_SKIP() << "needs root for a trusted data directory";
  if (access("/usr/bin/tinyproxy", X_OK) != 0 || access("/usr/bin/microsocks", X_OK) != 0)
    GTEST_SKIP() << "tinyproxy or microsocks missing";
  ScriptedServer good(httptest::Script{{"ok", {kOk}}}, target, ca.path("target.key"));
  ScriptedServer bad(httptest::Script{{"ok", {kOk}}}, proxyOnly, ca.path("proxyaddr.key"));
  tltest::TempDir dir("httpsproxy");
  int tinyPort = nettest::freePort();
  std::string conf = dir.write("tinyproxy.conf", "Port " + std::to_string(tinyPort) +
                                                     "\nListen 127.0.0.1\nTimeout 60\nConnectPort " +
                                                     std::to_string(good.port()) + "\nConnectPort " +
                                                     std::to_string(bad.port()) +
                                                     "\nAllow 127.0.0.1\nLogLevel Critical\n");
  Proxy tiny({"/usr/bin/tinyproxy", "-d", "-c", conf}, tinyPort);
  int socksPort = nettest::freePort();
  Proxy socks({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(socksPort)},
              socksPort);
  Provider provider;
  io::proxySettingsProvider() = &provider;
  for (const std::string& proxy : {"http://127.0.0.1:" + std::to_string(tinyPort),
                                   "socks://127.0.0.1:" + std::to_string(socksPort)}) {
    SCOPED_TRACE(proxy);
    provider.server = proxy;
    client->closeIdleConnections();
    Outcome ok = get(client.get(), "https://localhost:" + std::to_string(good.port()) + "/ok/whole");
    EXPECT_TRUE(ok.ok) << ok.error;
    Outcome refused =
        get(client.get(), "https://localhost:" + std::to_string(bad.port()) + "/ok/whole");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(0u, refused.error.find("Error connecting: ")) << refused.error;
  }
  EXPECT_EQ(2u, good.requests().size());
  EXPECT_EQ(0u, bad.requests().size());
}

// The server name given to the TLS factory: host and absolute port, null
// for a numeric address.
TEST_F(HttpsClientTest, ServerNames)
{
  struct Spy : http::SslConnectorFactory {
    std::unique_ptr<io::IoConnector> newConnector(std::unique_ptr<io::IoConnector> inner,
                                                  const char* serverName) override
    {
      names.push_back(serverName ? serverName : "(null)");
      return inner;
    }
    std::vector<std::string> names;
  };
  Spy* spy = new Spy;
  std::unique_ptr<http::HttpClient> client(
      http::createHttpClient(std::unique_ptr<http::SslConnectorFactory>(spy)));
  nettest::RefusedPort refused;
  std::string port = std::to_string(refused.port);
  for (const char* host : {"localhost", "[::1]", "127.0.0.1"})
    EXPECT_FALSE(get(client.get(), "https://" + std::string(host) + ":" + port + "/").ok);
  EXPECT_EQ((std::vector<std::string>{"localhost::" + port, "(null)", "(null)"}), spy->names);
}

} // namespace
