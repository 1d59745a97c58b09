// The TLS engine against openssl s_server with the zoo's certificates, over
// a blocking socket's streams.
#include <mbedtls/ssl.h>

#include "crypto/MbedTlsException.h"
#include "rdr/FdInStream.h"
#include "rdr/FdOutStream.h"
#include "rdr/MemOutStream.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslEngine.h"
#include "ssl/SslPrivateKey.h"
#include "ssl/SslTrustManager.h"
#include "sslTestUtil.h"

using namespace ssltest;

namespace {

const int kTls12 = 2;

struct Client {
  Client(const SServer& server, const char* hostName, const uint32_t* suites, int nSuites,
         const ssl::ClientIdentity* identity = nullptr, const std::string& host = "127.0.0.1")
      : fd(connectTo(host, server.port())), in(fd), out(fd)
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
    Client client(server, c.hostName, ssl::kNormalSuites, 32, nullptr, c.address);
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
    Client client(server, c.hostName, c.high ? ssl::kHighSuites : ssl::kNormalSuites,
                  c.high ? 7 : 32);
    std::string error = errorOf([&] { client.handshake(); });
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
}
