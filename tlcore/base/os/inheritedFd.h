// Taking over a descriptor handed down by the parent process (the child
// side of a launch pipe, or "-dummy" standing for standard input).
#pragma once

#include "io/Io.h"

namespace os {

// Makes fd close-on-exec (throwing plat::SystemException "setInheritable")
// and wraps it in the connection that fits it: an io::TcpIo for an IPv4 or
// IPv6 stream socket, an os::UnixIo ("server", no path) for a Unix stream
// socket, a plain io::FdIo for anything else (a pipe, a datagram socket).
// The connection owns fd. Loop thread.
io::IoPtr wrapInheritedFd(int fd);

} // namespace os
