// Product initialisation: the directory table and its modes, HOME and the
// log defaults for root and for an unprivileged user, the name of a copied
// executable with the configuration files around it, and the version texts
// in two languages and at the top of the log file.
//
// Every case changes process-wide state, so each runs in a forked child
// (as the test user where the case is about an ordinary user).
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "childio.h"
#include "loc/Localize.h"
#include "os/AppInfo.h"
#include "os/dirs.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "plat/LogDestFile.h"
#include "plat/ProductVersionInfo.h"
#include "product/init.h"
#include "rootdir.h"
#include "testuser.h"
#include "testutil.h"

namespace {

using plat::ProductVersionInfo;
using tltest::childReport;
using tltest::ChildUser;

plat::StringParameter prefParam("TlProductTestPref", "", "");
plat::StringParameter policyParam("TlProductTestPolicy", "", "");
plat::StringParameter userParam("TlProductTestUser", "", "");
plat::LogSrc testLog("ProductInitTest");

// An ordinary user's child: the test user when running as root.
ChildUser ordinaryUser()
{
  return geteuid() == 0 ? ChildUser::kTestUser : ChildUser::kSame;
}

// A fresh directory that the ordinary user owns.
void giveToOrdinaryUser(const std::string& path)
{
  if (geteuid() == 0 && tltest::testUser())
    tltest::commandOutput("chown -R " + tltest::testUser()->name + " " + path);
}

std::string modeOf(const std::string& path)
{
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return "missing";
  char text[8];
  snprintf(text, sizeof(text), "%o", st.st_mode & 07777);
  return text;
}

std::string relative(const char* path, const std::string& home)
{
  std::string p = path ? path : "(null)";
  return p.compare(0, home.size(), home) == 0 ? "~" + p.substr(home.size()) : p;
}

void setOrUnset(const char* name, const char* value)
{
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

TEST(ProductInit, ProfileDirectories)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  struct Case {
    const char* profile;
    const char* configProfile;
    bool existing0755;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, false, "~/.zarn ~/.zarn ~/.zarn/config.d ~/.zarn/config.d/tlproducttest"},
      {"", "", true, "~/.zarn ~/.zarn ~/.zarn/config.d ~/.zarn/config.d/tlproducttest"},
      {"a/b", nullptr, false,
       "~/.zarn/profiles/a-b ~/.zarn/profiles/a-b ~/.zarn/profiles/a-b/config.d "
       "~/.zarn/profiles/a-b/config.d/tlproducttest"},
      {nullptr, "c\x01", false,
       "~/.zarn ~/.zarn/profiles/c- ~/.zarn/profiles/c-/config.d "
       "~/.zarn/profiles/c-/config.d/tlproducttest"},
      {"p", "q", true,
       "~/.zarn/profiles/p ~/.zarn/profiles/q ~/.zarn/profiles/q/config.d "
       "~/.zarn/profiles/q/config.d/tlproducttest"},
  };
  for (const Case& c : cases) {
    tltest::TempDir home("tlproduct");
    if (c.existing0755)
      mkdir((home / ".zarn").c_str(), 0755);
    giveToOrdinaryUser(home.path());
    std::string report = childReport(
        [&] {
          setenv("HOME", home.path().c_str(), 1);
          setOrUnset("ZARN_PROFILE", c.profile);
          setOrUnset("ZARN_CONFIG_PROFILE", c.configProfile);
          product::initAppInfo(nullptr, "tlproducttest", nullptr);
          product::initProfileDirs();
          const std::string& h = home.path();
          std::string out =
              relative(os::getProfileDir(), h) + " " + relative(os::getConfigProfileDir(), h) +
              " " + relative(os::getConfigDir(), h) + " " + relative(os::getProgramConfigFile(), h);
          out += " export=" + relative(getenv("ZARN_PROFILE_DIR"), h);
          out += " modes=" + modeOf(os::getUserDir()) + "," + modeOf(os::getProfileDir()) + "," +
                 modeOf(os::getConfigDir());
          return out;
        },
        ordinaryUser());
    std::string profile = std::string(c.expected).substr(0, std::string(c.expected).find(' '));
    EXPECT_EQ(std::string(c.expected) + " export=" + profile + " modes=700,700,700", report)
        << (c.profile ? c.profile : "unset") << " / "
        << (c.configProfile ? c.configProfile : "unset");
  }
}

// Root's HOME always comes from the account database; an ordinary user's
// only when it is unset. LogDir follows.
TEST(ProductInit, HomeAndLogDefaults)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  auto report = [](const char* home) {
    return [home] {
      setOrUnset("HOME", home);
      product::initAppInfo(nullptr, "tlproducttest", nullptr);
      product::initLogging(nullptr, nullptr, nullptr, false);
      plat::Configuration& c = plat::Configuration::global();
      return std::string(getenv("HOME")) + " " + c.getStringParam("LogDir").getValue() + " " +
             c.getStringParam("LogFile").getValue() + " " + c.getStringParam("Log").getValue();
    };
  };
  if (geteuid() == 0) {
    EXPECT_EQ(std::string(getpwuid(0)->pw_dir) + " /var/log tlproducttest.log *:stderr:10",
              childReport(report("/tmp/elsewhere")));
    EXPECT_EQ(tltest::testUser()->home + " $ZARN_PROFILE_DIR tlproducttest.log *:stderr:10",
              childReport(report(nullptr), ChildUser::kTestUser));
  }
  EXPECT_EQ("/tmp/elsewhere $ZARN_PROFILE_DIR tlproducttest.log *:stderr:10",
            childReport(report("/tmp/elsewhere"), ordinaryUser()));
}

// Run by CopiedExecutable in a copy of this program: initialises the
// product as a program would and prints what it found. Disabled, so that
// ctest never runs it (and never reports it skipped).
TEST(ProductInitChild, DISABLED_Report)
{
  product::init(nullptr, nullptr, nullptr, nullptr, product::kLoadConfig);
  printf("REPORT app=%s pref=%s/%d policy=%s/%d user=%s/%d\n", os::AppInfo::getAppName(false),
         prefParam.getValue(), prefParam.getPriority(), policyParam.getValue(),
         policyParam.getPriority(), userParam.getValue(), userParam.getPriority());
}

TEST(ProductInit, CopiedExecutableAndConfigurationFiles)
{
  if (geteuid() == 0)
    TL_REQUIRE_TEST_USER();
  tltest::TempDir dir("tlproduct");
  std::string bin = dir / "bin", home = dir / "home";
  mkdir(bin.c_str(), 0755);
  mkdir(home.c_str(), 0755);
  tltest::commandOutput("cp /proc/" + std::to_string(getpid()) + "/exe " + bin + "/setup.exe");
  tltest::commandOutput("mkdir -p " + bin + "/zarn/config.d " + bin + "/zarn/policy.d " + home +
                        "/.zarn/config.d");
  std::ofstream(bin + "/zarn/config.d/common") << "TlProductTestPref=install\n";
  std::ofstream(bin + "/zarn/policy.d/setup") << "TlProductTestPolicy=policy\n";
  std::ofstream(home + "/.zarn/config.d/setup") << "TlProductTestUser=user\n";
  giveToOrdinaryUser(dir.path());
  std::string cmd = "HOME=" + home + " " + bin +
                    "/setup.exe --gtest_also_run_disabled_tests "
                    "--gtest_filter=ProductInitChild.DISABLED_Report > " + dir.path() +
                    "/out 2>&1";
  int rc =
      geteuid() == 0 ? tltest::runAsTestUser({"sh", "-c", cmd}) : WEXITSTATUS(system(cmd.c_str()));
  EXPECT_EQ(0, rc);
  std::ifstream in(dir / "out");
  std::string line, report;
  while (std::getline(in, line))
    if (line.compare(0, 7, "REPORT ") == 0)
      report = line.substr(7);
  EXPECT_EQ("app=setup pref=install/10 policy=policy/30 user=user/10", report);
}

// Run by TranslationsBesideTheProgram in a copy of this program; disabled
// as DISABLED_Report is.
TEST(ProductInitChild, DISABLED_Translation)
{
  product::initAppInfo(nullptr, "tlproducttest", nullptr);
  product::initTranslationDirs();
  plat::Configuration::global().set("Locale", "de", plat::kPriorityPreference);
  printf("REPORT %s\n", LOC_TR("product_copyright"));
}

// As root, a German string file beside the program is read from root's
// folder, not from one the test user owns.
TEST(ProductInit, TranslationsBesideTheProgram)
{
  TL_REQUIRE_TEST_USER();
  tltest::RootOnlyDir root;
  for (const std::string& owner : {std::string("root"), tltest::testUser()->name}) {
    std::string bin = root / owner, self = "/proc/" + std::to_string(getpid()) + "/exe";
    tltest::commandOutput("mkdir -p " + bin + "/zarn && cp " + self + " " + bin + "/setup && echo " +
                          "'msgid \"product_copyright\"\nmsgstr \"PLANTED\"' >" + bin +
                          "/zarn/strings.de.po && chown -R " + owner + " " + bin);
    std::string out = tltest::commandOutput(bin + "/setup --gtest_also_run_disabled_tests "
                                                  "--gtest_filter=ProductInitChild.DISABLED_Translation");
    EXPECT_EQ(owner == "root", out.find("REPORT PLANTED\n") != std::string::npos) << out;
  }
}

// Lines of at most 79 characters (not bytes).
bool wrappedAt79(const std::string& text)
{
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    int chars = 0;
    for (unsigned char c : line)
      chars += (c & 0xc0) != 0x80;
    if (chars > 79)
      return false;
  }
  return true;
}

// "Dec 7 2026 12:34:56)" as the compiler's date and time make it, with
// single blanks.
bool isBuildDate(const std::string& text)
{
  static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char month[4] = "";
  int day = 0, year = 0, h = 0, m = 0, s = 0, end = 0;
  if (sscanf(text.c_str(), "%3s %d %4d %2d:%2d:%2d)%n", month, &day, &year, &h, &m, &s, &end) != 6)
    return false;
  size_t at = kMonths.find(month);
  return (size_t)end == text.size() && text.find("  ") == std::string::npos &&
         at != std::string::npos && at % 3 == 0 && strlen(month) == 3 && day >= 1 && day <= 31 &&
         text.compare(text.size() - 10, 1, " ") == 0;
}

TEST(ProductInit, VersionTexts)
{
  struct Case {
    const char* display;
    const char* dotted;
    const char* version; // in the build description
    const char* docs;
  };
  const Case cases[] = {
      {nullptr, nullptr, "0.1", "https://www.daziziz.example/docs/0/foss.html"},
      {"3.0.3 (r200)", "3.0.3.200", "3.0.3 (r200)", "https://www.daziziz.example/docs/3/foss.html"},
  };
  for (const Case& c : cases) {
    tltest::TempDir logs("tlproduct");
    std::string report = childReport([&] {
      ProductVersionInfo::set(ProductVersionInfo::kDisplayVersion, c.display);
      ProductVersionInfo::set(ProductVersionInfo::kDottedVersion, c.dotted);
      product::initAppInfo(nullptr, "tlproducttest", nullptr);
      os::AppInfo::setDisplayName("Tl\xc2\xae Setup\xe2\x84\xa2");
      product::installVersionInfoUpdater(nullptr);
      std::string out;
      std::string build = ProductVersionInfo::buildDesc();
      const std::string prefix = "Tl\xc2\xae Setup\xe2\x84\xa2 ";
      size_t arch = build.rfind(" x64 (");
      if (build.compare(0, prefix.size(), prefix) != 0 || arch == std::string::npos ||
          !isBuildDate(build.substr(arch + 6)))
        return "build description " + build;
      std::string version = build.substr(prefix.size(), arch - prefix.size());
      out += version + "|" + product::getDocumentationUri() + "|";
      std::string info = ProductVersionInfo::productInfo();
      out += info.find("Tl(R) Setup(TM) " + version) == 0 ? "R TM," : "no R TM,";
      out += info.find("Copyright (C) the") != std::string::npos ? "C," : "no C,";
      out += info.find_first_of("\xc2\xa9\xae") == std::string::npos ? "" : "signs left,";
      out += wrappedAt79(info) ? "79," : "wider,";
      out += std::string(ProductVersionInfo::osLine()).compare(0, 4, "OS: ") == 0 ? "os," : "";
      std::string about = ProductVersionInfo::aboutMarkup();
      out += about.find(product::getDocumentationUri()) != std::string::npos ? "about" : about;

      // In German after a change of `Locale`, and so in the header of a
      // log file opened afterwards.
      plat::Configuration::global().set("Locale", "de", plat::kPriorityPreference);
      info = ProductVersionInfo::productInfo();
      out += info.find("Copyright (C) die Autoren") != std::string::npos ? "|de," : "|not de,";
      product::initLogging("*:file:100", logs.path().c_str(), "t.log", true);
      testLog.status("after the header");
      std::ifstream in(logs / "t.log");
      std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      out += file.compare(0, info.size(), info) == 0 ? "header" : "file: " + file;
      return out;
    });
    EXPECT_EQ(std::string(c.version) + "|" + c.docs + "|R TM,C,79,os,about|de,header", report);
  }
}

} // namespace
