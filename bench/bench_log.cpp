// The cost of log lines: a disabled line against an empty loop, and a line
// routed to a destination that writes and flushes to /dev/null against a
// plain fprintf and fflush of the same line; prints the ratios.
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include <benchmark/benchmark.h>

#include "plat/Log.h"

#include "bench_util.h"

namespace {

FILE* devNull()
{
  static FILE* f = fopen("/dev/null", "we");
  return f;
}

// What a real stream destination does per line: lock, print, flush.
class NullDest : public plat::LogDest {
public:
  NullDest() : LogDest("null") {}
  void write(int, const char* src, const char* text) override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fprintf(devNull(), "%s: %s\n", src, text);
    fflush(devNull());
  }

private:
  std::mutex mutex_;
};

NullDest nullDest;
plat::LogSrc vlog("Bench");

void BM_emptyLoop(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(++i);
}

void BM_disabledLine(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state) {
    vlog.debug("value %d", ++i);
    benchmark::DoNotOptimize(i);
  }
}

void BM_plainFprintf(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state) {
    fprintf(devNull(), "%s: value %d\n", "Bench", ++i);
    fflush(devNull());
  }
}

void BM_enabledLine(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state)
    vlog.status("value %d", ++i);
}

BENCHMARK(BM_emptyLoop);
BENCHMARK(BM_disabledLine);
BENCHMARK(BM_plainFprintf);
BENCHMARK(BM_enabledLine);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  if (!devNull()) {
    perror("/dev/null");
    return 1;
  }
  plat::setLogOverride("Bench:null:30");
  plat::flushMemLog();
  if (!vlog.disabled(plat::LogSrc::kDebug) || vlog.disabled(plat::LogSrc::kStatus)) {
    fprintf(stderr, "routing not as expected\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& t = reporter.times;
  if (t["BM_emptyLoop"] > 0 && t["BM_disabledLine"] > 0)
    printf("disabled line: %.2f ns, %.2f ns over the empty loop (ratio %.2f)\n", t["BM_disabledLine"],
           t["BM_disabledLine"] - t["BM_emptyLoop"], t["BM_disabledLine"] / t["BM_emptyLoop"]);
  if (t["BM_plainFprintf"] > 0 && t["BM_enabledLine"] > 0)
    printf("enabled line: log/fprintf time ratio %.2f\n", t["BM_enabledLine"] / t["BM_plainFprintf"]);
  benchmark::Shutdown();
  return 0;
}
