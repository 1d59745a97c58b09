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

int UnixIo::connectUnix(const char* path, unsigned flags, int timeoutMs)
{
  const bool datagram = flags & kDatagram;
  const bool nonBlocking = flags & kNonBlocking;
  struct sockaddr_un addr;
  if (!path)
    throw plat::SystemException("UnixIo", EINVAL);
  size_t len = strlen(path);
  if (len >= sizeof(addr.sun_path))
    throw plat::SystemException("UnixIo", ENAMETOOLONG);
  int fd = socketCloexec(AF_UNIX, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (fd < 0)
    throw plat::SystemException("socket", errno);
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
  int r, err = 0;
  do {
    if (timed) {
      plat::Time left = deadline - plat::getMonoTime();
      if (left <= 0) {
        err = ETIMEDOUT;
        break;
      }
      int64_t us = std::max<int64_t>(1, left / (plat::kTicksPerMilli / 1000));
      struct timeval tv = {(time_t)(us / 1000000), (suseconds_t)(us % 1000000)};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    }
    r = ::connect(fd, (struct sockaddr*)&addr, sizeof(addr));
    err = r < 0 ? errno : 0;
  } while (r < 0 && (err == EINTR || (timed && err == EAGAIN)));
  if (err) {
    ::close(fd);
    throw plat::SystemException("connect", err);
  }
  if (timed) {
    struct timeval none = {0, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof(none));
  }
  return fd;
}

bool UnixIo::isServerRunning(const char* path, bool datagram)
{
  try {
    ::close(connectUnix(path, datagram ? kDatagram : kNonBlocking));
    return true;
  } catch (plat::SystemException& e) {
    int err = e.getErr();
    if (err == ENOENT || err == EDESTADDRREQ || err == ECONNREFUSED)
      return false;
    if (err == EAGAIN && !datagram)
      return true;
    throw;
  }
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
