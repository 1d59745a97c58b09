// The installer session directory and the owner-only files in it.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "childio.h"
#include "os/AppInfo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "testutil.h"
#include "tlOrbSetup/SessionDir.h"

namespace {

TEST(SessionDir, OnePrivateDirectoryPerProcessAndOwnerOnlyFiles)
{
  tltest::TempDir tmp("pkgsess");
  auto inProcess = [&] {
    os::AppInfo::set("tlzarnconnectsetup", nullptr, "zarn", nullptr, nullptr);
    os::setTmpDirForTest(tmp.path().c_str());
    std::string first = tlOrbSetup::getInstallerSessionDir().str();
    std::string second = tlOrbSetup::getInstallerSessionDir().str();
    struct stat st;
    if (first != second || stat(first.c_str(), &st) != 0 || (st.st_mode & 0777) != 0700)
      return std::string("bad directory ") + first;
    // A link planted under the name is neither followed nor replaced.
    std::string target = tmp / "target";
    if (symlink(target.c_str(), (first + "/svrToken").c_str()) != 0)
      return std::string("symlink");
    try {
      tlOrbSetup::writeSessionFile("svrToken", 3, "abc");
      return std::string("link written");
    } catch (plat::Exception&) {
    }
    if (access(target.c_str(), F_OK) == 0)
      return std::string("link followed");
    unlink((first + "/svrToken").c_str());
    std::string path = tlOrbSetup::writeSessionFile("a/b/svrToken", 3, "abc").str();
    if (path != first + "/svrToken" || stat(path.c_str(), &st) != 0 ||
        (st.st_mode & 0777) != 0600 || tltest::readFile(path) != "abc")
      return "bad file " + path;
    // Too large for the file system (here the size limit): refused before
    // writing, nothing left.
    struct rlimit limit = {1 << 20, 1 << 20};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string big(2 << 20, 'x');
    try {
      tlOrbSetup::writeSessionFile("big.deb", big.size(), big.data());
      return std::string("too large written");
    } catch (plat::Exception& e) {
      if (!strstr(e.str(), "fallocate(") || access((first + "/big.deb").c_str(), F_OK) == 0)
        return std::string("too large: ") + e.str();
    }
    return first;
  };
  std::string one = tltest::childReport(inProcess), two = tltest::childReport(inProcess);
  std::string prefix = tmp.path() + "/.zarn-" + std::to_string(geteuid()) + "/installer/";
  ASSERT_EQ(prefix, one.substr(0, prefix.size())) << one;
  ASSERT_EQ(prefix, two.substr(0, prefix.size())) << two;
  EXPECT_EQ(16u, one.size() - prefix.size());
  EXPECT_EQ(std::string::npos, one.find_first_not_of("0123456789abcdef", prefix.size()));
  EXPECT_NE(one, two);
}

} // namespace
