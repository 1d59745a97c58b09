// The package tool chosen for a package file over a stand-in for which
// tools exist, and the file name taken from the package URI.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "plat/Exception.h"
#include "tlOrbSetup/InstallCommand.h"

namespace {

std::set<std::string> present;

std::string command(const char* path)
{
  std::string out;
  for (const plat::String& a : tlOrbSetup::installCommandFor(path))
    out += (out.empty() ? "" : " ") + std::string(a.str());
  return out;
}

TEST(InstallCommand, ToolRows)
{
  tlOrbSetup::setToolCheckForTest([](const char* path) { return present.count(path) > 0; });
  const std::string all = "/usr/bin/dpkg /usr/bin/yum /usr/bin/zypper /usr/bin/rpm";
  struct Case {
    std::string tools, path, expected;
  };
  const Case cases[] = {
      {all, "/s/p.deb", "/usr/bin/dpkg -i /s/p.deb"},
      {all, "/s/p.rpm", "/usr/bin/yum localinstall -y /s/p.rpm"},
      {"/usr/bin/zypper /usr/bin/rpm", "/s/p.rpm", "/usr/bin/zypper in -y /s/p.rpm"},
      {"/usr/bin/rpm", "/s/p.rpm", "/usr/bin/rpm -U /s/p.rpm"},
      {"/usr/bin/dpkg", "/s/p.rpm", ""},
      {"/usr/bin/rpm", "/s/p.deb", ""},
      {all, "/s/p.DEB", ""},
      {all, "/s/p.Rpm", ""},
      {all, "/s/p.deb.txt", ""},
      {all, "/s/deb", ""},
      {all, "", ""},
  };
  for (const Case& c : cases) {
    present.clear();
    size_t start = 0;
    while (start < c.tools.size()) {
      size_t sp = c.tools.find(' ', start);
      present.insert(c.tools.substr(start, sp - start));
      start = sp == std::string::npos ? c.tools.size() : sp + 1;
    }
    EXPECT_EQ(c.expected, command(c.path.c_str())) << c.tools << " " << c.path;
  }
  tlOrbSetup::setToolCheckForTest(nullptr);
  // The real file system: this machine has dpkg.
  EXPECT_EQ("/usr/bin/dpkg -i /s/p.deb", command("/s/p.deb"));
}

TEST(InstallCommand, PackageFileName)
{
  const char* base = "https://dl.example/tessaly-connect/";
  struct Case {
    std::string uri, name; // "" name: refused
  };
  const Case cases[] = {
      {std::string(base) + "P-x64.deb", "P-x64.deb"},
      {std::string(base) + "P-x64.rpm?x=1#f", "P-x64.rpm"},
      {"https://dl.example/p.deb", "p.deb"},
      {std::string(base), ""},
      {"https://dl.example", ""},
      {std::string(base) + ".", ""},
      {std::string(base) + "..", ""},
      {std::string(base) + "...", "..."},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      got = tlOrbSetup::packageFileName(c.uri.c_str()).str();
    } catch (plat::Exception& e) {
      EXPECT_EQ("Bad package URI " + c.uri, e.str());
    }
    EXPECT_EQ(c.name, got) << c.uri;
  }
}

} // namespace
