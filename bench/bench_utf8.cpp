// plat::isValidUtf8 against a plain byte-by-byte strict validator on large
// ASCII-heavy and multibyte-heavy texts; prints our time over the peer's.
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "plat/utf8.h"

#include "bench_util.h"

namespace {

// The peer: a straightforward strict validator with the same definition of
// valid (no over-long forms, surrogates, non-characters or values above
// U+10FFFF).
bool referenceIsValid(const std::string& text)
{
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    unsigned c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t len;
    unsigned cp, min;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
      min = 0x10000;
    } else {
      return false;
    }
    if (n - i < len)
      return false;
    for (size_t k = 1; k < len; k++) {
      if ((s[i + k] & 0xC0) != 0x80)
        return false;
      cp = cp << 6 | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
        (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)
      return false;
    i += len;
  }
  return true;
}

void append(std::string& s, unsigned cp)
{
  char buf[4];
  char* p = buf;
  plat::utf8Encode(cp, &p);
  s.append(buf, p - buf);
}

// About 4 MiB of text in which multibytePercent of the characters are
// outside ASCII.
const std::string& text(int multibytePercent)
{
  static std::map<int, std::string> texts;
  std::string& s = texts[multibytePercent];
  if (!s.empty())
    return s;
  std::mt19937 rng(multibytePercent);
  const unsigned ranges[][2] = {
      {0xC0, 0x17F}, {0x400, 0x4FF}, {0x4E00, 0x9FFF}, {0x1F300, 0x1F64F}};
  while (s.size() < (4u << 20)) {
    if (static_cast<int>(rng() % 100) < multibytePercent) {
      auto& r = ranges[rng() % 4];
      append(s, r[0] + rng() % (r[1] - r[0] + 1));
    } else {
      s += static_cast<char>(rng() % 8 ? 'a' + rng() % 26 : ' ');
    }
  }
  return s;
}

void BM_plat(benchmark::State& state)
{
  const std::string& s = text(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(plat::isValidUtf8(s.data(), s.data() + s.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}

void BM_reference(benchmark::State& state)
{
  const std::string& s = text(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(referenceIsValid(s));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}

// Argument: percentage of characters outside ASCII.
BENCHMARK(BM_plat)->Arg(0)->Arg(2)->Arg(90);
BENCHMARK(BM_reference)->Arg(0)->Arg(2)->Arg(90);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  for (int share : {0, 2, 90}) {
    const std::string& s = text(share);
    bool ours = plat::isValidUtf8(s.data(), s.data() + s.size());
    if (!ours || !referenceIsValid(s) || plat::isValidUtf8((s + "\xC0\x80").c_str())) {
      fprintf(stderr, "validators disagree on the benchmark text\n");
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* arg : {"0", "2", "90"}) {
    double ours = reporter.times[std::string("BM_plat/") + arg];
    double peer = reporter.times[std::string("BM_reference/") + arg];
    if (ours > 0 && peer > 0)
      printf("isValidUtf8 with %s%% multibyte characters: plat/reference time ratio %.2f\n", arg,
             ours / peer);
  }
  benchmark::Shutdown();
  return 0;
}
