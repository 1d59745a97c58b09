#include "os/AppInfo.h"

#include <string.h>

#include <gtest/gtest.h>

// The identity is process-wide: each test sets what it reads.

TEST(AppInfo, UnsetValues)
{
  EXPECT_FALSE(os::AppInfo::isAppNameSet());
  EXPECT_STREQ("", os::AppInfo::getAppName(true));
  EXPECT_DEATH(os::AppInfo::getAppName(false), "emptyIfUnset \\|\\| app");
  EXPECT_DEATH(os::AppInfo::getPathComp(false), "emptyIfUnset \\|\\| pathComp");
  EXPECT_DEATH(os::AppInfo::setAppName(nullptr), "Assertion .name. failed");
}

TEST(AppInfo, DisplayNameChoice)
{
  os::AppInfo::set("app", nullptr, "comp", nullptr, nullptr);
  EXPECT_FALSE(os::AppInfo::isComplete());
  EXPECT_STREQ("app", os::AppInfo::getDisplayName(false));

  os::AppInfo::set("app", "company", "comp", "key_name", "Literal\xc2\xae Name");
  EXPECT_TRUE(os::AppInfo::isComplete());
  EXPECT_STREQ("key_name", os::AppInfo::getRawDisplayName(false));
  os::AppInfo::setTranslator([](const char* key) {
    return strcmp(key, "key_name") == 0 ? "Translated\xc2\xae" : "?";
  });
  EXPECT_STREQ("Translated\xc2\xae", os::AppInfo::getRawDisplayName(false));
  EXPECT_STREQ("Translated", os::AppInfo::getDisplayName(false));

  // A literal name set later wins over the key.
  os::AppInfo::setDisplayName("Zarn\xc2\xae Setup\xc2\xae");
  EXPECT_STREQ("Zarn\xc2\xae Setup\xc2\xae", os::AppInfo::getRawDisplayName(false));
  EXPECT_STREQ("Zarn Setup", os::AppInfo::getDisplayName(false));
  os::AppInfo::setTranslator(nullptr);
}
