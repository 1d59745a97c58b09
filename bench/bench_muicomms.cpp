// "state" round trips over the automation channel (the sample tree on the
// fake back-end) against a bare echo of each line over the same kind of
// Unix-socket connection, both served by this process's loop and driven by
// the test driver. Goal: at most 2x.
#include <unistd.h>

#include <memory>
#include <string>

#include "bench_util.h"
#include "io/FdSelectManager.h"
#include "mui/MuiComms.h"
#include "muiDriver.h"
#include "muiFake.h"
#include "os/AppInfo.h"
#include "os/NamedPipeListener.h"
#include "plat/DString.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace {

io::FdSelectManager* manager;
std::string echoPath;

// Answers each line with the line and an empty line.
class Echo : public io::IoAcceptor, public io::IoHandler {
public:
  void ioAccept(io::Io* io) override { io->setHandler(this); }
  void dataAvailable(io::Io* io) override
  {
    try {
      for (;;) {
        io->in->setCheckpoint();
        io->in->readLine(line_, mui::MuiComms::kMaxLine, nullptr, true);
        io->out->writeBytes(line_.get(), line_.length());
        io->out->writeBytes("\n\n", 2);
        io->out->flush();
      }
    } catch (rdr::EndOfStream&) {
      io->shutdown(false, false);
    }
  }
  void writable(io::Io*) override {}

private:
  plat::DString line_;
};

void roundTrips(benchmark::State& state, const std::string& path)
{
  tltest::MuiDriver driver(path);
  driver.pump = [] { manager->processOnce(100); };
  for (auto _ : state)
    benchmark::DoNotOptimize(driver.command("state dlg.l.e"));
}

void BM_MuiCommsState(benchmark::State& state)
{
  roundTrips(state, mui::MuiComms::instance()->path());
}

void BM_BareEcho(benchmark::State& state)
{
  roundTrips(state, echoPath);
}

BENCHMARK(BM_MuiCommsState);
BENCHMARK(BM_BareEcho);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  io::FdSelectManager loop;
  manager = &loop;
  os::AppInfo::set(plat::format("benchmuicomms%d", (int)getpid()).str(), "Tessaly", "zarn", nullptr, nullptr);
  tltest::SampleTree tree;
  mui::MuiComms::start(nullptr, -1, -1);
  mui::MuiComms::instance()->setListening(true);
  Echo echo;
  os::NamedPipeListener::Config config;
  config.path = plat::String(std::string(mui::MuiComms::instance()->path()).append("echo").c_str());
  echoPath = config.path.str();
  os::NamedPipeListener listener(config);
  listener.setAcceptor(&echo);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  mui::MuiComms::stop();
  // The closed connections go.
  for (int i = 0; i < 5; i++)
    loop.processOnce(10);
  tlbench::printRatio(reporter, "\"state\" round trip: channel / bare echo", "BM_MuiCommsState", "BM_BareEcho", 2.0);
  return 0;
}
