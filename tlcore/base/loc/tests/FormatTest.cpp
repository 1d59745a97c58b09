#include <stdlib.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LocTestUtil.h"
#include "loc/Localize.h"

using loc::Arg;
using loctest::capture;

namespace {

struct Registrar {
  Registrar()
  {
    loc::Localize* l = loc::Localize::instance();
    l->addString("de", "t_day_many", "%D Tage");
    l->addString("de", "t_day_sing", "%D Tag");
    l->addString("en", "t_day_many", "%D days");
    l->addString("en", "t_day_sing", "%D day");
    l->addString("fr", "t_day_many", "%D jours");
    l->addString("fr", "t_day_sing", "%D jour");
  }
} registrar;

std::string formatList(const char* fmt, std::vector<Arg> args)
{
  for (size_t i = 0; i + 1 < args.size(); i++)
    args[i].next = &args[i + 1];
  plat::String out("old content");
  loc::format(out, fmt, args.empty() ? nullptr : &args[0]);
  return out.str();
}

} // namespace

TEST(FormatTest, Placeholders)
{
  struct Case {
    const char* fmt;
    std::vector<Arg> args;
    const char* out;
    bool bad;
  } cases[] = {
      {"Bad argument '%S'.", {"-x"}, "Bad argument '-x'.", false},
      {"%1$S - %2$S password required", {"Setup", "Administrator"},
       "Setup - Administrator password required", false},
      {"%2$S %1$S", {"Setup", "Administrator"}, "Administrator Setup", false},
      {"%S and %S", {"a", "b"}, "%%S and %%S", true},
      {"%D", {-5}, "-5", false},
      {"%+D", {5}, "+5", false},
      {"%+D", {-5}, "-5", false},
      {"%D", {4294967295u}, "4294967295", false},
      {"%X", {255u}, "ff", false},
      {"%X", {255}, "%%X", true},
      {"%.3S", {"a\xc3\xb1" "b"}, "a\xc3\xb1", false},
      {"%.2S", {"\xc3\xb1..."}, "\xc3\xb1", false},
      {"%.1S", {"\xc3\xb1"}, "", false},
      {"%.9S", {"ab\xff"}, "ab\xef\xbf\xbd", false},
      {"100%%", {}, "100%", false},
      {"50%", {}, "50%%", true},
      {"%Q", {"x"}, "%%Q", true},
      {"%s", {"x"}, "%%s", true},
      {"%S", {}, "%%S", true},
      {"%S", {5}, "%%S", true},
      {"%D", {"x"}, "%%D", true},
      {"%+S", {"x"}, "%%+S", true},
      {"%+D", {5u}, "%%+D", true},
      {"%.2D", {5}, "%%.2D", true},
      {"%.0S", {"x"}, "%%.0S", true},
      {"%0$S", {"x"}, "%%0$S", true},
      {"%3$S", {"x", "y"}, "%%3$S", true},
      {"%1S", {"x"}, "%%1S", true},
      {"%1$1$S", {"x"}, "%%1$1$S", true},
      {"%++D", {5}, "%%++D", true},
      {"%..2S", {"x"}, "%%..2S", true},
      {"%1$.2S|%+1$D", {"abc"}, "ab|%%+1$D", true},
      {"%+1$D|%1$+D", {7}, "+7|+7", false},
      {"%1$.2S%1$S", {"xyz"}, "xyxyz", false},
      // Numbers past any meaning are errors, not overflows.
      {"%99999999999999999999$S", {"x"}, "%%99999999999999999999$S", true},
      {"%4294967297$S", {"x"}, "%%4294967297$S", true},
      {"%.99999999999999999999S", {"x"}, "%%.99999999999999999999S", true},
      {"%.2147483647S", {"x"}, "x", false},
      {"%1$", {"x"}, "%%1$", true},
      {"%", {"x"}, "%%", true},
  };
  for (const Case& c : cases) {
    loctest::CaptureScope scope;
    EXPECT_EQ(c.out, formatList(c.fmt, c.args)) << c.fmt;
    std::vector<std::string> want;
    if (c.bad)
      want.push_back(std::string("0 Bad loc string for args - ") + c.fmt);
    EXPECT_EQ(want, capture().take()) << c.fmt;
  }
}

TEST(FormatTest, FormatArgsBuildsTheList)
{
  plat::String out;
  EXPECT_STREQ("x=5 y=ff z=-1", loc::formatArgs(out, "%1$S=%2$D y=%3$X z=%4$D", "x", 5, 255u, -1).str());
  EXPECT_STREQ("plain %", loc::formatArgs("plain %%").str());
}

// GNU gettext's plural rules for the languages, evaluated by msgfmt and the
// gettext module, against our choice for every count.
TEST(FormatTest, PluralSuffixMatchesGettext)
{
  const char* twoIfMany = "nplurals=2; plural=(n > 1);";
  const char* oneIsSing = "nplurals=2; plural=(n != 1);";
  const char* single = "nplurals=1; plural=0;";
  std::map<std::string, const char*> rules = {
      {"fr_FR", twoIfMany}, {"fr", twoIfMany},     {"pt_BR", twoIfMany}, {"pt", twoIfMany},
      {"pt_PT", oneIsSing}, {"de_DE", oneIsSing},  {"en_US", oneIsSing}, {"es", oneIsSing},
      {"it_IT", oneIsSing}, {"ja_JP", single},     {"zh_CN", single},    {"ko", single},
      {"vi_VN", single},    {"pt-BR.UTF-8", twoIfMany},
  };
  char dir[] = "/tmp/locpluralXXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string cmd = std::string("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/loc_plural.py ") + dir;
  for (auto& r : rules)
    cmd += " '" + r.first + "=" + r.second + "'";
  int status = 0;
  std::string out = loctest::run(cmd, &status);
  loctest::run(std::string("rm -rf ") + dir);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "msgfmt is not installed";
  ASSERT_EQ(0, status);

  std::istringstream in(out);
  std::string locale, form;
  unsigned long long n;
  int checked = 0;
  while (in >> locale >> n >> form) {
    EXPECT_EQ(form, loc::pluralSuffix(locale.c_str(), (unsigned)n)) << locale << " " << n;
    checked++;
  }
  EXPECT_EQ(rules.size() * 207, (size_t)checked);
}

TEST(FormatTest, TranslatePlural)
{
  struct Case {
    const char* locale;
    unsigned n;
    const char* text;
  } cases[] = {
      {"de_DE", 1, "%D Tag"},  {"de_DE", 0, "%D Tage"}, {"fr_FR", 0, "%D jour"},
      {"fr_FR", 2, "%D jours"}, {"es", 1, "%D day"},    {"de_AT:fr", 5, "%D Tage"},
  };
  for (const Case& c : cases) {
    loctest::setLocale(c.locale);
    EXPECT_STREQ(c.text, loc::translatePlural("t_day", c.n, "f", 3)) << c.locale << " " << c.n;
  }
  loctest::CaptureScope scope(0);
  EXPECT_STREQ("t_week", loc::translatePlural("t_week", 2, "f", 3));
  EXPECT_THAT(capture().take(),
              ::testing::ElementsAre("0 Missing plural translation for \"t_week\" (f:3)"));
}
