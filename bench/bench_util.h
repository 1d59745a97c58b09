// Helpers shared by the benchmark programs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/support/loopback.h"

extern char** environ;

namespace tlbench {

// Prints runs as the console reporter does and keeps each run's time, so
// that main() can print the ratio between our code and its peer at the end.
// Colour only on a terminal: piped output stays plain text.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  // With repetitions, a run's median stands for it (it comes after the
  // single runs, which it replaces).
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate)
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
      else if (r.aggregate_name == "median")
        times[r.run_name.str()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Time of run a over that of run b; 0 when either did not run.
  double ratio(const std::string& a, const std::string& b) const
  {
    auto ia = times.find(a), ib = times.find(b);
    if (ia == times.end() || ib == times.end() || ia->second <= 0 || ib->second <= 0)
      return 0;
    return ia->second / ib->second;
  }
  std::map<std::string, double> times;
};

// "<what>: time ratio r (goal <= g: met|missed)" for run a over run b; a
// goal of 0 prints the ratio alone.
inline void printRatio(const RatioReporter& rep, const char* what, const char* a, const char* b, double goal)
{
  double r = rep.ratio(a, b);
  if (!r)
    return;
  if (goal > 0)
    printf("%s: time ratio %.2f (goal <= %.2f: %s)\n", what, r, goal, r <= goal ? "met" : "missed");
  else
    printf("%s: time ratio %.2f\n", what, r);
}

using tlnet::freePort;
using tlnet::listening;

// Starts args with standard output and error discarded; the pid, or -1.
inline pid_t spawnQuiet(std::vector<std::string> args)
{
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs args to the end with output discarded; its exit status, or -1.
inline int runQuiet(std::vector<std::string> args)
{
  pid_t pid = spawnQuiet(std::move(args));
  int status;
  if (pid < 0 || waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A peer program (a proxy, a web server) running until destroyed (SIGTERM,
// then reaped); ready() once it accepts connections on every port given.
class Peer {
public:
  Peer(std::vector<std::string> args, std::vector<int> ports) : pid_(spawnQuiet(std::move(args)))
  {
    for (int i = 0; i < 400 && pid_ > 0 && !ok_; i++) {
      ok_ = true;
      for (int port : ports)
        ok_ = ok_ && listening(port);
      if (!ok_)
        usleep(25000);
    }
  }
  ~Peer()
  {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  bool ready() const { return ok_; }

private:
  pid_t pid_;
  bool ok_ = false;
};

} // namespace tlbench
