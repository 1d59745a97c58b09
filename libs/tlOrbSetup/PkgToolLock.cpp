#include "tlOrbSetup/PkgToolLock.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "plat/Time.h"

namespace tlOrbSetup {

plat::IntParameter pkgToolLockWait("_PkgToolLockWait",
                                   "Longest wait for another package tool, in seconds", 120,
                                   plat::ParamLevel::kAdvanced, nullptr, 0, 3600);

namespace {

constexpr int kPollMs = 500;

// The pid of a lock on path that conflicts with ours (-1: no process), 0
// when there is none or the file cannot be looked at.
int lockHolder(const std::string& path)
{
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return 0;
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  int holder = 0;
  if (fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK)
    holder = fl.l_pid > 0 ? (int)fl.l_pid : -1;
  close(fd);
  return holder;
}

// The value of option name ("--name=value" or "--name value"), or "".
std::string optionValue(const std::vector<plat::String>& args, const char* name)
{
  size_t n = strlen(name);
  for (size_t i = 1; i < args.size(); i++) {
    const char* a = args[i].get();
    if (strncmp(a, name, n) == 0 && a[n] == '=')
      return a + n + 1;
    if (strcmp(a, name) == 0 && i + 1 < args.size())
      return args[i + 1].get();
  }
  return "";
}

} // namespace

int packageToolLockHolder(const std::vector<plat::String>& args)
{
  if (args.empty())
    return 0;
  const char* program = args[0].get();
  std::vector<std::string> locks;
  if (strcmp(program, "/usr/bin/dpkg") == 0) {
    std::string dir = optionValue(args, "--admindir");
    if (dir.empty())
      dir = "/var/lib/dpkg";
    locks = {dir + "/lock-frontend", dir + "/lock"};
  } else if (strcmp(program, "/usr/bin/rpm") == 0 || strcmp(program, "/usr/bin/yum") == 0 ||
             strcmp(program, "/usr/bin/zypper") == 0) {
    // Where the database lies depends on the distribution's macros.
    std::string dir = optionValue(args, "--dbpath");
    if (!dir.empty())
      locks = {dir + "/.rpm.lock"};
    else
      locks = {"/var/lib/rpm/.rpm.lock", "/usr/lib/sysimage/rpm/.rpm.lock"};
    if (dir.empty() && getenv("HOME"))
      locks.push_back(std::string(getenv("HOME")) + "/.rpmdb/.rpm.lock");
  }
  for (const std::string& path : locks)
    if (int holder = lockHolder(path))
      return holder;
  return 0;
}

PkgToolWait::PkgToolWait(Callbacks callbacks) : callbacks_(std::move(callbacks)), timer_(this)
{
}

PkgToolWait::~PkgToolWait()
{
  timer_.stop();
}

void PkgToolWait::start(const std::vector<plat::String>& args)
{
  cancel();
  int holder = packageToolLockHolder(args);
  if (!holder) {
    callbacks_.free(args);
    return;
  }
  args_ = args;
  waiting_ = true;
  deadline_ =
      plat::addTimeSat(plat::getMonoTime(), (plat::Time)pkgToolLockWait * plat::kTicksPerSecond);
  timer_.start(kPollMs);
  callbacks_.busy(holder);
}

void PkgToolWait::cancel()
{
  timer_.stop();
  waiting_ = false;
  args_.clear();
}

bool PkgToolWait::timerExpired(plat::Timer*)
{
  bool free = packageToolLockHolder(args_) == 0;
  if (!free && plat::getMonoTime() < deadline_)
    return true;
  std::vector<plat::String> args;
  args.swap(args_);
  waiting_ = false;
  if (free)
    callbacks_.free(args);
  else
    callbacks_.stillBusy();
  return false;
}

} // namespace tlOrbSetup
