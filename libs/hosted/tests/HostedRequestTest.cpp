// Hosted requests as the scripted stand-in receives them: the headers and
// authorisation forms, statuses, the client certificate the hosted TLS
// presents, the vendor-only trust, dumps and time-outs.
#include <gtest/gtest.h>

#include "hostedStandIn.h"
#include "os/dirs.h"
#include "plat/Uuid.h"
#include "plat/encodings.h"
#include "rootdir.h"
#include "ssl/HttpsClient.h"

namespace {

using hosted::HostedRequest;
using hostedtest::Recorder;

const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 8\r\n\r\n{\"b\": 2}";

struct HostedRequestTest : ::testing::Test {
  void SetUp() override { httptest::prepareProcess(); }
  void TearDown() override
  {
    hosted::hostedRequestDump.setParam(0, 0);
    hosted::hostedRequestTimeout.setParam(15, 0);
    nettest::settle(mgr);
  }

  // Runs one request to url; the recorder tells how it went.
  Recorder fetch(hosted::HostedHttpSession& session, const hosted::HostedClientContext& context,
                 const std::string& url, HostedRequest::Auth auth = HostedRequest::Auth::kNone,
                 const std::string& body = "", bool secure = false)
  {
    Recorder r;
    http::Bytes bytes((const unsigned char*)body.data(), body.size(), secure);
    HostedRequest request(session, url.c_str(), &r, context, auth, body.empty() ? "GET" : "POST",
                          bytes, "application/json");
    request.send();
    EXPECT_TRUE(nettest::runUntil(mgr, [&] { return r.reports > 0; }));
    return r;
  }

  io::FdSelectManager mgr;
  std::string package = hostedtest::vendorPackage("\"uris\": [\"https://127.0.0.1:1/btp\"]");
};

TEST_F(HostedRequestTest, HeadersAndAuthorisationAsReceived)
{
  auto server = hostedtest::tlsServer({{"/h", {kOk}}});
  std::string secret64 = plat::binToBase64(4, (const unsigned char*)"s3cr", false).str();
  std::string basic = plat::binToBase64(7, (const unsigned char*)"user:pw", false).str();
  struct Row {
    hostedtest::Credentials creds;
    HostedRequest::Auth auth;
    std::string authorization;
  } rows[] = {
      {{"user", "pw", "tok"}, HostedRequest::Auth::kNone, "<none>"},
      {{nullptr, nullptr, "tok"}, HostedRequest::Auth::kAuthenticate, "Bearer tok"},
      {{nullptr, "s3cr", "tok"}, HostedRequest::Auth::kAuthenticate, "Bearer tok:" + secret64},
      {{"user", "pw", nullptr}, HostedRequest::Auth::kAuthenticate, "Basic " + basic},
      {{"user", nullptr, nullptr}, HostedRequest::Auth::kAuthenticate, "<none>"},
  };
  std::set<std::string> actionIds;
  for (const Row& row : rows) {
    auto context = hostedtest::context(package, nullptr, row.creds);
    hosted::HostedHttpSession session(context, nullptr);
    Recorder r = fetch(session, *context, hostedtest::url(*server, "/h"), row.auth);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body, "{\"b\": 2}");
    EXPECT_EQ(r.type, "application/json");
    std::string got = server->requests().back().bytes;
    EXPECT_EQ(hostedtest::header(got, "Authorization"), row.authorization);
    EXPECT_EQ(hostedtest::header(got, "Accept"),
              "application/vnd.tessaly.bed, application/json, */*;q=0.5");
    EXPECT_EQ(hostedtest::header(got, "Tessaly-Business-Operation-ID"), context->businessId());
    std::string action = hostedtest::header(got, "Tessaly-API-Action-ID");
    unsigned char uuid[plat::Uuid::kSize];
    EXPECT_TRUE(plat::Uuid::tryParse(uuid, action.c_str()) && action.size() == 36 &&
                action[14] == '4' && plat::Uuid::toString(uuid, true).str() == action)
        << action;
    actionIds.insert(action);
  }
  EXPECT_EQ(actionIds.size(), std::size(rows));
}

TEST_F(HostedRequestTest, RefusedStatusIsAnHttpError)
{
  auto server = hostedtest::tlsServer({{"/gone", {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}}});
  auto context = hostedtest::context(package);
  hosted::HostedHttpSession session(context, nullptr);
  Recorder r = fetch(session, *context, hostedtest::url(*server, "/gone"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "HTTP status 404 (Not Found)");
  EXPECT_EQ(r.errorType, "HttpStatus404");
}

TEST_F(HostedRequestTest, ClientSectionsPresentTheirCertificate)
{
  auto server = hostedtest::tlsServer({{"/h", {kOk}}}, true);
  for (bool withIdentity : {true, false}) {
    auto context = hostedtest::context(hostedtest::vendorPackage("", withIdentity));
    hosted::HostedHttpSession session(context, nullptr);
    Recorder r = fetch(session, *context, hostedtest::url(*server, "/h"));
    EXPECT_EQ(r.ok, withIdentity) << r.error;
  }
  EXPECT_EQ(server->clientCerts(), std::vector<std::string>{"hostedclient"});
}

// A server whose CA is in "cacerts.pem" but not in the vendor configuration
// is good for the ordinary HTTPS client only.
TEST_F(HostedRequestTest, TrustsOnlyTheVendorCertificates)
{
  httptest::TestCa outside("OutsideCA");
  std::string cert = outside.server("outside", "IP:127.0.0.1");
  httptest::ScriptedServer server(httptest::Script{{"/h", {kOk}}}, cert, outside.path("outside.key"));
  std::string url = hostedtest::url(server, "/h");

  auto context = hostedtest::context(package);
  hosted::HostedHttpSession session(context, nullptr);
  Recorder r = fetch(session, *context, url);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("Unknown issuer"), std::string::npos) << r.error;

  tltest::RootOnlyDir data;
  if (data.path().empty())
    GTEST_SKIP() << "needs root for a trusted data directory";
  tltest::commandOutput("cp " + outside.path("ca.pem") + " " + (data / "cacerts.pem"));
  os::setSystemConfigDir(data.path().c_str());
  std::unique_ptr<http::HttpClient> plain = ssl::createHttpsClient(nullptr);
  std::unique_ptr<http::HttpRequest> request = plain->newRequest("GET", url.c_str());
  httptest::Outcome o;
  request->start(&o);
  ASSERT_TRUE(nettest::runUntil(mgr, [&] { return o.done(); }));
  EXPECT_TRUE(o.ok) << o.error;
  request.reset();
  os::setSystemConfigDir(nullptr);
}

TEST_F(HostedRequestTest, DumpLevels)
{
  httptest::ScriptedServer server(
      httptest::Script{{"/j", {kOk}}, {"/e", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}});
  auto context = hostedtest::context(package);
  hosted::JsonFormatCallback json;
  hosted::HostedHttpSession session(context, &json);
  struct Row {
    int level;
    const char* path;
    const char* body;
    bool request, response, headers;
  } rows[] = {
      {0, "/j", "{\"a\":1}", false, false, false}, {1, "/j", "{\"a\":1}", true, true, false},
      {1, "/e", "", false, false, false},          {2, "/e", "", true, true, true},
      {2, "/j", "{\"a\":1}", true, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.level) + row.path + row.body);
    hosted::hostedRequestDump.setParam(row.level, 0);
    tltest::LogCapture log("HostedRequest");
    std::string url = hostedtest::url(server, row.path, "http");
    ASSERT_TRUE(fetch(session, *context, url, HostedRequest::Auth::kNone, row.body).ok);
    // Lines holding text, or ending in it after a "[0x...]" prefix.
    auto has = [&](const std::string& text, bool prefixed = false) {
      std::vector<std::string> lines = log.lines();
      return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        if (!prefixed)
          return l.find(text) != std::string::npos;
        return l.rfind("[0x", 0) == 0 && l.size() > text.size() &&
               l.compare(l.size() - text.size(), text.size(), text) == 0 &&
               l[l.size() - text.size() - 1] == ']';
      });
    };
    EXPECT_EQ(has(" Request data for " + url + ":", true), row.request);
    EXPECT_EQ(has(" Response data for " + url + " (200):", true), row.response);
    EXPECT_EQ(has("Accept: application/vnd.tessaly.bed, application/json, */*;q=0.5"), row.headers);
    EXPECT_EQ(has("Content-Length: 8"), row.headers && *row.body);
    // The bodies, written back as JSON.
    EXPECT_EQ(has("\"a\":1"), row.request && *row.body);
    EXPECT_EQ(has("\"b\":2"), row.response && *row.body);
  }
  // A body that is not JSON is shown as BED.
  http::Bytes junk((const unsigned char*)"\x01", 1);
  EXPECT_EQ(std::string(json.format("application/vnd.tessaly.bed", junk).str()),
            hosted::BedFormatCallback::instance().format(nullptr, junk).str());
  EXPECT_EQ(std::string(json.format("application/json", junk).str()).rfind("<not JSON-encoded data", 0), 0u);
}

// The dump shows no secret: not the "Authorization" header, nor either body
// of an exchange whose request body is secure.
TEST_F(HostedRequestTest, DumpHidesSecrets)
{
  auto server = hostedtest::tlsServer({{"/j", {kOk}}});
  auto context = hostedtest::context(package, nullptr, {nullptr, nullptr, "tok-123"});
  hosted::JsonFormatCallback json;
  hosted::HostedHttpSession session(context, &json);
  hosted::hostedRequestDump.setParam(2, 0);
  tltest::LogCapture log("HostedRequest");
  fetch(session, *context, hostedtest::url(*server, "/j"), HostedRequest::Auth::kAuthenticate,
        "{\"ticket\":\"tk-456\"}", true);
  std::string all = tltest::joinLines(log.lines());
  EXPECT_NE(all.find("\nAuthorization: <hidden>\n"), all.npos) << all;
  for (const char* secret : {"tok-123", "tk-456", "\"b\""})
    EXPECT_EQ(all.find(secret), all.npos) << all;
}

TEST_F(HostedRequestTest, TimeoutArithmetic)
{
  for (auto [seconds, ms] : {std::pair{15, 15000}, {0, 0}, {2147483, 2147483000}, {3000000, 2147483647}}) {
    hosted::hostedRequestTimeout.setParam(seconds, 0);
    EXPECT_EQ(HostedRequest::configuredTimeoutMs(), ms) << seconds;
  }
  for (auto [in, out] : {std::pair{40000, 65000}, {100000, 130000}, {0, 15000}, {7, 15008},
                         {2147483647, 2147483647}})
    EXPECT_EQ(HostedRequest::extendedTimeoutMs(in), out) << in;
}

TEST_F(HostedRequestTest, CredentialsNeverOverPlainHttp)
{
  httptest::ScriptedServer server(httptest::Script{{"/h", {kOk}}});
  auto context = hostedtest::context(package, nullptr, {nullptr, nullptr, "tok"});
  hosted::HostedHttpSession session(context, nullptr);
  std::string url = hostedtest::url(server, "/h", "http");
  EXPECT_TRUE(fetch(session, *context, url).ok);
  EXPECT_EQ(server.count("/h"), 1);
  EXPECT_DEATH(fetch(session, *context, url, HostedRequest::Auth::kAuthenticate),
               "Assertion 'isSecure\\(\\) \\|\\| !authenticate' failed at libs/hosted/HostedRequest:92");
}

TEST(QuotePrincipal, LettersAndDigitsOnlyPassUnchanged)
{
  for (auto [in, out] : {std::pair{"abcXYZ019", "abcXYZ019"}, {"", ""}, {"a b", "_YSBi"},
                         {"a.b", "_YS5i"}, {"\xc3\xa9", "_w6k"}, {"?\?>", "_Pz8-"}})
    EXPECT_EQ(std::string(hosted::quotePrincipal(in).str()), out) << in;
  EXPECT_DEATH(hosted::quotePrincipal(nullptr), "Assertion 'principal' failed");
}

} // namespace
