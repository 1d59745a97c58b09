// The redeem body and reply, and the authentication stand-in the redeem
// tests run against: its package names its nodes, it records what arrives,
// and python's json module reads the bodies back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "authStandIn.h"
#include "hosted/HostedClientContext.h"
#include "hosted/HostedException.h"
#include "hostedremoteaccess/CloudConfig.h"
#include "hostedremoteaccess/TicketRedeemer.h"
#include "http/HttpUtil.h"
#include "io/FdSelectManager.h"
#include "os/dirs.h"
#include "plat/encodings.h"
#include "rootdir.h"
#include "ssl/HttpsClient.h"

using namespace hostedremoteaccess;

namespace {

std::string hex(const std::string& s)
{
  return plat::binToHex((int)s.size(), reinterpret_cast<const unsigned char*>(s.data())).str();
}

plat::MBuf<unsigned char> bytes(const std::string& s)
{
  return plat::MBuf<unsigned char>(reinterpret_cast<const unsigned char*>(s.data()), (int)s.size());
}

} // namespace

TEST(TicketRedeemer, BodiesReachTheStandInAsPythonReadsThem)
{
  tltest::RootOnlyDir data;
  if (data.path().empty())
    GTEST_SKIP() << "needs root for a trusted data directory";
  httptest::prepareProcess();
  os::setSystemConfigDir(data.path().c_str());
  io::FdSelectManager mgr;
  {
    httptest::AuthStandIn standin(3, data.path());
    // The package written for the stand-in is the one loaded.
    hosted::HostedClientContextPtr context = loadCloudConfig();
    const hosted::BootstrapConfig& cfg = context->vendorConfig().bootstrapConfig();
    EXPECT_EQ(standin.url(1) + ";" + standin.url(2), cfg.parameter("enterprise/auth-uris"));
    EXPECT_EQ(standin.url(0) + "/btp/", cfg.bootstrapUris().at(0).str());

    tltest::commandOutput("cp " + standin.ca().path("ca.pem") + " " + (data / "cacerts.pem"));
    std::unique_ptr<ssl::SslCertLookup> lookup;
    std::unique_ptr<http::HttpClient> client(ssl::createHttpsClient(lookup));
    const std::string tickets[] = {"plain", "q\"uo\"te", "back\\slash\\", "ctl\x01\n\t\x1f",
                                   "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "</script>", ""};
    standin.setDateOffset(-7200);
    for (const std::string& t : tickets) {
      standin.push(1, {201, "Created", {{"Retry-After", "3"}}, "{}"});
      plat::MBuf<unsigned char> body = redeemBody(t.c_str());
      std::unique_ptr<http::HttpRequest> r(
          client->newRequest("POST", (standin.url(1) + kRedeemPath).c_str()));
      r->setBody("application/json", body);
      httptest::Outcome o;
      r->start(&o);
      ASSERT_TRUE(nettest::runUntil(mgr, [&] { return o.done(); }));
      EXPECT_EQ(201, r->getStatus());
      EXPECT_STREQ("3", r->getResponseHeader("Retry-After"));
      // The stand-in's clock runs two hours behind.
      plat::Time date = 0;
      EXPECT_TRUE(http::parseDate(&date, r->getResponseHeader("Date")));
      EXPECT_NEAR(-7200.0, (double)(date - plat::getTime()) / 1e7, 5.0);
    }
    std::vector<httptest::Received> got = standin.requests();
    ASSERT_EQ(std::size(tickets), got.size());
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ("POST", got[i].method);
      EXPECT_EQ(kRedeemPath, got[i].path);
      EXPECT_EQ("application/json", got[i].header("Content-Type"));
      EXPECT_EQ("True\n", tltest::commandOutput(
                              "/usr/bin/python3 -c 'import json,sys; print(json.loads(bytes.fromhex("
                              "sys.argv[1])) == json.loads(json.dumps({\"ticket\": bytes.fromhex("
                              "sys.argv[2]).decode()})))' " +
                              hex(got[i].body) + " \"" + hex(tickets[i]) + "\""))
          << i;
    }
    // Empty queue: 404; a reset answer closes the connection.
    standin.push(2, {0, "", {}, "", true, true});
    for (int status : {-1, 404}) {
      std::unique_ptr<http::HttpRequest> r(client->newRequest("GET", (standin.url(2) + "/x").c_str()));
      httptest::Outcome o;
      r->start(&o);
      ASSERT_TRUE(nettest::runUntil(mgr, [&] { return o.done(); }));
      EXPECT_EQ(status == 404, o.ok) << o.error;
      if (status == 404) {
        EXPECT_EQ(404, r->getStatus());
      }
    }
    EXPECT_EQ(2u, standin.requests().size() - got.size());
  }
  nettest::settle(mgr);
  os::setSystemConfigDir("");
}

TEST(TicketRedeemer, ReplyMustBeAJsonObject)
{
  EXPECT_EQ("x", std::string(redeemReply(bytes("{\"type\":\"x\"}"), "application/json")
                                 ->get("type")->asString().str()));
  struct {
    const char* body;
    const char* type;
  } bad[] = {{"not json", "application/json"}, {"[1]", "application/json"},
             {"{\"a\":", "application/json"}, {"{}", "text/html"}, {"", "application/json"}};
  for (auto& c : bad) {
    try {
      redeemReply(bytes(c.body), c.type);
      ADD_FAILURE() << c.body;
    } catch (hosted::HostedException& e) {
      EXPECT_EQ(8u, e.getCategory());
      EXPECT_STREQ("JSON", e.getKind());
      EXPECT_EQ(0, strncmp("Hosted Application error: ", e.str(), 26)) << e.str();
    }
  }
}
