// Host-name and usage verification over the zoo.
#include "ssl/SslException.h"
#include "ssl/SslVerifier.h"
#include "sslTestUtil.h"

using namespace ssltest;
using ssl::SslCertificatePtr;
using ssl::SslException;

namespace {

// "ok", "code N: message" or the error text.
std::string outcome(ssl::SslVerifier& v, const std::vector<std::string>& chain,
                    const char* endpoint)
{
  std::vector<SslCertificatePtr> certs;
  for (const std::string& name : chain)
    certs.push_back(cert(name));
  std::string error = errorOf([&] { v.verify(certs, endpoint); });
  return error.empty() ? "ok" : error;
}

} // namespace

TEST(MatchHostName, Rules)
{
  struct Case {
    const char* host;
    const char* pattern;
    bool match;
  } cases[] = {
      {"api.site.test", "*.site.test", true},
      {"api.site.test", "api.site.test", true},
      {"api.site.test", "*.test", false},
      {"site.test", "*.test", false},
      {"api.site.test", "a*.site.test", false},
      {"api.site.test", "*.*.site.test", false},
      {"a.api.site.test", "*.site.test", false},
      {"site.test", "*.site.test", false},
      {".site.test", "*.site.test", false},
      {"api.site.test", "api.*.test", false},
      {"api.site.test", "api.site.test.", false},
      {"api.site.test.", "api.site.test.", false},
      {"api..test", "api..test", false},
      {"API.SITE.TEST", "api.site.test", false},
      {"api.site.test", "API.site.test", false},
      {"api.SITE.test", "*.site.test", false},
      {"API.site.test", "*.site.test", true},
      {"localhost", "localhost", true},
      {"intranet", "intranet", false},
      {"LOCALHOST", "localhost", false},
      {"", "", false},
      {"api.site.test", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.match, ssl::matchHostName(c.host, c.pattern)) << c.host << " / " << c.pattern;
}

TEST(SslHostnameVerifier, Names)
{
  const std::string no = "code 9: SSL Error: SSL certificate does not match intended host";
  struct Case {
    const char* cert;
    const char* endpoint;
    std::string expected;
  } cases[] = {
      {"valid", "valid.site.test", "ok"},
      {"valid", "valid.site.test:8443", "ok"},
      {"valid", "valid.site.test::443", "ok"},
      {"valid", "VALID.SITE.TEST", no},
      {"valid", "other.site.test", no},
      {"wildcard", "api.site.test", "ok"},
      {"wildcard", "a.api.site.test", no},
      {"wildcard", "site.test", no},
      {"ip", "127.0.0.1", "ok"},
      {"ip", "127.0.0.1:443", "ok"},
      {"ip", "[::1]:443", "ok"},
      {"ip", "[0:0::1]", "ok"},
      {"ip", "127.0.0.2", no},
      {"ip", "[::2]", no},
      // A commonName is never used for an address.
      {"cnaddress", "10.0.0.1", no},
      {"cnonly", "cnonly.site.test", "ok"},
      {"cnonly", "CNONLY.site.test", no},
      {"twocn", "one.site.test", no},
      {"twocn", "two.site.test", no},
      {"emailcn", "mail.site.test", "ok"},
      {"emailonly", "site.test", no},
      {"names", "names.site.test", "ok"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, outcome(ssl::SslHostnameVerifier::instance(), {c.cert}, c.endpoint))
        << c.cert << " @ " << c.endpoint;
}

TEST(SslPublicUsageVerifier, Usages)
{
  const std::string usage = "code 6: X.509 Error: Certificate usage not correct: ";
  struct Case {
    std::vector<std::string> chain;
    std::string expected;
  } cases[] = {
      {{"valid", "inter", "root"}, "ok"},
      {{"cnonly"}, "ok"},
      {{"clientonly", "inter", "root"}, usage + "missing serverAuth ext usage"},
      {{"noeku", "inter", "root"}, usage + "missing serverAuth ext usage"},
      {{"badku", "inter", "root"}, usage + "missing digitalSignature/keyEncipherment usage"},
      {{"underbad", "badinter", "root"}, usage + "missing intermediate serverAuth ext usage"},
      // The last certificate is exempt.
      {{"underbad", "badinter"}, "ok"},
      // Intermediates without the extension are not restricted.
      {{"ladderleaf6", "ladder6", "root"}, "ok"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, outcome(ssl::SslPublicUsageVerifier::instance(), c.chain, "x.site.test"))
        << c.chain[0];
}

TEST(SslPublicHttpsVerifier, NameThenUsage)
{
  ssl::SslVerifier& v = ssl::SslPublicHttpsVerifier::instance();
  EXPECT_EQ("ok", outcome(v, {"valid", "inter", "root"}, "valid.site.test"));
  EXPECT_EQ(0u, outcome(v, {"clientonly", "inter"}, "other.site.test").find("code 9"));
  EXPECT_EQ(0u, outcome(v, {"clientonly", "inter"}, "client.site.test").find("code 6"));
  for (ssl::SslVerifier* each :
       {(ssl::SslVerifier*)&v, (ssl::SslVerifier*)&ssl::SslHostnameVerifier::instance(),
        (ssl::SslVerifier*)&ssl::SslPublicUsageVerifier::instance()})
    EXPECT_EQ(0u, outcome(*each, {}, "x").find("Assertion 'chain.size() > 0' failed at "));
}
