#include "plat/Resource.h"

#include <string>

#include <gtest/gtest.h>

using namespace plat;

namespace {

std::string text(const BuiltInResource& r)
{
  return r.data ? std::string(static_cast<const char*>(r.data), r.size) : std::string();
}

// The language lists embedded by the build, byte for byte.
TEST(ResourceTest, LanguageListsAreBuiltIn)
{
  BuiltInResource langs = findBuiltInResource("langs.txt");
  ASSERT_NE(langs.data, nullptr);
  EXPECT_EQ(langs.size, 14u);
  EXPECT_EQ(text(langs), "en de es fr pt");

  BuiltInResource descs = findBuiltInResource("langDescs.txt");
  ASSERT_NE(descs.data, nullptr);
  EXPECT_EQ(descs.size, 55u);
  EXPECT_EQ(text(descs), "English\nDeutsch\nEspa\xc3\xb1ol\nFran\xc3\xa7"
                         "ais\nPortugu\xc3\xaas (Brasil)\n");
}

TEST(ResourceTest, LookupIsCaseSensitiveAndMissingNamesGiveNull)
{
  for (const char* name : {"LANGS.TXT", "Langs.txt", "langs.txt ", "", "strings.de.po"}) {
    BuiltInResource r = findBuiltInResource(name);
    EXPECT_EQ(r.data, nullptr) << name;
    EXPECT_EQ(r.size, 0u) << name;
  }
  EXPECT_EQ(findBuiltInResource(nullptr).data, nullptr);
}

TEST(ResourceTest, SecondRegistrationReplacesTheFirst)
{
  static const char first[] = "one";
  static const char second[] = "second";
  addBuiltInResource("test/Replace.bin", 3, first);
  EXPECT_EQ(text(findBuiltInResource("test/Replace.bin")), "one");
  addBuiltInResource("test/Replace.bin", 6, second);
  BuiltInResource r = findBuiltInResource("test/Replace.bin");
  EXPECT_EQ(r.data, second);
  EXPECT_EQ(text(r), "second");
  EXPECT_EQ(findBuiltInResource("test/replace.bin").data, nullptr);
}

} // namespace
