// The package URI: the package kind from "/etc/os-release", the machine
// type, and which command-line settings count with and without the test
// build's test-features key.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "childio.h"
#include "os/dirs.h"
#include "os/host.h"
#include "plat/Configuration.h"
#include "plat/TestFeatures.h"
#include "product/addresses.h"
#include "testutil.h"
#include "tlOrbSetup/SetupApp.h"

namespace {

TEST(PackageUri, KindMachineAndPriority)
{
  const std::string def =
      std::string(product::kDownloadBase) + "tessaly-connect/Tessaly-Daziziz-Latest-Linux-x64.";
  const char* other = "https://other.example/p.deb";
  struct Case {
    const char* osRelease; // null: no file
    bool testFeatures;
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {"ID=debian\n", false, {}, def + "deb"},
      {"ID=ubuntu\nID_LIKE=\"ubuntu Debian\"\n", false, {}, def + "deb"},
      {"ID=fedora\nID_LIKE=\"rhel fedora\"\n", false, {}, def + "rpm"},
      {nullptr, false, {}, def + "rpm"},
      // Fixed without test features.
      {"ID=debian\n", false, {std::string("-_OrbUri=") + other}, def + "deb"},
      {"ID=debian\n", false, {"-_UriBase=https://other.example/"}, def + "deb"},
      // A default that the command line overrides with them.
      {"ID=debian\n", true, {}, def + "deb"},
      {"ID=debian\n", true, {std::string("-_OrbUri=") + other}, other},
      {"ID=debian\n", true, {std::string("-OrbUri=") + other}, other},
      {"ID=debian\n",
       true,
       {"-_UriBase=https://other.example/"},
       "https://other.example/tessaly-connect/Tessaly-Daziziz-Latest-Linux-x64.deb"},
  };
  for (const Case& c : cases) {
    tltest::TempDir root("tluri");
    mkdir((root / "etc").c_str(), 0755);
    if (c.osRelease)
      root.write("etc/os-release", c.osRelease);
    std::string report = tltest::childReport([&] {
      os::setOsFilesRootForTest(root.path().c_str());
      static std::vector<plat::String> keyDirs{plat::String(TL_TEST_SUPPORT_DIR)};
      static std::vector<plat::String> noDirs{};
      plat::setTestFeaturesDirsForTests(c.testFeatures ? &keyDirs : &noDirs);
      plat::resetTestFeaturesGateForTests();
      tlOrbSetup::setOrbUriDefault();
      std::vector<char*> argv;
      for (const std::string& a : c.args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      plat::Configuration::global().parseCmdLine(argv.data());
      return std::string(plat::Configuration::global().getStringParam("_OrbUri").getValue());
    });
    EXPECT_EQ(c.expected, report) << (c.osRelease ? c.osRelease : "no file") << " "
                                  << c.testFeatures << " " << (c.args.empty() ? "" : c.args[0]);
  }
}

// The cloud configuration comes with the URI: the built-in copy, or the
// error of a broken package where the program looks first.
TEST(PackageUri, CloudConfigLoadedWithIt)
{
  for (const char* file : {(const char*)nullptr, "not a package"}) {
    tltest::TempDir dir("tlcfg");
    if (file)
      dir.write("CloudConfig.pkg", file);
    std::string report = tltest::childReport([&] {
      os::setSystemConfigDir(dir.path().c_str());
      try {
        tlOrbSetup::setOrbUriDefault();
        return std::string(*tlOrbSetup::loadedCloudConfig()->businessId() ? "ok" : "none");
      } catch (plat::Exception& e) {
        return std::string(e.str());
      }
    });
    // Read from bytes: the sections start at offset 8, where "ckage" names none.
    EXPECT_EQ(file ? "Hosted Configuration error: Invalid Section Name" : "ok", report);
  }
}

} // namespace
