// Its own program: the socket preparation runs once per process.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "os/socket.h"
#include "osTestUtil.h"

namespace {

rlim_t softLimit()
{
  struct rlimit rl;
  getrlimit(RLIMIT_NOFILE, &rl);
  return rl.rlim_cur;
}

bool sigpipeIgnored()
{
  struct sigaction sa;
  sigaction(SIGPIPE, nullptr, &sa);
  return sa.sa_handler == SIG_IGN;
}

} // namespace

TEST(SocketLimits, SoftLimitLoweredAndGivenBackToChildren)
{
  struct rlimit rl;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &rl));
  if (rl.rlim_max < 4096 && geteuid() != 0)
    GTEST_SKIP() << "hard open-file limit below 4096";
  int status = ostest::inChild([] {
    struct rlimit rl;
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = 4096;
    if (rl.rlim_max < 4096)
      rl.rlim_max = 4096;
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0)
      return 10;
    signal(SIGPIPE, SIG_DFL);
    int fd = os::socketCloexec(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
      return 11;
    if (softLimit() != 1024)
      return 12;
    if (!sigpipeIgnored())
      return 13;
    // A launched child asks for the old limit back.
    return ostest::inChild([] {
      os::resetChildProcessState(true);
      if (softLimit() != 4096)
        return 14;
      return sigpipeIgnored() ? 15 : 0;
    });
  });
  EXPECT_EQ(0, status);
}
