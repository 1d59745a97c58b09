// The bootstrap cache file: written by one process and read by another,
// bound to the vendor configuration, re-verified, and served within its
// windows on the injected clock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "bootstrapDocs.h"
#include "hosted/BootstrapCache.h"
#include "hosted/BootstrapRequest.h"
#include "hosted/HostedClientContext.h"
#include "hosted/HostedException.h"
#include "hosted/Package.h"
#include "hosted/VendorConfig.h"
#include "os/PersistentStore.h"
#include "plat/Json.h"
#include "testutil.h"

namespace {

using bootstraptest::kKeys;
using bootstraptest::kUrl;
using hosted::BootstrapCache;
using hosted::BootstrapConfig;
using hosted::BootstrapConfigPtr;

const plat::Time kHour = 3600 * plat::kTicksPerSecond;

std::string vendorPackage(const char* ca, const char* portal)
{
  return bootstraptest::run(
      "vendor", "{\"certs\": [\"" + kKeys + "/" + ca + ".pem\"], \"bootstrap\": {\"params\": " +
                    "[[\"enterprise/website-uri\", \"" + portal + "\"]]}}");
}

struct Fixture : ::testing::Test {
  tltest::TempDir dir{"tltest_cache"};
  os::PersistentStoreFile store{dir.path().c_str()};
  std::string pkg = vendorPackage("ca", "https://a.test");
  hosted::VendorConfig vendor{(int)pkg.size(), pkg.data()};
  std::string body = bootstraptest::signedDoc();
  std::string file = dir / BootstrapCache::kFileName;

  BootstrapConfigPtr config(const std::string& doc)
  {
    return BootstrapConfigPtr(new BootstrapConfig((int)doc.size(), doc.data(), &vendor.trustManager(),
                                                  kUrl, BootstrapConfig::Signature::Optional));
  }
  // Writes the signed body as fetched now, with the given expiry offset.
  void store_(plat::Time expiryOffset = kHour)
  {
    BootstrapCache cache(&store, vendor);
    plat::Time now = plat::getTime();
    cache.update(config(body), (int)body.size(), body.data(), kUrl, now + expiryOffset,
                 now + BootstrapCache::kPreferPeriod);
  }
  // Replaces one section of the file.
  void rewrite(const char* section, const std::string& data)
  {
    hosted::PackageReader r(file.c_str());
    hosted::PackageWriter w;
    for (const auto& s : r.sections())
      w.setSection(s.first.c_str(), s.second.data(), s.second.length());
    w.setSection(section, data.data(), (int)data.size());
    w.writeFile(file.c_str());
  }
  // Reads the file back; the log line it left, or "kept".
  std::string readBack(const hosted::VendorConfig& v)
  {
    tltest::LogCapture log("BootstrapCache");
    BootstrapCache cache(&store, v);
    std::vector<std::string> lines = log.lines();
    if (cache.config()) {
      EXPECT_TRUE(lines.empty());
      return "kept";
    }
    EXPECT_EQ(nullptr, cache.sourceUrl());
    EXPECT_FALSE(cache.isPreferred());
    EXPECT_NE(0, access(file.c_str(), F_OK)) << "file left behind";
    return lines.empty() ? "" : lines[0];
  }
};

TEST_F(Fixture, AcrossTwoProcesses)
{
  ASSERT_EQ(0, tltest::inChild([&] {
    store_();
    return 0;
  }));
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // The file as python reads it.
  std::string dump = tltest::commandOutput("/usr/bin/python3 " + std::string(TL_TEST_SUPPORT_DIR) +
                                           "/bed_reference.py package-dump " + file);
  plat::JsonPtr<plat::JsonObject> doc =
      plat::toJsonObject(plat::JsonValue::parse(dump.data(), (int)dump.size(), nullptr));
  EXPECT_EQ(4, doc->size());
  EXPECT_EQ(tltest::toHex(body), doc->get("BootstrapCache")->asString().str());
  EXPECT_EQ(tltest::toHex(kUrl), doc->get("SourceUrl")->asString().str());
  EXPECT_EQ(tltest::toHex(std::string((const char*)vendor.checksum().data(), 20)),
            doc->get("VendorConfigChecksum")->asString().str());

  BootstrapCache cache(&store, vendor);
  ASSERT_TRUE(cache.config());
  EXPECT_TRUE(cache.config()->isSigned());
  EXPECT_STREQ(kUrl, cache.sourceUrl());
  EXPECT_TRUE(cache.hasFreshConfig());
  EXPECT_TRUE(cache.isPreferred());
  char expiry[17];
  snprintf(expiry, sizeof(expiry), "%016llx", (unsigned long long)cache.expiryTime());
  EXPECT_EQ(0u, std::string(doc->get("ExpiryTime")->asString().str()).find(expiry));

  // Fresh for the configuration's age, preferred for a day, on the
  // injected clock.
  bootstraptest::ClockOffset later(kHour + 60 * plat::kTicksPerSecond);
  EXPECT_FALSE(cache.hasFreshConfig());
  EXPECT_TRUE(cache.isPreferred());
  bootstraptest::ClockOffset::set(25 * kHour);
  EXPECT_FALSE(cache.isPreferred());

  cache.erase();
  EXPECT_FALSE(cache.config());
  EXPECT_EQ(0, cache.expiryTime());
  EXPECT_NE(0, access(file.c_str(), F_OK));
}

TEST_F(Fixture, ErasedWhenUnusable)
{
  const std::string u = "Unable to read cache: ";
  store_();
  EXPECT_EQ("kept", readBack(vendor));

  std::string other = vendorPackage("ca", "https://b.test");
  hosted::VendorConfig v2((int)other.size(), other.data());
  EXPECT_EQ(u + "Checksum of package file does not match that in the cache", readBack(v2));

  store_(kHour + 60 * plat::kTicksPerSecond);
  EXPECT_EQ(u + "expiryTime in cache exceeds age of the config", readBack(vendor));

  store_();
  rewrite("ExpiryTime", std::string(15, '\0'));
  EXPECT_EQ(u + "Invalid ExpiryTime in cache", readBack(vendor));

  store_();
  std::string outside = vendorPackage("outca", "https://a.test");
  hosted::VendorConfig v3((int)outside.size(), outside.data());
  EXPECT_EQ(u + "Hosted Bootstrap error: Untrusted Bootstrap certificate", readBack(v3));

  // A cached document must be signed, and valid for its address.
  store_();
  std::string unsignedBody = bootstraptest::unsignedDoc();
  rewrite("BootstrapCache", unsignedBody);
  EXPECT_EQ(u + "Hosted Bootstrap error: Unable to find signature for Bootstrap", readBack(vendor));
  store_();
  rewrite("SourceUrl", "https://other.test/btp/0");
  EXPECT_EQ(u + "Hosted Bootstrap error: Bootstrap certificate not valid for URL", readBack(vendor));

  store_();
  rewrite("VendorConfigChecksum", "");
  EXPECT_EQ(u + "Checksum of package file does not match that in the cache", readBack(vendor));
  tltest::TempDir plain("tltest_cache2");
  store_();
  std::string bytes = tltest::readFile(file);
  plain.write("x", bytes.substr(0, bytes.size() / 2));
  rename((plain / "x").c_str(), file.c_str());
  EXPECT_EQ(0u, readBack(vendor).find(u));
}

TEST_F(Fixture, UnsignedAndStoreless)
{
  tltest::LogCapture log("BootstrapCache");
  std::string u = bootstraptest::unsignedDoc();
  BootstrapCache cache(&store, vendor);
  cache.update(config(u), (int)u.size(), u.data(), kUrl, plat::getTime() + kHour, 0);
  EXPECT_FALSE(cache.config());
  EXPECT_NE(0, access(file.c_str(), F_OK));
  EXPECT_EQ(std::vector<std::string>{"Unable to update cache: Bootstrap config is not signed"},
            log.lines());

  BootstrapCache memory(nullptr, vendor);
  memory.update(config(body), (int)body.size(), body.data(), kUrl, plat::getTime() + kHour,
                plat::getTime() + kHour);
  EXPECT_TRUE(memory.hasFreshConfig());
  EXPECT_NE(0, access(file.c_str(), F_OK));
  memory.erase();
  EXPECT_FALSE(memory.hasFreshConfig());
}

// A server's answer: verified for its address, logged when not yet valid,
// cached only when signed.
TEST_F(Fixture, Answers)
{
  hosted::HostedClientContext ctx(nullptr, (int)pkg.size(), pkg.data(), &store, nullptr, nullptr,
                                  nullptr);
  auto accept = [&](const char* url, const std::string& doc) -> std::string {
    try {
      hosted::acceptBootstrapAnswer(ctx, url, (int)doc.size(), doc.data());
      return "ok";
    } catch (const hosted::HostedException& e) {
      return e.str();
    }
  };
  std::string u = bootstraptest::unsignedDoc();
  EXPECT_EQ("Hosted Bootstrap error: Unable to find signature for Bootstrap",
            accept("http://127.0.0.1/btp/0", u));
  EXPECT_EQ("ok", accept("https://127.0.0.1/btp/0", u));
  EXPECT_FALSE(ctx.bootstrapCache().config());
  EXPECT_EQ("Hosted Bootstrap error: Bootstrap certificate not valid for URL",
            accept("http://other.test/btp/0", body));

  plat::Time before = plat::getTime();
  EXPECT_EQ("ok", accept("http://127.0.0.1/btp/1", body));
  plat::Time after = plat::getTime();
  hosted::BootstrapCache& cache = ctx.bootstrapCache();
  ASSERT_TRUE(cache.config());
  EXPECT_STREQ("http://127.0.0.1/btp/1", cache.sourceUrl());
  EXPECT_GE(cache.expiryTime(), before + kHour);
  EXPECT_LE(cache.expiryTime(), after + kHour);
  EXPECT_GE(cache.preferredUntil(), before + 24 * kHour);
  EXPECT_LE(cache.preferredUntil(), after + 24 * kHour);
  EXPECT_EQ(0, access(file.c_str(), F_OK));

  // Valid from two hours ahead is delivered and logged; half an hour ahead
  // passes silently.
  auto ahead = [](plat::Time by) {
    return bootstraptest::signedDoc("\"validFrom\": " + std::to_string(plat::getTime() + by));
  };
  std::string twoHours = ahead(2 * kHour), halfHour = ahead(kHour / 2);
  tltest::LogCapture log("BootstrapRequest");
  EXPECT_EQ("ok", accept(kUrl, twoHours));
  std::vector<std::string> lines = log.lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("Bootstrap configuration is not yet valid (valid from 20")) << lines[0];
  EXPECT_EQ('Z', lines[0][lines[0].size() - 2]) << lines[0];
  EXPECT_EQ(0, log.levels()[0]);
  EXPECT_EQ("ok", accept(kUrl, halfHour));
  EXPECT_EQ(1u, log.lines().size());

  // The longest max-age a server can give: fresh until the end of time, in
  // memory and read back.
  EXPECT_EQ("ok", accept(kUrl, bootstraptest::signedDoc("\"maxAge\": 9223372036854775807")));
  EXPECT_EQ(INT64_MAX, cache.expiryTime());
  EXPECT_EQ("kept", readBack(vendor));
}

} // namespace
