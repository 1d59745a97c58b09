// Signed bootstrap configurations, vendor configurations and the client
// context, over documents that bootstrap_sign.py encodes and openssl signs.
#include <gtest/gtest.h>

#include <string>

#include "bootstrapDocs.h"
#include "childio.h"
#include "hosted/Bed.h"
#include "hosted/HostedClientContext.h"
#include "hosted/HostedException.h"
#include "hosted/Package.h"
#include "plat/Configuration.h"
#include "plat/Resource.h"
#include "plat/TestFeatures.h"
#include "ssl/SslTrustManager.h"
#include "testutil.h"

namespace {

using bootstraptest::kKeys;
using bootstraptest::kUrl;
using hosted::BootstrapConfig;
using hosted::HostedException;

// "kind|message" of the failure, or "ok".
std::string outcome(const std::string& doc, ssl::SslTrustManager* tm, const char* url,
                    BootstrapConfig::Signature sig)
{
  try {
    BootstrapConfig c((int)doc.size(), doc.data(), tm, url, sig);
    return "ok";
  } catch (const HostedException& e) {
    EXPECT_EQ(HostedException::kBootstrap, e.getCategory());
    return std::string(e.getKind()) + "|" + e.str();
  }
}

std::string keyed(const char* name)
{
  return "\"key\": \"" + kKeys + "/" + name + ".key\", \"certs\": [\"" + kKeys + "/" + name +
         ".pem\"]";
}

TEST(BootstrapConfig, EachCheckInOrder)
{
  auto tm = bootstraptest::trustManager();
  const auto kReq = BootstrapConfig::Signature::Required;
  const auto kOpt = BootstrapConfig::Signature::Optional;
  const std::string good = bootstraptest::signedDoc();
  const std::string g = "GeneralError|Hosted Bootstrap error: ";
  struct Case {
    const char* what;
    std::string doc;
    bool trust;
    const char* url;
    BootstrapConfig::Signature sig;
    std::string expected;
  };
  const Case cases[] = {
      {"not BED", "\x01\x02", true, kUrl, kOpt, "BED|Hosted Bootstrap error: Unexpected BED type"},
      {"no record fields", std::string("\xE0\x01\x02\x80\x0F" "any/signed-data\xE0\x01\x00", 23),
       true, kUrl, kOpt, "BED|Hosted Bootstrap error: BED key 'any/valid-from' not found"},
      {"entry before the signed record", bootstraptest::signedDoc("\"alter\": \"prepend\""), true,
       kUrl, kOpt, g + "Signed data is not the first entry"},
      {"query", bootstraptest::unsignedDoc("\"uris\": [\"https://b.test/btp?x=1\"]"), true, kUrl,
       kOpt, g + "Invalid URI query: https://b.test/btp?x=1"},
      {"fragment", bootstraptest::unsignedDoc("\"uris\": [\"https://b.test/btp#f\"]"), true, kUrl,
       kOpt, g + "Invalid URI query: https://b.test/btp#f"},
      {"scheme", bootstraptest::unsignedDoc("\"uris\": [\"ftp://b.test/btp\"]"), true, kUrl, kOpt,
       g + "Invalid URI scheme: ftp://b.test/btp"},
      {"no scheme", bootstraptest::unsignedDoc("\"uris\": [\"b.test/btp\"]"), true, kUrl, kOpt,
       g + "Invalid URI scheme: b.test/btp"},
      {"count 0", bootstraptest::unsignedDoc("\"count\": 0"), true, kUrl, kOpt,
       g + "Invalid \"btp/config-count\", must be >= 1"},
      {"count 1001", bootstraptest::unsignedDoc("\"count\": 1001"), true, kUrl, kOpt,
       g + "Invalid \"btp/config-count\", must be <= 1000"},
      {"http discovery", bootstraptest::unsignedDoc("\"discovery\": \"http://d.test/\""), true,
       kUrl, kOpt, g + "Invalid URI scheme: http://d.test/"},
      {"http bootstrap with a path",
       bootstraptest::unsignedDoc("\"uris\": [\"http://b.test:81/a/b\"]"), true, kUrl, kOpt, "ok"},
      {"unsigned over https", bootstraptest::unsignedDoc(), true, kUrl, kOpt, "ok"},
      {"unsigned over http", bootstraptest::unsignedDoc(), true, "http://127.0.0.1/btp/0", kReq,
       g + "Unable to find signature for Bootstrap"},
      {"no trust manager", good, false, kUrl, kOpt, g + "Bootstrap signature unverifiable"},
      {"no address", good, true, nullptr, kOpt, g + "Bootstrap signature unverifiable"},
      {"no certificates", bootstraptest::signedDoc("\"certs\": []"), true, kUrl, kReq,
       g + "Package has no issuing certificate"},
      {"signer outside the CA", bootstraptest::signedDoc(keyed("out")), true, kUrl, kReq,
       g + "Untrusted Bootstrap certificate"},
      {"signer for another host", bootstraptest::signedDoc(keyed("other")), true, kUrl, kReq,
       g + "Bootstrap certificate not valid for URL"},
      {"wrong algorithm", bootstraptest::signedDoc("\"algorithm\": \"zarn/rsapss-sha1\""), true,
       kUrl, kReq, g + "Signed with unsupported algorithm"},
      {"algorithm in capitals", bootstraptest::signedDoc("\"algorithm\": \"ZARN/RSAPSS-SHA256\""),
       true, kUrl, kReq, "ok"},
      {"flipped signature byte", bootstraptest::signedDoc("\"alter\": \"flip\""), true, kUrl, kReq,
       g + "Invalid signature"},
      {"record re-encoded", bootstraptest::signedDoc("\"alter\": \"reencode\""), true, kUrl, kReq,
       g + "Invalid signature"},
      {"elliptic-curve signer", bootstraptest::signedDoc(keyed("ec")), true, kUrl, kReq,
       g + "Invalid signature"},
      {"signed", good, true, kUrl, kReq, "ok"},
      {"signed, other port", good, true, "https://127.0.0.1/btp/2", kReq, "ok"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, outcome(c.doc, c.trust ? tm.get() : nullptr, c.url, c.sig)) << c.what;

  // The signature check reads the same bytes openssl signed; the clock it
  // judges the certificate by is the injected one.
  bootstraptest::ClockOffset future(3 * 365 * plat::kTicksPerDay);
  EXPECT_EQ(g + "Untrusted Bootstrap certificate", outcome(good, tm.get(), kUrl, kReq));
}

TEST(BootstrapConfig, Fields)
{
  std::string doc = bootstraptest::signedDoc(
      "\"uris\": [\"https://a.test/btp\", \"http://b.test/btp\"], \"count\": 4, "
      "\"discovery\": \"https://d.test/x\", \"maxAge\": 7200, \"maxBackoff\": -5, "
      "\"validFrom\": 130000000000000000, "
      "\"params\": [[\"p\", \"first\"], [\"q\", \"v\"], [\"p\", \"last\"]]");
  auto tm = bootstraptest::trustManager();
  BootstrapConfig c((int)doc.size(), doc.data(), tm.get(), kUrl,
                    BootstrapConfig::Signature::Required);
  EXPECT_TRUE(c.isSigned());
  EXPECT_EQ(4, c.configCount());
  ASSERT_EQ(2u, c.bootstrapUris().size());
  EXPECT_STREQ("http://b.test/btp", c.bootstrapUris()[1].str());
  ASSERT_EQ(1u, c.discoveryUris().size());
  EXPECT_STREQ("https://d.test/x", c.discoveryUris()[0].str());
  EXPECT_EQ(7200 * plat::kTicksPerSecond, c.maxAge());
  EXPECT_EQ(0u, c.maxBackoffSecs());
  EXPECT_EQ(130000000000000000, c.validFrom());
  EXPECT_TRUE(c.isValidNow());
  EXPECT_STREQ("last", c.parameter("p"));
  EXPECT_EQ(nullptr, c.parameter("none"));
  hosted::BedReader reader((int)doc.size(), doc.data());
  hosted::BedValuePtr root = hosted::decodeBed(reader, nullptr, true);
  const hosted::BedMap& record = root->asMap().get("any/signed-data").asMap();
  EXPECT_STREQ("first", BootstrapConfig::getParameter(record, "p"));
  EXPECT_EQ(nullptr, BootstrapConfig::getParameter(record, "none"));

  std::string u = bootstraptest::unsignedDoc("\"maxBackoff\": 5000000000");
  BootstrapConfig big((int)u.size(), u.data(), nullptr, nullptr,
                      BootstrapConfig::Signature::Optional);
  EXPECT_FALSE(big.isSigned());
  EXPECT_EQ(2147483647u, big.maxBackoffSecs());
  EXPECT_TRUE(big.discoveryUris().empty());
  // Valid from now: an hour's slack on the injected clock, then no more.
  bootstraptest::ClockOffset past(-59 * 60 * plat::kTicksPerSecond);
  EXPECT_TRUE(big.isValidNow());
  bootstraptest::ClockOffset::set(-61 * 60 * plat::kTicksPerSecond);
  EXPECT_FALSE(big.isValidNow());
}

// --- Vendor configuration -----------------------------------------------------------

std::string vendorPackage(const std::string& desc)
{
  return bootstraptest::run("vendor", "{" + desc + "}");
}

std::string vendorSpec(const std::string& certs, const std::string& params)
{
  return "\"certs\": [" + certs + "], \"bootstrap\": {\"uris\": [\"https://127.0.0.1/btp\"], " +
         "\"params\": [" + params + "]}";
}

std::string certPath(const char* name)
{
  return "\"" + kKeys + "/" + name + ".pem\"";
}

std::string vendorError(const std::string& pkg)
{
  try {
    hosted::VendorConfig v((int)pkg.size(), pkg.data());
    return "ok";
  } catch (const HostedException& e) {
    return std::to_string(e.getCategory()) + " " + e.getKind() + "|" + e.str();
  }
}

TEST(VendorConfig, Cases)
{
  {
    tltest::LogCapture log("VendorConfig");
    std::string pkg = vendorPackage(vendorSpec("\"bad\", " + certPath("ca"), ""));
    hosted::VendorConfig v((int)pkg.size(), pkg.data());
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Reading VendorConfig from configData", lines[0]);
    EXPECT_EQ(0u, lines[1].find("Error in Certificate \"0\": ")) << lines[1];
    EXPECT_EQ(20, v.checksum().length());
    // The one trusted root verifies the test signer.
    std::string doc = bootstraptest::signedDoc();
    EXPECT_EQ("ok", outcome(doc, &v.trustManager(), kUrl, BootstrapConfig::Signature::Required));
  }
  const std::string c = "1 ConfigPkg|Hosted Configuration error: ";
  EXPECT_EQ(c + "Could not load any certificates from VendorConfig",
            vendorError(vendorPackage(vendorSpec("\"bad\"", ""))));
  EXPECT_EQ(c + "vendorCfg.BootstrapConfig package does not exist",
            vendorError(vendorPackage("\"certs\": [" + certPath("ca") + "]")));
  EXPECT_EQ(c + "vendorCfg.Certificates package does not exist",
            vendorError(vendorPackage("\"bootstrap\": {}")));
  // Bytes are read as a package from offset 8 on: "kage" is no name length.
  EXPECT_EQ(c + "Invalid Section Name", vendorError("not a package"));
  // A bad built-in configuration keeps its own error.
  EXPECT_EQ("2 GeneralError|Hosted Bootstrap error: Invalid \"btp/config-count\", must be >= 1",
            vendorError(vendorPackage("\"certs\": [" + certPath("ca") +
                                      "], \"bootstrap\": {\"count\": 0}")));
}

TEST(VendorConfig, EnterpriseAddresses)
{
  std::string with = vendorPackage(vendorSpec(
      certPath("ca"), "[\"enterprise/portal-uri\", \"https://portal.test\"], "
                      "[\"enterprise/website-uri\", \"https://www.test\"]"));
  std::string without = vendorPackage(vendorSpec(certPath("ca"), ""));
  for (bool open : {false, true}) {
    std::string report = tltest::childReport([&] {
      static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
      static std::vector<plat::String> noDirs{};
      plat::setTestFeaturesDirsForTests(open ? &keyDirs : &noDirs);
      plat::resetTestFeaturesGateForTests();
      plat::Configuration& g = plat::Configuration::global();
      g.set("_PortalUri", "https://user.test", plat::kPriorityPreference);
      g.set("_ProductUri", "https://before.test", plat::kPriorityDefault);
      hosted::VendorConfig none((int)without.size(), without.data());
      std::string out = std::string(g.getStringParam("_PortalUri").getValue()) + " " +
                        g.getStringParam("_ProductUri").getValue();
      hosted::VendorConfig v((int)with.size(), with.data());
      return out + " " + g.getStringParam("_PortalUri").getValue() + " " +
             g.getStringParam("_ProductUri").getValue();
    });
    EXPECT_EQ(std::string("https://user.test https://before.test ") +
                  (open ? "https://user.test" : "https://portal.test") + " https://www.test",
              report)
        << open;
  }
}

TEST(VendorConfig, TheBuiltInPackage)
{
  plat::BuiltInResource r = plat::findBuiltInResource("CloudConfig.pkg");
  ASSERT_NE(nullptr, r.data);
  hosted::VendorConfig v((int)r.size, r.data);
  EXPECT_EQ(1, v.bootstrapConfig().configCount());
  EXPECT_FALSE(v.bootstrapConfig().isSigned());
}

// Certificates parsed at the first look-up: the built-in package's all
// parse (so deferring them hides no error), a package's verify as when
// parsed at once, a bad one is logged at that look-up, and with none left
// nothing verifies.
TEST(VendorConfig, CertificatesParsedWhenUsed)
{
  plat::BuiltInResource r = plat::findBuiltInResource("CloudConfig.pkg");
  {
    tltest::LogCapture log("VendorConfig");
    hosted::VendorConfig v((int)r.size, r.data);
    EXPECT_EQ(std::vector<std::string>{"Reading VendorConfig from configData"}, log.lines());
  }
  const auto later = hosted::VendorConfig::Certificates::kParseWhenUsed;
  const std::string doc = bootstraptest::signedDoc();
  struct Case {
    std::string certs, outcome;
    size_t lines; // after the look-up
  } cases[] = {
      {certPath("ca"), "ok", 1},
      {"\"bad\", " + certPath("ca"), "ok", 2},
      {"\"bad\"", "not ok", 3},
  };
  for (const Case& c : cases) {
    tltest::LogCapture log("VendorConfig");
    std::string pkg = vendorPackage(vendorSpec(c.certs, ""));
    hosted::VendorConfig v((int)pkg.size(), pkg.data(), later);
    EXPECT_EQ(1u, log.lines().size()) << c.certs;
    std::string got = outcome(doc, &v.trustManager(), kUrl, BootstrapConfig::Signature::Required);
    EXPECT_EQ(c.outcome, got == "ok" ? "ok" : "not ok") << c.certs << " " << got;
    EXPECT_EQ(c.lines, log.lines().size()) << c.certs;
  }
}

// --- Client context -------------------------------------------------------------------

TEST(HostedClientContext, IdentityAndSections)
{
  const std::string certs = vendorSpec(certPath("ca"), "");
  struct Case {
    std::string sections;
    bool both;
  };
  const Case cases[] = {
      {"", false},
      {"\"client.key\": \"KEY\"", false},
      {"\"client.certificate\": \"CERT\"", false},
      {"\"client.key\": \"KEY\", \"client.certificate\": \"CERT\"", true},
  };
  for (const Case& c : cases) {
    std::string pkg = vendorPackage(certs + ", \"sections\": {" + c.sections + "}");
    hosted::HostedClientContext ctx(nullptr, (int)pkg.size(), pkg.data(), nullptr, nullptr,
                                    nullptr, "biz");
    EXPECT_STREQ("biz", ctx.businessId());
    EXPECT_EQ(nullptr, ctx.principal());
    EXPECT_EQ(c.both ? "CERT" : "", std::string((const char*)ctx.clientCertificate().data(),
                                                ctx.clientCertificate().length()));
    EXPECT_EQ(c.both ? "KEY" : "",
              std::string((const char*)ctx.clientKey().data(), ctx.clientKey().length()));
    hosted::HostedClientContext copy(ctx);
    EXPECT_EQ(&ctx.vendorConfig(), &copy.vendorConfig());
    EXPECT_EQ(&ctx.bootstrapCache(), &copy.bootstrapCache());
    EXPECT_EQ(ctx.clientKey().length(), copy.clientKey().length());
  }

  // Made identifiers: version-4 UUIDs, each its own.
  tltest::TempDir dir("tltest_ctx");
  std::string path = dir.write("CloudConfig.pkg", vendorPackage(certs));
  hosted::HostedClientContext a(nullptr, path.c_str(), nullptr, nullptr, nullptr, nullptr);
  hosted::HostedClientContext b(nullptr, path.c_str(), nullptr, nullptr, nullptr, nullptr);
  for (const char* id : {a.businessId(), b.businessId()}) {
    std::string s(id);
    ASSERT_EQ(36u, s.size());
    for (size_t dash : {8, 13, 18, 23})
      EXPECT_EQ('-', s[dash]) << s;
    EXPECT_EQ('4', s[14]) << s;
  }
  EXPECT_STRNE(a.businessId(), b.businessId());

  // A file that is no package fails as the configuration error.
  std::string bad = dir.write("bad.pkg", "nothing");
  try {
    hosted::HostedClientContext c(nullptr, bad.c_str(), nullptr, nullptr, nullptr, nullptr);
    ADD_FAILURE();
  } catch (const HostedException& e) {
    EXPECT_STREQ("ConfigPkg", e.getKind());
    EXPECT_EQ(HostedException::kConfiguration, e.getCategory());
  }
}

} // namespace
