// Keysym conversions against libxkbcommon's: keysymToUnicode over the keys
// a keyboard sends (Latin-1, legacy sets, function and keypad keys, Unicode
// keysyms) and unicodeToKeysym over text from several scripts.

#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "bench_util.h"
#include "rfb/Keysym.h"
#include "rfb/KeysymTables.h"

namespace {

const std::vector<uint32_t>& keysyms()
{
  static std::vector<uint32_t> v = [] {
    std::vector<uint32_t> out;
    for (uint32_t k = 0x20; k < 0x7F; k++)
      out.push_back(k);
    for (const rfb::KeysymPair& p : rfb::kKeysymPairs)
      out.push_back(p.keysym);
    for (uint32_t k = 0xFF50; k < 0xFFC0; k++)
      out.push_back(k);
    for (uint32_t k = 0x1000400; k < 0x1000500; k++)
      out.push_back(k);
    return out;
  }();
  return v;
}

const std::vector<uint32_t>& codePoints()
{
  static std::vector<uint32_t> v = [] {
    std::vector<uint32_t> out;
    for (uint32_t c = 0x20; c < 0x17F; c++)
      out.push_back(c);
    for (uint32_t c = 0x391; c < 0x3CE; c++)  // Greek
      out.push_back(c);
    for (uint32_t c = 0x410; c < 0x450; c++)  // Cyrillic
      out.push_back(c);
    for (uint32_t c = 0x5D0; c < 0x5EA; c++)  // Hebrew
      out.push_back(c);
    for (uint32_t c = 0x4E00; c < 0x4F00; c++)  // CJK, no legacy keysym
      out.push_back(c);
    return out;
  }();
  return v;
}

void BM_keysymToUnicode(benchmark::State& state)
{
  rfb::keysymToUnicode(0x41);  // builds the tables
  for (auto _ : state)
    for (uint32_t k : keysyms())
      benchmark::DoNotOptimize(rfb::keysymToUnicode(k));
  state.SetItemsProcessed(state.iterations() * keysyms().size());
}

void BM_xkbKeysymToUtf32(benchmark::State& state)
{
  for (auto _ : state)
    for (uint32_t k : keysyms())
      benchmark::DoNotOptimize(xkb_keysym_to_utf32(k));
  state.SetItemsProcessed(state.iterations() * keysyms().size());
}

void BM_unicodeToKeysym(benchmark::State& state)
{
  rfb::unicodeToKeysym(0x41);
  for (auto _ : state)
    for (uint32_t c : codePoints())
      benchmark::DoNotOptimize(rfb::unicodeToKeysym(c));
  state.SetItemsProcessed(state.iterations() * codePoints().size());
}

void BM_xkbUtf32ToKeysym(benchmark::State& state)
{
  for (auto _ : state)
    for (uint32_t c : codePoints())
      benchmark::DoNotOptimize(xkb_utf32_to_keysym(c));
  state.SetItemsProcessed(state.iterations() * codePoints().size());
}

BENCHMARK(BM_keysymToUnicode);
BENCHMARK(BM_xkbKeysymToUtf32);
BENCHMARK(BM_unicodeToKeysym);
BENCHMARK(BM_xkbUtf32ToKeysym);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "keysymToUnicode, ours/xkbcommon", "BM_keysymToUnicode",
                      "BM_xkbKeysymToUtf32", 1.0);
  tlbench::printRatio(reporter, "unicodeToKeysym, ours/xkbcommon", "BM_unicodeToKeysym",
                      "BM_xkbUtf32ToKeysym", 1.0);
  benchmark::Shutdown();
  return 0;
}
