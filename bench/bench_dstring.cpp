// plat::DString building a large text from many small pieces (append and
// appendf) against std::string doing the same (append, and snprintf into a
// temporary then append); prints DString time over std::string time.
//
// DString keeps no length, so every append measures the whole text first:
// building is quadratic in the final size. The sizes below show how the
// ratio grows with it.
#include <stdio.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "plat/DString.h"

#include "bench_util.h"

namespace {

const char* const kPieces[] = {
    "alpha ",
    "beta gamma ",
    "<tag attr=\"v\">",
    "\xc3\xa9t\xc3\xa9 ",
    "0123456789",
    "\n",
    "a somewhat longer piece of text ",
    "x",
};
constexpr int kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);

// Rounds of one append and one formatted append needed for about size
// bytes; both builders run the same rounds.
int roundsFor(int size)
{
  std::string s;
  int rounds = 0;
  char tmp[64];
  while ((int)s.size() < size) {
    const char* piece = kPieces[rounds % kPieceCount];
    s.append(piece);
    int n = snprintf(tmp, sizeof(tmp), "%d:%s;", rounds, piece);
    s.append(tmp, n);
    rounds++;
  }
  return rounds;
}

void BM_DString(benchmark::State& state)
{
  int rounds = roundsFor((int)state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    plat::DString d;
    for (int i = 0; i < rounds; i++) {
      const char* piece = kPieces[i % kPieceCount];
      d.append(piece);
      d.appendf("%d:%s;", i, piece);
    }
    bytes = d.length();
    benchmark::DoNotOptimize(d.get());
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
}

void BM_StdString(benchmark::State& state)
{
  int rounds = roundsFor((int)state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string s;
    char tmp[64];
    for (int i = 0; i < rounds; i++) {
      const char* piece = kPieces[i % kPieceCount];
      s.append(piece);
      int n = snprintf(tmp, sizeof(tmp), "%d:%s;", i, piece);
      s.append(tmp, n);
    }
    bytes = s.size();
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
}

// Argument: size of the finished text in bytes.
BENCHMARK(BM_DString)->Arg(16 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdString)->Arg(16 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

// Both builders must produce the same text, or the comparison means nothing.
bool sameOutput()
{
  int rounds = roundsFor(64 << 10);
  plat::DString d;
  std::string s;
  char tmp[64];
  for (int i = 0; i < rounds; i++) {
    const char* piece = kPieces[i % kPieceCount];
    d.append(piece);
    d.appendf("%d:%s;", i, piece);
    s.append(piece);
    int n = snprintf(tmp, sizeof(tmp), "%d:%s;", i, piece);
    s.append(tmp, n);
  }
  return s == d.get();
}

} // namespace

int main(int argc, char** argv)
{
  if (!sameOutput()) {
    fprintf(stderr, "DString and std::string built different texts\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int size : {16 << 10, 64 << 10, 1 << 20}) {
    std::string arg = std::to_string(size);
    if (double r = reporter.ratio("BM_DString/" + arg, "BM_StdString/" + arg))
      printf("building %d KiB: DString/std::string time ratio %.2f\n", size >> 10, r);
  }
  benchmark::Shutdown();
  return 0;
}
