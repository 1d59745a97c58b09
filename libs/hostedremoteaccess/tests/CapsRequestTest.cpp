// The capabilities request's errors and paging.
#include <gtest/gtest.h>

#include "hostedremoteaccess/CapsRequest.h"

using namespace hostedremoteaccess;

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
