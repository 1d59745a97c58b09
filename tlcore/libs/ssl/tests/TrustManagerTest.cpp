// The trust manager over the zoo: every outcome of the strict profile, the
// chain completed from the store, the verification time, the chain limit
// and the failure log.
#include <string.h>

#include <mbedtls/x509_crt.h>

#include "ssl/SslCertLookup.h"
#include "ssl/SslException.h"
#include "ssl/mbedtls/MbedTlsTrustManager.h"
#include "sslTestUtil.h"

using namespace ssltest;
using ssl::MbedTlsTrustManager;
using ssl::SslCertificatePtr;
using ssl::SslCertLookupCustom;
using ssl::SslException;

namespace {

std::unique_ptr<ssl::SslTrustManager> manager(const std::vector<std::string>& trusted)
{
  auto store = std::make_unique<SslCertLookupCustom>();
  for (const std::string& name : trusted)
    store->addCert(cert(name));
  return ssl::SslTrustManager::create(std::move(store));
}

// The chain's display names, or "code N".
std::string outcome(ssl::SslTrustManager& tm, const std::string& leaf,
                    const std::vector<std::string>& intermediates, plat::Time at)
{
  std::vector<SslCertificatePtr> given;
  for (const std::string& name : intermediates)
    given.push_back(cert(name));
  SslCertificatePtr l = cert(leaf);
  try {
    std::string out;
    for (const SslCertificatePtr& c : tm.verifyChain(l.get(), given, at))
      out += (out.empty() ? "" : " > ") + std::string(c->displayName().str());
    return out;
  } catch (const SslException& e) {
    return "code " + std::to_string(e.getCode());
  }
}

// A lookup whose every query fails.
class BrokenLookup : public ssl::SslCertLookup {
public:
  SslCertificatePtr find(int, const unsigned char*) override
  {
    throw plat::Exception("No trusted certs file or resource 'cacerts.pem' found");
  }
};

} // namespace

TEST(SslTrustManager, OutcomesOverTheZoo)
{
  const std::vector<std::string> root = {"root"}, rootAndInter = {"root", "inter"};
  const std::string chain3 = "valid.site.test > Zoo Intermediate CA > Zoo Root CA";
  std::vector<std::string> ladder6 = {"ladder4", "valid",   "ladder2", "ladder6",
                                      "ladder1", "ladder5", "ladder3"};
  std::vector<std::string> ladder12;
  for (int i = 12; i >= 1; i--)
    ladder12.push_back("ladder" + std::to_string(i));
  struct Case {
    const char* leaf;
    std::vector<std::string> intermediates, trusted;
    plat::Time at;
    std::string expected;
  } cases[] = {
      {"valid", {"inter"}, root, zooNow(), chain3},
      {"valid", {"unknown", "inter", "root"}, root, zooNow(), chain3},
      {"valid", {}, rootAndInter, zooNow(), chain3},
      {"valid", {}, root, zooNow(), "code 3"},
      {"unknown", {}, rootAndInter, zooNow(), "code 3"},
      {"unknown", {"otherroot"}, root, zooNow(), "code 4"},
      {"selfsigned", {}, root, zooNow(), "code 4"},
      {"selfsigned", {}, {"selfsigned"}, zooNow(), "self.site.test"},
      {"expired", {"inter"}, root, zooNow(), "code 2"},
      {"future", {"inter"}, root, zooNow(), "code 1"},
      {"sha1", {"inter"}, root, zooNow(), "code 7"},
      {"weak", {"inter"}, root, zooNow(), "code 7"},
      {"short", {"inter"}, root, zooNow(), "code 7"}, // 2047 bits
      // The verification time, not the machine's clock.
      {"expired",
       {"inter"},
       root,
       plat::makeTime(2020, 6, 1, 0, 0, 0),
       "expired.site.test > Zoo Intermediate CA > Zoo Root CA"},
      {"future", {"inter"}, root, plat::makeTime(2090, 6, 1, 0, 0, 0), "code 2"},
      {"valid", {"inter"}, root, plat::makeTime(2019, 6, 1, 0, 0, 0), "code 1"},
      // Usage is the verifiers' business.
      {"clientonly",
       {"inter"},
       root,
       zooNow(),
       "client.site.test > Zoo Intermediate CA > Zoo Root CA"},
      {"underbad",
       {"badinter"},
       root,
       zooNow(),
       "underbad.site.test > Zoo Client Intermediate CA > Zoo Root CA"},
      // Eight certificates at most: the leaf and 7 intermediates.
      {"ladderleaf6", ladder6, root, zooNow(),
       "six.site.test > Ladder CA 6 > Ladder CA 5 > Ladder CA 4 > Ladder CA 3 > Ladder CA 2 > "
       "Ladder CA 1 > Zoo Root CA"},
      {"ladderleaf12", ladder12, root, zooNow(), "code 3"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ssl::SslTrustManager> tm = manager(c.trusted);
    EXPECT_EQ(c.expected, outcome(*tm, c.leaf, c.intermediates, c.at)) << c.leaf;
  }
  // The store completes a chain up to 8 certificates.
  std::vector<std::string> all = root;
  all.insert(all.end(), ladder12.begin(), ladder12.end());
  std::unique_ptr<ssl::SslTrustManager> tm = manager(all);
  EXPECT_EQ("twelve.site.test > Ladder CA 12 > Ladder CA 11 > Ladder CA 10 > Ladder CA 9 > "
            "Ladder CA 8 > Ladder CA 7 > Ladder CA 6",
            outcome(*tm, "ladderleaf12", {}, zooNow()));
}

TEST(SslTrustManager, MapFailure)
{
  SslCertificatePtr self = cert("selfsigned"), leaf = cert("valid");
  struct Case {
    uint32_t flags;
    std::vector<SslCertificatePtr> chain;
    int code;
  } cases[] = {
      {MBEDTLS_X509_BADCERT_FUTURE | MBEDTLS_X509_BADCERT_EXPIRED, {}, 1},
      {MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_NOT_TRUSTED, {self}, 2},
      {MBEDTLS_X509_BADCERT_NOT_TRUSTED | MBEDTLS_X509_BADCERT_BAD_MD, {self}, 4},
      {MBEDTLS_X509_BADCERT_NOT_TRUSTED, {leaf}, 3},
      {MBEDTLS_X509_BADCERT_NOT_TRUSTED, {}, 3},
      {MBEDTLS_X509_BADCERT_KEY_USAGE, {}, 6},
      {MBEDTLS_X509_BADCERT_EXT_KEY_USAGE, {}, 6},
      {MBEDTLS_X509_BADCERT_NS_CERT_TYPE | MBEDTLS_X509_BADCERT_BAD_KEY, {}, 6},
      {MBEDTLS_X509_BADCERT_BAD_MD, {}, 7},
      {MBEDTLS_X509_BADCERT_BAD_PK, {}, 7},
      {MBEDTLS_X509_BADCERT_BAD_KEY, {}, 7},
      {MBEDTLS_X509_BADCERT_REVOKED, {}, 0},
      {MBEDTLS_X509_BADCERT_CN_MISMATCH, {}, 0},
  };
  for (const Case& c : cases) {
    try {
      MbedTlsTrustManager::mapFailure(c.flags, c.chain);
    } catch (const SslException& e) {
      EXPECT_EQ(c.code, e.getCode()) << std::hex << c.flags;
      EXPECT_STREQ(SslException::codeText(c.code), e.str());
    }
  }
}

TEST(SslTrustManager, FailureLog)
{
  std::unique_ptr<ssl::SslTrustManager> tm = manager({"root"});
  tltest::LogCapture log("MbedTlsTrustManager");
  EXPECT_EQ("code 2", outcome(*tm, "expired", {"inter"}, zooNow()));
  EXPECT_EQ((std::vector<std::string>{
                "Certificate validation failed for certificate:",
                "   Subject = CN=expired.site.test",
                "   Issuer  = CN=Zoo Intermediate CA,OU=Issuing,O=Zoo Test,C=US",
                "   The certificate validity has expired",
            }),
            log.lines());
}

TEST(SslTrustManager, ErrorsNeverCrossTheLibrary)
{
  // A store that fails: logged, and the chain fails with code 0.
  {
    ssl::MbedTlsTrustManager tm(std::make_unique<BrokenLookup>(), true);
    tltest::LogCapture log("MbedTlsTrustManager");
    SslCertificatePtr leaf = cert("valid");
    try {
      tm.verifyChain(leaf.get(), {cert("inter")}, zooNow());
      ADD_FAILURE() << "verified";
    } catch (const SslException& e) {
      EXPECT_EQ(0, e.getCode());
    }
    EXPECT_EQ((std::vector<std::string>{
                  "ssl error: No trusted certs file or resource 'cacerts.pem' found"}),
              log.lines());
  }
  // A certificate the callback cannot make into a certificate object (a
  // name that is no UTF-8): logged, and the library fails the chain.
  std::string der = readFile(zooPath("selfsigned.der"));
  der[der.find("self.site.test")] = '\xff';
  mbedtls_x509_crt crt;
  mbedtls_x509_crt_init(&crt);
  ASSERT_EQ(0, mbedtls_x509_crt_parse_der(&crt, reinterpret_cast<const unsigned char*>(der.data()),
                                          der.size()));
  MbedTlsTrustManager tm(std::make_unique<SslCertLookupCustom>(), true);
  tltest::LogCapture log("MbedTlsTrustManager");
  uint32_t flags = 0;
  int ret = mbedtls_x509_crt_verify_with_profile(&crt, nullptr, nullptr, tm.profile(), nullptr,
                                                 &flags, MbedTlsTrustManager::verifyCallback, &tm);
  EXPECT_EQ(MBEDTLS_ERR_X509_FATAL_ERROR, ret);
  EXPECT_EQ((std::vector<std::string>{"ssl error: bad UTF-8 in certificate"}), log.lines());
  EXPECT_TRUE(tm.takeChain().empty());
  mbedtls_x509_crt_free(&crt);
}
