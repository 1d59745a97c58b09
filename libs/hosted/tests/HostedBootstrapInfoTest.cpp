// The bootstrap information against the scripted stand-in: values handed
// out one per start from one GET, override values first, failures with and
// without the caller's error, failed servers skipped, the cache served
// without traffic, and the object deleted inside its own callback.
#include <gtest/gtest.h>

#include "hosted/HostedBootstrapInfo.h"
#include "hostedStandIn.h"

namespace {

using hostedtest::answer;

using hosted::HostedBootstrapInfo;
using hosted::HostedException;

struct Caller : hosted::HostedBootstrapInfoCallback {
  void serviceFound(const char* value) override
  {
    reports++;
    found.push_back(value);
    if (deleteInCallback)
      info.reset();
  }
  void bootstrapFailed(const HostedException& e) override
  {
    reports++;
    kind = e.getKind();
    error = e.str();
    category = e.getCategory();
    if (deleteInCallback)
      info.reset();
  }

  std::unique_ptr<HostedBootstrapInfo> info;
  bool deleteInCallback = false;
  int reports = 0;
  std::vector<std::string> found;
  std::string kind, error;
  unsigned category = 0;
};

constexpr const char* kKey = "enterprise/auth-uris";

struct HostedBootstrapInfoTest : ::testing::Test {
  void SetUp() override { httptest::prepareProcess(); }
  void TearDown() override
  {
    hosted::hostedBootstrapInfoOverride.setParam("", 0);
    hosted::hostedBootstrapMaxAttempts.setParam(6, 0);
    session.reset();
    nettest::settle(mgr);
  }

  void vendor(std::vector<std::string> bases)
  {
    std::string uris;
    for (const std::string& b : bases)
      uris += (uris.empty() ? "\"" : ", \"") + hostedtest::url(*server, b) + "\"";
    context = hostedtest::context(hostedtest::vendorPackage("\"uris\": [" + uris + "]"));
    session.reset(new hosted::HostedHttpSession(context, nullptr));
  }
  // One start; the caller has one more report after it.
  void next(Caller& c, const HostedException* error = nullptr)
  {
    int before = c.reports;
    if (!c.info)
      c.info.reset(new HostedBootstrapInfo(*context, *session, &c, kKey));
    c.info->start(error, 0);
    EXPECT_EQ(c.reports, before);
    EXPECT_TRUE(nettest::runUntil(mgr, [&] { return c.reports > before; }));
    EXPECT_EQ(c.reports, before + 1);
  }

  io::FdSelectManager mgr;
  std::string three = bootstraptest::signedDoc(
      "\"params\": [[\"enterprise/auth-uris\", \"https://u1.test;https://u2.test;;https://u3.test\"]]");
  std::string none = bootstraptest::signedDoc("\"params\": [[\"enterprise/other\", \"x\"]]");
  std::unique_ptr<httptest::ScriptedServer> server = hostedtest::tlsServer({
      {"/v/0", {answer(three)}},
      {"/m/0", {answer(none)}},
      {"/nf/0", {answer("", "404 Not Found")}},
      {"/net/0", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true}},
  });
  hosted::HostedClientContextPtr context;
  std::unique_ptr<hosted::HostedHttpSession> session;
  HostedException given{HostedException::kDiscovery, "HTTPBadGateway", "from the service"};
};

TEST_F(HostedBootstrapInfoTest, ValuesHandedOutOnePerStart)
{
  vendor({"/v"});
  Caller c;
  for (int i = 0; i < 3; i++)
    next(c, i ? &given : nullptr);
  std::vector<std::string> sorted = c.found;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"https://u1.test", "https://u2.test", "https://u3.test"}));
  EXPECT_EQ(server->count("/v/0"), 1);
  // Nothing left: the caller's own error comes back.
  next(c, &given);
  EXPECT_EQ(c.error, given.str());
  EXPECT_EQ(c.category, HostedException::kDiscovery);
  // Without one, the configuration package error.
  next(c);
  EXPECT_EQ(c.kind, "ConfigPkg");
  EXPECT_EQ(c.error, "Hosted Configuration error: Invalid Bootstrap package");
  EXPECT_DEATH(
      {
        c.info->start(nullptr, 1000);
        c.info->start(nullptr, 0);
      },
      "!request.get\\(\\) && !fetchTimer.isStarted\\(\\)");
}

TEST_F(HostedBootstrapInfoTest, OverrideValuesFirst)
{
  hosted::hostedBootstrapInfoOverride.setParam(
      "enterprise/other=https://no.test;enterprise/auth-uris=https://over.test;enterprise/auth-uris=https://u2.test",
      0);
  vendor({"/v"});
  Caller c;
  for (int i = 0; i < 4; i++)
    next(c);
  // The override values (the last item first), then the configured ones
  // not handed out yet.
  EXPECT_EQ(std::vector<std::string>(c.found.begin(), c.found.begin() + 2),
            (std::vector<std::string>{"https://u2.test", "https://over.test"}));
  std::sort(c.found.begin() + 2, c.found.end());
  EXPECT_EQ(std::vector<std::string>(c.found.begin() + 2, c.found.end()),
            (std::vector<std::string>{"https://u1.test", "https://u3.test"}));
}

TEST_F(HostedBootstrapInfoTest, MissingParameterAndFailedServers)
{
  tltest::LogCapture log("HostedBootstrapInfo");
  vendor({"/m"});
  Caller missing;
  missing.deleteInCallback = true;
  next(missing);
  EXPECT_EQ(missing.kind, "BTPNoBootstrap");
  EXPECT_EQ(missing.error, "Hosted Bootstrap error: Invalid Bootstrap config for product");

  // Failed servers are skipped.
  vendor({"/nf", "/net", "/v"});
  Caller c;
  c.deleteInCallback = true;
  next(c);
  EXPECT_EQ(c.found.size(), 1u);
  // Every base is tried once; the last failure is reported.
  int nf = server->count("/nf/0"), net = server->count("/net/0");
  vendor({"/nf", "/net"});
  Caller both;
  both.deleteInCallback = true;
  next(both);
  EXPECT_TRUE(both.kind == "HTTPNotFound" || both.kind == "Network") << both.kind;
  EXPECT_EQ(both.category, 2u);
  EXPECT_EQ(server->count("/nf/0"), nf + 1);
  EXPECT_EQ(server->count("/net/0"), net + 1);
  std::vector<std::string> lines = log.lines();
  for (const char* text : {"Ignoring config with missing parameter enterprise/auth-uris",
                           "Bootstrap network failure",
                           "Bootstrap failed: Hosted Bootstrap error: HTTP Not Found"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), text), lines.end()) << text;
}

TEST_F(HostedBootstrapInfoTest, CachedAddressServedWithoutTraffic)
{
  vendor({"/nf", "/v"});
  Caller first;
  next(first);
  ASSERT_FALSE(first.found.empty());
  int fetched = (int)server->requests().size();
  ASSERT_TRUE(context->bootstrapCache().sourceUrl());

  Caller again;
  again.deleteInCallback = true;
  next(again);
  ASSERT_EQ(again.found.size(), 1u);
  EXPECT_EQ((int)server->requests().size(), fetched);
}

} // namespace
