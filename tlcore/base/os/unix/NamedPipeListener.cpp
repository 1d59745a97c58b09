#include "os/NamedPipeListener.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "os/UnixIo.h"
#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/Log.h"

namespace os {

plat::IntParameter
    UnixSocketRefreshInterval("_UnixSocketRefreshInterval",
                              "Seconds between refreshes of the socket files of named pipes", 3600,
                              plat::ParamLevel::kBasic, nullptr, 0, INT_MAX);

namespace {

plat::LogSrc pipeLog("NamedPipeListener");

static_assert(sizeof(sockaddr_un::sun_path) == NamedPipeListener::kMaxPath, "sun_path size");

// Closes a descriptor unless released.
struct FdCloser {
  int fd;
  ~FdCloser()
  {
    if (fd >= 0)
      ::close(fd);
  }
  int release()
  {
    int f = fd;
    fd = -1;
    return f;
  }
};

bool runningAsRootFor(uint32_t owner)
{
  return owner != NamedPipeListener::kNoOwner && geteuid() == 0;
}

// While it lives, the calling thread acts on the file system as the owner
// when binding as root for one: bind then makes the socket the owner's own,
// and every path step is checked against the owner's rights, so a link or
// directory the owner swaps in leads nowhere the owner could not go anyway.
class OwnerFsIds {
public:
  explicit OwnerFsIds(uint32_t owner)
  {
    if (!runningAsRootFor(owner))
      return;
    saved_ = setfsuid((uid_t)owner);
    active_ = true;
    // setfsuid reports no failure; an invalid id reads back the current one.
    if ((uid_t)setfsuid((uid_t)-1) != (uid_t)owner)
      throw plat::SystemException("setfsuid", EPERM);
  }
  ~OwnerFsIds()
  {
    if (active_)
      setfsuid(saved_);
  }
  OwnerFsIds(const OwnerFsIds&) = delete;
  OwnerFsIds& operator=(const OwnerFsIds&) = delete;

private:
  uid_t saved_ = 0;
  bool active_ = false;
};

// A socket file cannot be opened for real, so the descriptor is an O_PATH
// one and mode and times are set through its /proc entry, which names the
// pinned file however the path changes.
plat::String procFdPath(int fd)
{
  return plat::format("/proc/self/fd/%d", fd);
}

// The socket's directory. A directory that another user owns or can write
// to, or a link planted in its place, would let that user replace the
// socket: refuse it rather than repair it. A real directory of the right
// owner is made private.
void makeSocketDir(const char* dir, uint32_t owner)
{
  bool asRoot = runningAsRootFor(owner);
  struct stat st;
  if (lstat(dir, &st) != 0) {
    if (errno != ENOENT)
      throw plat::SystemExceptionFmt(errno, "lstat(%s)", dir);
    if (mkdir(dir, 0700) != 0 && errno != EEXIST)
      throw plat::SystemExceptionFmt(errno, "mkdir(%s)", dir);
  }
  FdCloser d{open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (d.fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR)
      throw plat::ExceptionFmt("%s is not a private directory of this user", dir);
    throw plat::SystemExceptionFmt(errno, "open(%s)", dir);
  }
  if (fstat(d.fd, &st) != 0)
    throw plat::SystemExceptionFmt(errno, "fstat(%s)", dir);
  uid_t want = asRoot ? (uid_t)owner : geteuid();
  bool ownerOk = st.st_uid == want || (asRoot && st.st_uid == 0);
  if (!S_ISDIR(st.st_mode) || !ownerOk || (st.st_mode & 022))
    throw plat::ExceptionFmt("%s is not a private directory of this user", dir);
  if ((st.st_mode & 07777) != 0700 && fchmod(d.fd, 0700) != 0)
    throw plat::SystemExceptionFmt(errno, "chmod(%s)", dir);
  if (asRoot && st.st_uid != want && fchown(d.fd, want, (gid_t)-1) != 0)
    throw plat::SystemExceptionFmt(errno, "chown(%s,%d,%d)", dir, (int)owner, -1);
}

int refreshIntervalMs()
{
  int s = UnixSocketRefreshInterval;
  return s >= INT_MAX / 1000 + 1 ? INT_MAX : s * 1000;
}

} // namespace

NamedPipeListener::NamedPipeListener(const Config& cfg)
    : FdListener(-1), path_(cfg.path), config_(cfg), refreshTimer_(this)
{
  if (path_.isNull() || path_.length() == 0)
    throw plat::SystemException("NamedPipeListener", ENOENT);
  if (path_.length() >= kMaxPath)
    throw plat::SystemException("NamedPipeListener", ENAMETOOLONG);
  if (!config_.skipLiveCheck && UnixIo::isServerRunning(path_.get(), config_.datagram))
    throw plat::SystemException("name already bound", EADDRINUSE);
  createSocket();
  refreshTimer_.start(refreshIntervalMs());
}

NamedPipeListener::~NamedPipeListener()
{
  // Only our own socket file goes: after it disappeared, another server may
  // have bound the path.
  try {
    OwnerFsIds ids(config_.owner);
    struct stat st;
    if (lstat(path_.get(), &st) == 0 && st.st_dev == fileDev_ && st.st_ino == fileIno_)
      ::unlink(path_.get());
  } catch (plat::Exception&) {
  }
  refreshTimer_.stop();
}

void NamedPipeListener::createSocket()
{
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  if (path_.length() >= kMaxPath)
    throw plat::SystemException("NamedPipeListener", ENAMETOOLONG);
  memcpy(addr.sun_path, path_.get(), path_.length());

  if (config_.createDir) {
    const char* slash = strrchr(path_.get(), '/');
    if (slash && slash != path_.get()) {
      plat::String dir(path_.get(), (int)(slash - path_.get()));
      makeSocketDir(dir.get(), config_.owner);
    }
  }

  FdCloser s{socketCloexec(AF_UNIX, config_.datagram ? SOCK_DGRAM : SOCK_STREAM, 0)};
  if (s.fd < 0)
    throw plat::SystemException("socket", errno);

  int r, err;
  {
    OwnerFsIds ids(config_.owner);
    ::unlink(path_.get());
    mode_t old = umask(config_.ownerOnly ? 0177 : 0111);
    r = bind(s.fd, (struct sockaddr*)&addr, sizeof(addr));
    err = errno;
    umask(old);
  }
  if (r != 0)
    throw plat::SystemException("bind", err);

  try {
    // From here on only the file just bound is acted on: another file at
    // the path (its owner may swap one in) is refused, never changed.
    struct stat st;
    FdCloser f{openSocketFile(&st)};
    uid_t want = runningAsRootFor(config_.owner) ? (uid_t)config_.owner : geteuid();
    if (f.fd < 0 || !S_ISSOCK(st.st_mode) || st.st_uid != want)
      throw plat::ExceptionFmt("%s was replaced while it was being created", path_.get());
    if (!(st.st_mode & S_ISVTX) &&
        chmod(procFdPath(f.fd).get(), (st.st_mode & 07777) | S_ISVTX) != 0) {
      plat::SystemExceptionFmt e(errno, "fileMakeSticky/chmod(%s)", path_.get());
      char text[plat::Exception::kMessageSize];
      pipeLog.info("Failed to set sticky bit on %s: %s", path_.get(), e.formatDisplay(text));
    }
    if (!config_.datagram && listen(s.fd, 5) != 0)
      throw plat::SystemException("listen", errno);
    fileDev_ = st.st_dev;
    fileIno_ = st.st_ino;
  } catch (...) {
    OwnerFsIds ids(config_.owner);
    ::unlink(path_.get());
    throw;
  }
  installFd(s.release());
}

io::IoPtr NamedPipeListener::acceptConnection()
{
  if (getFd() < 0 || config_.datagram)
    return io::IoPtr();
  int c;
  try {
    c = acceptSocket(getFd());
  } catch (plat::SystemException& e) {
    if ((e.getErr() == ENFILE || e.getErr() == EMFILE) && getAcceptor()) {
      pipeLog.info("%s: out of descriptors, accepting paused", path_.get());
      pauseAccepting();
      return io::IoPtr();
    }
    throw;
  }
  if (c < 0)
    return io::IoPtr();
  return io::IoPtr(new UnixIo(path_.get(), c, false));
}

void NamedPipeListener::refresh()
{
  struct stat st;
  int fd;
  try {
    fd = openSocketFile(&st);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    pipeLog.info("Failed to recreate socket: %s", e.formatDisplay(text));
    return;
  }
  if (fd >= 0 || errno != ENOENT) {
    // Keeps cleaners of temporary directories away from a live socket; a
    // file that has taken its place is left alone.
    FdCloser f{fd};
    if (fd >= 0 && st.st_dev == fileDev_ && st.st_ino == fileIno_)
      utimensat(AT_FDCWD, procFdPath(fd).get(), nullptr, 0);
    return;
  }
  pipeLog.info("Recreating socket: %s", path_.get());
  io::IoAcceptor* saved = getAcceptor();
  setAcceptor(nullptr);
  installFd(-1);
  try {
    createSocket();
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    pipeLog.info("Failed to recreate socket: %s", e.formatDisplay(text));
  }
  // Attached even without a socket, so the next refresh still knows where
  // connections go.
  if (saved)
    setAcceptor(saved);
}

int NamedPipeListener::openSocketFile(struct stat* st)
{
  OwnerFsIds ids(config_.owner);
  int fd = open(path_.get(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 && fstat(fd, st) != 0) {
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

bool NamedPipeListener::timerExpired(plat::Timer* timer)
{
  if (timer != &refreshTimer_)
    return FdListener::timerExpired(timer);
  refresh();
  return true;
}

} // namespace os
