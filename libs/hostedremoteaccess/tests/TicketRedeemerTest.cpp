// The ticket redeemer against the authentication stand-in: python's json
// module reads the bodies back, only 200 with a JSON object redeems, one
// callback per pending redeem; the package written for the stand-in is the
// one loaded.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "capsTestUtil.h"
#include "hosted/HostedException.h"
#include "hostedremoteaccess/TicketRedeemer.h"

using namespace hostedremoteaccess;
using httptest::Answer;

namespace {

plat::MBuf<unsigned char> bytes(const std::string& s)
{
  return plat::MBuf<unsigned char>(reinterpret_cast<const unsigned char*>(s.data()), (int)s.size());
}

Answer reply(int status, const char* reason, const std::string& body,
             const char* type = "application/json")
{
  Answer a;
  a.status = status;
  a.reason = reason;
  a.body = body;
  a.headers = {{"Content-Type", type}};
  return a;
}

struct Owner : TicketRedeemer::Callback {
  void ticketRedeemed(const plat::JsonObject& r) override
  {
    redeemed++;
    value = r.get("value")->asString().str();
    if (destroy)
      redeemer.reset();
  }
  void ticketRedeemFailed(const plat::Exception& e) override
  {
    failed++;
    const hosted::HostedException* h = dynamic_cast<const hosted::HostedException*>(&e);
    kind = h ? h->getKind() : "<not hosted>";
    if (destroy)
      redeemer.reset();
  }
  int calls() const { return redeemed + failed; }

  std::unique_ptr<TicketRedeemer> redeemer;
  bool destroy = false;
  int redeemed = 0, failed = 0;
  std::string value, kind;
};

class TicketRedeemerTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (!fx.ready())
      GTEST_SKIP() << "needs root for a trusted data directory";
    fx.client().recordUrl(0, fx.standin().url(1).c_str(), 300, {});
    owner.redeemer.reset(new TicketRedeemer(&fx.client(), &owner));
  }
  void settle()
  {
    for (int i = 0; i < 5; i++)
      fx.mgr().processOnce(0);
  }

  capstest::CapsFixture fx{2};
  Owner owner;
};

} // namespace

TEST_F(TicketRedeemerTest, PackageNamesTheStandInNodes)
{
  const hosted::BootstrapConfig& cfg = fx.context()->vendorConfig().bootstrapConfig();
  EXPECT_STREQ(fx.standin().url(1).c_str(), cfg.parameter("enterprise/auth-uris"));
  EXPECT_EQ(fx.standin().url(0) + "/btp/", cfg.bootstrapUris().at(0).str());
}

TEST_F(TicketRedeemerTest, BodiesAsPythonReadsThem)
{
  const std::string tickets[] = {"plain", "q\"uo\"te", "back\\slash\\", "ctl\x01\n\t\x1f",
                                 "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "</script>", ""};
  for (const std::string& t : tickets) {
    fx.standin().push(1, reply(200, "OK", "{\"type\":\"server-join\",\"value\":\"tok\"}"));
    int before = owner.calls();
    owner.redeemer->redeem(t.c_str());
    ASSERT_TRUE(fx.runUntil([&] { return owner.calls() > before; }));
  }
  EXPECT_EQ((int)std::size(tickets), owner.redeemed);
  EXPECT_EQ("tok", owner.value);
  EXPECT_TRUE(redeemBody("t").isSecure()) << "so that request dumps hide the exchange";
  auto got = fx.standin().requests();
  ASSERT_EQ(std::size(tickets), got.size());
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ("POST", got[i].method);
    EXPECT_EQ(kRedeemPath, got[i].path);
    EXPECT_EQ("application/json", got[i].header("Content-Type"));
    EXPECT_EQ("<none>", got[i].header("Authorization"));
    EXPECT_EQ("True\n", tltest::commandOutput(
                            "/usr/bin/python3 -c 'import json,sys; print(json.loads(bytes.fromhex("
                            "sys.argv[1])) == json.loads(json.dumps({\"ticket\": bytes.fromhex("
                            "sys.argv[2]).decode()})))' " +
                            tltest::toHex(got[i].body) + " \"" + tltest::toHex(tickets[i]) + "\""))
        << i;
  }
}

// Only 200 with a JSON object redeems; anything else fails, once.
TEST_F(TicketRedeemerTest, Replies)
{
  struct {
    Answer answer;
    const char* kind; // null: redeemed
  } cases[] = {
      {reply(200, "OK", "{\"value\":\"v\"}"), nullptr},
      {reply(201, "Created", "{\"value\":\"v\"}"), "HTTPCreated"},
      {reply(204, "No Content", ""), "HTTPNoContent"},
      {reply(404, "Not Found", "{}"), "HTTPNotFound"},
      {reply(200, "OK", "not json"), "JSON"},
      {reply(200, "OK", "[\"array\"]"), "JSON"},
      {reply(200, "OK", "{}", "text/html"), "JSON"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.answer.status);
    owner.redeemed = owner.failed = 0;
    fx.standin().push(1, c.answer);
    owner.redeemer->redeem("t");
    ASSERT_TRUE(fx.runUntil([&] { return owner.calls() > 0; }));
    settle();
    EXPECT_EQ(1, owner.calls());
    EXPECT_EQ(c.kind ? 1 : 0, owner.failed);
    if (c.kind) {
      EXPECT_EQ(c.kind, owner.kind);
    }
  }
}

TEST_F(TicketRedeemerTest, OneCallbackPerPendingRedeem)
{
  // A second redeem abandons the first.
  fx.standin().push(1, reply(200, "OK", "{\"value\":\"first\"}"));
  fx.standin().push(1, reply(200, "OK", "{\"value\":\"second\"}"));
  owner.redeemer->redeem("one");
  owner.redeemer->redeem("two");
  ASSERT_TRUE(fx.runUntil([&] { return owner.calls() > 0; }));
  settle();
  EXPECT_EQ(1, owner.calls());

  // Destroyed while pending: nothing.
  owner.redeemed = 0;
  fx.standin().push(1, reply(200, "OK", "{\"value\":\"x\"}"));
  owner.redeemer->redeem("three");
  owner.redeemer.reset();
  for (int i = 0; i < 10; i++)
    fx.mgr().processOnce(20);
  EXPECT_EQ(0, owner.calls());

  // Destroyed from inside its callback, success and failure alike.
  for (int status : {200, 500}) {
    owner.redeemed = owner.failed = 0;
    owner.destroy = true;
    owner.redeemer.reset(new TicketRedeemer(&fx.client(), &owner));
    fx.standin().push(1, reply(status, "X", "{\"value\":\"y\"}"));
    owner.redeemer->redeem("four");
    ASSERT_TRUE(fx.runUntil([&] { return owner.calls() > 0; }));
    settle();
    EXPECT_EQ(nullptr, owner.redeemer);
  }
}

TEST(TicketRedeemerReply, MustBeAJsonObject)
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
