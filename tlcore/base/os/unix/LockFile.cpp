#include "os/LockFile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/DirEnum.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Path.h"

namespace os {

namespace {

plat::LogSrc vlog("LockFile");

// Tries to lock a file that is still at the path before giving up.
constexpr int kMaxAttempts = 10;

// Locks are taken on the open file description (OFD locks), not the process
// (lockf): a process-owned lock would be dropped by closing any descriptor of
// the file, so a test of our own lock file would silently release it, and a
// test would never see a lock that this process holds. lockf stays as the
// fallback for kernels without OFD locks.
// Returns 1 when the lock is (or, testing, would be) ours, 0 when another
// holder has it, -1 with errno on failure.
int wholeFileLock(int fd, bool test)
{
  struct flock fl;
  memset(&fl, 0, sizeof(fl));
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  if (fcntl(fd, test ? F_OFD_GETLK : F_OFD_SETLK, &fl) == 0)
    return (test && fl.l_type != F_UNLCK) ? 0 : 1;
  if (errno == EAGAIN || errno == EACCES)
    return 0;
  if (errno != EINVAL)
    return -1;
  if (lockf(fd, test ? F_TEST : F_TLOCK, 0) == 0)
    return 1;
  return (errno == EAGAIN || errno == EACCES) ? 0 : -1;
}

bool writeAll(int fd, const char* text)
{
  size_t len = strlen(text);
  off_t pos = 0;
  while (len > 0) {
    ssize_t n = pwrite(fd, text, len, pos);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    text += n;
    len -= n;
    pos += n;
  }
  return true;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

LockFile::LockFile(const char* path, const char* contents, unsigned flags)
{
  const bool testOnly = flags & kTestOnly;
  int mode = (flags & kPrivate) ? 0600 : 0644;
  // A holder that gives up deletes the file while we may hold it open, so a
  // lock taken on a file no longer at the path is worthless: try again, and
  // give up rather than write into a file that keeps moving.
  for (int attempt = 0;; attempt++) {
    if (attempt == kMaxAttempts)
      throw plat::ExceptionFmt("%s keeps being replaced", path);
    // No link is followed, and a FIFO planted at the path cannot block us.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = testOnly ? open(path, O_RDONLY | flags) : open(path, O_RDWR | O_CREAT | flags, mode);
    if (fd < 0) {
      if (testOnly && errno == ENOENT)
        return;
      throw plat::SystemExceptionFmt(errno, "open(%s)", path);
    }
    // Nothing is changed before the file is known to be our own lock file:
    // a regular file of this user with no other name (a hard link would
    // carry our writes elsewhere). Testing only reads the lock.
    struct stat own;
    if (fstat(fd, &own) != 0) {
      int err = errno;
      close(fd);
      throw plat::SystemExceptionFmt(err, "fstat(%s)", path);
    }
    if (!S_ISREG(own.st_mode) || (!testOnly && (own.st_uid != geteuid() || own.st_nlink > 1))) {
      close(fd);
      throw plat::ExceptionFmt("%s is not a lock file of this user", path);
    }
    int r = wholeFileLock(fd, testOnly);
    if (r < 0) {
      int err = errno;
      close(fd);
      throw plat::SystemException("lockf", err);
    }
    if (testOnly) {
      // An open descriptor means: locked elsewhere.
      if (r == 1)
        close(fd);
      else
        fd_ = fd;
      return;
    }
    if (r == 0) {
      close(fd);
      return;
    }
    struct stat st;
    if (fstat(fd, &own) != 0 || lstat(path, &st) != 0 || !sameFile(own, st)) {
      close(fd);
      continue;
    }
    if (fchmod(fd, mode) != 0) {
      int err = errno;
      close(fd);
      throw plat::SystemException("fchmod", err);
    }
    if (ftruncate(fd, 0) != 0 || !writeAll(fd, contents ? contents : "")) {
      char text[128];
      plat::strError(errno, text, sizeof(text));
      vlog.error("Failed to write lockfile contents: %s", text);
    }
    fd_ = fd;
    path_ = plat::String(path);
    return;
  }
}

LockFile::LockFile(const char* path)
    : LockFile(path, plat::format("%ld\n", (long)getpid()).get(), kLock)
{
}

LockFile::~LockFile()
{
  if (fd_ < 0)
    return;
  if (!path_.isNull()) {
    try {
      // Remove only our own file: another process may have put a new one at
      // the path after we opened ours.
      struct stat own, st;
      if (fstat(fd_, &own) == 0) {
        if (lstat(path_.get(), &st) == 0 && sameFile(own, st)) {
          unlink(path_.get());
        } else {
          plat::String dir = plat::dirName(path_.get());
          DirEnum entries(dir.get());
          while (entries.next()) {
            if (lstat(entries.getPath(), &st) == 0 && sameFile(own, st)) {
              unlink(entries.getPath());
              break;
            }
          }
        }
      }
    } catch (...) {
    }
  }
  close(fd_);
}

void LockFile::release()
{
  if (fd_ >= 0)
    close(fd_);
  fd_ = -1;
}

} // namespace os
