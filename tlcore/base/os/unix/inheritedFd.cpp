#include "os/inheritedFd.h"

#include <sys/socket.h>

#include "io/TcpIo.h"
#include "os/UnixIo.h"
#include "os/socket.h"

namespace os {

io::IoPtr wrapInheritedFd(int fd)
{
  setInheritable(fd, false);
  if (socketType(fd) == SOCK_STREAM) {
    int family = socketFamily(fd);
    if (family == AF_INET || family == AF_INET6)
      return io::IoPtr(new io::TcpIo(fd, io::TcpIoFlags::kOwnFd));
    if (family == AF_UNIX)
      return io::IoPtr(new UnixIo(nullptr, fd));
  }
  return io::IoPtr(new io::FdIo(fd, io::FdIoFlags::kOwnFd));
}

} // namespace os
