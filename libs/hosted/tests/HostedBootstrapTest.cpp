// The bootstrap driver against the scripted stand-in: a discovery address
// at once, running out of addresses, the attempt limit, blacklisting on
// "Network" and 500 only, and the cached address tried first without
// traffic. Every owner deletes the driver from inside its callback.
#include <gtest/gtest.h>

#include "hosted/HostedBootstrap.h"
#include "hosted/HostedBootstrapInfo.h"
#include "hostedStandIn.h"

namespace {

using hostedtest::answer;

using hosted::HostedBootstrap;

struct Owner : hosted::HostedBootstrapCallback {
  void discoveryReady(const char* uri) override
  {
    reports++;
    discovery = uri;
    driver.reset();
  }
  void bootstrapFailed(const hosted::HostedException& e) override
  {
    reports++;
    kind = e.getKind();
    error = e.str();
    category = e.getCategory();
    driver.reset();
  }

  std::unique_ptr<HostedBootstrap> driver;
  int reports = 0;
  std::string discovery, kind, error;
  unsigned category = 0;
};

struct HostedBootstrapTest : ::testing::Test {
  void SetUp() override { httptest::prepareProcess(); }
  void TearDown() override
  {
    hosted::hostedBootstrapMaxAttempts.setParam(6, 0);
    session.reset();
    nettest::settle(mgr);
  }

  // A context whose vendor configuration has these bases on the stand-in.
  void vendor(std::vector<std::string> bases, int count, const std::string& discovery = "")
  {
    std::string uris;
    for (const std::string& b : bases)
      uris += (uris.empty() ? "\"" : ", \"") + hostedtest::url(*server, b) + "\"";
    context = hostedtest::context(hostedtest::vendorPackage(
        "\"uris\": [" + uris + "], \"count\": " + std::to_string(count) + ", \"discovery\": \"" +
        discovery + "\""));
    session.reset(new hosted::HostedHttpSession(context, nullptr));
  }
  Owner run()
  {
    Owner o;
    o.driver.reset(new HostedBootstrap(context, *session, &o));
    o.driver->start();
    EXPECT_EQ(o.reports, 0);
    EXPECT_TRUE(nettest::runUntil(mgr, [&] { return o.reports > 0; }));
    EXPECT_EQ(o.reports, 1);
    return o;
  }
  int count(const std::string& base, int n)
  {
    int total = 0;
    for (int i = 0; i < n; i++)
      total += server->count(base + "/" + std::to_string(i));
    return total;
  }

  io::FdSelectManager mgr;
  std::string found = bootstraptest::signedDoc("\"discovery\": \"https://disc.test/found\"");
  std::unique_ptr<httptest::ScriptedServer> server = hostedtest::tlsServer({
      {"/a/0", {answer("", "500 Internal Server Error")}},
      {"/a/1", {answer("", "500 Internal Server Error")}},
      {"/b/0", {answer("", "404 Not Found")}},
      {"/b/1", {answer("", "404 Not Found")}},
      {"/c/0", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true}},
      {"/c/1", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true}},
      {"/s/0", {answer(found)}},
      {"/s/1", {answer(found)}},
  });
  hosted::HostedClientContextPtr context;
  std::unique_ptr<hosted::HostedHttpSession> session;
};

TEST_F(HostedBootstrapTest, VendorDiscoveryAddressComesWithoutRequest)
{
  vendor({"/s"}, 1, "https://disc.test/vendor");
  EXPECT_EQ(run().discovery, "https://disc.test/vendor");
  EXPECT_TRUE(server->requests().empty());
}

TEST_F(HostedBootstrapTest, RunningOutAndTheAttemptLimit)
{
  vendor({}, 1);
  Owner none = run();
  EXPECT_EQ(none.kind, "BTPNoBootstrap");
  EXPECT_EQ(none.error, "Hosted Bootstrap error: No more Bootstrap servers");

  hosted::hostedBootstrapMaxAttempts.setParam(1, 0);
  vendor({"/a"}, 1);
  Owner limited = run();
  EXPECT_EQ(limited.kind, "BTPBootstrapLimit");
  EXPECT_EQ(limited.error, "Hosted Bootstrap error: Gave up after too many attempts");
  EXPECT_EQ(limited.category, 2u);
  EXPECT_EQ(count("/a", 1), 1);
}

// "Network" and 500 drop the server's other addresses, 404 does not; the
// last failure is reported and the cache is erased.
TEST_F(HostedBootstrapTest, BlacklistsOnNetworkAndInternalServerError)
{
  vendor({"/a", "/b", "/c"}, 2);
  std::string cached = bootstraptest::signedDoc();
  hosted::acceptBootstrapAnswer(*context, bootstraptest::kUrl, (int)cached.size(), cached.data());
  ASSERT_TRUE(context->bootstrapCache().sourceUrl());

  Owner o = run();
  EXPECT_EQ(count("/a", 2), 1);
  EXPECT_EQ(count("/b", 2), 2);
  EXPECT_EQ(count("/c", 2), 1);
  EXPECT_EQ(server->requests().size(), 4u);
  EXPECT_EQ(o.category, 2u);
  EXPECT_TRUE(o.kind == "HTTPInternalServerError" || o.kind == "HTTPNotFound" || o.kind == "Network")
      << o.kind;
  EXPECT_FALSE(context->bootstrapCache().sourceUrl());
}

TEST_F(HostedBootstrapTest, FetchedDiscoveryThenCachedAddressFirst)
{
  vendor({"/s"}, 2);
  EXPECT_EQ(run().discovery, "https://disc.test/found");
  // The mirror of the same configuration was not fetched.
  EXPECT_EQ(count("/s", 2), 1);
  const char* source = context->bootstrapCache().sourceUrl();
  ASSERT_TRUE(source);
  EXPECT_EQ(std::string(source).rfind(hostedtest::url(*server, "/s/"), 0), 0u);

  // A new run takes the preferred address first and gets it from the cache.
  EXPECT_EQ(run().discovery, "https://disc.test/found");
  EXPECT_EQ(count("/s", 2), 1);
}

} // namespace
