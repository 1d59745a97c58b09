// Signal to callback: a signal this process sends itself, turned into a
// callback by os::SignalHandler on the application loop's select manager,
// against a bare self-pipe select loop doing the same (handler writes one
// byte, select wakes, the byte is read and a callback is called).
#include <benchmark/benchmark.h>
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "os/SignalHandler.h"
#include "os/socket.h"

#include "bench_util.h"

namespace {

class Count : public os::SignalHandler::Callback {
public:
  void handle(int) override { n++; }
  long n = 0;
};

void BM_SignalHandler(benchmark::State& state)
{
  io::FdSelectManager& manager = os::AppLoop::selectManager();
  Count count;
  os::SignalHandler::instance().addHandler(SIGUSR1, &count, true);
  for (auto _ : state) {
    long before = count.n;
    kill(getpid(), SIGUSR1);
    while (count.n == before)
      manager.processOnce(-1);
  }
  os::SignalHandler::instance().addHandler(SIGUSR1, &count, false);
}

int selfPipe[2];

extern "C" void writeSignalByte(int signal)
{
  int saved = errno;
  unsigned char byte = (unsigned char)signal;
  ssize_t r = write(selfPipe[1], &byte, 1);
  (void)r;
  errno = saved;
}

void BM_BareSelfPipe(benchmark::State& state)
{
  os::pipeCloexec(selfPipe);
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = writeSignalByte;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR2, &sa, nullptr);
  Count count;
  os::SignalHandler::Callback* callback = &count;
  benchmark::DoNotOptimize(callback);
  for (auto _ : state) {
    kill(getpid(), SIGUSR2);
    for (;;) {
      fd_set read;
      FD_ZERO(&read);
      FD_SET(selfPipe[0], &read);
      if (select(selfPipe[0] + 1, &read, nullptr, nullptr, nullptr) > 0) {
        unsigned char byte;
        if (::read(selfPipe[0], &byte, 1) == 1) {
          callback->handle(byte);
          break;
        }
      }
    }
  }
  signal(SIGUSR2, SIG_DFL);
  close(selfPipe[0]);
  close(selfPipe[1]);
}

BENCHMARK(BM_SignalHandler);
BENCHMARK(BM_BareSelfPipe);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "signal to callback, handler/bare self-pipe", "BM_SignalHandler",
                      "BM_BareSelfPipe", 1.5);
  benchmark::Shutdown();
  return 0;
}
