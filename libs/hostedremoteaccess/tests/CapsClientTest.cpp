// The capabilities client: service kinds, recorded addresses, observers and
// integer parameters; the context comes from the built-in configuration.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hostedremoteaccess/CapsClient.h"
#include "hostedremoteaccess/CloudConfig.h"
#include "os/dirs.h"
#include "testutil.h"

using namespace hostedremoteaccess;

namespace {

CapsClient::Parameters params(std::vector<std::pair<const char*, const char*>> items)
{
  CapsClient::Parameters p;
  for (auto& i : items)
    p[plat::String(i.first)] = plat::String(i.second);
  return p;
}

struct Recorder : CapsClient::Observer {
  void capsParametersChanged(const CapsClient::Parameters& p) override { seen.push_back(p); }
  std::vector<CapsClient::Parameters> seen;
};

class CapsClientTest : public ::testing::Test {
protected:
  void SetUp() override { os::setSystemConfigDir(dir_.path().c_str()); }
  void TearDown() override { os::setSystemConfigDir(""); }
  tltest::TempDir dir_{"capsclient"};
};

} // namespace

TEST_F(CapsClientTest, LoadsTheContextAndLogsTheBusinessIdentifier)
{
  tltest::LogCapture log("CloudConfig");
  hosted::HostedClientContextPtr context = loadCloudConfig();
  ASSERT_EQ(36u, strlen(context->businessId()));
  EXPECT_EQ("Using business identifier " + std::string(context->businessId()), log.lines().back());
  EXPECT_EQ(30, log.levels().back());
  CapsClient client(context, nullptr);
  EXPECT_EQ(300, client.maxBackoffSecs());
  EXPECT_TRUE(client.parameters().empty());
}

TEST_F(CapsClientTest, KindsAndRecordedAddresses)
{
  const char* names[] = {"enterprise/auth-uris", "enterprise/directory-uris",
                         "enterprise/graphql-uris", "enterprise/presence-uris"};
  for (unsigned k = 0; k < 4; k++) {
    EXPECT_STREQ(names[k], CapsClient::kindName(k));
    EXPECT_EQ(k, CapsClient::kindFromName(names[k]));
  }
  EXPECT_EQ(0u, CapsClient::kindFromName("ENTERPRISE/AUTH-URIS"));

  CapsClient client(loadCloudConfig(), nullptr);
  Recorder early, late;
  client.setObserver(&early, true);
  EXPECT_TRUE(early.seen.empty());
  tltest::LogCapture log("CapsClient");
  client.recordUrl(2, "https://g.test", 17, params({{"a", "1"}}));
  EXPECT_EQ(std::vector<std::string>{"Recording new URL for enterprise/graphql-uris: https://g.test"},
            log.lines());
  EXPECT_EQ(std::vector<int>{100}, log.levels());
  EXPECT_STREQ("https://g.test", client.getUrl(2));
  EXPECT_EQ(nullptr, client.getUrl(0));
  EXPECT_EQ(17, client.maxBackoffSecs());
  ASSERT_EQ(1u, early.seen.size());
  EXPECT_EQ(params({{"a", "1"}}), early.seen[0]);

  client.setObserver(&late, true);
  client.setObserver(&late, true);
  ASSERT_EQ(1u, late.seen.size());
  client.recordUrl(2, "https://g2.test", 5, params({{"b", "2"}}));
  EXPECT_EQ(2u, early.seen.size());
  EXPECT_EQ(2u, late.seen.size());
  client.setObserver(&early, false);
  client.clearUrl(2);
  EXPECT_EQ(nullptr, client.getUrl(2));
  client.recordUrl(2, "https://g2.test", 5, params({}));
  EXPECT_EQ(2u, early.seen.size());
  EXPECT_EQ(3u, late.seen.size());
}

TEST(CapsClientParameters, IntegerValues)
{
  CapsClient::Parameters p = params({{"n", "42"}, {"neg", "-7"}, {"max", "2147483647"},
                                     {"over", "2147483648"}, {"under", "-2147483649"},
                                     {"tail", "12x"}, {"empty", ""}, {"hex", "0x10"}});
  struct {
    const char* name;
    bool ok;
    int value;
  } cases[] = {{"n", true, 42},      {"neg", true, -7},    {"max", true, 2147483647},
               {"over", false, 0},   {"under", false, 0},  {"tail", false, 0},
               {"empty", false, 0},  {"hex", false, 0},    {"absent", false, 0}};
  for (auto& c : cases) {
    int v = -99;
    EXPECT_EQ(c.ok, CapsClient::getIntParameter(p, c.name, &v)) << c.name;
    EXPECT_EQ(c.ok ? c.value : -99, v) << c.name;
  }
}

TEST(CapsClientDeathTest, Misuse)
{
  EXPECT_DEATH(CapsClient::kindName(4), "Assertion 'key' failed");
  EXPECT_DEATH(CapsClient::kindFromName("enterprise/other-uris"), "Assertion 'i != -1' failed");
  EXPECT_DEATH(CapsClient::kindFromName(nullptr), "Assertion 'i != -1' failed");
}
