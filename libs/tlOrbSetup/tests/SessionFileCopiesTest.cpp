// Root copying the test user's session files: what the user prepared in
// its session folder (a swapped file, links, a FIFO, files and folders
// that are not its own) either becomes root's private copy with the bytes
// the wizard saved, or is refused with the reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "os/AppInfo.h"
#include "os/paths.h"
#include "plat/Exception.h"
#include "plat/File.h"
#include "plat/Path.h"
#include "testuser.h"
#include "testutil.h"
#include "tlOrbSetup/AdminHelperMsgs.h"
#include "tlOrbSetup/SessionFileCopies.h"

namespace {

TEST(SessionFileCopies, RootCopiesOnlyTheUsersUnchangedFiles)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  tltest::TempDir tmp("copiestmp");
  chmod(tmp.path().c_str(), 01777);
  os::AppInfo::set("tlcopies", nullptr, "zarn", nullptr, nullptr);
  os::setTmpDirForTest(tmp.path().c_str());
  const std::string userTmp = tmp / (".zarn-" + std::to_string(user.uid));
  const std::string session = userTmp + "/installer/0123456789abcdef";
  // The wizard's folders and its saved file "pkg" holding "saved".
  ASSERT_EQ(0, tltest::runAsTestUser({"/bin/sh", "-c",
                                      "umask 077 && mkdir -p " + session + " && printf saved > " +
                                          session + "/pkg"}));
  const tlOrbSetup::adminmsg::FileDigest saved = tlOrbSetup::adminmsg::fileDigest(1, 5, "saved");
  struct Case {
    const char* name;
    std::string asUser; // run by the test user in the session folder
    std::string asRoot; // run by root there (files not the user's)
    std::string file;   // the path handed over ("" = session/f)
    std::string error;  // "" = copied, "saved" in it
  };
  const Case cases[] = {
      {"unchanged", "cp pkg f", "", "", ""},
      {"swapped", "printf other > f", "", "", session + "/f changed after the setup program saved it; it was not used"},
      {"link to root's file", "ln -s /etc/shadow f", "", "", session + "/f is a symbolic link"},
      {"FIFO", "mkfifo f", "", "", session + "/f is not a regular file of user " + std::to_string(user.uid)},
      {"root's file", "", "cp pkg f", "", session + "/f is not a regular file of user " + std::to_string(user.uid)},
      {"folder others write", "cp pkg f && chmod 0777 .", "", "", session + " is not a private folder of user " + std::to_string(user.uid)},
      {"linked session folder", "cp pkg f && mkdir ../real && mv f ../real/ && ln -s real ../linked", "",
       userTmp + "/installer/linked/f", userTmp + "/installer/linked is a symbolic link or not a folder"},
      {"another user's folder", "", "", tmp / ".zarn-0/installer/s/f",
       tmp / ".zarn-0/installer/s/f is not in a session folder of user " + std::to_string(user.uid)},
      {"not below installer", "", "", userTmp + "/other/s/f",
       userTmp + "/other/s/f is not in a session folder of user " + std::to_string(user.uid)},
      {"dot-dot", "", "", session + "/../0123456789abcdef/f",
       session + "/../0123456789abcdef/f is not a normalised absolute path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tltest::commandOutput("cd " + session + " && rm -rf f ../real ../linked");
    if (!c.asUser.empty()) {
      ASSERT_EQ(0, tltest::runAsTestUser({"/bin/sh", "-c", "cd " + session + " && " + c.asUser}));
    }
    if (!c.asRoot.empty())
      tltest::commandOutput("cd " + session + " && " + c.asRoot);
    std::string path = c.file.empty() ? session + "/f" : c.file;
    std::string copyPath;
    {
      tlOrbSetup::SessionFileCopies copies(user.uid);
      try {
        copyPath = copies.copy(path.c_str(), saved.sha256).str();
        EXPECT_EQ("", c.error);
        EXPECT_EQ("saved", tltest::readFile(copyPath));
        struct stat st;
        ASSERT_EQ(0, lstat(copyPath.c_str(), &st));
        EXPECT_EQ(0u, st.st_uid);
        EXPECT_EQ(0100600u, st.st_mode);
        EXPECT_EQ(std::string(os::getTmpPath(nullptr).str()) + "/copies-",
                  copyPath.substr(0, copyPath.rfind('/') - 6));
      } catch (plat::Exception& e) {
        EXPECT_EQ(c.error, e.str());
      }
    }
    if (!copyPath.empty())
      EXPECT_FALSE(plat::pathExists(plat::dirName(copyPath.c_str()).str()));
    tltest::commandOutput("chmod 0700 " + session);
  }
  os::setTmpDirForTest(nullptr);
}

} // namespace
