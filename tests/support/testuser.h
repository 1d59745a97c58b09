// An unprivileged user for tests that run as root and check what another
// user can or cannot do: made once with useradd (under a lock, since test
// programs run in parallel) and kept for later runs.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testutil.h"

namespace tltest {

struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

// The test user, made when missing; null when not running as root or when
// useradd fails. TL_TEST_USER names another one, so that checkouts tested
// at once keep apart (the user's runtime folder and pipes are per user).
inline const TestUser* testUser()
{
  static const char* named = getenv("TL_TEST_USER");
  static const std::string kName = named && *named ? named : "tlunpriv";
  static TestUser user;
  static bool done = false;
  if (done)
    return user.uid ? &user : nullptr;
  done = true;
  if (geteuid() != 0)
    return nullptr;
  int lock = open("/tmp/.tlunpriv.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock >= 0)
    flock(lock, LOCK_EX);
  if (!getpwnam(kName.c_str())) {
    std::string cmd = "useradd --create-home --shell /bin/sh '" + kName + "'" +
                      " >/dev/null 2>&1";
    if (system(cmd.c_str()) != 0)
      ADD_FAILURE() << "useradd " << kName << " failed";
  }
  if (lock >= 0)
    close(lock);
  const struct passwd* pw = getpwnam(kName.c_str());
  if (!pw || pw->pw_uid == 0)
    return nullptr;
  user.name = kName;
  user.uid = pw->pw_uid;
  user.gid = pw->pw_gid;
  user.home = pw->pw_dir;
  return &user;
}

// Skips the test unless it runs as root with a test user.
#define TL_REQUIRE_TEST_USER()                                      \
  do {                                                              \
    if (!::tltest::testUser())                                      \
      GTEST_SKIP() << "needs root and a user made with useradd";    \
  } while (0)

// Drops this process to the test user for good (groups, gid, uid), for a
// child that first did what needs root (a mount namespace); false on failure.
inline bool dropToTestUser()
{
  const TestUser* u = testUser();
  return u && setgroups(0, nullptr) == 0 && setgid(u->gid) == 0 && setuid(u->uid) == 0;
}

// Runs fn in a forked child that has dropped to the test user. Returns fn's
// result as the child's exit status, or -1.
inline int forkAsTestUser(const std::function<int()>& fn)
{
  if (!testUser())
    return -1;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    return -1;
  if (pid == 0) {
    if (!dropToTestUser())
      _exit(126);
    _exit(fn());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  checkedChildStatus(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program as the test user through setpriv; returns its exit status,
// or -1 when it did not exit normally.
inline int runAsTestUser(const std::vector<std::string>& argv)
{
  const TestUser* u = testUser();
  if (!u)
    return -1;
  std::string cmd = "setpriv --reuid=" + std::to_string(u->uid) +
                    " --regid=" + std::to_string(u->gid) + " --clear-groups --";
  for (const std::string& a : argv) {
    std::string q = "'";
    for (char c : a)
      q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    cmd += " " + q + "'";
  }
  int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tltest
