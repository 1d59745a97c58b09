// A launched child shares the launcher's memory until it execs, so a libc
// function that a sanitizer replaces (sigaction, close, ...) would write the
// launcher's tables from the child. This program replaces some itself, as a
// sanitizer does, and counts the calls that come from another process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "os/AppLoop.h"
#include "os/LaunchProcess.h"
#include "os/SignalHandler.h"
#include "testutil.h"

namespace {

const long launcher = syscall(SYS_getpid);
std::atomic<int> childCalls{0};

template <class Fn> Fn next(const char* name, Fn)
{
  if (syscall(SYS_getpid) != launcher)
    childCalls++;
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int sigaction(int s, const struct sigaction* act, struct sigaction* old)
{
  return next("sigaction", &sigaction)(s, act, old);
}
extern "C" int sigprocmask(int how, const sigset_t* set, sigset_t* old)
{
  return next("sigprocmask", &sigprocmask)(how, set, old);
}
extern "C" int close(int fd)
{
  return next("close", &close)(fd);
}

namespace {

struct Ignore : os::SignalHandler::Callback {
  void handle(int) override {}
};

TEST(LaunchChild, CallsNoReplaceableLibcFunction)
{
  os::AppLoop loop;
  Ignore ignore;
  os::SignalHandler::instance().addHandler(SIGCHLD, &ignore, true);
  for (int closeFrom : {-1, 3}) {
    os::LaunchProcess::Cfg cfg;
    cfg.args = {plat::String("/bin/true")};
    cfg.closeFdsFrom = closeFrom;
    os::LaunchProcess child(cfg);
    int out = -1;
    int pipe = child.addPipe(0, out);
    child.start();
    close(pipe);
    int code = -1;
    EXPECT_TRUE(child.wait(&code, 30000));
    EXPECT_EQ(0, code);
  }
  os::SignalHandler::instance().addHandler(SIGCHLD, &ignore, false);
  EXPECT_EQ(0, childCalls.load());
}

} // namespace
