// "state" round trips over the automation channel (the sample tree on the
// fake back-end) against a bare echo of each line over the same kind of
// Unix-socket connection, both served by this process's loop and driven by
// the test driver. Goal: at most 2x.
#include <unistd.h>

#include <string>

#include "bench_util.h"
#include "io/FdSelectManager.h"
#include "mui/MuiComms.h"
#include "muiDriver.h"
#include "muiFake.h"
#include "os/AppInfo.h"
#include "os/NamedPipeListener.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace {

io::FdSelectManager* manager;
std::string echoPath;

// Answers each line with the line and an empty line.
struct Echo : io::IoAcceptor, io::IoHandler {
  void ioAccept(io::IoPtr io) override { io.release()->setHandler(this); }
  void writable(io::Io*) override {}
  void dataAvailable(io::Io* io) override
  {
    for (plat::DString line;; io->out()->flush()) {
      io->in()->setCheckpoint();
      io->in()->readLine(line, mui::MuiComms::kMaxLine, nullptr, true);
      line.append("\n\n");
      io->out()->writeBytes(line.get(), line.length());
    }
  }
};

void roundTrips(benchmark::State& state, const std::string& path)
{
  tltest::MuiDriver driver(path);
  driver.pump = [] { manager->processOnce(100); };
  for (auto _ : state)
    benchmark::DoNotOptimize(driver.command("state dlg.l.e"));
}

void BM_MuiCommsState(benchmark::State& state) { roundTrips(state, mui::MuiComms::instance()->path()); }
void BM_BareEcho(benchmark::State& state) { roundTrips(state, echoPath); }
BENCHMARK(BM_MuiCommsState);
BENCHMARK(BM_BareEcho);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  io::FdSelectManager loop;
  manager = &loop;
  os::AppInfo::set(plat::format("benchmuicomms%d", (int)getpid()).str(), "Tessaly", "zarn", nullptr, nullptr);
  tltest::SampleTree tree;
  std::unique_ptr<mui::MuiComms> comms = mui::MuiComms::start(nullptr, -1, -1);
  mui::MuiComms::instance()->setListening(true);
  Echo echo;
  os::NamedPipeListener::Config config;
  config.path = plat::format("%secho", mui::MuiComms::instance()->path());
  echoPath = config.path.str();
  os::NamedPipeListener listener(config);
  listener.setAcceptor(&echo);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  comms.reset();
  for (int pass = 0; pass < 5; pass++) // the closed connections go
    loop.processOnce(10);
  tlbench::printRatio(reporter, "\"state\" round trip: channel / bare echo", "BM_MuiCommsState", "BM_BareEcho", 2.0);
  return 0;
}
