// Helpers shared by the benchmark programs.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/support/loopback.h"

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

// benchmark::Initialize with the repetitions of different benchmarks
// interleaved in random order unless the command line says otherwise (a
// shared machine's load then falls on both sides of a ratio alike); an
// argument it does not know ends the program.
inline void initialize(int argc, char** argv)
{
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args(argv, argv + argc);
  args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
  int n = (int)args.size();
  args.push_back(nullptr);
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data()))
    exit(1);
}

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
using tlnet::Peer;
using tlnet::runQuiet;
using tlnet::spawnQuiet;

} // namespace tlbench
