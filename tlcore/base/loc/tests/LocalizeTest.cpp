#include "loc/Localize.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LocTestUtil.h"
#include "os/AppInfo.h"
#include "plat/ConfigParameter.h"

using ::testing::ElementsAre;
using loctest::capture;

namespace {

// Catalogue-like registrations, in ascending key order per locale.
struct Registrar {
  Registrar()
  {
    loc::Localize* l = loc::Localize::instance();
    l->addString("de", "t_both", "Beide");
    l->addString("de", "t_desc", "Beschreibung");
    l->addString("de", "t_first", "Erste");
    l->addString("de", "t_first", "Zweite");
    l->addString("en", "t_both", "Both");
    l->addString("en", "t_desc", "Description");
    l->addString("en", "t_display", "Display Name");
    l->addString("en", "t_mixed", "mixed %S");
    l->addString("en", "t_only_en", "English only");
    l->addString("en", "t_percent_fmt", "100%% done");
    l->addString("en", "t_percent_raw", "100%% done");
    l->addString("en", "t_replace", "built-in");
    l->addString("fr", "t_both", "Les deux");
  }
} registrar;

plat::StringParameter descParam("tDescParam", plat::LocKey{"t_desc"}, "");

class LocalizeTest : public ::testing::Test {
protected:
  void SetUp() override { loctest::setLocale("en"); }
};

} // namespace

TEST_F(LocalizeTest, FallbackThroughLocales)
{
  struct Case {
    const char* locale;
    const char* key;
    const char* text;
  } cases[] = {
      {"de_DE", "t_both", "Beide"},       {"de_DE", "t_only_en", "English only"},
      {"de", "t_both", "Beide"},          {"fr_CA", "t_both", "Les deux"},
      {"es:fr", "t_both", "Les deux"},    {"pt_BR", "t_both", "Both"},
      {"de", "t_first", "Erste"},
  };
  for (const Case& c : cases) {
    loctest::setLocale(c.locale);
    EXPECT_STREQ(c.text, loc::translate(c.key, nullptr, 0, false)) << c.locale << " " << c.key;
  }
}

TEST_F(LocalizeTest, MissingKeyLogsOnceAndReturnsKey)
{
  loctest::CaptureScope scope;
  EXPECT_STREQ("t_none", loc::translate("t_none", "f", 12, false));
  EXPECT_STREQ("t_none2", loc::translate("t_none2", nullptr, 0, true));
  EXPECT_EQ(nullptr, loc::tryTranslate("t_none3", false));
  EXPECT_THAT(capture().take(), ElementsAre("0 Missing translation for \"t_none\" (f:12)",
                                            "0 Missing translation for \"t_none2\""));
}

TEST_F(LocalizeTest, SetStringReplacesAndResetsUse)
{
  loc::Localize* l = loc::Localize::instance();
  EXPECT_STREQ("built-in", loc::translate("t_replace", nullptr, 0, true));
  l->setString("en", "t_replace", "from file %%");
  // A replaced text starts unused, so it may now be used either way.
  EXPECT_STREQ("from file %", loc::translate("t_replace", nullptr, 0, false));
  l->setString("en", "t_new_key", "new");
  loctest::setLocale("de");
  EXPECT_STREQ("new", loc::translate("t_new_key", nullptr, 0, false));
}

TEST_F(LocalizeTest, RawAndFormattedFetching)
{
  EXPECT_STREQ("100% done", loc::translate("t_percent_fmt", nullptr, 0, false));
  EXPECT_STREQ("100% done", loc::translate("t_percent_fmt", nullptr, 0, false));
  EXPECT_STREQ("100%% done", loc::translate("t_percent_raw", nullptr, 0, true));
  EXPECT_STREQ("100%% done", loc::tryTranslate("t_percent_raw", true));
}

TEST_F(LocalizeTest, MixedUseIsFatal)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        loc::translate("t_mixed", nullptr, 0, true);
        loc::translate("t_mixed", nullptr, 0, false);
      },
      "Can't use same string as both raw and formatted - t_mixed");
}

TEST_F(LocalizeTest, LocaleChangeRebuildsOnce)
{
  loctest::CaptureScope scope;
  loctest::setLocale("fr");
  EXPECT_EQ(1u, capture().grep("Updating process TransMap").size());
  loctest::setLocale("fr");
  loc::Localize::instance()->updateLocale();
  EXPECT_TRUE(capture().grep("Updating").empty());

  loctest::setLocale("de");
  std::vector<std::string> lines = capture().take();
  EXPECT_THAT(lines, ::testing::Contains("30 Locales de_DE:en_US"));
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                          "110 Updating process TransMap with locales:"));
  EXPECT_STREQ("Beide", loc::translate("t_both", nullptr, 0, false));
}

TEST_F(LocalizeTest, LookupsWhileLocaleChanges)
{
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      while (!stop) {
        std::string both = loc::translate("t_both", nullptr, 0, false);
        if (both != "Beide" && both != "Les deux" && both != "Both")
          bad++;
        if (std::string(loc::translate("t_only_en", nullptr, 0, false)) != "English only")
          bad++;
      }
    });
  }
  const char* locales[] = {"de", "fr", "en", "de_AT:fr"};
  for (int i = 0; i < 400; i++)
    loctest::setLocale(locales[i % 4]);
  stop = true;
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(0, bad.load());
}

TEST_F(LocalizeTest, LowerLayersTranslateThroughHooks)
{
  loctest::setLocale("de");
  EXPECT_STREQ("Beschreibung", descParam.getDescription());
  os::AppInfo::set("tapp", "tcompany", "tpath", "t_display", nullptr);
  EXPECT_STREQ("Display Name", os::AppInfo::getRawDisplayName(false));
}
