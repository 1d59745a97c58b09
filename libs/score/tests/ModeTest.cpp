// Server mode names.
#include <gtest/gtest.h>

#include "loc/Locale.h"
#include "plat/Exception.h"
#include "score/Mode.h"

namespace {

TEST(ModeTest, Names)
{
  struct Case {
    const char* text;
    int mode; // -1: "Bad mode name"
  } cases[] = {{"user", 0},     {"SERVICE", 1}, {"Service", 1}, {"virtual", 2},
               {"ViRtUaL", 2},  {"services", -1}, {"", -1},      {nullptr, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(c.mode >= 0, score::isModeName(c.text));
    try {
      EXPECT_EQ(c.mode, (int)score::parseMode(c.text));
    } catch (const plat::Exception& e) {
      EXPECT_EQ(-1, c.mode);
      EXPECT_STREQ("Bad mode name", e.str());
    }
  }
  EXPECT_EQ(score::kModeUser, score::currentMode());
  const char* names[] = {"user", "service", "virtual"};
  for (score::Mode m : {score::kModeService, score::kModeVirtual, score::kModeUser}) {
    score::setCurrentMode(m);
    EXPECT_STREQ(names[m], score::getModeName());
  }
  loc::LocaleSetter english("en_US");
  EXPECT_STREQ("Service Mode", score::getModeDisplayName(1).get());
  EXPECT_STREQ("Virtual Mode", score::getModeDisplayName(2).get());
  EXPECT_STREQ("User Mode", score::getModeDisplayName(0).get());
  EXPECT_STREQ("User Mode", score::getModeDisplayName(7).get());
}

} // namespace
