// Shared by the file-system tests: a scratch directory, file helpers and a
// runner for checks that must not run with root's privileges.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "plat/Exception.h"
#include "plat/File.h"

namespace filetest {

constexpr uid_t kNobody = 65534;

// A fresh directory below base (default /tmp), traversable by everyone so
// that an unprivileged child can use what the test puts there, removed
// afterwards; the umask is 0 while it lives.
class ScratchDir : public ::testing::Test {
protected:
  void SetUp() override
  {
    oldMask_ = umask(0);
    char tmpl[] = "/tmp/tlfile.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    ASSERT_EQ(0, chmod(tmpl, 0755));
  }
  void TearDown() override
  {
    (void)plat::tryRmDir(dir.c_str(), true);
    umask(oldMask_);
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;

private:
  mode_t oldMask_ = 0;
};

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ((ssize_t)text.size(), write(fd, text.data(), text.size()));
  close(fd);
  chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path)
{
  std::string out;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return "<missing>";
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0)
    out.append(buf, n);
  close(fd);
  return out;
}

// Permission bits as lstat sees them; -1 when the object is missing.
inline int modeOf(const std::string& path)
{
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (int)(st.st_mode & 07777) : -1;
}

// What a system error of op on the path must read.
inline std::string sysMessage(const std::string& what, int err)
{
  char buf[256];
  return what + ": " + strerror_r(err, buf, sizeof(buf)) + " (" + std::to_string(err) + ")";
}

// "" when fn throws a system error with exactly that text and error number;
// else what it did instead.
inline std::string checkSysError(const std::function<void()>& fn, const std::string& what, int err)
{
  try {
    fn();
    return "no exception, expected " + what;
  } catch (plat::SystemException& e) {
    std::string expected = sysMessage(what, err);
    if (expected != e.str() || e.getErr() != err || "System-" + std::to_string(err) != e.getType())
      return std::string("got \"") + e.str() + "\" [" + e.getType() + "], expected \"" + expected +
             "\"";
    return "";
  } catch (plat::Exception& e) {
    return std::string("not a system error: ") + e.str();
  }
}

inline void expectSysError(const std::function<void()>& fn, const std::string& what, int err)
{
  EXPECT_EQ("", checkSysError(fn, what, err));
}

// Runs check in a forked child, as the user nobody when the test runs as
// root; check returns "" or what went wrong.
inline void runUnprivileged(const std::function<std::string()>& check)
{
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) < 0 || setresgid(kNobody, kNobody, kNobody) < 0 ||
                           setresuid(kNobody, kNobody, kNobody) < 0)) {
      fprintf(stderr, "cannot drop privileges: %s\n", strerror(errno));
      _exit(2);
    }
    std::string failure;
    try {
      failure = check();
    } catch (plat::Exception& e) {
      failure = std::string("unexpected exception: ") + e.str();
    }
    if (!failure.empty())
      fprintf(stderr, "%s\n", failure.c_str());
    _exit(failure.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
}

} // namespace filetest
