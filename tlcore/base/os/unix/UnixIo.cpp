#include "os/UnixIo.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "io/Endpoint.h"
#include "os/socket.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/Time.h"

namespace os {

namespace {

bool peerCred(int fd, struct ucred* cred, int* err)
{
  socklen_t len = sizeof(*cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, cred, &len) < 0) {
    *err = errno;
    return false;
  }
  if (len < sizeof(*cred)) {
    *err = EINVAL;
    return false;
  }
  return true;
}

} // namespace

UnixIo::UnixIo(const char* path, int fd, bool datagram, int connectTimeoutMs)
    : io::FdIo(fd >= 0 ? fd : connectUnix(path, datagram ? kDatagram : kStream, connectTimeoutMs),
               io::FdIoFlags::kOwnFd)
{
  flags().insert(plat::String("secureTransport"));
  plat::DString name;
  name.append("<unix-");
  name.append(fd >= 0 ? "server" : "client");
  name.append("-");
  name.append(path ? path : "anon");
  struct ucred cred;
  int err;
  if (peerCred(getFd(), &cred, &err)) {
    name.appendf("-uid-%u", (unsigned)cred.uid);
  }
  name.append(">");
  setDisplayName(name.get());
}

UnixIo::~UnixIo() = default;

namespace {

// connectUnix without throwing for what the caller may expect: the socket,
// or -1 with *err and *what ("UnixIo", "socket" or "connect") set. A
// server's absence is the usual answer to a liveness check, and a process's
// first exception costs a tenth of a millisecond.
int tryConnectUnix(const char* path, unsigned flags, int timeoutMs, int* err, const char** what)
{
  const bool datagram = flags & UnixIo::kDatagram;
  const bool nonBlocking = flags & UnixIo::kNonBlocking;
  struct sockaddr_un addr;
  *what = "UnixIo";
  if (!path) {
    *err = EINVAL;
    return -1;
  }
  size_t len = strlen(path);
  if (len >= sizeof(addr.sun_path)) {
    *err = ENAMETOOLONG;
    return -1;
  }
  int fd = socketCloexec(AF_UNIX, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (fd < 0) {
    *err = errno;
    *what = "socket";
    return -1;
  }
  try {
    if (nonBlocking)
      setBlocking(fd, false);
  } catch (...) {
    ::close(fd);
    throw;
  }
  memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path, len);
  // The send time-out bounds the wait for room in the server's queue.
  bool timed = timeoutMs >= 0 && !nonBlocking;
  plat::Time deadline = plat::getMonoTime() + (plat::Time)timeoutMs * plat::kTicksPerMilli;
  int r, e = 0;
  do {
    if (timed) {
      plat::Time left = deadline - plat::getMonoTime();
      if (left <= 0) {
        e = ETIMEDOUT;
        break;
      }
      int64_t us = std::max<int64_t>(1, left / (plat::kTicksPerMilli / 1000));
      struct timeval tv = {(time_t)(us / 1000000), (suseconds_t)(us % 1000000)};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    }
    r = ::connect(fd, (struct sockaddr*)&addr, sizeof(addr));
    e = r < 0 ? errno : 0;
  } while (r < 0 && (e == EINTR || (timed && e == EAGAIN)));
  if (e) {
    ::close(fd);
    *err = e;
    *what = "connect";
    return -1;
  }
  if (timed) {
    struct timeval none = {0, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof(none));
  }
  return fd;
}

} // namespace

int UnixIo::connectUnix(const char* path, unsigned flags, int timeoutMs)
{
  int err = 0;
  const char* what = nullptr;
  int fd = tryConnectUnix(path, flags, timeoutMs, &err, &what);
  if (fd < 0)
    throw plat::SystemException(what, err);
  return fd;
}

bool UnixIo::isServerRunning(const char* path, bool datagram)
{
  int err = 0;
  const char* what = nullptr;
  int fd = tryConnectUnix(path, datagram ? kDatagram : kNonBlocking, -1, &err, &what);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (err == ENOENT || err == EDESTADDRREQ || err == ECONNREFUSED)
    return false;
  if (err == EAGAIN && !datagram)
    return true;
  throw plat::SystemException(what, err);
}

uid_t UnixIo::getPeerEuid()
{
  struct ucred cred;
  int err;
  if (!peerCred(getFd(), &cred, &err))
    throw plat::SystemException("getPeerEuid", err);
  return cred.uid;
}

const char* UnixIo::peerEndpoint()
{
  if (!peerEndpointText_.isNull())
    return peerEndpointText_.str();
  struct sockaddr_un addr;
  socklen_t alen = sizeof(addr);
  memset(&addr, 0, sizeof(addr));
  if (getpeername(getFd(), (struct sockaddr*)&addr, &alen) < 0 ||
      alen <= offsetof(struct sockaddr_un, sun_path) || addr.sun_path[0] != '/')
    return "";
  size_t len = strnlen(addr.sun_path, alen - offsetof(struct sockaddr_un, sun_path));
  plat::DString text;
  text.append("[unix:");
  const char* p = addr.sun_path;
  const char* end = p + len;
  while (p < end) {
    const char* slash = (const char*)memchr(p, '/', end - p);
    const char* stop = slash ? slash : end;
    text.append(io::endpointEscape(plat::String(p, (int)(stop - p)).get()).get());
    if (!slash)
      break;
    text.append("/");
    p = slash + 1;
  }
  text.append("]");
  peerEndpointText_ = plat::String(text.get());
  return peerEndpointText_.str();
}

void namedPipeCredCheck(io::Io* io, uid_t uid)
{
  UnixIo* unixIo = dynamic_cast<UnixIo*>(io);
  if (!unixIo || unixIo->getPeerEuid() != uid)
    throw plat::Exception("namedPipeCredCheck: uid mismatch");
}

} // namespace os
