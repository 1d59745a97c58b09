// Time to a connected, proven launch pipe: the elevated route with
// `ElevateCmd` "/usr/bin/env" (the child connects back over a named pipe
// and checks the challenge) against the direct route (a socket pair), from
// an unprivileged user (root skips elevation: the benchmark drops to the
// test user "tlunpriv" when it exists). The child is this program again.
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "bench_util.h"
#include "io/FdIo.h"
#include "os/AppInfo.h"
#include "os/AppLoop.h"
#include "os/LaunchPipe.h"
#include "os/elevate.h"
#include "os/program.h"
#include "plat/Configuration.h"

namespace {

const char kChildFlag[] = "--launch-pipe-child";

int runChild(char** argv)
{
  os::AppLoop::selectManager();
  char** cursor = argv;
  os::LaunchedProcessPipe::Args args;
  io::IoPtr io = os::LaunchedProcessPipe::connect(args, cursor, 0);
  int fd = dynamic_cast<io::FdIo*>(io.get())->getFd();
  return write(fd, "hello", 5) == 5 ? 0 : 1;
}

void connectOnce(bool elevate)
{
  os::LaunchProcess::Cfg cfg;
  cfg.args.emplace_back(os::getOwnExecutable());
  cfg.args.emplace_back(kChildFlag);
  cfg.elevate = elevate;
  os::LaunchWithPipe launcher(cfg);
  io::IoPtr io = launcher.startChild();
  int fd = dynamic_cast<io::FdIo*>(io.get())->getFd();
  char buf[5];
  size_t got = 0;
  while (got < sizeof(buf)) {
    struct pollfd pfd = {fd, POLLIN, 0};
    poll(&pfd, 1, 10000);
    ssize_t n = read(fd, buf + got, sizeof(buf) - got);
    if (n == 0)
      abort();
    if (n > 0)
      got += (size_t)n;
  }
}

void BM_ElevatedRoute(benchmark::State& state)
{
  if (geteuid() == 0) {
    state.SkipWithError("needs an unprivileged user");
    return;
  }
  for (auto _ : state)
    connectOnce(true);
}

void BM_DirectRoute(benchmark::State& state)
{
  for (auto _ : state)
    connectOnce(false);
}

BENCHMARK(BM_ElevatedRoute)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectRoute)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
  if (argc > 1 && !strcmp(argv[1], kChildFlag))
    return runChild(argv + 2);
  if (geteuid() == 0) {
    if (const struct passwd* pw = getpwnam("tlunpriv")) {
      if (setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0)
        return 1;
    }
  }
  os::AppLoop::selectManager();
  os::AppInfo::set("tlbench", nullptr, "tlbench", nullptr, nullptr);
  os::ElevateCmd.setParam("/usr/bin/env", plat::kPriorityPreference);
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (double r = reporter.ratio("BM_ElevatedRoute", "BM_DirectRoute"))
    printf("connected, proven launch pipe: elevated/direct time ratio %.2f (goal <= 3.00: %s)\n", r,
           r <= 3.0 ? "met" : "missed");
  else
    printf("elevated route not measured: run as an unprivileged user or as root with user "
           "tlunpriv\n");
  benchmark::Shutdown();
  return 0;
}
