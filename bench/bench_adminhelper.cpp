// 200 MB of command output through the root admin helper to its client,
// against the same command read over a plain pipe by the same loop and
// handed to the same callback in pieces of at most 4,096 bytes (what the
// client's user gets), so the ratio is the price of the helper's hop. Needs
// root (the helper refuses anything else). The benchmark program is its own
// helper: started with "-helper", it runs the helper's mode. Goal: a time
// ratio of 2 at most, on the medians of interleaved repetitions.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "bench_util.h"
#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "os/AppLoop.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "tlOrbSetup/AdminHelper.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/AdminHelperMsgs.h"
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

// The pipe's reader: what is available goes to the callback in pieces of
// at most 4,096 bytes, as the helper's messages would bring it.
class PipeReader : public io::IoHandler {
public:
  explicit PipeReader(Counter& counter) : counter_(counter) {}
  void dataAvailable(io::Io* io) override
  {
    rdr::InStream& in = *io->in();
    try {
      while (in.nUnread() > 0 || in.check(false, 1)) {
        int n = std::min(in.nUnread(), tlOrbSetup::adminmsg::kMaxOutputChunk);
        counter_.output(n, (const char*)in.getPtr());
        in.consume(n);
        in.setCheckpoint();
      }
    } catch (rdr::EndOfStream&) {
      counter_.done = true;
      io->setHandler(nullptr);
    }
  }
  void writable(io::Io*) override {}

private:
  Counter& counter_;
};

void BM_PlainPipe(benchmark::State& state)
{
  os::AppLoop loop;
  Counter counter;
  PipeReader reader(counter);
  for (auto _ : state) {
    counter.done = false;
    counter.bytes = 0;
    FILE* f = popen(kCommand, "re");
    {
      // The same input buffer as the helper's channel.
      io::IoPtr pipe(new io::FdIo(fileno(f), io::FdIoFlags::kNone,
                                  tlOrbSetup::adminmsg::kMaxMsgSize),
                     io::Shutdown::kDrop);
      pipe->setHandler(&reader);
      while (!counter.done)
        os::AppLoop::selectManager().processOnce(50);
    }
    os::AppLoop::selectManager().processOnce(0);
    pclose(f);
    if (counter.bytes != kBytes) {
      state.SkipWithError("short read");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

BENCHMARK(BM_ThroughHelper)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(7);
BENCHMARK(BM_PlainPipe)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(7);

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
  tlbench::initialize(argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "200 MB of command output, helper/plain pipe",
                      "BM_ThroughHelper/iterations:2/repeats:7/real_time",
                      "BM_PlainPipe/iterations:2/repeats:7/real_time", 2.0);
  benchmark::Shutdown();
  return 0;
}
