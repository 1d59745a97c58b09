#include "plat/TransactedFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestUtil.h"
#include "plat/Exception.h"
#include "testuser.h"

using namespace filetest;

// The order of fsync and rename is visible only at the system-call layer:
// these definitions take the place of the C library's in this program.
namespace {
bool recording = false;
std::vector<std::string> calls;

std::string fdPath(int fd)
{
  char buf[PATH_MAX] = "";
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof(buf) - 1);
  return std::string(buf, n > 0 ? n : 0);
}
} // namespace

extern "C" int fsync(int fd)
{
  if (recording)
    calls.push_back("fsync " + fdPath(fd));
  return (int)syscall(SYS_fsync, fd);
}

extern "C" int rename(const char* from, const char* to)
{
  if (recording)
    calls.push_back(std::string("rename ") + from + " " + to);
  return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

class TransactedFileTest : public ScratchDir {
protected:
  void SetUp() override
  {
    ScratchDir::SetUp();
    char real[PATH_MAX];
    ASSERT_NE(nullptr, ::realpath(dir.c_str(), real));
    dir = real;
    target = path("target");
  }

  // Names in the directory, sorted.
  std::vector<std::string> entries() const
  {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.')
        out.push_back(e->d_name);
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
  }

  static void put(plat::TransactedFile& tf, const char* text) { fputs(text, tf.get()); }

  std::string target;
};

using Names = std::vector<std::string>;

TEST_F(TransactedFileTest, NoCommitLeavesTargetAndNoTemporary)
{
  for (bool exists : {false, true}) {
    if (exists)
      writeFile(target, "old");
    {
      plat::TransactedFile tf(target.c_str());
      put(tf, "new");
      tf.flush();
      EXPECT_TRUE(plat::pathExists(tf.getTmpPath()));
    }
    EXPECT_EQ(exists ? "old" : "<missing>", readFile(target));
    EXPECT_EQ(exists ? Names{"target"} : Names{}, entries());
  }
}

TEST_F(TransactedFileTest, CommitReplacesTarget)
{
  writeFile(target, "old");
  plat::TransactedFile tf(target.c_str());
  std::string tmp = tf.getTmpPath();
  EXPECT_EQ(0u, tmp.find(target + ".tmp"));
  put(tf, "new");
  EXPECT_EQ("old", readFile(target));
  calls.clear();
  recording = true;
  tf.commit();
  recording = false;
  EXPECT_EQ("new", readFile(target));
  EXPECT_STREQ("", tf.getTmpPath());
  EXPECT_EQ(Names{"target"}, entries());
  // The data reaches the disk before the name does, then the name.
  EXPECT_EQ((Names{"fsync " + tmp, "rename " + tmp + " " + target, "fsync " + dir}), calls);
  tf.commit(); // nothing left to do
  EXPECT_EQ("new", readFile(target));
}

TEST_F(TransactedFileTest, PermissionsKept)
{
  struct Case {
    int targetMode; // -1: no target
    int flags;
    int mode;
    bool link = false; // the target is a link to a file of targetMode
  };
  std::string linked = path("linked");
  for (const Case& c : std::vector<Case>{
           {-1, 0, 0664},
           {-1, plat::FilePtr::kPrivate, 0600},
           {0640, 0, 0640},
           {0604, 0, 0604},
           {0644, plat::FilePtr::kPrivate, 0600},
           {0700, plat::FilePtr::kPrivate, 0700},
           // Set-id and sticky bits are not copied, nor a link target's mode.
           {07755, 0, 0755},
           {06750, plat::FilePtr::kPrivate, 0700},
           {0640, 0, 0664, true},
           {04755, plat::FilePtr::kPrivate, 0600, true},
       }) {
    unlink(target.c_str());
    if (c.link) {
      writeFile(linked, "other", c.targetMode);
      ASSERT_EQ(0, symlink(linked.c_str(), target.c_str()));
    } else if (c.targetMode >= 0) {
      writeFile(target, "old", c.targetMode);
    }
    plat::TransactedFile tf(target.c_str(), c.flags);
    // Already while it is written, not only once committed.
    EXPECT_EQ(c.mode, modeOf(tf.getTmpPath())) << std::oct << c.targetMode;
    tf.commit();
    EXPECT_EQ(c.mode, modeOf(target)) << std::oct << c.targetMode;
  }
}

TEST_F(TransactedFileTest, StaleTemporaryIsNeverReused)
{
  // The next name this process will use is the one after the last.
  std::string last;
  {
    plat::TransactedFile probe(target.c_str());
    last = probe.getTmpPath();
  }
  size_t dot = last.rfind('.');
  std::string next = last.substr(0, dot + 1) + std::to_string(std::stoul(last.substr(dot + 1)) + 1);
  std::string after =
      last.substr(0, dot + 1) + std::to_string(std::stoul(last.substr(dot + 1)) + 2);

  // A leftover with loose permissions, and one that is a link to a file
  // that must not be written through.
  writeFile(next, "stale", 0666);
  writeFile(path("victim"), "victim", 0666);
  symlink(path("victim").c_str(), after.c_str());
  for (const std::string& expected : {next, after}) {
    plat::TransactedFile tf(target.c_str(), plat::FilePtr::kPrivate);
    EXPECT_EQ(expected, tf.getTmpPath());
    EXPECT_EQ(0600, modeOf(expected));
    EXPECT_EQ("", readFile(expected));
    put(tf, "secret");
    tf.commit();
    EXPECT_EQ(0600, modeOf(target));
    EXPECT_EQ("secret", readFile(target));
  }
  EXPECT_EQ("victim", readFile(path("victim")));
  EXPECT_EQ((Names{"target", "victim"}), entries());
}

TEST_F(TransactedFileTest, TwoWritersOfOneTarget)
{
  plat::TransactedFile a(target.c_str()), b(target.c_str());
  EXPECT_STRNE(a.getTmpPath(), b.getTmpPath());
  put(a, "from a");
  put(b, "from b");
  a.commit();
  EXPECT_EQ("from a", readFile(target));
  b.commit();
  EXPECT_EQ("from b", readFile(target));
  EXPECT_EQ(Names{"target"}, entries());
}

TEST_F(TransactedFileTest, FailedRenameFailsAgain)
{
  mkdir(target.c_str(), 0755);
  writeFile(target + "/inside", "x");
  plat::TransactedFile tf(target.c_str());
  std::string tmp = tf.getTmpPath();
  put(tf, "data");
  std::string what = "fileRename(" + tmp + "," + target + ")";
  expectSysError([&] { tf.commit(); }, what, EISDIR);
  expectSysError([&] { tf.commit(); }, what, EISDIR);
  EXPECT_EQ(tmp, tf.getTmpPath());
  // Once the obstacle is gone, the same data is committed.
  plat::rmDir(target.c_str(), true);
  tf.commit();
  EXPECT_EQ("data", readFile(target));
}

TEST_F(TransactedFileTest, OpenFailures)
{
  std::string inMissing = path("missing/target");
  try {
    plat::TransactedFile tf(inMissing.c_str());
    ADD_FAILURE();
  } catch (plat::SystemException& e) {
    EXPECT_EQ(ENOENT, e.getErr());
    EXPECT_NE(nullptr, strstr(e.str(), "Error opening \"")) << e.str();
  }
  // Without throwing, the empty holder must not let a commit pass.
  plat::TransactedFile quiet(inMissing.c_str(), plat::FilePtr::kNoThrow);
  EXPECT_EQ(nullptr, quiet.get());
  EXPECT_THROW(quiet.commit(), plat::SystemException);
  EXPECT_THROW(quiet.commit(), plat::SystemException);

  if (geteuid() != 0)
    return;
  // A directory the user cannot write: nothing is left behind.
  mkdir(path("ro").c_str(), 0755);
  std::string ro = path("ro/target");
  runUnprivileged([&]() -> std::string {
    try {
      plat::TransactedFile tf(ro.c_str());
      return "opened in a read-only directory";
    } catch (plat::SystemException& e) {
      return e.getErr() == EACCES ? "" : e.str();
    }
  });
  EXPECT_EQ(Names{"ro"}, entries());
}

// Root rewrites a file in a user's directory where the user has put a link
// to a set-user-id root program: the result is an ordinary file.
TEST_F(TransactedFileTest, RootMakesNoSetIdFileThroughAUsersLink)
{
  TL_REQUIRE_TEST_USER();
  const tltest::TestUser& user = *tltest::testUser();
  std::string program = path("program");
  writeFile(program, "#!/bin/sh\n", 04755);
  std::string userDir = path("user");
  ASSERT_EQ(0, mkdir(userDir.c_str(), 0755));
  ASSERT_EQ(0, chown(userDir.c_str(), user.uid, user.gid));
  std::string conf = userDir + "/conf";
  ASSERT_EQ(0, tltest::forkAsTestUser([&] { return symlink(program.c_str(), conf.c_str()); }));
  plat::TransactedFile tf(conf.c_str());
  put(tf, "written by root\n");
  tf.commit();
  struct stat st;
  ASSERT_EQ(0, lstat(conf.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0664u, st.st_mode & 07777);
  EXPECT_EQ(04755, modeOf(program));
}

} // namespace
