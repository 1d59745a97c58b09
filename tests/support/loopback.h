// Loopback probes shared by the tests and the benchmarks (plain POSIX, no
// test framework): a free port for a peer program to listen on, and whether
// something listens on a port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tlnet {

inline sockaddr_in loopbackAddress(int port)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port of 127.0.0.1 free a moment ago, for a peer program to listen on.
inline int freePort()
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopbackAddress(0);
  socklen_t len = sizeof(a);
  int port = 0;
  if (bind(fd, (sockaddr*)&a, sizeof(a)) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

// Whether something accepts connections on 127.0.0.1:port.
inline bool listening(int port)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopbackAddress(port);
  bool ok = connect(fd, (sockaddr*)&a, sizeof(a)) == 0;
  close(fd);
  return ok;
}

} // namespace tlnet
