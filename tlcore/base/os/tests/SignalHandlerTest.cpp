// Signals as loop callbacks: real signals from this process and from a
// child, the dispatch order, removal during a dispatch, the installed
// dispositions (/proc/self/status), the child's reset around fork, the
// names against Python's, and a signal after shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "os/SignalHandler.h"
#include "plat/Shutdown.h"
#include "plat/Time.h"
#include "testutil.h"

namespace {

using Calls = std::vector<std::string>;

class Recorder : public os::SignalHandler::Callback {
public:
  Recorder(const char* name, Calls& calls) : name_(name), calls_(&calls) {}
  void handle(int signal) override
  {
    calls_->push_back(name_ + ":" + os::signalName(signal));
    if (then)
      then();
  }
  std::function<void()> then;

private:
  std::string name_;
  Calls* calls_;
};

os::SignalHandler& handler()
{
  os::AppLoop::selectManager(); // the loop thread's manager, made once
  return os::SignalHandler::instance();
}

// Runs passes until n callbacks came (or a generous limit passed), then
// one more pass to show that nothing else follows.
void pumpUntil(const Calls& calls, size_t n)
{
  plat::Time end = plat::getMonoTime() + 10 * plat::kTicksPerSecond;
  while (calls.size() < n && plat::getMonoTime() < end)
    os::AppLoop::selectManager().processOnce(100);
  os::AppLoop::selectManager().processOnce(0);
}

// The bit of a signal in one of the masks of /proc/self/status.
bool maskHas(const char* field, int signal)
{
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, strlen(field), field) == 0 && line[strlen(field)] == ':')
      return (std::stoull(line.substr(strlen(field) + 1), nullptr, 16) >> (signal - 1)) & 1;
  }
  ADD_FAILURE() << "no " << field;
  return false;
}

TEST(SignalHandler, SignalsBeforeTheLoopRunInArrivalOrder)
{
  Calls calls;
  Recorder a("a", calls);
  handler().addHandler(SIGUSR1, &a, true);
  handler().addHandler(SIGUSR2, &a, true);
  kill(getpid(), SIGUSR2);
  kill(getpid(), SIGUSR1);
  // From another process as well.
  EXPECT_EQ(0, tltest::inChild([] { return kill(getppid(), SIGUSR2) == 0 ? 0 : 1; }));
  pumpUntil(calls, 3);
  EXPECT_EQ((Calls{"a:SIGUSR2", "a:SIGUSR1", "a:SIGUSR2"}), calls);
  handler().addHandler(SIGUSR1, &a, false);
  handler().addHandler(SIGUSR2, &a, false);
}

TEST(SignalHandler, LatestRegistrationFirstAndRemovalDuringDispatch)
{
  Calls calls;
  Recorder a("a", calls), b("b", calls), c("c", calls);
  handler().addHandler(SIGUSR1, &a, true);
  handler().addHandler(SIGUSR1, &b, true);
  handler().addHandler(SIGUSR1, &a, true); // twice: runs twice
  kill(getpid(), SIGUSR1);
  pumpUntil(calls, 3);
  EXPECT_EQ((Calls{"a:SIGUSR1", "b:SIGUSR1", "a:SIGUSR1"}), calls);

  // c runs first and removes b, which is then not called in this dispatch.
  handler().addHandler(SIGUSR1, &c, true);
  c.then = [&] { handler().addHandler(SIGUSR1, &b, false); };
  calls.clear();
  kill(getpid(), SIGUSR1);
  pumpUntil(calls, 3);
  EXPECT_EQ((Calls{"c:SIGUSR1", "a:SIGUSR1", "a:SIGUSR1"}), calls);
  handler().addHandler(SIGUSR1, &a, false);
  handler().addHandler(SIGUSR1, &c, false);
}

TEST(SignalHandler, DispositionFollowsTheRegistrations)
{
  Calls calls;
  Recorder a("a", calls), b("b", calls);
  EXPECT_FALSE(maskHas("SigCgt", SIGUSR1));
  handler().addHandler(SIGUSR1, &a, true);
  handler().addHandler(SIGUSR1, &b, true);
  EXPECT_TRUE(maskHas("SigCgt", SIGUSR1));
  handler().addHandler(SIGUSR1, &a, false);
  EXPECT_TRUE(maskHas("SigCgt", SIGUSR1));
  handler().addHandler(SIGUSR1, &b, false);
  EXPECT_FALSE(maskHas("SigCgt", SIGUSR1));
  // Not SA_RESTART.
  handler().addHandler(SIGUSR1, &a, true);
  struct sigaction sa;
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_EQ(0, sa.sa_flags & SA_RESTART);
  handler().addHandler(SIGUSR1, &a, false);
}

TEST(SignalHandler, BlockedAroundForkAndDefaultInTheChild)
{
  Calls calls;
  Recorder a("a", calls);
  const int kSignals[] = {SIGINT, SIGTERM, SIGCHLD};
  for (int s : kSignals)
    handler().addHandler(s, &a, true);
  os::SignalBlocker blocker;
  handler().blockSignals(blocker);
  EXPECT_EQ(SIGCHLD, blocker.highest);
  for (int s : kSignals)
    EXPECT_TRUE(maskHas("SigBlk", s)) << s;
  int rc = tltest::inChild([&] {
    os::SignalHandler::resetInChild(blocker);
    for (int s : kSignals)
      if (maskHas("SigCgt", s))
        return s;
    return 0;
  });
  EXPECT_EQ(0, rc);
  os::SignalHandler::unblockSignals(blocker);
  for (int s : kSignals) {
    EXPECT_FALSE(maskHas("SigBlk", s)) << s;
    handler().addHandler(s, &a, false);
  }
  EXPECT_TRUE(calls.empty());
}

TEST(SignalHandler, NamesAsPythonHasThem)
{
  std::vector<std::string> input;
  for (int i = 0; i <= 32; i++)
    input.push_back(std::to_string(i));
  std::vector<std::string> python = tltest::commandLines("/usr/bin/python3 -c 'import signal\n"
                                                         "for n in range(33):\n"
                                                         "    try: print(signal.Signals(n).name)\n"
                                                         "    except ValueError: print(\"null\")'");
  ASSERT_EQ(33u, python.size());
  for (int i = 0; i <= 32; i++) {
    const char* name = os::signalName(i);
    EXPECT_EQ(python[i], name ? name : "null") << i;
  }
}

// A signal that comes after the shutdown step closed the pipe is dropped:
// it must not land in a descriptor that now means something else.
TEST(SignalHandler, SignalAfterShutdownTouchesNoReusedDescriptor)
{
  int rc = tltest::inChild([] {
    Calls calls;
    Recorder a("a", calls);
    handler().addHandler(SIGUSR1, &a, true);
    plat::shutdownSingletons(); // the process-level handler stays installed
    int fds[2];
    if (pipe(fds) != 0 || fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0)
      return 1;
    raise(SIGUSR1);
    char byte;
    if (read(fds[0], &byte, 1) == 1)
      return 2;
    return calls.empty() ? 0 : 3;
  });
  EXPECT_EQ(0, rc);
}

} // namespace
