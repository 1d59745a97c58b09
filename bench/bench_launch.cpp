// Launching and waiting for a trivial program through os::LaunchProcess
// against posix_spawn and waitpid with the same standard descriptors, first
// from a small process, then from one with 1 GiB of touched memory (where a
// launcher that copies the parent's page tables falls behind).
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include "bench_util.h"
#include "os/LaunchProcess.h"

extern char** environ;

namespace {

const char kProgram[] = "/bin/true";

void launchOurs()
{
  os::LaunchProcess::Cfg cfg;
  cfg.args.emplace_back(kProgram);
  os::LaunchProcess launcher(cfg);
  launcher.start();
  int code = -1;
  launcher.wait(&code, -1);
  if (code != 0)
    abort();
}

// The peer does what the launcher does for a plain start: standard input
// and output on /dev/null, close-on-exec descriptors, the environment.
void launchPeer()
{
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(kProgram), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, kProgram, &actions, nullptr, argv, environ) != 0)
    abort();
  posix_spawn_file_actions_destroy(&actions);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    abort();
}

void touchGiB()
{
  static void* block = nullptr;
  if (block)
    return;
  const size_t size = (size_t)1 << 30;
  block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED)
    abort();
  memset(block, 1, size);
}

void BM_LaunchProcess(benchmark::State& state)
{
  for (auto _ : state)
    launchOurs();
}

void BM_PosixSpawn(benchmark::State& state)
{
  for (auto _ : state)
    launchPeer();
}

void BM_LaunchProcess1GiB(benchmark::State& state)
{
  touchGiB();
  for (auto _ : state)
    launchOurs();
}

void BM_PosixSpawn1GiB(benchmark::State& state)
{
  touchGiB();
  for (auto _ : state)
    launchPeer();
}

BENCHMARK(BM_LaunchProcess);
BENCHMARK(BM_PosixSpawn);
BENCHMARK(BM_LaunchProcess1GiB);
BENCHMARK(BM_PosixSpawn1GiB);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const char* runs[][3] = {{"BM_LaunchProcess", "BM_PosixSpawn", "small process"},
                           {"BM_LaunchProcess1GiB", "BM_PosixSpawn1GiB", "1 GiB touched"}};
  for (auto& r : runs) {
    if (double ratio = reporter.ratio(r[0], r[1]))
      printf("launch and wait (%s): LaunchProcess/posix_spawn time ratio %.2f (goal <= 2.00: %s)\n",
             r[2], ratio, ratio <= 2.0 ? "met" : "missed");
  }
  benchmark::Shutdown();
  return 0;
}
