// The wizard's pure rules: the two progress bars, the bounded tool output,
// the language choice, the credential file's path and the page after
// installation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "os/dirs.h"
#include "plat/Configuration.h"
#include "plat/encodings.h"
#include "svr/Encryption.h"
#include "testutil.h"
#include "tlOrbSetup/CloudCredentials.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/SettingsPage.h"
#include "tlOrbSetup/SetupDlg.h"
#include "tlOrbSetup/SignInPage.h"

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

TEST(WizardRules, SignInAddressAndWait)
{
  ASSERT_TRUE(plat::Configuration::global().set("_PortalUri", "https://portal.test", plat::kPriorityPolicy + 1));
  const std::string state = signingInState().str();
  EXPECT_EQ(11u, state.size());
  EXPECT_EQ(std::string::npos, state.find_first_not_of(
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
  plat::MBuf<unsigned char> bytes;
  EXPECT_TRUE(plat::base64Decode(state.c_str(), bytes));
  EXPECT_EQ(8, bytes.length());
  // One state for the process: every address carries it.
  EXPECT_EQ("https://portal.test/auth/sign_up/software_trial?state=" + state + "&version=8",
            std::string(signInAddress(true).str()));
  EXPECT_EQ("https://portal.test/auth/download_first?state=" + state + "&version=8",
            std::string(signInAddress(false).str()));
  plat::Configuration::global().set("_PortalUri", "", plat::kPriorityPolicy + 1);

  const int cases[][2] = {{0, 0}, {600, 600000}, {2147483, 2147483000}, {2147484, 2147483647},
                          {3000000, 2147483647}, {2147483647, 2147483647}};
  for (const auto& c : cases)
    EXPECT_EQ(c[1], signInTimeoutMs(c[0])) << c[0];
}

TEST(WizardRules, CallbackUri)
{
  const std::string good = "example.daziziz.setup://install?state=S1&server=ts&viewer=tv";
  const struct {
    std::string uri;
    const char* error;
  } cases[] = {
      {good, nullptr},
      {"example.daziziz.setup://install/?viewer=tv&server=t%26s&state=S1", nullptr},
      {"example.daziziz.setup://Install?state=S1&server=ts&viewer=tv", "Bad URI endpoint"},
      {"example.daziziz.setup://install:1?state=S1&server=ts&viewer=tv", "Bad URI endpoint"},
      {"example.daziziz.setup:///install?state=S1&server=ts&viewer=tv", "Bad URI endpoint"},
      {"example.daziziz.setup://install?state=S2&server=ts&viewer=tv", "Bad signingInState"},
      {"example.daziziz.setup://install?server=ts&viewer=tv", "Bad signingInState"},
      {"example.daziziz.setup://install", "Bad signingInState"},
      {"example.daziziz.setup://install?state=S1&server=ts", "Missing param"},
      {"example.daziziz.setup://install?state=S1&server=&viewer=tv", "Missing param"},
      {"example.daziziz.setup://install?state=S1&state=S1&server=ts&viewer=tv", ""},
      {"example.daziziz.setup://install?state=S1&&server=ts&viewer=tv", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    try {
      io::UriParams p = checkCallbackUri(c.uri.c_str(), "S1");
      EXPECT_EQ(nullptr, c.error);
      EXPECT_EQ(c.uri.find("t%26s") != std::string::npos ? "t&s" : "ts",
                std::string(p[plat::String("server")].str()));
    } catch (plat::Exception& e) {
      ASSERT_NE(nullptr, c.error) << e.str();
      if (*c.error)
        EXPECT_STREQ(c.error, e.str());
      else
        EXPECT_NE("", std::string(e.str()));
    }
  }
  // Without a state of its own nothing passes.
  EXPECT_THROW(checkCallbackUri(good.c_str(), nullptr), plat::Exception);
}

TEST(WizardRules, DevicePasswordAndSettings)
{
  const struct {
    const char *first, *second;
    PasswordCheck check;
  } cases[] = {
      {"12345", "12345", PasswordCheck::kTooShort}, {"123456", "123456", PasswordCheck::kOk},
      {"\xc3\xa9\xc3\xa9\xc3\xa9", "\xc3\xa9\xc3\xa9\xc3\xa9", PasswordCheck::kOk},
      {"\xc3\xa9\xc3\xa9", "\xc3\xa9\xc3\xa9", PasswordCheck::kTooShort},
      {"123456", "123457", PasswordCheck::kMismatch}, {"123456", nullptr, PasswordCheck::kMismatch},
      {"", "", PasswordCheck::kTooShort}, {nullptr, nullptr, PasswordCheck::kTooShort},
      {"12345", "123456", PasswordCheck::kTooShort},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.check, checkPasswords(c.first, c.second)) << (c.first ? c.first : "null");

  for (bool device : {true, false}) {
    const ServerSettings s = serverSettings(device, "s3cret!", device, !device);
    std::string order;
    for (const auto& kv : s.values)
      order += std::string(kv.first.str()) + "=" + kv.second.str() + " ";
    EXPECT_EQ(device ? "Authentication=ZarnAuth EnableAnalytics=1 EnableAutoUpdateChecks=0 "
                     : "Authentication=SystemAuth EnableAnalytics=0 EnableAutoUpdateChecks=1 ",
              order);
    EXPECT_EQ(device, !s.password.isNull());
    if (device) {
      plat::MBuf<unsigned char> stored;
      ASSERT_TRUE(plat::hexToBin(s.password.str(), stored));
      EXPECT_TRUE(svr::checkPassword("s3cret!", stored, nullptr));
      EXPECT_FALSE(svr::checkPassword("s3cret", stored, nullptr));
    }
  }
}

} // namespace
