// The query builder against python's urllib.parse.quote, product URLs
// following `_ProductUri`, and reason phrases.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/HttpUtil.h"
#include "plat/Configuration.h"
#include "testutil.h"

namespace {

// python's quote keeps "~" too; the builder's encoding does not.
const char* const kQuote = R"(
import sys, urllib.parse
for line in sys.stdin.buffer.read().split(b"\n")[:-1]:
    k, v = bytes.fromhex(line.decode()).split(b"\0")
    q = lambda s: urllib.parse.quote(s, safe="*").replace("~", "%7E")
    print("?" + q(k) + "=" + q(v) + "&v=8")
)";

TEST(QueryBuilder, AgreesWithPython)
{
  std::mt19937 rng(7);
  std::vector<std::string> input, built;
  const std::string alphabet = std::string("aZ09*-._~ &=?%/+\xc3\xa9\x01\x7f\xff", 21);
  for (int i = 0; i < 300; i++) {
    std::string key, value;
    for (int n = rng() % 8 + 1; n > 0; n--)
      key += alphabet[rng() % alphabet.size()];
    for (int n = rng() % 12; n > 0; n--)
      value += alphabet[rng() % alphabet.size()];
    input.push_back(tltest::toHex(key + std::string(1, '\0') + value));
    http::QueryBuilder q("");
    q.add(key.c_str(), value.c_str());
    q.add("nothing", nullptr);
    q.add("v", "8");
    built.push_back(q.get());
  }
  EXPECT_EQ(built, tltest::pythonLines(tltest::TempFile(kQuote, "tltest_quote").path(), input));

  http::QueryBuilder q("https://site.test/p");
  q.add("state", "a b");
  q.add("skipped", nullptr);
  q.add("version", "8");
  EXPECT_STREQ("https://site.test/p?state=a%20b&version=8", q.get());
}

TEST(ProductUrl, FollowsTheParameterAtEachCall)
{
  plat::Configuration::global().set("_ProductUri", "https://www.maker.example", plat::kPriorityPolicy);
  EXPECT_STREQ("https://www.maker.example/a", http::makeProductUrl("/a").get());
  EXPECT_STREQ("https://www.maker.exampleb", http::makeProductUrl("b").get());
  plat::Configuration::global().set("_ProductUri", "http://other.example/x", plat::kPriorityPolicy);
  EXPECT_STREQ("http://other.example/x/7/y", http::makeProductUrlf("/%d/%s", 7, "y").get());
}

TEST(ReasonPhrase, Table)
{
  struct {
    int status;
    const char* phrase;
  } cases[] = {{100, "Continue"},       {200, "OK"},           {304, "Not Modified"},
               {306, "Unknown Error"},  {404, "Not Found"},    {418, "Unknown Error"},
               {427, "Unknown Error"},  {431, "Request Header Fields Too Large"},
               {505, "HTTP Version Not Supported"},            {0, "Unknown Error"}};
  for (auto& c : cases)
    EXPECT_STREQ(c.phrase, http::getReasonPhrase(c.status)) << c.status;
}

} // namespace
