// One pass of the select loop with N idle handlers against a bare select
// over the same descriptors (sets rebuilt each time, as any loop must). The
// difference is the loop's own cost: interest lists, the timer check and the
// empty dispatch.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "io/FdSelectManager.h"
#include "os/socket.h"

#include "bench_util.h"

namespace {

const int kSizes[] = {10, 100, 1000};

// N descriptors on one idle pipe: duplicates of its read end.
struct IdleFds {
  explicit IdleFds(int n)
  {
    os::pipeCloexec(pipeFds);
    for (int i = 0; i < n; i++)
      fds.push_back(os::dupCloexec(pipeFds[0]));
  }
  ~IdleFds()
  {
    for (int fd : fds)
      close(fd);
    close(pipeFds[0]);
    close(pipeFds[1]);
  }
  int pipeFds[2];
  std::vector<int> fds;
};

class Idle : public io::FdHandler {
public:
  explicit Idle(int fd) : FdHandler(fd, false) {}
  void readable() override { called++; }
  int called = 0;
};

void BM_LoopPass(benchmark::State& state)
{
  IdleFds idle((int)state.range(0));
  io::FdSelectManager mgr;
  std::vector<Idle*> handlers;
  for (int fd : idle.fds) {
    handlers.push_back(new Idle(fd));
    mgr.setRegistered(handlers.back(), true);
    mgr.setEvents(handlers.back(), io::FdEvents::kRead);
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(mgr.processOnce(0));
  for (Idle* h : handlers) {
    if (h->called)
      state.SkipWithError("an idle handler was called");
    mgr.setRegistered(h, false);
    delete h;
  }
}

void BM_BareSelect(benchmark::State& state)
{
  IdleFds idle((int)state.range(0));
  for (auto _ : state) {
    fd_set read;
    FD_ZERO(&read);
    int nfds = 0;
    for (int fd : idle.fds) {
      FD_SET(fd, &read);
      if (fd + 1 > nfds)
        nfds = fd + 1;
    }
    struct timeval tv = {0, 0};
    benchmark::DoNotOptimize(select(nfds, &read, nullptr, nullptr, &tv));
  }
}

BENCHMARK(BM_LoopPass)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_BareSelect)->Arg(10)->Arg(100)->Arg(1000);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  // Keeps 1000 duplicates within the select set.
  os::initSocketProcessLimits();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int n : kSizes) {
    std::string arg = std::to_string(n);
    if (double r = reporter.ratio("BM_LoopPass/" + arg, "BM_BareSelect/" + arg))
      printf("%5d idle handlers: loop pass/bare select time ratio %.2f\n", n, r);
  }
  benchmark::Shutdown();
  return 0;
}
