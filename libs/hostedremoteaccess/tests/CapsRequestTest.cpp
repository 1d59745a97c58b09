// The capabilities request against the authentication stand-in: Retry-After
// waits, new nodes, redirects, proxy refusals, discovery from the
// package's nodes, one callback per request; its errors and paging.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "capsTestUtil.h"
#include "hostedremoteaccess/CapsRequest.h"
#include "io/ProxySettings.h"
#include "netTestUtil.h"

using namespace hostedremoteaccess;
using httptest::Answer;

namespace {

// Records the outcome; may destroy the request from its callback.
struct Recorder : CapsRequestCallback {
  void capsResponse(CapsRequest* r, const plat::MBuf<unsigned char>& b, const char* type) override
  {
    responses++;
    body.assign((const char*)b.data(), b.length());
    contentType = type ? type : "<none>";
    status = r->status();
    next = r->nextPageParam("page").str();
    if (destroy)
      owned.reset();
  }
  void capsFailed(CapsRequest*, const hosted::HostedException& e) override
  {
    failures++;
    kind = e.getKind();
    message = e.str();
    if (destroy)
      owned.reset();
  }
  bool capsAcceptStatus(CapsRequest*, int s) override { return s == 200; }
  void capsRetrying(int ms) override
  {
    delays.push_back(ms);
    capstest::skipAhead(ms);
  }
  bool done() const { return responses + failures > 0; }

  std::unique_ptr<CapsRequest> owned;
  bool destroy = false;
  int responses = 0, failures = 0, status = 0;
  std::string body, contentType, next, kind, message;
  std::vector<int> delays;
};

struct MaxAttempts {
  explicit MaxAttempts(int v) { hostedCapsMaxAttempts.setValue(v, 1000); }
  ~MaxAttempts() { hostedCapsMaxAttempts.unset(1000, false); }
};

Answer status(int code, const char* reason, std::vector<std::pair<std::string, std::string>> h = {})
{
  Answer a;
  a.status = code;
  a.reason = reason;
  a.headers = std::move(h);
  return a;
}

class CapsRequestTest : public ::testing::Test {
protected:
  // A request for "/call" with a body, its node recorded unless node < 0.
  Recorder& run(int node, const std::string& body = "{}")
  {
    if (node >= 0)
      fx.client().recordUrl(0, fx.standin().url(node).c_str(), 300, {});
    rec.owned.reset(new CapsRequest(&fx.client(), 0, "/call", &rec, "POST",
                                    plat::MBuf<unsigned char>((const unsigned char*)body.data(),
                                                              (int)body.size())));
    rec.owned->start();
    EXPECT_TRUE(fx.runUntil([&] { return rec.done(); }));
    // Nothing more arrives.
    for (int i = 0; i < 3; i++)
      fx.mgr().processOnce(0);
    EXPECT_EQ(1, rec.responses + rec.failures);
    return rec;
  }
  // The auth nodes asked, in order (node 0 serves bootstrap).
  std::vector<int> nodesAsked()
  {
    std::vector<int> out;
    for (auto& r : fx.standin().requests())
      if (r.node != 0)
        out.push_back(r.node);
    return out;
  }

  // Node 0 stands for bootstrap; seven auth nodes.
  capstest::CapsFixture fx{8};
  Recorder rec;
};

#define NEEDS_STANDIN()                                                                            \
  if (!fx.ready())                                                                                 \
  GTEST_SKIP() << "needs root for a trusted data directory"

} // namespace

TEST_F(CapsRequestTest, AnswerFromTheRecordedNode)
{
  NEEDS_STANDIN();
  Answer ok = status(200, "OK", {{"Content-Type", "application/json"},
                                  {"Link", "<https://x.test/l?page=3>; rel=\"next\""}});
  ok.body = "{\"a\":1}";
  fx.standin().push(1, ok);
  run(1, "{\"ticket\":\"t\"}");
  EXPECT_EQ(1, rec.responses);
  EXPECT_EQ("{\"a\":1}", rec.body);
  EXPECT_EQ("application/json", rec.contentType);
  EXPECT_EQ("3", rec.next);
  auto got = fx.standin().requests();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ("POST", got[0].method);
  EXPECT_EQ("/call", got[0].path);
  EXPECT_EQ("{\"ticket\":\"t\"}", got[0].body);
  EXPECT_EQ("application/json", got[0].header("Content-Type"));
  EXPECT_EQ("<none>", got[0].header("Authorization"));
  EXPECT_EQ(fx.context()->businessId(), got[0].header("Tessaly-Business-Operation-ID"));
}

// Credentials when asked for: a bearer token on the wire; a provider
// without any fails a request that requires them, sending nothing.
TEST_F(CapsRequestTest, Credentials)
{
  NEEDS_STANDIN();
  fx.client().recordUrl(0, fx.standin().url(1).c_str(), 300, {});
  fx.standin().push(1, status(200, "OK"));
  rec.owned.reset(new CapsRequest(&fx.client(), 0, "/call", &rec, "GET", {}));
  rec.owned->setBearerToken("tok");
  rec.owned->start();
  ASSERT_TRUE(fx.runUntil([&] { return rec.done(); }));
  EXPECT_EQ("Bearer tok", fx.standin().requests().at(0).header("Authorization"));

  struct Empty : CapsCredProvider {
    using CapsCredProvider::CapsCredProvider;
    bool getBearerToken(const char**) override { return false; }
    bool getBasicCredentials(const char**, const char**) override { return false; }
    std::unique_ptr<CapsCredResult> requestSucceeded(CapsRequest*) override { return nullptr; }
    std::unique_ptr<CapsCredResult> requestFailed(CapsRequest*,
                                                  const hosted::HostedException&) override
    {
      return nullptr;
    }
  } provider(&fx.client());
  rec = Recorder();
  rec.owned.reset(new CapsRequest(&provider, 0, "/call", &rec, true, "GET", {}));
  rec.owned->start();
  ASSERT_TRUE(fx.runUntil([&] { return rec.done(); }));
  EXPECT_EQ("CAPSNoCreds", rec.kind);
  EXPECT_EQ(1u, fx.standin().requests().size());
}

TEST_F(CapsRequestTest, RetryAfterWaits)
{
  NEEDS_STANDIN();
  // The stand-in's clock runs two hours behind; its dates still count from
  // its own "Date".
  fx.standin().setDateOffset(-7200);
  fx.standin().push(1, status(429, "Too Many Requests", {{"Retry-After", "0"}}));
  fx.standin().push(1, status(503, "Service Unavailable", {{"Retry-After", "120"}}));
  fx.standin().push(1, status(429, "Too Many Requests", {{"Retry-After", "@date+10"}}));
  fx.standin().push(1, status(200, "OK"));
  run(1);
  EXPECT_EQ(1, rec.responses);
  ASSERT_EQ(3u, rec.delays.size());
  EXPECT_EQ(0, rec.delays[0]);
  EXPECT_EQ(120000, rec.delays[1]);
  EXPECT_GT(rec.delays[2], 8000);
  EXPECT_LE(rec.delays[2], 10000);
  EXPECT_EQ(std::vector<int>(4, 1), nodesAsked());

  // The whole call ends 600 s after its start, during the third wait.
  rec = Recorder();
  for (int i = 0; i < 3; i++)
    fx.standin().push(1, status(503, "Service Unavailable", {{"Retry-After", "250"}}));
  run(1);
  EXPECT_EQ("Hosted Application error: Network failure: Timed out fetching resource", rec.message);
  EXPECT_EQ(std::vector<int>(3, 250000), rec.delays);

  // A wait is at most 300 s; the request is given up while it waits.
  rec = Recorder();
  fx.standin().push(1, status(503, "Service Unavailable", {{"Retry-After", "2147484"}}));
  rec.owned.reset(new CapsRequest(&fx.client(), 0, "/call", &rec, "GET", {}));
  rec.owned->start();
  EXPECT_TRUE(fx.runUntil([&] { return !rec.delays.empty(); }));
  EXPECT_EQ(std::vector<int>{300000}, rec.delays);
}

TEST_F(CapsRequestTest, ElevenWaitsThenANewNode)
{
  NEEDS_STANDIN();
  for (int i = 0; i < 12; i++)
    fx.standin().push(1, status(503, "Service Unavailable", {{"Retry-After", "1"}}));
  for (int n = 2; n < 8; n++)
    fx.standin().push(n, status(200, "OK"));
  run(1);
  EXPECT_EQ(1, rec.responses);
  EXPECT_EQ(11u, rec.delays.size());
  std::vector<int> asked = nodesAsked();
  ASSERT_EQ(13u, asked.size());
  EXPECT_EQ(std::vector<int>(12, 1), std::vector<int>(asked.begin(), asked.end() - 1));
  EXPECT_EQ(fx.standin().url(asked.back()), fx.client().getUrl(0));
}

// Without a usable Retry-After a 429 fails and a 503 moves on, as does a
// reset connection; each new node is one not used yet.
TEST_F(CapsRequestTest, FailuresMoveToUnusedNodes)
{
  NEEDS_STANDIN();
  fx.standin().push(1, status(429, "Too Many Requests", {{"Retry-After", "soon"}}));
  run(1);
  EXPECT_EQ("HTTPTooManyRequests", rec.kind);

  rec = Recorder();
  fx.standin().push(1, status(503, "Service Unavailable"));
  Answer reset;
  reset.reset = true;
  for (int n = 2; n < 8; n++)
    fx.standin().push(n, reset);
  tltest::LogCapture log("CapsRequest");
  run(1);
  EXPECT_EQ("Network", rec.kind) << rec.message;
  std::vector<int> asked = nodesAsked();
  ASSERT_EQ(7u, asked.size());
  EXPECT_EQ((std::vector<int>{1, 1}), std::vector<int>(asked.begin(), asked.begin() + 2));
  std::sort(asked.begin() + 2, asked.end());
  EXPECT_EQ(asked.end(), std::adjacent_find(asked.begin() + 2, asked.end()));
  EXPECT_NE(fx.standin().url(1), fx.client().getUrl(0));
  auto lines = log.lines();
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ(0u, lines[0].find("Retrying request for /call with a new node, request failed: "))
      << lines[0];
}

// `_HostedCapsMaxAttempts` nodes at most; with more allowed than there are
// nodes, discovery's failure (the last error) ends the request.
TEST_F(CapsRequestTest, MaxAttempts)
{
  NEEDS_STANDIN();
  for (int limit : {1, 6, 100}) {
    SCOPED_TRACE(limit);
    std::unique_ptr<MaxAttempts> max(limit == 6 ? nullptr : new MaxAttempts(limit));
    fx.client().clearUrl(0);
    rec = Recorder();
    for (int n = 1; n < 8; n++)
      fx.standin().push(n, status(500, "Internal Server Error"));
    size_t before = nodesAsked().size();
    run(-1);
    EXPECT_EQ("HTTPInternalServerError", rec.kind);
    EXPECT_EQ((size_t)std::min(limit, 7), nodesAsked().size() - before);
  }
}

TEST_F(CapsRequestTest, Redirects)
{
  NEEDS_STANDIN();
  const std::string node2 = fx.standin().url(2);
  fx.standin().push(1, status(307, "Temporary Redirect", {{"Location", "/moved?x=1"}}));
  fx.standin().push(1, status(308, "Permanent Redirect", {{"Location", node2 + "/there"}}));
  fx.standin().push(2, status(200, "OK"));
  run(1);
  EXPECT_EQ(1, rec.responses);
  auto got = fx.standin().requests();
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ("/moved?x=1", got[1].path);
  EXPECT_EQ(2, got[2].node);
  EXPECT_EQ("/there", got[2].path);
  EXPECT_EQ("{}", got[2].body);

  struct {
    std::vector<Answer> answers;
    const char* logged;
  } bad[] = {
      {{status(307, "Temporary Redirect")}, "Redirect missing Location header"},
      {std::vector<Answer>(6, status(307, "Temporary Redirect", {{"Location", "/again"}})),
       "Too many redirects"},
      // A body never leaves TLS.
      {{status(308, "Permanent Redirect", {{"Location", "http://127.0.0.1:1/x"}})},
       "Redirect not secure"},
  };
  for (auto& c : bad) {
    SCOPED_TRACE(c.logged);
    rec = Recorder();
    for (const Answer& a : c.answers)
      fx.standin().push(1, a);
    tltest::LogCapture log("CapsRequest");
    run(1);
    EXPECT_EQ("CAPSBadRedirect", rec.kind);
    EXPECT_EQ("Hosted Application error: Bad redirect", rec.message);
    EXPECT_EQ(c.logged, log.lines().back());
  }
}

TEST_F(CapsRequestTest, DiscoveryFromThePackageNodes)
{
  NEEDS_STANDIN();
  // The override comes first; its plain-http address is refused.
  hosted::hostedBootstrapInfoOverride.setParam("enterprise/auth-uris=http://127.0.0.1:1",
                                               plat::kPriorityPreference);
  for (int n = 1; n < 8; n++)
    fx.standin().push(n, status(200, "OK"));
  tltest::LogCapture log("CapsClient");
  run(-1);
  hosted::hostedBootstrapInfoOverride.unset(plat::kPriorityPreference, false);
  EXPECT_EQ(1, rec.responses) << rec.message;
  ASSERT_EQ(1u, nodesAsked().size());
  int node = nodesAsked()[0];
  EXPECT_EQ(fx.standin().url(node), fx.client().getUrl(0));
  EXPECT_EQ(std::vector<std::string>{"Recording new URL for enterprise/auth-uris: " +
                                     fx.standin().url(node)},
            log.lines());
}

TEST_F(CapsRequestTest, BootstrapFailureReachesTheCaller)
{
  NEEDS_STANDIN();
  fx.standin().clear();
  Answer down = status(503, "Service Unavailable");
  down.sticky = true;
  fx.standin().push(0, down);
  run(-1);
  EXPECT_EQ(1, rec.failures);
  EXPECT_EQ(0u, rec.message.find("Hosted Bootstrap error")) << rec.message;
  EXPECT_TRUE(nodesAsked().empty());
}

TEST_F(CapsRequestTest, ProxyRefusalIsNotRetried)
{
  NEEDS_STANDIN();
  if (access("/usr/bin/tinyproxy", X_OK) != 0)
    GTEST_SKIP() << "tinyproxy missing";
  tltest::TempDir dir("capsproxy");
  int port = nettest::freePort();
  std::string conf = dir.write("tinyproxy.conf", "Port " + std::to_string(port) +
                                                     "\nListen 127.0.0.1\nTimeout 60\nConnectPort 1"
                                                     "\nAllow 127.0.0.1\nLogLevel Critical\n");
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execl("/usr/bin/tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), (char*)nullptr);
    _exit(127);
  }
  nettest::waitForPort(port, 5000);
  struct Provider : io::ProxySettingsProvider {
    std::string server;
    bool enabled() override { return true; }
    plat::String proxyServer() override { return plat::String(server.c_str()); }
    plat::String proxyUser() override { return plat::String(); }
    plat::SecureString proxyPassword() override { return plat::SecureString(); }
  } provider;
  provider.server = "http://127.0.0.1:" + std::to_string(port);
  io::proxySettingsProvider() = &provider;
  run(1);
  io::proxySettingsProvider() = nullptr;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ("Network", rec.kind) << rec.message;
  EXPECT_TRUE(nodesAsked().empty());
  EXPECT_EQ(fx.standin().url(1), fx.client().getUrl(0)) << rec.message;
}

TEST_F(CapsRequestTest, DestroyedFromItsCallbackOrBeforeTheAnswer)
{
  NEEDS_STANDIN();
  rec.destroy = true;
  fx.standin().push(1, status(200, "OK"));
  run(1);
  EXPECT_EQ(nullptr, rec.owned);
  rec = Recorder();
  rec.destroy = true;
  fx.standin().push(1, status(404, "Not Found"));
  run(1);
  EXPECT_EQ("HTTPNotFound", rec.kind);

  // Waiting on Retry-After, then destroyed: nothing follows.
  rec = Recorder();
  fx.standin().push(1, status(503, "Service Unavailable", {{"Retry-After", "100"}}));
  rec.owned.reset(new CapsRequest(&fx.client(), 0, "/call", &rec, "GET", {}));
  rec.owned->start();
  EXPECT_TRUE(fx.runUntil([&] { return !rec.delays.empty(); }));
  rec.owned.reset();
  for (int i = 0; i < 5; i++)
    fx.mgr().processOnce(10);
  EXPECT_FALSE(rec.done());
}

TEST(CapsRequestPaging, NextPageParamOfLinkHeaders)
{
  struct {
    const char* link;
    const char* name;
    const char* value; // null: none
  } cases[] = {
      {"<https://a.test/x?page=2&size=10>; rel=\"next\"", "page", "2"},
      {"<https://a.test/x?page=2&size=10>; rel=next", "size", "10"},
      {"<https://a.test/x?cursor=a%2Fb+c>; rel=\"next\", <https://a.test/x?page=1>; rel=\"first\"",
       "cursor", "a/b c"},
      {"<https://a.test/x?page=2>; rel=\"prev\"", "page", nullptr},
      {"<https://a.test/x?page=2>", "page", nullptr},
      {"<https://a.test/x?page=2>; rel=\"next\"", "other", nullptr},
      {"<https://a.test/x>; rel=\"next\"", "page", nullptr},
      {"<https://a.test/x?a=1&a=2>; rel=\"next\"", "a", nullptr},
      {"<https://a.test/x?%zz=1>; rel=\"next\"", "a", nullptr},
      {"https://a.test/x?page=2; rel=\"next\"", "page", nullptr},
      {"<https://a.test/x?page=2; rel=\"next\"", "page", nullptr},
      {"", "page", nullptr},
      {nullptr, "page", nullptr},
  };
  for (auto& c : cases) {
    plat::String v = linkNextPageParam(c.link, c.name);
    EXPECT_STREQ(c.value, v.get()) << (c.link ? c.link : "(null)");
  }
}

TEST(CapsRequestErrors, FixedTexts)
{
  EXPECT_STREQ("Hosted Application error: Bad redirect", CapsException("CAPSBadRedirect").str());
  EXPECT_STREQ("Hosted Application error: Credentials required but not available",
               CapsException("CAPSNoCreds").str());
  CapsException other("HTTPNotFound");
  EXPECT_EQ(8u, other.getCategory());
  EXPECT_STREQ("HTTPNotFound", other.getKind());
}

TEST(CapsRequestDeathTest, CredentialsOnce)
{
  hosted::HostedClientContextPtr context = loadCloudConfig();
  hosted::HostedHttpSession session(context, nullptr);
  CapsClient client(context, &session);
  CapsRequest request(&client, 0, "/call", nullptr, "GET", {});
  request.setBearerToken("t");
  EXPECT_DEATH(request.setBasicCredentials("u", "p"), "Assertion '!credPdr' failed");
  EXPECT_DEATH(request.setBearerToken("t2"), "Assertion '!credPdr' failed");
}
