#include "plat/Uuid.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/encodings.h"
#include "testutil.h"

using namespace plat;

namespace {

std::vector<std::string> reference(const std::vector<std::string>& cases)
{
  tltest::TempFile in(tltest::joinLines(cases), "uuid_test");
  std::vector<std::string> out = tltest::commandLines(
      "/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/path_reference.py uuid " + in.path());
  EXPECT_EQ(out.size(), cases.size());
  return out;
}

Uuid fromText(const char* text)
{
  Uuid u;
  Uuid::parse(u.bytes, text);
  return u;
}

} // namespace

TEST(UuidTest, FromBytesAndTextMatchPython)
{
  std::mt19937 rng(4);
  std::vector<std::string> cases;
  std::vector<Uuid> made;
  for (int i = 0; i < 500; i++) {
    unsigned char raw[16];
    for (unsigned char& b : raw)
      b = static_cast<unsigned char>(i < 2 ? -i : rng());
    cases.push_back(binToHex(16, raw).str());
    Uuid u;
    Uuid::fromBytes(u.bytes, raw, 16);
    made.push_back(u);
  }
  std::vector<std::string> expected = reference(cases);
  for (size_t i = 0; i < expected.size(); i++) {
    std::string got = std::string(made[i].toString(false).str()) + "\t" + made[i].toString(true).str();
    EXPECT_EQ(got, expected[i]) << cases[i];
    EXPECT_EQ(fromText(expected[i].substr(33).c_str()), made[i]);
  }

  // A short buffer covers only the start; the rest stays as it was.
  Uuid u;
  memset(u.bytes, 0xff, 16);
  const unsigned char two[] = {0x12, 0x34};
  Uuid::fromBytes(u.bytes, two, 2);
  EXPECT_STREQ(u.toString(false).str(), "1234ffffffff4fffbfffffffffffffff");
  EXPECT_THROW(Uuid::fromBytes(u.bytes, two, 17), AssertionFail);
}

TEST(UuidTest, ParseForms)
{
  const char* canonical = "0123abcd-4567-89ab-cdef-0123456789ab";
  struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"0123abcd456789abcdef0123456789ab", true},
      {"0123ABCD-4567-89AB-CDEF-0123456789AB", true},
      {canonical, true},
      {"-0123abcd-4567-89ab-cdef-0123456789ab", true},
      {"01-23-ab-cd45-6789abcdef0123456789ab", true},
      {"0123abcd-4567-89ab-cdef-0123456789ab-", false},
      {"0123abcd--4567-89ab-cdef-0123456789ab", false},
      {"0123abcd-4567-89ab-cdef-0123456789a", false},
      {"0123abcd-4567-89ab-cdef-0123456789abc", false},
      {"0123abcd-4567-89ab-cdef-0123456789ag", false},
      {"0-123abcd456789abcdef0123456789ab", false},
      {"", false},
      {nullptr, false},
  };
  for (const auto& t : cases) {
    Uuid u;
    EXPECT_EQ(Uuid::tryParse(u.bytes, t.text), t.valid) << t.text;
    if (t.valid) {
      EXPECT_STREQ(u.toString(true).str(), canonical);
    } else {
      try {
        Uuid::parse(u.bytes, t.text);
        ADD_FAILURE() << t.text;
      } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.str()), std::string("Invalid Uuid '") + (t.text ? t.text : "") + "'");
      }
    }
  }
  // What was decoded before the fault stays.
  Uuid partial;
  EXPECT_FALSE(Uuid::tryParse(partial.bytes, "ab-cdx"));
  EXPECT_EQ(partial.bytes[0], 0xab);
  EXPECT_EQ(partial.bytes[1], 0xcd);
  EXPECT_EQ(partial.bytes[2], 0);
}

TEST(UuidTest, SetsAreOrderedByBytesWithoutDuplicates)
{
  const char* high = "ff000000-0000-0000-0000-000000000000";
  const char* low = "00000000-0000-0000-0000-0000000000ff";
  const char* mid = "7f000000-0000-0000-0000-000000000000";
  UuidSet set = uuidSetFromList(",,ff000000000000000000000000000000,00000000-0000-0000-0000-"
                                "0000000000FF,,7f000000-0000-0000-0000-000000000000,"
                                "ff000000-0000-0000-0000-000000000000,");
  EXPECT_EQ(set.size(), 3u);
  std::string expected = std::string(low) + "," + mid + "," + high;
  EXPECT_STREQ(uuidSetToString(set).str(), expected.c_str());
  EXPECT_STREQ(uuidSetToString(UuidSet()).str(), "");
  EXPECT_TRUE(uuidSetFromList("").empty());
  EXPECT_TRUE(uuidSetFromList(nullptr).empty());

  StringSet strings;
  for (const char* s : {high, low, mid, "FF000000000000000000000000000000"})
    strings.insert(String(s));
  EXPECT_EQ(uuidSetFromStrings(strings), set);

  try {
    uuidSetFromList((std::string(low) + ",bad," + high).c_str());
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Invalid Uuid 'bad'");
  }
  strings.insert(String("nope"));
  EXPECT_THROW(uuidSetFromStrings(strings), Exception);
}

TEST(UuidTest, GenerateMakesDistinctVersion4Identifiers)
{
  UuidSet seen;
  for (int i = 0; i < 20000; i++) {
    Uuid u;
    Uuid::generate(u.bytes);
    ASSERT_EQ(u.bytes[6] & 0xF0, 0x40);
    ASSERT_EQ(u.bytes[8] & 0xC0, 0x80);
    seen.insert(u);
  }
  EXPECT_EQ(seen.size(), 20000u);
}
