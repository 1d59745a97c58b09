// 200 MB of command output through the root admin helper to its client,
// against the same command read over a plain pipe. Needs root (the helper
// refuses anything else). The benchmark program is its own helper: started
// with "-helper", it runs the helper's mode.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "bench_util.h"
#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "plat/Log.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/SetupApp.h"

namespace {

using tlOrbSetup::AdminHelperClient;

const char* const kCommand = "head -c 200000000 /dev/zero";
constexpr long kBytes = 200000000;

class Counter : public AdminHelperClient::Callback, public AdminHelperClient::RunCmdCallback {
public:
  void helperLaunched() override { launched = true; }
  void helperLaunchFailed(const plat::Exception&) override { failed = true; }
  void result(int, const plat::Exception&) override { done = true; }
  void output(int length, const char*) override { bytes += length; }
  bool launched = false, failed = false, done = false;
  long bytes = 0;
};

void BM_ThroughHelper(benchmark::State& state)
{
  if (geteuid() != 0) {
    state.SkipWithError("the helper needs root");
    return;
  }
  os::AppLoop loop;
  Counter counter;
  AdminHelperClient client(&counter);
  client.launch();
  while (!counter.launched && !counter.failed)
    os::AppLoop::selectManager().processOnce(50);
  if (counter.failed) {
    state.SkipWithError("the helper did not start");
    return;
  }
  for (auto _ : state) {
    counter.done = false;
    counter.bytes = 0;
    client.runCmd({plat::String("/bin/sh"), plat::String("-c"), plat::String(kCommand)}, &counter);
    while (!counter.done)
      os::AppLoop::selectManager().processOnce(50);
    if (counter.bytes != kBytes) {
      state.SkipWithError("output lost");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_PlainPipe(benchmark::State& state)
{
  for (auto _ : state) {
    FILE* f = popen(kCommand, "re");
    static char buf[65536];
    long total = 0;
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
      total += (long)n;
    pclose(f);
    if (total != kBytes) {
      state.SkipWithError("short read");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

BENCHMARK(BM_ThroughHelper)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainPipe)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
  if (argc > 1 && strcmp(argv[1], "-helper") == 0) {
    try {
      return tlOrbSetup::adminHelperMain(argc, argv);
    } catch (plat::Exception& e) {
      fprintf(stderr, "%s\n", e.str());
      return 1;
    }
  }
  plat::setLogOverride("*:stderr:0");
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (double r = reporter.ratio("BM_ThroughHelper/iterations:3", "BM_PlainPipe/iterations:3"))
    printf("helper/plain pipe time ratio for 200 MB of output %.2f (goal <= 2.00: %s)\n", r,
           r <= 2.0 ? "met" : "missed");
  benchmark::Shutdown();
  return 0;
}
