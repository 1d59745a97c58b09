// Bootstrap orders against the python reference of the shuffles (over the
// PCG32 reference), and the progress's queue rules.
#include <gtest/gtest.h>

#include <string>

#include "bootstrapDocs.h"
#include "hosted/BootstrapProgress.h"
#include "hosted/HostedBootstrapInfo.h"
#include "testutil.h"

namespace {

using hosted::BootstrapConfig;
using hosted::BootstrapProgress;

const std::string kOrder = std::string(TL_TEST_SUPPORT_DIR) + "/bootstrap_order.py";

BootstrapConfig config(const std::string& desc)
{
  std::string doc = bootstraptest::unsignedDoc(desc);
  return BootstrapConfig((int)doc.size(), doc.data(), nullptr, nullptr,
                         BootstrapConfig::Signature::Optional);
}

std::string join(const std::vector<plat::String>& list)
{
  std::string s;
  for (const plat::String& x : list)
    s += (s.empty() ? "" : " ") + std::string(x.str());
  return s;
}

TEST(BootstrapProgress, OrdersMatchTheReference)
{
  BootstrapConfig c = config("\"uris\": [\"https://a.test/btp\", \"https://b.test/btp\"], "
                             "\"count\": 3, \"discovery\": \"https://d.test/\"");
  std::vector<std::string> requests, got;
  for (const char* principal : {(const char*)nullptr, "alice", "bob"}) {
    requests.push_back(std::string("progress ") + (principal ? principal : "-") +
                       " 3 https://d.test/ https://a.test/btp https://b.test/btp");
    BootstrapProgress p(principal);
    p.addConfig(c);
    got.push_back(join(p.discoveryQueue()) + " | " + join(p.bootstrapQueue()));
    EXPECT_EQ(1u, p.generation());
    EXPECT_EQ(300u, p.maxBackoffSecs());
  }
  // The bootstrap information's candidates and value shuffles.
  BootstrapConfig three = config("\"uris\": [\"https://a.test\", \"https://b.test\", "
                                 "\"https://c.test\"], \"count\": 4");
  struct Candidates {
    const char* host;
    int max;
    const char* cached;
  };
  for (const Candidates& k : {Candidates{"host1", 6, nullptr}, Candidates{"host2", 6, nullptr},
                              Candidates{"host1", 6, "https://b.test/3"},
                              Candidates{"host1", 1, nullptr},
                              Candidates{"host1", 1, "https://b.test/3"}}) {
    requests.push_back(std::string("candidates ") + k.host + " 4 " + std::to_string(k.max) + " " +
                       (k.cached ? k.cached : "-") + " https://a.test https://b.test https://c.test");
    got.push_back(join(hosted::hostedBootstrapCandidates(three, k.cached,
                                                         plat::fnv1aHash(k.host), k.max)));
  }
  std::vector<plat::String> items;
  for (int i = 0; i < 9; i++)
    items.push_back(plat::format("v%d", i));
  hosted::shuffleWithSeed(items, 12345);
  requests.push_back("shuffle 12345 v0 v1 v2 v3 v4 v5 v6 v7 v8");
  got.push_back(join(items));

  std::vector<std::string> expected = tltest::pythonLines(kOrder, requests);
  ASSERT_EQ(expected.size(), got.size());
  for (size_t i = 0; i < got.size(); i++)
    EXPECT_EQ(expected[i], got[i]) << requests[i];
  EXPECT_NE(got[1], got[2]) << "principals spread";
  // One candidate per base, a configuration index below the count.
  EXPECT_EQ(3u, std::count(got[3].begin(), got[3].end(), ' ') + 1u);
  // The cached address is tried first and its base gets no draw; a limit
  // of one keeps only the first shuffled candidate.
  EXPECT_EQ("https://b.test/3", got[5].substr(got[5].rfind(' ') + 1));
  EXPECT_EQ(std::string::npos, got[7].find("https://b.test/3"));
}

TEST(BootstrapProgress, QueueRules)
{
  BootstrapConfig ab = config("\"uris\": [\"https://a.test/btp\", \"https://a.test/btp2\", "
                              "\"https://b.test/btp\"], \"count\": 3, \"maxBackoff\": 60");
  BootstrapProgress p(nullptr);
  p.addConfig(ab);
  EXPECT_EQ(9u, p.bootstrapQueue().size());
  EXPECT_EQ(60u, p.maxBackoffSecs());

  // Taking an address and blacklisting it drops every queued address with
  // its prefix (the other base that begins the same way included).
  std::string first = p.nextBootstrap(nullptr);
  EXPECT_EQ(first, p.currentBootstrap());
  while (first.compare(0, 19, "https://a.test/btp/") != 0)
    first = p.nextBootstrap(nullptr);
  p.blacklistCurrent();
  EXPECT_FALSE(p.bootstrapEmpty());
  for (const plat::String& u : p.bootstrapQueue())
    EXPECT_EQ(0u, std::string(u.str()).find("https://b.test/btp/")) << u.str();

  // Success discards the mirrors: the same number on the other bases.
  BootstrapProgress q("x");
  q.addConfig(ab);
  std::string taken = q.nextBootstrap(nullptr);
  int number = q.currentConfigNumber();
  q.succeededCurrent();
  EXPECT_EQ(6u, q.bootstrapQueue().size());
  for (const plat::String& u : q.bootstrapQueue())
    EXPECT_NE(std::string("/") + std::to_string(number),
              std::string(u.str()).substr(strlen(u.str()) - 2));

  // A configuration repeating queued addresses moves them to the end under
  // the new generation; used ones are not queued again.
  BootstrapConfig b = config("\"uris\": [\"https://b.test/btp\", \"https://a.test/btp\"], "
                             "\"count\": 3");
  q.addConfig(b);
  EXPECT_EQ(2u, q.generation());
  std::vector<plat::String> queue = q.bootstrapQueue();
  EXPECT_EQ(6u, queue.size());
  for (const plat::String& u : queue)
    EXPECT_NE(taken, u.str());
  // A preferred address is taken first only when queued under the newest
  // generation.
  BootstrapProgress r(nullptr);
  r.addConfig(config("\"uris\": [\"https://a.test/btp\"], \"count\": 2"));
  r.addConfig(config("\"uris\": [\"https://b.test/btp\"], \"count\": 3"));
  queue = r.bootstrapQueue();
  ASSERT_EQ(5u, queue.size());
  std::string olderGen = queue[0].str();
  EXPECT_EQ(0u, olderGen.find("https://a.test/"));
  EXPECT_STREQ(queue[4].str(), r.nextBootstrap(olderGen.c_str()));
  std::string newer = queue[2].str();
  EXPECT_EQ(newer, r.nextBootstrap(newer.c_str()));
  EXPECT_EQ(join({queue[0], queue[1], queue[3]}), join(r.bootstrapQueue()));

  // The override replaces every configured address.
  hosted::hostedDiscoveryOverride.setParam("https://override.test/", plat::kPriorityPreference);
  BootstrapProgress o(nullptr);
  o.addConfig(ab);
  EXPECT_TRUE(o.bootstrapEmpty());
  EXPECT_STREQ("https://override.test/", o.nextDiscovery());
  EXPECT_STREQ("https://override.test/", o.currentDiscovery());
  EXPECT_TRUE(o.discoveryEmpty());
  hosted::hostedDiscoveryOverride.unset(plat::kPriorityPreference, false);
  EXPECT_DEATH(o.nextDiscovery(), "!discoveryToTry.empty\\(\\)");
  EXPECT_DEATH(o.nextBootstrap(nullptr), "!bootstrapToTry.empty\\(\\)");
}

// Addresses are added in linear time: 100,000, then all of them again (each
// moved to the end), in a fraction of the minutes a search of the queue per
// address would take.
TEST(BootstrapProgress, LargeConfigurations)
{
  std::string uris = "\"https://b0.test\"";
  for (int i = 1; i < 100; i++)
    uris += ", \"https://b" + std::to_string(i) + ".test\"";
  BootstrapConfig big = config("\"uris\": [" + uris + "], \"count\": 1000");
  BootstrapProgress p("x");
  plat::Time start = plat::getMonoTime();
  p.addConfig(big);
  p.addConfig(big);
  EXPECT_LT(plat::getMonoTime() - start, 10 * plat::kTicksPerSecond);
  EXPECT_EQ(100000u, p.bootstrapQueue().size());
}

TEST(HostedBootstrapInfo, Values)
{
  BootstrapConfig c = config("\"params\": [[\"enterprise/auth-uris\", \"https://x;https://y;;https://z;https://x\"]]");
  std::vector<plat::String> values;
  plat::StringSet handed;
  handed.insert(plat::String("https://y"));
  // Override values come first (taken from the end); handed-out ones,
  // repeats and other keys are skipped.
  EXPECT_TRUE(hosted::hostedBootstrapValues(
      values, handed, c, "enterprise/auth-uris",
      "other=https://o;enterprise/auth-uris=https://p;enterprise/auth-uris=https://y;junk", 7));
  ASSERT_EQ(3u, values.size());
  EXPECT_STREQ("https://p", values.back().str());
  std::vector<plat::String> rest{plat::String("https://x"), plat::String("https://z")};
  hosted::shuffleWithSeed(rest, 7);
  EXPECT_EQ(join(rest), join({values[0], values[1]}));
  values.clear();
  EXPECT_FALSE(hosted::hostedBootstrapValues(values, handed, c, "enterprise/none",
                                             "enterprise/none=https://q", 7));
  EXPECT_EQ("https://q", join(values));
}

} // namespace
