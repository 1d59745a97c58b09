// Wrapping descriptors handed down by a parent: the kind of descriptor
// picks the connection class, and the descriptor stops being inheritable.
#include "os/inheritedFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "io/TcpIo.h"
#include "os/UnixIo.h"

namespace {

// A connected loopback TCP socket, made inheritable; other ends in *extra.
int tcpSocket(std::vector<int>* extra)
{
  int l = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  bind(l, (struct sockaddr*)&a, sizeof(a));
  listen(l, 1);
  getsockname(l, (struct sockaddr*)&a, &len);
  int c = socket(AF_INET, SOCK_STREAM, 0);
  connect(c, (struct sockaddr*)&a, sizeof(a));
  extra->push_back(l);
  extra->push_back(accept(l, nullptr, nullptr));
  return c;
}

TEST(InheritedFdTest, KindOfDescriptorPicksTheConnection)
{
  struct Case {
    const char* name;
    std::function<int(std::vector<int>*)> make;
    const char* kind;
  } cases[] = {
      {"tcp", tcpSocket, "tcp"},
      {"unix stream",
       [](std::vector<int>* extra) {
         int sv[2];
         socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
         extra->push_back(sv[1]);
         return sv[0];
       },
       "unix"},
      {"pipe",
       [](std::vector<int>* extra) {
         int p[2];
         EXPECT_EQ(0, pipe(p));
         extra->push_back(p[1]);
         return p[0];
       },
       "fd"},
      {"udp", [](std::vector<int>*) { return socket(AF_INET, SOCK_DGRAM, 0); }, "fd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> extra;
    int fd = c.make(&extra);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, fcntl(fd, F_GETFD) & FD_CLOEXEC);
    io::IoPtr io = os::wrapInheritedFd(fd);
    io.setOnReset(io::Shutdown::kDrop);
    EXPECT_NE(0, fcntl(fd, F_GETFD) & FD_CLOEXEC);
    const char* kind = dynamic_cast<io::TcpIo*>(io.get())    ? "tcp"
                       : dynamic_cast<os::UnixIo*>(io.get()) ? "unix"
                                                             : "fd";
    EXPECT_STREQ(c.kind, kind);
    if (dynamic_cast<io::TcpIo*>(io.get())) {
      EXPECT_EQ(1u, io->flags().count(plat::String("secureTransport")));
    }
    io.reset();
    EXPECT_EQ(-1, fcntl(fd, F_GETFD)) << "the connection owns the descriptor";
    for (int e : extra)
      close(e);
  }
}

TEST(InheritedFdTest, ClosedDescriptorIsRefused)
{
  EXPECT_THROW(os::wrapInheritedFd(1000), plat::SystemException);
}

} // namespace
