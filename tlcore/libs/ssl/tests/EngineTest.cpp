// The TLS engine against openssl s_server with the zoo's certificates, over
// a blocking socket's streams.
#include <mbedtls/ssl.h>
#include <netinet/in.h>

#include <map>
#include <sstream>

#include "crypto/MbedTlsException.h"
#include "rdr/FdInStream.h"
#include "rdr/FdOutStream.h"
#include "rdr/MemOutStream.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslEngine.h"
#include "ssl/SslPrivateKey.h"
#include "ssl/SslTrustManager.h"
#include "sslTestUtil.h"

#include <mbedtls/ssl_ciphersuites.h>

using namespace ssltest;

namespace {

const int kTls12 = 2;

// A socket listening on 127.0.0.1 (port chosen by the system).
int nettestListen(int* port)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (bind(fd, (struct sockaddr*)&sa, sizeof sa) || listen(fd, 4) ||
      getsockname(fd, (struct sockaddr*)&sa, &len))
    throw plat::Exception("listen");
  *port = ntohs(sa.sin_port);
  return fd;
}

struct Client {
  Client(int port, const char* hostName, const uint32_t* suites, int nSuites,
         const ssl::ClientIdentity* identity = nullptr, const std::string& host = "127.0.0.1")
      : fd(connectTo(host, port)), in(fd), out(fd)
  {
    auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
    lookup->addCert(cert("root"));
    tm = ssl::SslTrustManager::create(std::move(lookup));
    engine = ssl::SslEngine::create(tm.get(), nSuites, suites, 1, &kTls12, hostName, identity);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    in.setNonBlocking(true);
  }
  ~Client() { close(fd); }

  void handshake()
  {
    while (!engine->handshake(&in, &out))
      waitReadable();
  }
  std::string read(int n)
  {
    rdr::MemOutStream dest(-1, n);
    while (dest.length() < n)
      if (engine->read(&in, &dest) == MBEDTLS_ERR_SSL_WANT_READ)
        waitReadable();
    return std::string(reinterpret_cast<const char*>(dest.data()), n);
  }
  void write(const std::string& s)
  {
    engine->write((int)s.size(), reinterpret_cast<const uint8_t*>(s.data()), &out);
    out.flush();
  }

  void waitReadable()
  {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 30000) != 1)
      throw plat::Exception("no data from s_server");
  }

  int fd;
  rdr::FdInStream in;
  rdr::FdOutStream out;
  std::unique_ptr<ssl::SslTrustManager> tm;
  std::unique_ptr<ssl::SslEngine> engine;
};

} // namespace

// RSA and ECDSA leaves, on both loopback addresses: the suite the log names,
// the verified chain, and data both ways (s_server -rev answers each line
// reversed).
TEST(SslEngine, HandshakeAndData)
{
  struct Case {
    const char* leaf;
    const char* hostName;
    const char* address;
    const char* suite;
  } cases[] = {
      {"valid", "valid.site.test:443", "127.0.0.1", "TLS-ECDHE-ECDSA-WITH-AES-128-GCM-SHA256"},
      {"rsaleaf", "rsa.site.test", "::1", "TLS-ECDHE-RSA-WITH-AES-128-GCM-SHA256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.leaf);
    SServer server(plus(serverCert(c.leaf), {"-rev"}), c.address);
    tltest::LogCapture log("SslEngine");
    Client client(server.port(), c.hostName, ssl::kNormalSuites, 32, nullptr, c.address);
    ASSERT_EQ(errorOf([&] { client.handshake(); }), "");
    std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        std::string("Established TLS 1.2 connection using ") + c.suite),
              lines.end());
    const auto& chain = client.engine->peerCertificates();
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(bytes(chain[0]->der()), bytes(cert(c.leaf)->der()));
    EXPECT_EQ(bytes(chain[2]->der()), bytes(cert("root")->der()));
    EXPECT_FALSE(client.engine->clientCertificateUsed());
    client.write("hello\n");
    EXPECT_EQ(client.read(6), "olleh\n");
  }
}

// Failures of the handshake, each with its pinned error.
TEST(SslEngine, HandshakeFailures)
{
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* hostName;
    bool high;
    std::string error; // a prefix
  } cases[] = {
      {"tls1.0", plus(serverCert("valid"), {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"}),
       "valid.site.test", false, "ssl_handshake: "},
      {"tls1.1", plus(serverCert("valid"), {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}),
       "valid.site.test", false, "ssl_handshake: "},
      {"tls1.3", plus(serverCert("valid"), {"-tls1_3"}), "valid.site.test", false,
       "ssl_handshake: "},
      {"high vs aes128", plus(serverCert("rsaleaf"), {"-tls1_2", "-cipher", "AES128"}),
       "rsa.site.test", true, "ssl_handshake: "},
      {"no intermediate",
       {"-cert", zooPath("valid.pem"), "-key", zooPath("valid.key")},
       "valid.site.test", false, "code 3: "},
      {"unknown root", plus(serverCert("unknown"), {}), "unknown.site.test", false, "code 3: "},
      {"wrong name", plus(serverCert("valid"), {}), "other.site.test", false, "code 0: "},
      {"expired", plus(serverCert("expired"), {}), "expired.site.test", false, "code 2: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SServer server(c.args);
    Client client(server.port(), c.hostName, c.high ? ssl::kHighSuites : ssl::kNormalSuites,
                  c.high ? 7 : 32);
    std::string error = errorOf([&] { client.handshake(); });
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
}

// Every suite of both profiles that this openssl offers: a server limited
// to it negotiates exactly that suite.
TEST(SslEngine, SuitesPerProfile)
{
  // IANA name -> openssl name, for the TLS 1.2 suites openssl knows.
  std::map<std::string, std::string> names;
  for (const std::string& line :
       tltest::commandLines("openssl ciphers -stdname -tls1_2 'ALL:@SECLEVEL=0'")) {
    std::istringstream words(line);
    std::string iana, dash, name;
    words >> iana >> dash >> name;
    names[iana] = name;
  }
  struct Profile {
    const uint32_t* suites;
    int count;
  } profiles[] = {{ssl::kNormalSuites, 32}, {ssl::kHighSuites, 7}};
  int tried = 0;
  for (const Profile& p : profiles) {
    for (int i = 0; i < p.count; i++) {
      std::string name = mbedtls_ssl_get_ciphersuite_name((int)p.suites[i]);
      std::string iana = name;
      std::replace(iana.begin(), iana.end(), '-', '_');
      if (!names.count(iana))
        continue;
      SCOPED_TRACE(name);
      bool ecdsa = name.find("ECDSA") != std::string::npos;
      SServer server(plus(serverCert(ecdsa ? "valid" : "rsaleaf"),
                          {"-tls1_2", "-cipher", names[iana] + ":@SECLEVEL=0"}));
      tltest::LogCapture log("SslEngine");
      Client client(server.port(), ecdsa ? "valid.site.test" : "rsa.site.test", p.suites,
                    p.count);
      ASSERT_EQ(errorOf([&] { client.handshake(); }), "");
      std::vector<std::string> lines = log.lines();
      EXPECT_NE(std::find(lines.begin(), lines.end(),
                          "Established TLS 1.2 connection using " + name +
                              (name.find("-CBC-") != std::string::npos ? " (EtM)" : "")),
                lines.end());
      tried++;
    }
  }
  EXPECT_GE(tried, 20);
}

// A server that demands a client certificate accepts the zoo's client
// certificate and refuses a client without one.
TEST(SslEngine, ClientIdentity)
{
  tltest::TempDir dir;
  std::string cas = dir.path() + "/cas.pem";
  FILE* f = fopen(cas.c_str(), "we");
  std::string text = tltest::readFile(zooPath("root.pem")) + tltest::readFile(zooPath("inter.pem"));
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  SServer server(plus(serverCert("valid"), {"-Verify", "1", "-CAfile", cas, "-rev"}));

  ssl::ClientIdentity identity{cert("clientonly"),
                               ssl::SslPrivateKey::createFromPem(
                                   tltest::readFile(zooPath("clientonly.key")).c_str(), nullptr)};
  {
    // s_server serves one client at a time.
    Client with(server.port(), "valid.site.test", ssl::kNormalSuites, 32, &identity);
    ASSERT_EQ(errorOf([&] { with.handshake(); }), "");
    EXPECT_TRUE(with.engine->clientCertificateUsed());
    with.write("abc\n");
    EXPECT_EQ(with.read(4), "cba\n");
  }

  Client without(server.port(), "valid.site.test", ssl::kNormalSuites, 32);
  EXPECT_EQ(errorOf([&] { without.handshake(); }).substr(0, 15), "ssl_handshake: ");
}

// A peer that closes the TCP connection in mid-handshake: code 8.
TEST(SslEngine, CloseInHandshake)
{
  int port = 0;
  int listener = nettestListen(&port);
  Client client(port, "valid.site.test", ssl::kNormalSuites, 32);
  EXPECT_FALSE(client.engine->handshake(&client.in, &client.out));
  int peer = accept(listener, nullptr, nullptr);
  // All of the hello is read, so that the close is a FIN, not a reset.
  char hello[4096];
  EXPECT_GT(::read(peer, hello, sizeof hello), 0);
  fcntl(peer, F_SETFL, O_NONBLOCK);
  while (::read(peer, hello, sizeof hello) > 0) {
  }
  close(peer);
  close(listener);
  EXPECT_EQ(errorOf([&] { client.handshake(); }), "code 8: SSL Error: SSL Connection Closed");
}

// The alert the library answers a renegotiation request with, while
// reading, is dropped and logged.
TEST(SslEngine, RenegotiationRequest)
{
  SServer server(serverCert("valid"));
  Client client(server.port(), "valid.site.test", ssl::kNormalSuites, 32);
  client.handshake();
  tltest::LogCapture log("SslEngine");
  server.command("R\n");
  rdr::MemOutStream dest(-1, 1);
  auto discarded = [&] {
    std::vector<std::string> lines = log.lines();
    return std::find(lines.begin(), lines.end(), "Discarding peer alert") != lines.end();
  };
  while (!discarded()) {
    client.waitReadable();
    client.engine->read(&client.in, &dest);
  }
  EXPECT_EQ(dest.length(), 0);
}
