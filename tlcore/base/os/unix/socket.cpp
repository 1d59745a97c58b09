#include "os/socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "os/unix/rawsys.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Path.h"

namespace os {

namespace {

plat::LogSrc vlog("SocketUtil");

// Set once the kernel refused the atomic close-on-exec flags; only ever
// change from false to true, so a race costs one failed call.
std::atomic<bool> noSockCloexec{false};
std::atomic<bool> noDupfdCloexec{false};
std::atomic<int> dscp{0};

std::once_flag limitsOnce;
// Written once under limitsOnce, read by children after fork.
bool limitsSaved;
struct rlimit savedLimits;

// Closes fd without disturbing errno.
void closeKeepErrno(int fd)
{
  int err = errno;
  close(fd);
  errno = err;
}

void prepareProcess()
{
  struct sigaction sa;
  if (sigaction(SIGPIPE, nullptr, &sa) == 0 && !(sa.sa_flags & SA_SIGINFO) &&
      sa.sa_handler == SIG_DFL) {
    sa.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &sa, nullptr);
  }
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) {
    vlog.error("%s", plat::SystemException("getrlimit(RLIMIT_NOFILE)", errno).str());
    return;
  }
  savedLimits = rl;
  limitsSaved = true;
  if (rl.rlim_cur > 1024) {
    rl.rlim_cur = 1024;
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0)
      vlog.error("%s", plat::SystemException("setrlimit(RLIMIT_NOFILE)", errno).str());
  }
}

void setIntOption(int fd, int level, int option, int value, const char* what)
{
  if (setsockopt(fd, level, option, &value, sizeof(value)) != 0)
    throw plat::SystemException(what, errno);
}

void markDscp(int fd)
{
  int value = dscp.load();
  if (value < 1)
    return;
  int family = socketFamily(fd);
  int tos = value * 4;
  int r;
  if (family == AF_INET)
    r = setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof(tos));
  else if (family == AF_INET6)
    r = setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &tos, sizeof(tos));
  else
    return;
  if (r != 0) {
    char text[128];
    plat::strError(errno, text, sizeof(text));
    vlog.info("setsockopt(DSCP, %d): %s", value, text);
  }
}

int growBuffer(int fd, int option, const char* name, int wanted)
{
  int current;
  socklen_t len = sizeof(current);
  if (getsockopt(fd, SOL_SOCKET, option, &current, &len) != 0)
    throw plat::SystemExceptionFmt(errno, "getsockopt(%s)", name);
  if (current >= wanted || current < 1)
    return current;
  for (;;) {
    if (setsockopt(fd, SOL_SOCKET, option, &wanted, sizeof(wanted)) == 0) {
      len = sizeof(current);
      if (getsockopt(fd, SOL_SOCKET, option, &current, &len) != 0)
        throw plat::SystemExceptionFmt(errno, "getsockopt(%s)", name);
      return current;
    }
    if (errno != ENOMEM && errno != ENOBUFS)
      throw plat::SystemExceptionFmt(errno, "setsockopt(%s)", name);
    wanted = wanted / 5 * 4;
    if (wanted <= current)
      return current;
  }
}

// Waits for a blocking connect that a signal interrupted to finish.
int finishInterruptedConnect(int fd)
{
  struct pollfd p = {fd, POLLOUT, 0};
  while (poll(&p, 1, -1) < 0) {
    if (errno != EINTR)
      return errno;
  }
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
    return errno;
  return err;
}

} // namespace

// --- Descriptor flags -------------------------------------------------------

bool trySetInheritable(int fd, bool inheritable, OnFailure onFailure)
{
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) {
    int wanted = inheritable ? (flags & ~FD_CLOEXEC) : (flags | FD_CLOEXEC);
    if (wanted == flags || fcntl(fd, F_SETFD, wanted) == 0)
      return true;
  }
  if (onFailure == OnFailure::kClose)
    closeKeepErrno(fd);
  return false;
}

void setInheritable(int fd, bool inheritable, OnFailure onFailure)
{
  if (!trySetInheritable(fd, inheritable, onFailure))
    throw plat::SystemException("setInheritable", errno);
}

bool getInheritable(int fd)
{
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0)
    throw plat::SystemException("getInheritable", errno);
  return !(flags & FD_CLOEXEC);
}

void setBlocking(int fd, bool blocking)
{
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) {
    int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (wanted == flags || fcntl(fd, F_SETFL, wanted) == 0)
      return;
  }
  throw plat::SystemException("setBlocking", errno);
}

// --- Duplicates -------------------------------------------------------------

int dupCloexec(int fd)
{
  if (!noDupfdCloexec.load()) {
    int r = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (r >= 0)
      return r;
    if (errno != EINVAL)
      throw plat::SystemException("fcntl(F_DUPFD_CLOEXEC)", errno);
    noDupfdCloexec = true;
  }
  int r = dup(fd);
  if (r < 0)
    throw plat::SystemException("dup", errno);
  setInheritable(r, false, OnFailure::kClose);
  return r;
}

bool tryDupTo(int oldFd, int newFd)
{
  if (oldFd == newFd) {
    errno = EINVAL;
    return false;
  }
  long r;
  do
    r = syscall(SYS_dup3, oldFd, newFd, O_CLOEXEC);
  while (r < 0 && errno == EINTR);
  if (r >= 0)
    return true;
  if (errno != ENOSYS)
    return false;
  do
    r = dup2(oldFd, newFd);
  while (r < 0 && errno == EINTR);
  if (r < 0)
    return false;
  return trySetInheritable(newFd, false, OnFailure::kClose);
}

void dupTo(int oldFd, int newFd)
{
  if (!tryDupTo(oldFd, newFd))
    throw plat::SystemException("dup2", errno);
}

void closeFd(int fd)
{
  // Not retried on EINTR: Linux has released the descriptor already.
  close(fd);
}

// --- Sockets and pipes ------------------------------------------------------

void initSocketProcessLimits()
{
  std::call_once(limitsOnce, prepareProcess);
}

int socketCloexec(int domain, int type, int protocol)
{
  initSocketProcessLimits();
  if (!noSockCloexec.load()) {
    int fd = socket(domain, type | SOCK_CLOEXEC, protocol);
    if (fd >= 0 || (errno != EPROTONOSUPPORT && errno != EINVAL))
      return fd;
  }
  int fd = socket(domain, type, protocol);
  if (fd < 0)
    return -1;
  // Only a retry that works shows the flag, not the arguments, was refused.
  noSockCloexec = true;
  if (!trySetInheritable(fd, false, OnFailure::kClose))
    return -1;
  return fd;
}

int bindSocket(const struct sockaddr* address, socklen_t length, int type, bool reusePort)
{
  int fd = socketCloexec(address->sa_family, type, 0);
  if (fd < 0)
    throw plat::SystemException("socket", errno);
  try {
    if (type == SOCK_STREAM) {
      setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt");
      if (reusePort)
        setIntOption(fd, SOL_SOCKET, SO_REUSEPORT, 1, "setsockopt");
    }
    if (address->sa_family == AF_INET6) {
      try {
        setIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 1, "setsockopt(IPV6_V6ONLY)");
      } catch (plat::SystemException& e) {
        vlog.info("%s", e.str());
      }
    }
    if (bind(fd, address, length) != 0)
      throw plat::SystemException("bind", errno);
    if (type == SOCK_DGRAM)
      markDscp(fd);
  } catch (...) {
    close(fd);
    throw;
  }
  return fd;
}

int connectSocket(const struct sockaddr* address, socklen_t length, int type, bool blocking)
{
  int fd = socketCloexec(address->sa_family, type, 0);
  if (fd < 0)
    throw plat::SystemException("socket", errno);
  try {
    if (!blocking)
      setBlocking(fd, false);
    if (connect(fd, address, length) != 0) {
      int err = errno;
      // After EINTR the connect goes on in the kernel; a repeated call would
      // only report EALREADY, so wait for its outcome instead.
      if (err == EINTR)
        err = blocking ? finishInterruptedConnect(fd) : EINPROGRESS;
      if (err != 0 && err != EINPROGRESS)
        throw plat::SystemException("connect", err);
    }
    if (type != SOCK_STREAM)
      markDscp(fd);
  } catch (...) {
    close(fd);
    throw;
  }
  return fd;
}

int acceptSocket(int listenFd)
{
  static std::atomic<bool> noAccept4{false};
  int fd = -1;
  if (!noAccept4.load()) {
    do
      fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOSYS)
      noAccept4 = true;
  }
  if (noAccept4.load()) {
    do
      fd = accept(listenFd, nullptr, nullptr);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0)
      setInheritable(fd, false, OnFailure::kClose);
  }
  if (fd < 0) {
    if (errno == EPERM || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED)
      return -1;
    throw plat::SystemException("accept", errno);
  }
  markDscp(fd);
  return fd;
}

void socketPair(int fds[2])
{
  if (!noSockCloexec.load()) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0)
      return;
    if (errno != EPROTONOSUPPORT && errno != EINVAL)
      throw plat::SystemException("socketpair", errno);
  }
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
    throw plat::SystemException("socketpair", errno);
  noSockCloexec = true;
  if (!trySetInheritable(fds[0], false) || !trySetInheritable(fds[1], false)) {
    int err = errno;
    close(fds[0]);
    close(fds[1]);
    throw plat::SystemException("setInheritable", err);
  }
}

void pipeCloexec(int fds[2])
{
  static std::atomic<bool> noPipe2{false};
  if (!noPipe2.load()) {
    if (pipe2(fds, O_CLOEXEC) == 0)
      return;
    if (errno != ENOSYS)
      throw plat::SystemException("pipe2", errno);
    noPipe2 = true;
  }
  if (pipe(fds) != 0)
    throw plat::SystemException("pipe", errno);
  if (!trySetInheritable(fds[0], false) || !trySetInheritable(fds[1], false)) {
    int err = errno;
    close(fds[0]);
    close(fds[1]);
    throw plat::SystemException("setInheritable", err);
  }
}

bool isSocketFd(int fd)
{
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

int socketType(int fd)
{
  int type;
  socklen_t len = sizeof(type);
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
    return -1;
  return type;
}

int socketFamily(int fd)
{
  struct sockaddr_storage addr;
  socklen_t len = sizeof(addr);
  if (getsockname(fd, (struct sockaddr*)&addr, &len) != 0)
    return -1;
  if (len < offsetof(struct sockaddr_storage, ss_family) + sizeof(addr.ss_family))
    return AF_UNIX;
  return addr.ss_family;
}

// --- Options ----------------------------------------------------------------

void setDscp(int value)
{
  dscp = value;
}

void setSocketDscp(int fd)
{
  if (fd >= 0)
    markDscp(fd);
}

int setReceiveBufferSize(int fd, int bytes)
{
  int size = growBuffer(fd, SO_RCVBUF, "SO_RCVBUF", bytes);
  vlog.info("Using receive buffer size of %d KiB", size / 1024);
  return size;
}

int setSendBufferSize(int fd, int bytes)
{
  int size = growBuffer(fd, SO_SNDBUF, "SO_SNDBUF", bytes);
  vlog.info("Using send buffer size of %d KiB", size / 1024);
  return size;
}

bool setPathMtuDiscovery(int fd, int family, bool on)
{
  bool v6 = family == AF_INET6;
  int level = v6 ? IPPROTO_IPV6 : IPPROTO_IP;
  int option = v6 ? IPV6_MTU_DISCOVER : IP_MTU_DISCOVER;
  int value = on ? IP_PMTUDISC_PROBE : IP_PMTUDISC_DONT;
  if (setsockopt(fd, level, option, &value, sizeof(value)) == 0)
    return true;
  if (on) {
    value = IP_PMTUDISC_DO;
    if (setsockopt(fd, level, option, &value, sizeof(value)) == 0)
      return true;
  }
  char text[128];
  plat::strError(errno, text, sizeof(text));
  if (v6)
    vlog.info("setsockopt(IPV6_MTU_DISCOVER,%s): %s", on ? "IPV6_PMTUDISC_DO" : "IPV6_PMTUDISC_DONT",
              text);
  else
    vlog.info("setsockopt(IP_MTU_DISCOVER,%s): %s", on ? "IP_PMTUDISC_DO" : "IP_PMTUDISC_DONT",
              text);
  return false;
}

// --- Child side of a launch -------------------------------------------------

void resetChildProcessState(bool restoreFileLimit)
{
  raw::setDefaultDisposition(SIGPIPE);
  if (restoreFileLimit && limitsSaved) {
    struct rlimit rl;
    if (raw::getLimit(RLIMIT_NOFILE, &rl) == 0) {
      rl.rlim_cur = savedLimits.rlim_cur;
      raw::setLimit(RLIMIT_NOFILE, &rl);
    }
  }
}

} // namespace os
