// Repainting a hosting window: a 560x460 window of widgets invalidated
// whole and flushed until the put reached the server, against the bare put
// of the same back buffer, on Xvfb at depths 24 and 16, with MIT-SHM and
// without (each configuration in a child process with its own server, as
// the display is opened once per process).
#include <poll.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_util.h"
#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "tx/TXUtil.h"
#include "tx/TXWParent.h"
#include "txdemo.h"
#include "xvfb.h"

namespace {

constexpr int kWidth = 560, kHeight = 460;
tx::TXWParent* window;
tltest::DemoWidgets* demo;

void BM_Repaint(benchmark::State& state)
{
  for (auto _ : state) {
    demo->canvas.repaint();
    window->flushDamage();
    XSync(tx::display(), False);
  }
}
BENCHMARK(BM_Repaint);

void BM_BarePut(benchmark::State& state)
{
  tx::TXImage* back = window->backBuffer();
  for (auto _ : state) {
    back->put(window->window(), back->rect);
    XSync(tx::display(), False);
  }
}
BENCHMARK(BM_BarePut);

int runOne(int argc, char** argv, const tltest::XvfbOptions& options)
{
  tltest::Xvfb server(options);
  os::AppInfo::set("tlbench", "Tessaly", "tlbench", nullptr, nullptr);
  loc::Localize::instance()->init({});
  // The windows' timers run on the loop's manager.
  os::AppLoop::selectManager();
  tx::openDisplay(server.display().c_str());
  demo = new tltest::DemoWidgets(kWidth, kHeight);
  window = new tx::TXWParent(&demo->canvas, nullptr, false);
  window->resize(kWidth, kHeight);
  window->setVisible(true);
  while (!window->backBuffer()) {
    tx::processEvents();
    pollfd p = {ConnectionNumber(tx::display()), POLLIN, 0};
    poll(&p, 1, 20);
  }
  // Measured as the buffer lives after its first 200 ms: window-sized, in
  // shared memory when the server allows.
  while (window->backBuffer()->rect.height() < kHeight) {
    tx::processEvents();
    os::AppLoop::selectManager().processOnce(20);
  }
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  char what[96];
  snprintf(what, sizeof(what), "560x460 widget repaint / bare put, depth %d, %s", options.depth,
           window->backBuffer()->isShared() ? "shared" : "plain");
  tlbench::printRatio(reporter, what, "BM_Repaint", "BM_BarePut", 3.0);
  fflush(stdout);
  benchmark::Shutdown();
  delete window;
  delete demo;
  return 0;
}

} // namespace

int main(int argc, char** argv)
{
  for (int depth : {24, 16})
    for (bool shm : {true, false}) {
      fflush(stdout);
      pid_t pid = fork();
      if (pid == 0) {
        tltest::XvfbOptions o;
        o.depth = depth;
        o.shm = shm;
        _exit(runOne(argc, argv, o));
      }
      int status = 0;
      waitpid(pid, &status, 0);
    }
  return 0;
}
