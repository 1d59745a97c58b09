#include "os/paths.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/AppInfo.h"
#include "os/UnixIo.h"
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
  struct stat st;
  int fd = openNoFollow(AT_FDCWD, path, O_RDONLY | O_DIRECTORY, st, path);
  if (fd < 0)
    throw plat::ExceptionFmt("%s is not a private directory of this user", path);
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

int openNoFollow(int dirFd, const char* name, int flags, struct stat& st, const char* shown)
{
  int fd = openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || ((flags & O_DIRECTORY) && errno == ENOTDIR))
      return -1;
    throw plat::SystemExceptionFmt(errno, "open(%s)", shown);
  }
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    throw plat::SystemExceptionFmt(err, "fstat(%s)", shown);
  }
  return fd;
}

const char* getTmpDir()
{
  return tmpDirOverride.isNull() ? "/tmp" : tmpDirOverride.get();
}

#ifdef TL_TEST_HOOKS
void setTmpDirForTest(const char* dir)
{
  tmpDirOverride = plat::String(dir);
}
#endif

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
  plat::String path = plat::format("%s/%s.%s", dir.get(), app ? app : AppInfo::getAppName(false),
                                   name ? name : "");
  if (pid == -1)
    pid = getpid();
  if (index < 1 && pid == 0)
    return path;
  path = plat::format("%s.%lld", path.get(), pid);
  if (index >= 0)
    path = plat::format("%s.%d", path.get(), index);
  return path;
}

void checkNamedPipeDir(const char* pipePath, uid_t serverUid)
{
  const char* slash = strrchr(pipePath, '/');
  plat::String dir = slash ? plat::String(pipePath, (int)(slash - pipePath)) : plat::String(".");
  int fd = open(dir.get(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT)
    return;
  struct stat st;
  bool ok = fd >= 0 && fstat(fd, &st) == 0 && (st.st_uid == 0 || st.st_uid == serverUid) &&
            !(st.st_mode & 022);
  if (fd >= 0)
    close(fd);
  if (!ok)
    throw plat::ExceptionFmt("%s is not a private directory of the server's user", dir.get());
}

bool matchNamedPipeName(const char* entry, const char* name, const char* app)
{
  const char* dot = strchr(entry, '.');
  size_t firstLen = dot ? (size_t)(dot - entry) : strlen(entry);
  const char* second = dot ? dot + 1 : "";
  const char* end = strchr(second, '.');
  size_t secondLen = end ? (size_t)(end - second) : strlen(second);
  if (app && (strlen(app) != firstLen || strncmp(entry, app, firstLen) != 0))
    return false;
  if (name && (strlen(name) != secondLen || strncmp(second, name, secondLen) != 0))
    return false;
  return true;
}

namespace {

// Whether the folder of user text (a uid or an account name) may be owned
// by owner: that user's, or root's.
bool ownerMatches(const char* user, uid_t owner)
{
  if (owner == 0)
    return true;
  uid_t named = 0;
  try {
    parseUid(named, user);
    return named == owner;
  } catch (plat::Exception&) {
  }
  struct passwd pw, *found = nullptr;
  char buf[4096];
  return getpwnam_r(user, &pw, buf, sizeof(buf), &found) == 0 && found && found->pw_uid == owner;
}

// Cleans the pipe folder entry of parent (a descriptor or AT_FDCWD), whose
// path is dir and whose user part is user. The folder is opened without
// following a link and must belong to that user (or root) and be writable
// by no one else; in it only sockets are removed, by name relative to the
// opened folder, so nothing outside it is ever unlinked.
void cleanPipeDir(int parent, const char* entry, const plat::String& dir, const char* user,
                  const char* name, const char* app)
{
  int fd = openat(parent, entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return;
  struct stat st;
  DIR* d = nullptr;
  if (fstat(fd, &st) != 0 || !ownerMatches(user, st.st_uid) || (st.st_mode & 022) ||
      !(d = fdopendir(fd))) {
    close(fd);
    return;
  }
  while (struct dirent* e = readdir(d)) {
    struct stat est;
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..") ||
        !matchNamedPipeName(e->d_name, name, app) ||
        fstatat(dirfd(d), e->d_name, &est, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(est.st_mode))
      continue;
    plat::String path = plat::format("%s/%s", dir.get(), e->d_name);
    try {
      if (!UnixIo::isServerRunning(path.get()))
        unlinkat(dirfd(d), e->d_name, 0);
    } catch (plat::Exception&) {
      // Left alone: we cannot tell.
    }
  }
  closedir(d);
}

} // namespace

void removeStaleNamedPipes(const char* name, const char* app)
{
  try {
    if (geteuid() != 0) {
      plat::String own = getTmpPath(nullptr);
      plat::String uid = plat::format("%u", (unsigned)geteuid());
      cleanPipeDir(AT_FDCWD, own.get(), own, uid.get(), name, app);
      return;
    }
    plat::String prefix = plat::format(".%s-", AppInfo::getPathComp(false));
    DIR* d = opendir(getTmpDir());
    if (!d)
      return;
    while (struct dirent* e = readdir(d)) {
      if (!strncmp(e->d_name, prefix.get(), (size_t)prefix.length()))
        cleanPipeDir(dirfd(d), e->d_name, plat::format("%s/%s", getTmpDir(), e->d_name),
                     e->d_name + prefix.length(), name, app);
    }
    closedir(d);
  } catch (plat::Exception&) {
  }
}

void parseUid(uid_t& out, const char* text)
{
  if (!text) {
    out = geteuid();
    return;
  }
  // Digits only: the number parsers would take a leading blank or sign.
  const char* digits = text[0] == '-' ? text + 1 : text;
  if (*digits < '0' || *digits > '9')
    throw plat::BadNum("Failed to parse integer");
  if (text[0] == '-')
    out = (uid_t)plat::parseInt(text, 10, "Failed to parse integer");
  else
    out = (uid_t)plat::parseUInt(text, 10, "Failed to parse integer");
}

} // namespace os
