#include "os/socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "osTestUtil.h"
#include "plat/Exception.h"

namespace {

bool hasCloexec(int fd)
{
  int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC);
}

// A listening TCP socket on 127.0.0.1 with a free port.
int listenLoopback(struct sockaddr_in& addr)
{
  addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = os::bindSocket((struct sockaddr*)&addr, sizeof(addr), SOCK_STREAM, false);
  socklen_t len = sizeof(addr);
  EXPECT_EQ(0, getsockname(fd, (struct sockaddr*)&addr, &len));
  EXPECT_EQ(0, listen(fd, 4));
  return fd;
}

} // namespace

TEST(Socket, EveryMadeDescriptorIsCloseOnExec)
{
  struct sockaddr_in addr;
  int listener = listenLoopback(addr);
  os::setBlocking(listener, false);
  EXPECT_EQ(-1, os::acceptSocket(listener)); // nothing pending

  struct Maker {
    const char* what;
    std::function<std::vector<int>()> make;
  } makers[] = {
      {"socketCloexec", [] { return std::vector<int>{os::socketCloexec(AF_INET, SOCK_DGRAM, 0)}; }},
      {"socketPair",
       [] {
         int fds[2];
         os::socketPair(fds);
         return std::vector<int>{fds[0], fds[1]};
       }},
      {"pipeCloexec",
       [] {
         int fds[2];
         os::pipeCloexec(fds);
         return std::vector<int>{fds[0], fds[1]};
       }},
      {"dupCloexec", [] { return std::vector<int>{os::dupCloexec(0)}; }},
      {"tryDupTo",
       [] {
         EXPECT_TRUE(os::tryDupTo(0, 900));
         return std::vector<int>{900};
       }},
      {"connectSocket and acceptSocket",
       [&addr, listener] {
         int client = os::connectSocket((struct sockaddr*)&addr, sizeof(addr), SOCK_STREAM, false);
         int accepted = -1;
         for (int i = 0; i < 5000 && accepted < 0; i++) {
           accepted = os::acceptSocket(listener);
           if (accepted < 0)
             usleep(1000);
         }
         return std::vector<int>{client, accepted};
       }},
      // Last: the row above still needs it.
      {"listener", [listener] { return std::vector<int>{listener}; }},
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.what);
    for (int fd : m.make()) {
      ASSERT_GE(fd, 0);
      EXPECT_TRUE(hasCloexec(fd));
      EXPECT_FALSE(os::getInheritable(fd));
      os::setInheritable(fd, true);
      EXPECT_FALSE(hasCloexec(fd));
      EXPECT_TRUE(os::getInheritable(fd));
      os::closeFd(fd);
    }
  }
}

TEST(Socket, DupToRefusals)
{
  errno = 0;
  EXPECT_FALSE(os::tryDupTo(5, 5));
  EXPECT_EQ(EINVAL, errno);
  int fds[2];
  os::pipeCloexec(fds);
  close(fds[1]);
  EXPECT_FALSE(os::tryDupTo(fds[1], 901));
  EXPECT_THROW(os::dupTo(fds[1], 901), plat::SystemException);
  close(fds[0]);
}

TEST(Socket, SetBlockingChangesOnlyNonBlocking)
{
  ostest::TempDir dir;
  std::string path = dir.write("log", "");
  struct Case {
    int openFlags;
    bool blocking;
    int expected; // status flags besides the access mode
  } cases[] = {
      {O_WRONLY | O_APPEND, false, O_APPEND | O_NONBLOCK},
      {O_WRONLY | O_APPEND | O_NONBLOCK, true, O_APPEND},
      {O_WRONLY | O_APPEND, true, O_APPEND},
      {O_WRONLY | O_NONBLOCK, false, O_NONBLOCK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.openFlags);
    int fd = open(path.c_str(), c.openFlags | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    os::setBlocking(fd, c.blocking);
    EXPECT_EQ(c.expected, fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK));
    close(fd);
  }
  EXPECT_THROW(os::setBlocking(-1, true), plat::SystemException);
}

TEST(Socket, DscpMarksDatagramSockets)
{
  struct Case {
    int dscp;
    int expectedTos;
  } cases[] = {{46, 184}, {0, 0}};
  for (const Case& c : cases) {
    os::setDscp(c.dscp);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = os::bindSocket((struct sockaddr*)&addr, sizeof(addr), SOCK_DGRAM, false);
    int tos = -1;
    socklen_t len = sizeof(tos);
    ASSERT_EQ(0, getsockopt(fd, IPPROTO_IP, IP_TOS, &tos, &len));
    EXPECT_EQ(c.expectedTos, tos);
    close(fd);
  }
}
