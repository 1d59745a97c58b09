#include "loc/Locale.h"

#include <langinfo.h>
#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "LocTestUtil.h"
#include "testutil.h"
#include "loc/Localize.h"

using loctest::capture;
using plat::String;

namespace {

struct Registrar {
  Registrar()
  {
    loc::Localize::instance()->addString("de", "t_loc_word", "Wort");
    loc::Localize::instance()->addString("en", "t_loc_word", "word");
  }
} registrar;

std::string join(const std::vector<String>& v)
{
  std::string out;
  for (const String& s : v)
    out += (out.empty() ? "" : ":") + std::string(s.str());
  return out;
}

bool haveLocale(const char* name)
{
  locale_t l = newlocale(LC_ALL_MASK, name, (locale_t)0);
  if (l)
    freelocale(l);
  return l != nullptr;
}

} // namespace

TEST(LocaleTest, LocaleParameterGivesList)
{
  struct Case {
    const char* param;
    const char* list;
  } cases[] = {
      {"de:fr_CA", "de_DE:fr_CA:en_US"}, {"en_US:de", "en_US:de_DE"}, {"::de::", "de_DE:en_US"},
      {"pt-BR.UTF-8", "pt_BR:en_US"},    {"xx", "xx:en_US"},          {"de_AT@euro:de", "de_AT:de_DE:en_US"},
      {"en", "en_US"},
  };
  for (const Case& c : cases) {
    loctest::setLocale(c.param);
    EXPECT_EQ(c.list, std::string(loc::Localize::instance()->getLocales().str())) << c.param;
  }
}

TEST(LocaleTest, ListHelpers)
{
  struct Fallback {
    std::vector<String> in;
    const char* out;
  } fallbacks[] = {
      {{String("de_DE"), String("en_US")}, "de_DE:de:en_US:en"},
      {{String("de")}, "de:en_US:en"},
      {{String("pt_BR")}, "pt_BR:pt:en_US:en"},
      {{String("fr-CA"), String("fr_FR")}, "fr-CA:fr:fr_FR:en_US:en"},
      {{String("en")}, "en:en_US"},
  };
  for (const Fallback& f : fallbacks) {
    std::vector<String> out;
    loc::getLocaleFallbacks(f.in, out);
    EXPECT_EQ(f.out, join(out));
  }

  // The defaults complete only their own language.
  EXPECT_STREQ("de_AT", loc::normaliseLocale("de", "", "de", "AT").str());
  EXPECT_STREQ("fr_FR", loc::normaliseLocale("fr", "", "de", "AT").str());
  EXPECT_TRUE(loc::normaliseLocale("", "DE", nullptr, nullptr).isNull());

  struct Sanitise {
    const char* in;
    int max;
    bool drop;
    const char* out;
  } sans[] = {
      // A codeset is kept only right after the language.
      {"en_US.UTF-8:de.UTF-8@euro", 5, false, "en_US:de.UTF-8"},
      {"de.UTF-8:de.a/b:de.", 5, false, "de.UTF-8:de:de"},
      {"en_US.UTF-8@euro:de.UTF-8", 5, true, "en_US:de"},
      {"e1:fr_F2:de-AT:x.a/b:y:z", 3, false, "fr:de_AT:x"},
  };
  for (const Sanitise& s : sans) {
    String out("stale");
    loc::sanitiseLocaleList(out, s.in, s.max, s.drop);
    EXPECT_STREQ(s.out, out.str()) << s.in;
  }
}

// Reports the locale list a fresh process computes from its environment.
TEST(LocaleEnvChild, DISABLED_Print)
{
  std::string before = setlocale(LC_ALL, nullptr);
  loc::Localize::instance()->init({});
  printf("LIST=%s\n", loc::Localize::instance()->getLocales().str());
  printf("SETLOCALE=%s\n", before == setlocale(LC_ALL, nullptr) ? "same" : "changed");
}

TEST(LocaleTest, EnvironmentGivesList)
{
  for (const char* l : {"de_DE.UTF-8", "de_AT.UTF-8", "ja_JP.UTF-8"})
    if (!haveLocale(l))
      GTEST_SKIP() << "locale " << l << " is not generated";
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
  struct Case {
    const char* env;
    const char* list;
  } cases[] = {
      {"", "en_US"},
      {"LANG=C", "en_US"},
      {"LANG=C LANGUAGE=fr", "en_US"},
      {"LANG=POSIX", "en_US"},
      {"LANG=C.UTF-8", "C:en_US"},
      {"LANG=C.UTF-8 LANGUAGE=fr", "fr_FR:en_US"},
      {"LANG=ja_JP.UTF-8", "ja_JP:en_US"},
      {"LANG=de_AT.UTF-8 LANGUAGE=de:en", "de_AT:en_US"},
      {"LANG=de_AT.UTF-8 LANGUAGE=fr:de", "fr_FR:de_AT:en_US"},
      {"LANG=de_AT.UTF-8 LANGUAGE=", "de_AT:en_US"},
      {"LC_ALL=de_DE.UTF-8 LANG=ja_JP.UTF-8", "de_DE:en_US"},
      {"LC_MESSAGES=ja_JP.UTF-8 LANG=de_DE.UTF-8", "ja_JP:en_US"},
      {"LC_ALL=de_AT.UTF-8 LC_MESSAGES=ja_JP.UTF-8", "de_AT:en_US"},
      {"LANG=xx_YY.UTF-8", "en_US"},
  };
  for (const Case& c : cases) {
    std::string out = loctest::run(std::string("env -i ") + c.env + " " + self +
                                   " --gtest_also_run_disabled_tests"
                                   " --gtest_filter=LocaleEnvChild.DISABLED_Print 2>/dev/null");
    EXPECT_THAT(out, ::testing::HasSubstr(std::string("LIST=") + c.list + "\n")) << c.env;
    EXPECT_THAT(out, ::testing::HasSubstr("SETLOCALE=same\n")) << c.env;
  }
}

TEST(LocaleTest, SupportTest)
{
  if (!haveLocale("de_DE.UTF-8") || !haveLocale("C.UTF-8"))
    GTEST_SKIP() << "locales de_DE.UTF-8 and C.UTF-8 are needed";
  struct Case {
    const char* name;
    bool ok;
    const char* libcName;
    int kind;
  } cases[] = {
      {"C", true, "C.UTF-8", loc::kCharsetUtf8},
      {"de_DE.UTF-8", true, "de_DE.UTF-8", loc::kCharsetUtf8},
      {"de_DE", true, "de_DE.UTF-8", loc::kCharsetUtf8},
      // Split as libc reports it: "POSIX" is "C", whose UTF-8 variant wins.
      {"POSIX", true, "C.UTF-8", loc::kCharsetUtf8},
      // A refused name's codeset counts as its modifier: no variant fits.
      {"de_DE.ISO-8859-15", false, "unchanged", 7},
      {"xx_YY", false, "unchanged", 7},
      {"", false, "unchanged", 7},
  };
  for (const Case& c : cases) {
    loc::LocaleRecord r;
    r.name = String("unchanged");
    r.kind = 7;
    EXPECT_EQ(c.ok, loc::checkLocaleSupported(c.name, r)) << c.name;
    EXPECT_STREQ(c.libcName, r.name.str()) << c.name;
    EXPECT_EQ(c.kind, r.kind) << c.name;
  }

  loctest::setLocale("en");
  loctest::CaptureScope scope(30);
  loctest::setLocale("xx_YY:de");
  EXPECT_THAT(capture().take(),
              ::testing::ElementsAre("30 No OS support for locale \"xx_YY\"", "30 Locales xx_YY:de_DE:en_US"));
  EXPECT_STREQ("de_DE.UTF-8", loc::getProcessLocaleRecord().name.str());
  // Back to the environment, whose record is made when first asked for.
  loctest::setLocale("");
  loc::LocaleRecord env;
  const char* e = loc::getEnvironmentLocale();
  if (!*e || !loc::checkLocaleSupported(e, env))
    loc::checkLocaleSupported("C", env);
  EXPECT_STREQ(env.name.str(), loc::getProcessLocaleRecord().name.str());
}

// The first answer for a name stands, a failure too: a locale that libc
// gains later (through LOCPATH here) is not probed again.
TEST(LocaleTest, AnswersLastForTheProcess)
{
  tltest::TempDir dir("locpath");
  ASSERT_EQ(0, symlink("/usr/lib/locale/C.utf8", (dir.path() + "/qq_QQ.UTF-8").c_str()));
  loc::LocaleRecord r;
  EXPECT_FALSE(loc::checkLocaleSupported("qq_QQ.UTF-8", r));
  setenv("LOCPATH", dir.path().c_str(), 1);
  // libc keeps every locale file it loads, so it proves that it sees the
  // new one in a child.
  pid_t child = fork();
  if (child == 0)
    _exit(haveLocale("qq_QQ.UTF-8") ? 0 : 1);
  int status = -1;
  waitpid(child, &status, 0);
  bool answer = loc::checkLocaleSupported("qq_QQ.UTF-8", r);
  unsetenv("LOCPATH");
  ASSERT_EQ(0, status) << "libc does not follow LOCPATH";
  EXPECT_FALSE(answer);
}

// Probes run while other threads use libc's locale: the process locale must
// never change, not even for a moment.
TEST(LocaleTest, ProbesLeaveProcessLocaleAlone)
{
  std::string before = setlocale(LC_ALL, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> changed{0};
  std::thread watcher([&] {
    while (!stop)
      if (before != setlocale(LC_ALL, nullptr))
        changed++;
  });
  for (int i = 0; i < 200; i++) {
    loc::LocaleRecord r;
    loc::checkLocaleSupported("zz_ZZ.ISO-8859-1@mod", r);
    loc::LocaleSetter setter("de_DE:ja");
  }
  stop = true;
  watcher.join();
  EXPECT_EQ(0, changed.load());
  EXPECT_EQ(before, setlocale(LC_ALL, nullptr));
}

TEST(LocaleTest, SetterGivesThreadItsLocale)
{
  loctest::setLocale("en");
  std::thread([] {
    EXPECT_STREQ("C", loc::currentLocaleRecord().name.str());
    {
      loc::LocaleSetter setter("de_DE");
      EXPECT_STREQ("Wort", loc::translate("t_loc_word", nullptr, 0, false));
      EXPECT_STREQ("de_DE", loc::getLocales().str());
      if (haveLocale("de_DE.UTF-8")) {
        EXPECT_STREQ("de_DE.UTF-8", loc::currentLocaleRecord().name.str());
        EXPECT_STREQ("UTF-8", nl_langinfo(CODESET));
      }
      {
        loc::LocaleSetter inner(nullptr);
        EXPECT_STREQ(setter.getRecord().name.str(), inner.getRecord().name.str());
        EXPECT_STREQ("de_DE", loc::getLocales().str());
      }
    }
    EXPECT_STREQ("word", loc::translate("t_loc_word", nullptr, 0, false));
    EXPECT_STREQ("en_US", loc::getLocales().str());
    EXPECT_STREQ("C", loc::currentLocaleRecord().name.str());
    EXPECT_STREQ("ANSI_X3.4-1968", nl_langinfo(CODESET));
  }).join();
  EXPECT_STREQ("word", loc::translate("t_loc_word", nullptr, 0, false));

  String a("one two three four five six seven"), b(a);
  loc::wordWrap(a, 10, 2);
  plat::wordWrap(b, 10, 2);
  EXPECT_STREQ(b.str(), a.str());
}

TEST(LocaleTest, UnbalancedSetterIsFatal)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* outer = new loc::LocaleSetter(nullptr);
        new loc::LocaleSetter(nullptr);
        delete outer;
      },
      "thrInst == this");
}
