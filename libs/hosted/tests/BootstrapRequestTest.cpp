// Bootstrap requests against the scripted stand-in: the outcome of each
// scripted answer, one GET shared by its waiters, cache hits without
// traffic, and requests deleted before or inside their callbacks.
#include <gtest/gtest.h>

#include "hosted/BootstrapRequest.h"
#include "hosted/HostedException.h"
#include "hostedStandIn.h"
#include "os/PersistentStore.h"

namespace {

using hostedtest::answer;

using hosted::BootstrapConfigPtr;
using hosted::BootstrapRequest;

// One driver holding one request.
struct Waiter : hosted::BootstrapRequestCallback {
  void bootstrapReceived(BootstrapRequest* r, const BootstrapConfigPtr& c) override
  {
    EXPECT_EQ(r, request.get());
    reports++;
    config = c;
    if (deleteInCallback)
      request.reset();
  }
  void bootstrapRequestFailed(BootstrapRequest* r, const hosted::HostedException& e) override
  {
    EXPECT_EQ(r, request.get());
    reports++;
    kind = e.getKind();
    error = e.str();
    category = e.getCategory();
    if (deleteInCallback)
      request.reset();
  }

  std::unique_ptr<BootstrapRequest> request;
  bool deleteInCallback = true;
  int reports = 0;
  BootstrapConfigPtr config;
  std::string kind, error;
  unsigned category = 0;
};

struct BootstrapRequestTest : ::testing::Test {
  void SetUp() override { httptest::prepareProcess(); }
  void TearDown() override { nettest::settle(mgr); }

  void start(Waiter& w, const std::string& url)
  {
    w.request.reset(new BootstrapRequest(*context, session, &w, url.c_str()));
  }
  void run(std::initializer_list<Waiter*> waiters)
  {
    EXPECT_TRUE(nettest::runUntil(mgr, [&] {
      return std::all_of(waiters.begin(), waiters.end(), [](Waiter* w) { return w->reports > 0; });
    }));
  }

  io::FdSelectManager mgr;
  std::string signedDoc = bootstraptest::signedDoc();
  std::string unsignedDoc = bootstraptest::unsignedDoc();
  httptest::Script script{
      {"/btp/0", {answer(signedDoc)}},
      {"/btp/1", {answer(unsignedDoc)}},
      {"/btp/404", {answer("", "404 Not Found")}},
      {"/btp/500", {answer("", "500 Internal Server Error")}},
      {"/btp/502", {answer("", "502 Bad Gateway")}},
      {"/btp/mid", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", true}},
      {"/btp/bad", {answer("junk")}},
      {"/btp/late", {answer(signedDoc), false, -1, false, false, 300}},
  };
  std::unique_ptr<httptest::ScriptedServer> server = hostedtest::tlsServer(script);
  tltest::TempDir dir{"tltest_breq"};
  os::PersistentStoreFile store{dir.path().c_str()};
  hosted::HostedClientContextPtr context =
      hostedtest::context(hostedtest::vendorPackage("\"uris\": [\"https://127.0.0.1:1/btp\"]"), &store);
  hosted::HostedHttpSession session{context, nullptr};
};

TEST_F(BootstrapRequestTest, OutcomePerAnswer)
{
  httptest::ScriptedServer plain(script);
  struct Row {
    std::string url;
    const char* kind;
    const char* error;
  } rows[] = {
      {hostedtest::url(*server, "/btp/0"), nullptr, nullptr},
      {hostedtest::url(*server, "/btp/1"), nullptr, nullptr},
      {hostedtest::url(plain, "/btp/1", "http"), "GeneralError",
       "Hosted Bootstrap error: Unable to find signature for Bootstrap"},
      {hostedtest::url(*server, "/btp/404"), "HTTPNotFound", "Hosted Bootstrap error: HTTP Not Found"},
      {hostedtest::url(*server, "/btp/500"), "HTTPInternalServerError",
       "Hosted Bootstrap error: HTTP Internal Server Error"},
      {hostedtest::url(*server, "/btp/502"), "HTTPBadGateway", "Hosted Bootstrap error: HTTP Bad Gateway"},
      {hostedtest::url(*server, "/btp/mid"), "Network", "Hosted Bootstrap error: Network failure: "},
      {hostedtest::url(*server, "/btp/bad"), "BED", "Hosted Bootstrap error: "},
      {"ftp://127.0.0.1/btp/0", "GeneralError", "Hosted Bootstrap error: "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    Waiter w;
    start(w, row.url);
    run({&w});
    EXPECT_EQ(w.reports, 1);
    if (!row.kind) {
      ASSERT_TRUE(w.config);
      EXPECT_EQ(w.config->configCount(), 3);
      continue;
    }
    EXPECT_EQ(w.kind, row.kind);
    EXPECT_EQ(w.category, 2u);
    EXPECT_EQ(w.error.rfind(row.error, 0), 0u) << w.error;
  }
  // Only the signed answer is cached.
  EXPECT_EQ(std::string(context->bootstrapCache().sourceUrl()), rows[0].url);
}

TEST_F(BootstrapRequestTest, WaitersShareOneGet)
{
  std::string url = hostedtest::url(*server, "/btp/late");
  Waiter a, b, c, early;
  b.deleteInCallback = false;
  for (Waiter* w : {&a, &b, &c})
    start(*w, url);
  // Deleted before its timer fired: sends nothing.
  start(early, hostedtest::url(*server, "/btp/0"));
  early.request.reset();
  nettest::settle(mgr);
  EXPECT_EQ(session.bootstrapClient().openFetches(), 1u);
  // Leaves the fetch before the late answer.
  c.request.reset();
  run({&a, &b});
  nettest::settle(mgr);
  EXPECT_TRUE(a.config);
  EXPECT_EQ(a.config.get(), b.config.get());
  EXPECT_TRUE(b.request->isSent());
  EXPECT_EQ(c.reports + early.reports, 0);
  EXPECT_EQ(server->count("/btp/late"), 1);
  EXPECT_EQ(server->count("/btp/0"), 0);
  EXPECT_EQ(session.bootstrapClient().openFetches(), 0u);
}

TEST_F(BootstrapRequestTest, FreshCacheAnswersWithoutTraffic)
{
  std::string url = hostedtest::url(*server, "/btp/0");
  Waiter first;
  start(first, url);
  run({&first});
  ASSERT_TRUE(first.config);

  Waiter w;
  w.deleteInCallback = false;
  start(w, url);
  EXPECT_EQ(w.reports, 0) << "answered from inside the constructor";
  run({&w});
  EXPECT_FALSE(w.request->isSent());
  EXPECT_EQ(w.config.get(), first.config.get());
  EXPECT_EQ(server->count("/btp/0"), 1);
  // Traffic again once the entry is gone.
  context->bootstrapCache().erase();
  Waiter again;
  start(again, url);
  run({&again});
  EXPECT_EQ(server->count("/btp/0"), 2);
}

} // namespace
