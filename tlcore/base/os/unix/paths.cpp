#include "os/paths.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/AppInfo.h"
#include "plat/Exception.h"
#include "plat/numbers.h"

namespace os {

namespace {

plat::String tmpDirOverride;

// Named pipes live in this directory, so one that another user owns or can
// write to, or a symbolic link planted in its place, would let that user
// intercept them: refuse it rather than repair it.
void makePrivateDir(const char* path)
{
  if (mkdir(path, 0700) != 0 && errno != EEXIST)
    throw plat::SystemExceptionFmt(errno, "mkdir(%s)", path);
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR)
      throw plat::ExceptionFmt("%s is not a private directory of this user", path);
    throw plat::SystemExceptionFmt(errno, "open(%s)", path);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    throw plat::SystemExceptionFmt(err, "fstat(%s)", path);
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 022)) {
    close(fd);
    throw plat::ExceptionFmt("%s is not a private directory of this user", path);
  }
  if ((st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) {
    int err = errno;
    close(fd);
    throw plat::SystemExceptionFmt(err, "chmod(%s)", path);
  }
  close(fd);
}

} // namespace

const char* getTmpDir()
{
  return tmpDirOverride.isNull() ? "/tmp" : tmpDirOverride.get();
}

void setTmpDirForTest(const char* dir)
{
  tmpDirOverride = plat::String(dir);
}

plat::String getTmpPath(const char* name)
{
  if (name)
    return plat::format("%s/.%s-%s", getTmpDir(), AppInfo::getPathComp(false), name);
  plat::String path = plat::format("%s/.%s-%u", getTmpDir(), AppInfo::getPathComp(false),
                                   (unsigned)geteuid());
  makePrivateDir(path.get());
  return path;
}

plat::String makeNamedPipePath(const char* name, const char* user, const char* app, long long pid,
                               int index)
{
  plat::String dir = getTmpPath(user);
  if (!app)
    app = AppInfo::getAppName(false);
  if (pid == -1)
    pid = getpid();
  if (index < 1 && pid == 0)
    return plat::format("%s/%s.%s", dir.get(), app, name);
  if (index < 0)
    return plat::format("%s/%s.%s.%lld", dir.get(), app, name, pid);
  return plat::format("%s/%s.%s.%lld.%d", dir.get(), app, name, pid, index);
}

void parseUid(uint32_t* out, const char* text)
{
  static const char kBad[] = "Failed to parse integer";
  if (!text)
    *out = (uint32_t)geteuid();
  else if (text[0] == '-')
    *out = (uint32_t)plat::parseInt(text, 10, kBad);
  else
    *out = plat::parseUInt(text, 10, kBad);
}

} // namespace os
