// The HTTP client against the scripted server (http_scripted.py) on
// 127.0.0.1: the request bytes on the wire, responses sent whole, byte by
// byte and split at every point, pooling, and the URL rules of newRequest.
#include "http/native/NativeHttpClient.h"

#include <stdlib.h>

#include <memory>

#include "httpTestUtil.h"
#include "netTestUtil.h"
#include "http/HttpError.h"
#include "http/UserAgent.h"
#include "http/native/NativeHttpRequest.h"
#include "os/AppInfo.h"
#include "os/PersistentStore.h"

namespace {

using httptest::Outcome;
using httptest::Response;
using httptest::ScriptedServer;

class HttpClientTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    httptest::prepareProcess();
    mgr.reset(new io::FdSelectManager);
    client = http::createHttpClient(nullptr);
  }
  void TearDown() override
  {
    nettest::settle(*mgr);
    client.reset();
    nettest::settle(*mgr);
    mgr.reset();
  }

  std::string url(const ScriptedServer& s, const std::string& path)
  {
    return "http://127.0.0.1:" + std::to_string(s.port()) + path;
  }
  std::unique_ptr<http::HttpRequest> request(const std::string& u, const char* method = "GET")
  {
    return std::unique_ptr<http::HttpRequest>(client->newRequest(method, u.c_str()));
  }
  // Starts r and runs the loop until it has reported.
  void run(http::HttpRequest* r, Outcome& o)
  {
    r->start(&o);
    ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return o.done(); }));
    nettest::settle(*mgr);
    EXPECT_EQ(1, o.reports);
  }

  std::unique_ptr<io::FdSelectManager> mgr;
  std::unique_ptr<http::HttpClient> client;
};

// --- The request on the wire -------------------------------------------------------

TEST_F(HttpClientTest, RequestBytes)
{
  ScriptedServer server(httptest::Script{});
  std::string host = "127.0.0.1:" + std::to_string(server.port());
  std::string ua = "User-Agent: " + std::string(http::userAgent().str()) + "\r\n";
  http::Bytes body((const unsigned char*)"0123456789", 10);
  struct Case {
    const char* method;
    std::string url;
    std::function<void(http::HttpRequest*)> setup;
    std::string wire;
  } cases[] = {
      {"POST", "http://user:pw@" + host + "/b",
       [&](http::HttpRequest* r) {
         r->setBody("text/plain", body);
         r->setCloseNewConnection();
       },
       "POST /b HTTP/1.1\r\nAuthorization: Basic dXNlcjpwdw==\r\nConnection: close\r\n"
       "Content-Length: 10\r\nContent-Type: text/plain\r\nHost: " +
           host + "\r\n" + ua + "\r\n0123456789"},
      {"GET", url(server, "/p"), nullptr, "GET /p HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      // "close" only on a new connection.
      {"GET", url(server, "/c"), [](http::HttpRequest* r) { r->setCloseNewConnection(); },
       "GET /c HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"GET", url(server, ""), nullptr, "GET / HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"GET", url(server, "?q=1"), nullptr,
       "GET /?q=1 HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"GET", url(server, "/a?"), nullptr, "GET /a HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"OPTIONS", url(server, "/*"), nullptr,
       "OPTIONS * HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"GET", url(server, "/h"),
       [](http::HttpRequest* r) {
         r->setHeader("x-thing", "1");
         r->setHeader("X-Thing", "2");
         r->setHeader("Accept", "*/*");
       },
       "GET /h HTTP/1.1\r\nAccept: */*\r\nHost: " + host + "\r\n" + ua + "x-thing: 2\r\n\r\n"},
      {"GET", "http://user@" + host + "/u", nullptr,
       "GET /u HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
      {"GET", url(server, "/n"),
       [](http::HttpRequest* r) {
         r->setBasicAuth("a", "b");
         r->setBasicAuth(nullptr, nullptr);
       },
       "GET /n HTTP/1.1\r\nHost: " + host + "\r\n" + ua + "\r\n"},
  };
  size_t n = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.url);
    auto r = request(c.url, c.method);
    if (c.setup)
      c.setup(r.get());
    Outcome o;
    run(r.get(), o);
    EXPECT_TRUE(o.ok) << o.error;
    auto got = server.requests();
    ASSERT_EQ(++n, got.size());
    EXPECT_EQ(c.wire, got.back().bytes);
  }
}

// CR, LF (or NUL) in what is written would split the request.
TEST_F(HttpClientTest, RefusesLineBreaksBeforeWriting)
{
  ScriptedServer server(httptest::Script{});
  struct Case {
    const char* method;
    const char* name;
    const char* value;
    const char* error;
  } cases[] = {
      {"GET\r\nX: y", "X", "1", "Invalid request: CR, LF or NUL in method"},
      {"GET", "X-A", "1\r\nInjected: yes", "Invalid request: CR, LF or NUL in header"},
      {"GET", "X-A\nB", "1", "Invalid request: CR, LF or NUL in header"},
  };
  for (Case& c : cases) {
    auto r = request(url(server, "/x"), c.method);
    r->setHeader(c.name, c.value);
    Outcome o;
    run(r.get(), o);
    EXPECT_EQ(c.error, o.error);
    EXPECT_EQ(http::HttpRequest::kFailed, r->getState());
  }
  EXPECT_EQ(0u, server.requests().size());

  // A head larger than the connection can buffer.
  plat::Configuration::global().set("MaxOutBufferSize", "16384", plat::kPriorityPolicy);
  auto r = request(url(server, "/x"));
  r->setHeader("X-Big", std::string(20000, 'b').c_str());
  Outcome o;
  run(r.get(), o);
  EXPECT_EQ("Headers too large", o.error);
  EXPECT_EQ(0u, server.requests().size());
}

// Host values, destinations and full URLs; refused schemes and fragments.
TEST_F(HttpClientTest, UrlRules)
{
  struct Factory : http::SslConnectorFactory {
    std::unique_ptr<io::IoConnector> newConnector(std::unique_ptr<io::IoConnector>,
                                                  const char*) override
    {
      return nullptr;
    }
  };
  std::unique_ptr<http::HttpClient> tls(http::createHttpClient(std::make_unique<Factory>()));
  struct Case {
    http::HttpClient* client;
    const char* url;
    const char* fullUrl; // null: refused with error
    const char* host;
    const char* error;
  } cases[] = {
      {tls.get(), "HTTPS://site.test:443/a", "https://site.test/a", "site.test", nullptr},
      {tls.get(), "https://site.test:8443", "https://site.test:8443/", "site.test:8443", nullptr},
      {tls.get(), "https://site.test?x", "https://site.test/?x", "site.test", nullptr},
      {tls.get(), "https://[::1]:443/v6", "https://[::1]/v6", "[::1]", nullptr},
      {client.get(), "http://h.test:80/p?q", "http://h.test/p?q", "h.test", nullptr},
      {client.get(), "http://h.test:8080/", "http://h.test:8080/", "h.test:8080", nullptr},
      {client.get(), "ftp://h.test/", nullptr, nullptr,
       "s.scheme == \"http\" || s.scheme == \"https\""},
      {client.get(), "h.test/", nullptr, nullptr, "s.scheme == \"http\" || s.scheme == \"https\""},
      {client.get(), "http://h.test/#top", nullptr, nullptr, "should not send request with fragment"},
      {client.get(), "https://h.test/", nullptr, nullptr,
       "Scheme https not supported by this HTTP client"},
      {tls.get(), "http://h.test/", nullptr, nullptr, "Scheme http not supported by this HTTP client"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.url);
    try {
      std::unique_ptr<http::HttpRequest> r(c.client->newRequest("GET", c.url));
      ASSERT_TRUE(c.fullUrl);
      EXPECT_STREQ(c.fullUrl, r->getUrl());
      EXPECT_STREQ(c.host, r->getRequestHeaders().at(plat::String("Host")).str());
    } catch (plat::AssertionFail& e) {
      EXPECT_STREQ(c.error, e.getExpression());
    } catch (plat::Exception& e) {
      ASSERT_TRUE(c.error) << e.str();
      EXPECT_STREQ(c.error, e.str());
    }
  }
  // One pool destination whether the default port is named or not.
  std::unique_ptr<http::HttpRequest> a(tls->newRequest("GET", "https://s.test:443/x"));
  std::unique_ptr<http::HttpRequest> b(tls->newRequest("GET", "https://s.test/y"));
  EXPECT_STREQ("https://s.test", static_cast<http::NativeHttpRequest*>(a.get())->getDestination());
  EXPECT_STREQ("https://s.test", static_cast<http::NativeHttpRequest*>(b.get())->getDestination());
}

// --- Responses ---------------------------------------------------------------------------

struct Expect {
  const char* name;
  Response response;
  const char* method;
  int maxBody;         // -1: default
  std::string outcome; // "ok <status> <body>" or the error
  bool splits;         // also sent byte by byte and split at every point
};

std::string describe(http::HttpRequest* r, const Outcome& o)
{
  if (!o.ok)
    return o.error;
  http::SharedBytes body = r->getResponseBody();
  return "ok " + std::to_string(r->getStatus()) + " " +
         std::string((const char*)body->data(), body->length());
}

TEST_F(HttpClientTest, Responses)
{
  const std::string big(9000, 'a');
  std::vector<Expect> table = {
      {"len", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}, "GET", -1, "ok 200 hello", true},
      {"chunked",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\n, w\r\n0\r\n"
        "X-Trailer: t\r\n\r\n"},
       "GET", -1, "ok 200 hello, w", true},
      {"chunkext", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;a=b\r\nhello\r\n0\r\n\r\n"},
       "GET", -1, "Error reading response: Unsupported chunk size", true},
      {"badcrlf", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhello\r\n0\r\n\r\n"},
       "GET", -1, "Error reading response: Invalid chunked encoding", true},
      {"interim", {"HTTP/1.1 100 Continue\r\n\r\n"}, "GET", -1, "ok 100 ", true},
      {"nocontent", {"HTTP/1.1 204 No Content\r\n\r\n"}, "GET", -1, "ok 204 ", true},
      {"notmodified", {"HTTP/1.1 304 Not Modified\r\n\r\n"}, "GET", -1, "ok 304 ", true},
      {"head", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"}, "HEAD", -1, "ok 200 ", true},
      {"http10", {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi"}, "GET", -1, "ok 200 hi", true},
      {"nolength", {"HTTP/1.1 200 OK\r\n\r\nabc", true}, "GET", -1,
       "Error reading response: Unsupported response: no length", true},
      {"te", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"}, "GET", -1,
       "Error reading response: Unsupported Transfer-Encoding: gzip, chunked", true},
      {"limit", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}, "GET", 5, "ok 200 hello", false},
      {"over", {"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhello!"}, "GET", 5,
       "Error reading response: Maximum body size of 5 bytes exceeded", true},
      {"chunkover",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n"},
       "GET", 5, "Error reading response: Maximum body size of 5 bytes exceeded", true},
      {"midhead", {"HTTP/1.1 200 OK\r\nContent-Len", true}, "GET", -1, "Io shutdown unexpectedly",
       true},
      {"midbody", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhel", true}, "GET", -1,
       "Io shutdown unexpectedly", true},
      {"midchunk", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", true}, "GET",
       -1, "Io shutdown unexpectedly", true},
      {"longline", {"HTTP/1.1 200 OK\r\nX-Long: " + big + "\r\nContent-Length: 0\r\n\r\n"}, "GET",
       -1, "Error reading response: Line exceeds maximum length", false},
      {"badstatus", {"HTTP/1.1 20 OK\r\nContent-Length: 0\r\n\r\n"}, "GET", -1,
       "Error reading response: Bad first line", true},
  };
  std::map<std::string, Response> script;
  for (const Expect& e : table)
    script[e.name] = e.response;
  ScriptedServer server(script);
  int cases = 0;
  for (const Expect& e : table) {
    std::vector<std::string> modes{"whole"};
    if (e.splits) {
      modes.push_back("bytes");
      for (size_t i = 1; i < e.response.raw.size(); i++)
        modes.push_back("split-" + std::to_string(i));
    }
    for (const std::string& mode : modes) {
      SCOPED_TRACE(std::string(e.name) + "/" + mode);
      auto r = request(url(server, "/" + std::string(e.name) + "/" + mode), e.method);
      if (e.maxBody >= 0)
        r->setMaxBodySize(e.maxBody);
      Outcome o;
      run(r.get(), o);
      ASSERT_EQ(e.outcome, describe(r.get(), o));
      EXPECT_EQ(o.ok ? http::HttpRequest::kComplete : http::HttpRequest::kFailed, r->getState());
      if (!o.ok) {
        int total = 0;
        // A body over the limit is refused before any of it is read.
        EXPECT_TRUE(e.maxBody < 0 || r->getResponseProgress(&total) <= e.maxBody);
      }
      cases++;
    }
  }
  EXPECT_GT(cases, 500);
}

TEST_F(HttpClientTest, ResponseDetails)
{
  ScriptedServer server(httptest::Script{
      {"chunked", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-A: 1\r\n\r\n5\r\nhello\r\n"
                    "0\r\nX-Trailer: t\r\n\r\n"}},
       {"http10", {"HTTP/1.0 200 Fine\r\nContent-Length: 2\r\n\r\nhi"}},
       {"missing", {"HTTP/1.1 404 Gone Away\r\nContent-Length: 3\r\n\r\nno!"}}});
  auto r = request(url(server, "/chunked/whole"));
  Outcome o;
  run(r.get(), o);
  EXPECT_STREQ("t", r->getResponseHeader("x-trailer"));
  EXPECT_STREQ("1", r->getResponseHeader("X-A"));
  int total = 0;
  EXPECT_EQ(5, r->getResponseProgress(&total));
  EXPECT_EQ(-1, total);

  auto r10 = request(url(server, "/http10/whole"));
  Outcome o10;
  run(r10.get(), o10);
  EXPECT_STREQ("close", r10->getResponseHeader("Connection"));
  EXPECT_EQ(2, r10->getResponseProgress(&total));
  EXPECT_EQ(2, total);

  // A refused status: HttpError, state 2, connection not kept.
  tltest::LogCapture pool("IoPool");
  auto r404 = request(url(server, "/missing/whole"));
  Outcome o404;
  o404.refuse = {404};
  run(r404.get(), o404);
  EXPECT_EQ("HTTP status 404 (Not Found)", o404.error);
  EXPECT_EQ("HttpStatus404", o404.type);
  EXPECT_EQ(http::HttpRequest::kStatusRefused, r404->getState());
  EXPECT_EQ(404, r404->getStatus());
  EXPECT_EQ(0u, static_cast<http::NativeHttpClient*>(client.get())->pool().idleCount());
}

TEST_F(HttpClientTest, Timeouts)
{
  ScriptedServer server(httptest::Script{{"silent", {"", false, -1, false, true}},
                         {"len", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}}});
  auto r = request(url(server, "/silent/whole"));
  r->setTimeout(300);
  Outcome o;
  run(r.get(), o);
  EXPECT_EQ("Timed out fetching resource", o.error);
  EXPECT_EQ(http::HttpRequest::kFailed, r->getState());
  EXPECT_GE(r->getEndTime() - r->getStartTime(), 300 * plat::kTicksPerMilli);

  // Shortened while running: the time left shrinks by the difference.
  auto shortened = request(url(server, "/silent/whole"));
  shortened->setTimeout(60000);
  Outcome os;
  shortened->start(&os);
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return shortened->getSendTime() != -1; }));
  shortened->setTimeout(200);
  ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return os.done(); }, 20000));
  EXPECT_EQ("Timed out fetching resource", os.error);

  auto unlimited = request(url(server, "/len/whole"));
  unlimited->setTimeout(-1);
  Outcome ou;
  run(unlimited.get(), ou);
  EXPECT_TRUE(ou.ok);
}

// --- Pooling -----------------------------------------------------------------------------

TEST_F(HttpClientTest, Pooling)
{
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  ScriptedServer server(httptest::Script{
      {"keep", {ok}},
      {"close", {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"}},
      {"http10", {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}},
      {"interim", {"HTTP/1.1 100 Continue\r\n\r\n" + ok}},
      {"idle", {ok, false, 200}},
      {"early", {ok, false, -1, true}},
  });
  auto& pool = static_cast<http::NativeHttpClient*>(client.get())->pool();
  struct Case {
    const char* name;
    bool reused; // the next request gets the same connection
  } cases[] = {{"keep", true}, {"close", false}, {"http10", false}, {"interim", false}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto first = request(url(server, "/" + std::string(c.name) + "/whole"));
    Outcome o1;
    run(first.get(), o1);
    EXPECT_TRUE(o1.ok) << o1.error;
    EXPECT_NE(-1, first->getConnectTime());
    auto second = request(url(server, "/keep/whole"));
    Outcome o2;
    run(second.get(), o2);
    EXPECT_TRUE(o2.ok) << o2.error;
    EXPECT_EQ(c.reused, second->getConnectTime() == -1);
    auto got = server.requests();
    EXPECT_EQ(c.reused, got[got.size() - 1].conn == got[got.size() - 2].conn);
    client->closeIdleConnections();
    EXPECT_EQ(0u, pool.idleCount());
  }

  // An idle connection the server closes is noticed and dropped.
  auto idle = request(url(server, "/idle/whole"));
  Outcome oi;
  run(idle.get(), oi);
  EXPECT_EQ(1u, pool.idleCount());
  EXPECT_TRUE(nettest::runUntil(*mgr, [&] { return pool.idleCount() == 0; }));
  auto after = request(url(server, "/keep/whole"));
  Outcome oa;
  run(after.get(), oa);
  EXPECT_TRUE(oa.ok);
  EXPECT_NE(-1, after->getConnectTime());
  client->closeIdleConnections();

  // A body the server answered without reading (more than the connection
  // buffers).
  plat::Configuration::global().set("MaxOutBufferSize", "65536", plat::kPriorityPolicy);
  tltest::LogCapture log("IoPool");
  auto early = request(url(server, "/early/whole"), "POST");
  early->setBody("application/octet-stream", http::Bytes(64 << 20));
  Outcome oe;
  run(early.get(), oe);
  EXPECT_TRUE(oe.ok) << oe.error;
  EXPECT_EQ(0u, pool.idleCount());
  bool seen = false;
  for (const std::string& l : log.lines())
    seen |= l.find("from pool, request not fully sent") != std::string::npos;
  EXPECT_TRUE(seen);
}

// Deleting a request while it connects, or from inside its callbacks.
TEST_F(HttpClientTest, Deletion)
{
  ScriptedServer server(httptest::Script{{"len", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}},
                         {"bad", {"HTTP/1.1 200 OK\r\n\r\n"}}});
  auto& pool = static_cast<http::NativeHttpClient*>(client.get())->pool();
  {
    auto r = request(url(server, "/len/whole"));
    Outcome o;
    r->start(&o);
    mgr->processOnce(0);
    r.reset();
    nettest::settle(*mgr);
    plat::sleepMs(50);
    nettest::settle(*mgr);
    EXPECT_EQ(0, o.reports);
    EXPECT_EQ(0u, pool.idleCount());
    EXPECT_EQ(0u, pool.activeCount());
  }
  struct Deleter : Outcome {
    void requestComplete(http::HttpRequest* r) override
    {
      Outcome::requestComplete(r);
      delete r;
    }
    void requestFailed(http::HttpRequest* r, plat::Exception* e) override
    {
      Outcome::requestFailed(r, e);
      delete r;
    }
  };
  for (const char* path : {"/len/whole", "/bad/whole"}) {
    Deleter d;
    client->newRequest("GET", url(server, path).c_str()).release()->start(&d);
    ASSERT_TRUE(nettest::runUntil(*mgr, [&] { return d.done(); }));
    nettest::settle(*mgr);
    EXPECT_EQ(1, d.reports);
  }
  // A connect failure is reported with the connector's error.
  nettest::RefusedPort refused;
  auto r = request("http://127.0.0.1:" + std::to_string(refused.port) + "/");
  Outcome o;
  run(r.get(), o);
  EXPECT_EQ(0u, o.error.find("Error connecting: ")) << o.error;
  EXPECT_EQ(http::HttpRequest::kFailed, r->getState());
}

} // namespace

namespace {

// --- HAR capture -------------------------------------------------------------------------

// What python's json makes of the file, one fact a line.
const char* const kHarFacts = R"(
import json, re, sys
d = json.load(open(sys.argv[1]))
log = d["log"]
print("keys", list(d), list(log), log["version"], log["creator"]["name"],
      open(sys.argv[1]).read() == json.dumps(d, separators=(",", ":"), ensure_ascii=False))
for p in log["pages"]:
    print("page", list(p), p["id"], p["title"], p["pageTimings"],
          bool(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\+00:00", p["startedDateTime"])))
for e in log["entries"]:
    q, r, t = e["request"], e["response"], e["timings"]
    print("entry", e["pageref"], q["method"], q["url"].split("/", 3)[3], q["httpVersion"],
          q["headers"], q["bodySize"], r["status"], r["statusText"], r["content"],
          r["bodySize"], [h["name"] for h in r["headers"]], list(t), t["dns"], t["send"],
          "reused" if t["connect"] == -1 else "new",
          e["time"] == t["blocked"] + max(t["connect"], 0) + t["wait"], e["cache"])
)";

TEST_F(HttpClientTest, HarCapture)
{
  tltest::TempDir dir("httphar");
  static_cast<os::PersistentStoreFile&>(os::PersistentStore::getDefault())
      .setDirectory(dir.path().c_str());
  plat::Configuration::global().set("_HttpHarDump", "1", plat::kPriorityPolicy);
  ScriptedServer server(httptest::Script{
      {"typed", {"HTTP/1.1 201 Whatever\r\nContent-Type: text/x\r\nContent-Length: 3\r\n\r\nabc"}},
      {"plain", {"HTTP/1.1 200 OK\r\nX-B: 1\r\nContent-Length: 2\r\n\r\nhi"}},
      {"bad", {"HTTP/1.1 200 OK\r\n\r\n"}}});
  std::unique_ptr<http::HttpClient> second(http::createHttpClient(nullptr));
  http::Bytes ten((const unsigned char*)"0123456789", 10);
  struct Step {
    http::HttpClient* client;
    const char* method;
    const char* path;
  } steps[] = {{client.get(), "GET", "/typed/whole"},
               {client.get(), "GET", "/plain/whole"},
               {second.get(), "POST", "/plain/whole"},
               {second.get(), "GET", "/bad/whole"}};
  for (Step& s : steps) {
    std::unique_ptr<http::HttpRequest> r(s.client->newRequest(s.method, url(server, s.path).c_str()));
    if (strcmp(s.method, "POST") == 0)
      r->setBody("text/plain", ten);
    Outcome o;
    run(r.get(), o);
  }
  EXPECT_EQ(
      (std::vector<std::string>{
          "keys ['log'] ['version', 'creator', 'pages', 'entries'] 1.2 tltest True",
          "page ['startedDateTime', 'id', 'title', 'pageTimings'] client_0 tltest, client 0 "
          "{'onContentLoad': -1, 'onLoad': -1} True",
          "page ['startedDateTime', 'id', 'title', 'pageTimings'] client_1 tltest, client 1 "
          "{'onContentLoad': -1, 'onLoad': -1} True",
          "entry client_0 GET typed/whole HTTP/1.1 [] 0 201 Created {'size': 3, 'mimeType': "
          "'text/x'} 3 ['Content-Length', 'Content-Type'] ['blocked', 'dns', 'connect', 'send', "
          "'wait', 'receive'] -1 0 new True {}",
          "entry client_0 GET plain/whole HTTP/1.1 [] 0 200 OK {'size': 2, 'mimeType': "
          "'text/plain'} 2 ['Content-Length', 'X-B'] ['blocked', 'dns', 'connect', 'send', "
          "'wait', 'receive'] -1 0 reused True {}",
          "entry client_1 POST plain/whole HTTP/1.1 [] 10 200 OK {'size': 2, 'mimeType': "
          "'text/plain'} 2 ['Content-Length', 'X-B'] ['blocked', 'dns', 'connect', 'send', "
          "'wait', 'receive'] -1 0 new True {}",
      }),
      tltest::pythonLines(tltest::TempFile(kHarFacts, "tltest_har").path() + " " +
                              (dir / "httpRequests.har"),
                          {}));
}

// A file that cannot be written is logged; the exchange still succeeds.
TEST_F(HttpClientTest, HarWriteFailure)
{
  static_cast<os::PersistentStoreFile&>(os::PersistentStore::getDefault())
      .setDirectory("/proc/no-such-dir");
  plat::Configuration::global().set("_HttpHarDump", "1", plat::kPriorityPolicy);
  ScriptedServer server(httptest::Script{{"ok", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}});
  tltest::LogCapture log("HttpClient");
  auto r = request(url(server, "/ok/whole"));
  Outcome o;
  run(r.get(), o);
  EXPECT_TRUE(o.ok);
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(0u, log.lines()[0].find("Unable to write httpRequests.har: ")) << log.lines()[0];
}

// Keep-alive against nginx: one connection for every request.
TEST_F(HttpClientTest, NginxKeepAlive)
{
  httptest::Nginx nginx;
  if (!nginx.port())
    GTEST_SKIP() << "no nginx";
  nginx.file("small", "0123456789");
  for (int i = 0; i < 5; i++) {
    auto r = request("http://127.0.0.1:" + std::to_string(nginx.port()) + "/small");
    Outcome o;
    run(r.get(), o);
    EXPECT_TRUE(o.ok) << o.error;
    EXPECT_EQ(i > 0, r->getConnectTime() == -1);
    EXPECT_EQ(10, r->getResponseBody()->length());
  }
  // A large body (read in large pieces into a buffer faulted in ahead).
  std::string large(3 << 20, 0);
  for (size_t i = 0; i < large.size(); i++)
    large[i] = (char)(i * 7 + i / 4096);
  nginx.file("large", large);
  auto big = request("http://127.0.0.1:" + std::to_string(nginx.port()) + "/large");
  Outcome ob;
  run(big.get(), ob);
  http::SharedBytes body = big->getResponseBody();
  EXPECT_TRUE(large == std::string((const char*)body->data(), body->length()));

  auto last = request("http://127.0.0.1:" + std::to_string(nginx.port()) + "/small");
  last->setHeader("Connection", "close");
  Outcome o;
  run(last.get(), o);
  EXPECT_EQ(0u, static_cast<http::NativeHttpClient*>(client.get())->pool().idleCount());
}

} // namespace
