#include "plat/TransactedFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Path.h"

namespace plat {

namespace {

LogSrc logTransactedFile("TransactedFile");

// Distinguishes the temporary files of one process; the pid the processes.
std::atomic<unsigned> tmpCounter{0};

// Creating more than this many names in a row that are all taken means
// something other than chance is at work.
constexpr int kMaxTmpAttempts = 100;

int openExclusive(const char* path, int perms)
{
  int fd;
  do
    fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, perms);
  while (fd < 0 && errno == EINTR);
  return fd;
}

} // namespace

TransactedFile::TransactedFile(const char* path, int flags) : path_(path)
{
  createTmp(flags);
}

void TransactedFile::createTmp(int flags)
{
  bool priv = flags & kPrivate;
  int perms = priv ? 0600 : 0664;
  int fd = -1;
  int err = EEXIST;
  String tmp;
  for (int attempt = 0; attempt < kMaxTmpAttempts && err == EEXIST; attempt++) {
    tmp = format("%s.tmp.%ld.%u", path_.str(), (long)getpid(), tmpCounter++);
    fd = openExclusive(tmp.str(), perms);
    err = fd < 0 ? errno : 0;
    // No live writer of this process uses the name and the pid is ours: a
    // leftover of an earlier process, whose permissions must not be
    // inherited. Make it anew (or, if it cannot go, take the next name).
    if (err == EEXIST && tryFileRemove(tmp.str())) {
      fd = openExclusive(tmp.str(), perms);
      err = fd < 0 ? errno : 0;
    }
  }
  if (fd < 0) {
    broken_ = true;
    failedWhat_ = format("Error opening \"%s\"", tmp.str());
    failedErr_ = err;
    if (flags & kNoThrow)
      return;
    throw SystemException(failedWhat_.str(), err);
  }
  FILE* fp = fdopen(fd, "w");
  if (!fp) {
    err = errno;
    ::close(fd);
    (void)tryFileRemove(tmp.str()); // best effort: the failure is reported
    broken_ = true;
    failedWhat_ = String("fdopen");
    failedErr_ = err;
    if (flags & kNoThrow)
      return;
    throw SystemException("fdopen", err);
  }
  reset(fp, true);
  tmpPath_ = std::move(tmp);

  // Keep a regular target's permission bits; a private file never gets more
  // than its owner's bits, not even for a moment. The commit replaces a link
  // rather than writing through it, so a link's target lends nothing, and
  // set-id bits are never copied (root would make set-id files of its own).
  try {
    struct stat st;
    if (::lstat(path_.str(), &st) == 0) {
      if (S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & (priv ? 0700 : 0777)) < 0)
        throw SystemException("fileCopyPerms/fchmod", errno);
    } else if (errno != ENOENT && errno != ENOTDIR) {
      throw SystemExceptionFmt(errno, "fileCopyPerms/lstat(%s)", path_.str());
    }
  } catch (Exception& e) {
    logTransactedFile.error("%s", e.str());
  }
}

TransactedFile::~TransactedFile()
{
  try {
    reset(nullptr, true);
  } catch (Exception& e) {
    logTransactedFile.error("%s", e.str());
  }
  if (!tmpPath_.isNull())
    (void)tryFileRemove(tmpPath_.str()); // best effort: nothing was committed
}

void TransactedFile::fail(const char* what, int err)
{
  broken_ = true;
  failedWhat_ = String(what);
  failedErr_ = err;
  throw SystemException(what, err);
}

void TransactedFile::commit()
{
  // A write-out that failed once may have lost data: never rename it.
  if (broken_)
    throw SystemException(failedWhat_.str(), failedErr_);
  if (tmpPath_.isNull())
    return;
  if (FILE* fp = get()) {
    if (fflush(fp) != 0)
      fail("fflush", errno);
    int r;
    do
      r = ::fsync(fileno(fp));
    while (r < 0 && errno == EINTR);
    if (r < 0)
      fail("fsync", errno);
    try {
      reset(nullptr, true);
    } catch (SystemException& e) {
      fail("fclose", e.getErr());
    }
  }
  // A failed rename keeps tmpPath, so that the next commit tries again.
  fileRename(tmpPath_.str(), path_.str());
  tmpPath_.reset();

  // Make the rename itself durable; the data already is, so a failure here
  // is not worth reporting.
  int dfd = ::open(dirName(path_.str()).str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

} // namespace plat
