// The wizard's pure rules: the two progress bars, the bounded tool output,
// the language choice, the credential file's path and the page after
// installation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "os/dirs.h"
#include "testutil.h"
#include "tlOrbSetup/AdminHelper.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/SetupDlg.h"

using namespace tlOrbSetup;

namespace {

std::vector<plat::String> list(std::initializer_list<const char*> items)
{
  std::vector<plat::String> out;
  for (const char* i : items)
    out.emplace_back(i);
  return out;
}

TEST(WizardRules, DownloadBar)
{
  const int64_t big = (int64_t)1 << 62;
  const struct {
    int64_t done, total;
    uint16_t bar;
  } cases[] = {
      {1, 3, 21845},  {3, 3, 65535},         {4, 3, 65535},   {0, 0, 0},          {5, -1, 0},
      {1, 2, 32768},  {1, big, 0},           {big, big, 65535}, {big - 1, big, 65535}, {-5, 10, 0},
      {INT64_MAX, INT64_MAX, 65535},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.bar, downloadBarValue(c.done, c.total)) << c.done << "/" << c.total;
}

TEST(WizardRules, InstallBarRisesAndNeverArrives)
{
  EXPECT_EQ(6553, installBarValue(0));
  EXPECT_EQ(21298, installBarValue(100));
  EXPECT_EQ(36044, installBarValue(200));
  uint16_t last = installBarValue(0);
  for (int64_t n = 1; n <= INT32_MAX; n = n < 100000 ? n + 1 : n * 3 / 2) {
    uint16_t v = installBarValue((int32_t)n);
    ASSERT_GE(v, last) << n;
    ASSERT_LT(v, 65534) << n;
    last = v;
  }
  EXPECT_EQ(INT32_MAX, addSaturating(INT32_MAX - 5, 4096));
  EXPECT_EQ(15, addSaturating(10, 5));
  EXPECT_EQ(10, addSaturating(10, -5));
}

TEST(WizardRules, OutputKeepsItsTail)
{
  const size_t max = OutputTail::kMaxKept;
  const struct {
    size_t chunks, chunk;
    std::string head;
  } cases[] = {
      {1, 10, ""},
      {1, max, ""},
      {max + 1, 1, "[1 bytes of earlier output left out]\n"},
      {5, max, "[" + std::to_string(4 * max) + " bytes of earlier output left out]\n"},
  };
  for (const auto& c : cases) {
    OutputTail tail;
    std::string all;
    for (size_t i = 0; i < c.chunks; i++) {
      std::string chunk(c.chunk, (char)('a' + i % 26));
      tail.append(chunk.data(), chunk.size());
      all += chunk;
    }
    std::string kept = all.size() > max ? all.substr(all.size() - max) : all;
    EXPECT_EQ(c.head + kept, tail.text()) << c.chunks << "x" << c.chunk;
  }
}

TEST(WizardRules, LanguageOfTheLocaleList)
{
  const auto codes = list({"en", "de", "es", "fr", "pt"});
  const struct {
    std::vector<plat::String> locales;
    int index;
  } cases[] = {
      {list({"it"}), 0},           {list({"pt_BR"}), 4},       {list({"it_IT", "fr_CA"}), 3},
      {list({"de-AT"}), 1},        {list({}), 0},              {list({"es", "de"}), 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.index, languageIndex(c.locales, codes)) << (c.locales.empty() ? "" : c.locales[0].str());
  EXPECT_EQ(5u, splitTokens("en de  es\nfr pt ", 16, " \n").size());
  EXPECT_EQ("Português (Brasil)", std::string(splitTokens("English\n\nPortuguês (Brasil)\n", 30, "\n")[1].str()));
}

TEST(WizardRules, CredentialFileAndNextPage)
{
  const struct {
    const char* store;
    const char* path;
  } cases[] = {{"/c/app.d", "/c/app.d/CloudCredentials.bed"},
               {"/c/app.d/", "/c/app.d/CloudCredentials.bed"},
               {"", "/CloudCredentials.bed"},
               {nullptr, "/CloudCredentials.bed"}};
  for (const auto& c : cases)
    EXPECT_STREQ(c.path, cloudCredentialsPath(c.store).str());

  tltest::TempDir dir("wizcreds");
  const std::string old = os::getConfigDir() ? os::getConfigDir() : "";
  os::setConfigDir(dir.path().c_str());
  EXPECT_FALSE(hasCloudCredentials("tlzarnconnect", false));
  mkdir((dir / "tlzarnconnect.d").c_str(), 0700);
  dir.write("tlzarnconnect.d/CloudCredentials.bed", "x");
  EXPECT_TRUE(hasCloudCredentials("tlzarnconnect", true));
  os::setConfigDir(old.c_str());

  EXPECT_EQ(AfterInstall::kSignInChoice, afterInstall(true, true));
  EXPECT_EQ(AfterInstall::kSettings, afterInstall(false, true));
  EXPECT_EQ(AfterInstall::kSimpleLaunch, afterInstall(false, false));
}

} // namespace
