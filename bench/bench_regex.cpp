// plat::Regex against RE2 and std::regex in the same binary: searching and
// capture extraction on log-like lines, and patterns that make backtracking
// engines exponential. Prints time ratios at the end (ours over the peer's)
// and the growth of our time from 10^5 to 10^6 characters.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <regex>

#include <benchmark/benchmark.h>
#include <re2/re2.h>

#include "plat/Regex.h"

#include "bench_util.h"

namespace {

const std::vector<std::string>& logLines()
{
  static std::vector<std::string> lines;
  if (!lines.empty())
    return lines;
  std::mt19937 rng(7);
  const char* threads[] = {"main", "worker-1", "worker-2", "IpResolveThread"};
  const char* levels[] = {"INFO", "DEBUG", "WARN", "ERROR"};
  const char* messages[] = {"connection from %d.%d.%d.%d:%d accepted",
                            "closed after %d ms, %d bytes sent",
                            "request %d timed out waiting for reply from peer %d",
                            "configuration reloaded: %d parameters, %d changed",
                            "session %d: user switched display to :%d"};
  for (int i = 0; i < 10000; i++) {
    char msg[128], line[256];
    int r[5];
    for (int& v : r)
      v = static_cast<int>(rng() % 60000);
    snprintf(msg, sizeof(msg), messages[rng() % 5], r[0] % 256, r[1] % 256, r[2] % 256, r[3] % 256,
             r[4]);
    snprintf(line, sizeof(line), "2024-%02d-%02d %02d:%02d:%02d.%03d [%s] %s %s",
             static_cast<int>(rng() % 12 + 1), static_cast<int>(rng() % 28 + 1),
             static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
             static_cast<int>(rng() % 60), static_cast<int>(rng() % 1000), threads[rng() % 4],
             levels[rng() % 4], msg);
    lines.push_back(line);
  }
  return lines;
}

// Index 0: a literal alternation; 1: an address with a port.
const char* const kSearchPatterns[] = {"timed out|refused", "\\d+\\.\\d+\\.\\d+\\.\\d+:5\\d\\d\\d"};
// Date, time, thread, level and message.
const char* const kCapturePattern = "^(\\S+) (\\d+):(\\d+):([\\d.]+) \\[([^\\]]+)\\] (\\w+) (.*)$";
const int kCaptureGroups = 7;

void BM_SearchPlat(benchmark::State& state)
{
  auto re = plat::Regex::create(kSearchPatterns[state.range(0)], 0);
  int found = 0;
  for (auto _ : state)
    for (const std::string& line : logLines())
      found += re->search(line.data(), line.data() + line.size());
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

void BM_SearchRe2(benchmark::State& state)
{
  RE2 re(kSearchPatterns[state.range(0)]);
  int found = 0;
  for (auto _ : state)
    for (const std::string& line : logLines())
      found += RE2::PartialMatch(line, re);
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

void BM_SearchStd(benchmark::State& state)
{
  std::regex re(kSearchPatterns[state.range(0)]);
  int found = 0;
  for (auto _ : state)
    for (const std::string& line : logLines())
      found += std::regex_search(line, re);
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

void BM_CapturePlat(benchmark::State& state)
{
  auto re = plat::Regex::create(kCapturePattern, 0);
  const char* starts[kCaptureGroups];
  const char* ends[kCaptureGroups];
  size_t total = 0;
  for (auto _ : state) {
    for (const std::string& line : logLines()) {
      const char* end = line.data() + line.size();
      if (re->exec(line.data(), &end, starts, ends, kCaptureGroups))
        total += ends[4] - starts[4];
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

void BM_CaptureRe2(benchmark::State& state)
{
  RE2 re(kCapturePattern);
  re2::StringPiece groups[kCaptureGroups + 1];
  size_t total = 0;
  for (auto _ : state) {
    for (const std::string& line : logLines()) {
      if (re.Match(line, 0, line.size(), RE2::UNANCHORED, groups, kCaptureGroups + 1))
        total += groups[5].size();
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

void BM_CaptureStd(benchmark::State& state)
{
  std::regex re(kCapturePattern);
  std::smatch m;
  size_t total = 0;
  for (auto _ : state) {
    for (const std::string& line : logLines()) {
      if (std::regex_search(line, m, re))
        total += m[5].length();
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * logLines().size());
}

BENCHMARK(BM_SearchPlat)->Arg(0)->Arg(1);
BENCHMARK(BM_SearchRe2)->Arg(0)->Arg(1);
BENCHMARK(BM_SearchStd)->Arg(0)->Arg(1);
BENCHMARK(BM_CapturePlat);
BENCHMARK(BM_CaptureRe2);
BENCHMARK(BM_CaptureStd);

// --- Pathological patterns ---------------------------------------------------

struct Pathological {
  const char* pattern;
  char fill; // the text is this character repeated; no match exists
};
const Pathological kPathological[] = {{"(a|aa)*b", 'a'}, {"(a*)*b", 'a'}, {"(x+x+)+y", 'x'}};

void BM_PathologicalPlat(benchmark::State& state)
{
  const Pathological& p = kPathological[state.range(0)];
  std::string text(state.range(1), p.fill);
  auto re = plat::Regex::create(p.pattern, 0);
  for (auto _ : state)
    benchmark::DoNotOptimize(re->search(text.data(), text.data() + text.size()));
  state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_PathologicalRe2(benchmark::State& state)
{
  const Pathological& p = kPathological[state.range(0)];
  std::string text(state.range(1), p.fill);
  RE2 re(p.pattern);
  for (auto _ : state)
    benchmark::DoNotOptimize(RE2::PartialMatch(text, re));
  state.SetBytesProcessed(state.iterations() * text.size());
}

BENCHMARK(BM_PathologicalPlat)->ArgsProduct({{0, 1, 2}, {100000, 1000000}});
BENCHMARK(BM_PathologicalRe2)->ArgsProduct({{0, 1, 2}, {100000, 1000000}});

double seconds()
{
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Runs std::regex_search in a child so that a crash or a run past the
// time limit ends only the child. Returns the seconds taken, or a negative
// value: -signal when the child died, -1000 on time-out.
double stdRegexInChild(const char* pattern, const std::string& text, int limitSeconds)
{
  double start = seconds();
  pid_t pid = fork();
  if (pid == 0) {
    alarm(limitSeconds);
    std::regex re(pattern);
    bool found = std::regex_search(text, re);
    _exit(found ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status))
    return WTERMSIG(status) == SIGALRM ? -1000 : -WTERMSIG(status);
  return seconds() - start;
}

double platSeconds(const char* pattern, const std::string& text)
{
  auto re = plat::Regex::create(pattern, 0);
  double start = seconds();
  bool found = re->search(text.data(), text.data() + text.size());
  benchmark::DoNotOptimize(found);
  return seconds() - start;
}

void showStdRegexBlowUp()
{
  printf("\nstd::regex on no-match texts (child process, 10 s limit each):\n");
  for (int n : {16, 20, 22, 24, 26}) {
    std::string text(n, 'x');
    double ours = platSeconds("(x+x+)+y", text);
    double peer = stdRegexInChild("(x+x+)+y", text, 10);
    if (peer == -1000)
      printf("  (x+x+)+y, %7d chars: std::regex timed out;        plat %.6f s\n", n, ours);
    else
      printf("  (x+x+)+y, %7d chars: std::regex %10.6f s;     plat %.6f s\n", n, peer, ours);
    if (peer == -1000)
      break;
  }
  for (int n : {1000, 100000}) {
    std::string text(n, 'a');
    double ours = platSeconds("(a|aa)*b", text);
    double peer = stdRegexInChild("(a|aa)*b", text, 10);
    if (peer < 0)
      printf("  (a|aa)*b, %7d chars: std::regex %s;   plat %.6f s\n", n,
             peer == -1000 ? "timed out" : strsignal(static_cast<int>(-peer)), ours);
    else
      printf("  (a|aa)*b, %7d chars: std::regex %10.6f s;     plat %.6f s\n", n, peer, ours);
  }
}

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  bool filtered = false;
  for (int i = 1; i < argc; i++)
    filtered |= strncmp(argv[i], "--benchmark_filter", 18) == 0;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printf("\nTime ratios (plat / peer):\n");
  for (const char* arg : {"0", "1"}) {
    std::string suffix = std::string("/") + arg;
    printf("  search \"%s\": RE2 %.2f, std::regex %.2f\n", kSearchPatterns[arg[0] - '0'],
           reporter.ratio("BM_SearchPlat" + suffix, "BM_SearchRe2" + suffix),
           reporter.ratio("BM_SearchPlat" + suffix, "BM_SearchStd" + suffix));
  }
  printf("  captures (goal: within 3x of RE2): RE2 %.2f, std::regex %.2f\n",
         reporter.ratio("BM_CapturePlat", "BM_CaptureRe2"),
         reporter.ratio("BM_CapturePlat", "BM_CaptureStd"));
  printf("\nLinear time (plat time at 10^6 over 10^5 characters; 10 is linear):\n");
  for (int i = 0; i < 3; i++) {
    std::string base = "BM_PathologicalPlat/" + std::to_string(i) + "/";
    printf(
        "  %-10s %.2f (RE2 / plat at 10^6: %.2f)\n", kPathological[i].pattern,
        reporter.ratio(base + "1000000", base + "100000"),
        reporter.ratio("BM_PathologicalRe2/" + std::to_string(i) + "/1000000", base + "1000000"));
  }
  if (!filtered)
    showStdRegexBlowUp();
  benchmark::Shutdown();
  return 0;
}
