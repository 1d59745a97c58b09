// Start-up cost of the message catalogues: every text of every catalogue
// handed to loc::Localize::addString in registration order (the keys are
// already there, so this is the registration path up to the insertion),
// against a peer store of std::map<std::string, std::string> per language
// filled from scratch with copies. Prints the time for the whole set and
// our time over the peer's.
#include <stdio.h>

#include <chrono>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "loc/Catalogue.h"
#include "loc/Localize.h"

namespace {

size_t textCount()
{
  size_t n = 0;
  for (const loc::Catalogue* c : loc::catalogues())
    n += c->size * loc::Catalogue::kLanguages;
  return n;
}

void registerAll()
{
  loc::Localize* store = loc::Localize::instance();
  for (const loc::Catalogue* c : loc::catalogues())
    for (int l = 0; l < loc::Catalogue::kLanguages; l++)
      for (unsigned i = 0; i < c->size; i++)
        store->addString(loc::Catalogue::kLanguageCodes[l], c->keys[i], c->texts[l][i]);
}

size_t peerRegisterAll()
{
  std::map<std::string, std::map<std::string, std::string>> store;
  for (const loc::Catalogue* c : loc::catalogues())
    for (int l = 0; l < loc::Catalogue::kLanguages; l++) {
      auto& table = store[loc::Catalogue::kLanguageCodes[l]];
      for (unsigned i = 0; i < c->size; i++)
        table.emplace(c->keys[i], c->texts[l][i]);
    }
  return store.size();
}

void BM_RegisterCatalogues(benchmark::State& state)
{
  for (auto _ : state)
    registerAll();
  state.SetItemsProcessed(state.iterations() * textCount());
}
BENCHMARK(BM_RegisterCatalogues);

void BM_PeerStdMap(benchmark::State& state)
{
  for (auto _ : state)
    benchmark::DoNotOptimize(peerRegisterAll());
  state.SetItemsProcessed(state.iterations() * textCount());
}
BENCHMARK(BM_PeerStdMap);

template <typename F> double secondsPerRun(F f)
{
  using Clock = std::chrono::steady_clock;
  int runs = 0;
  auto start = Clock::now();
  do {
    f();
    runs++;
  } while (Clock::now() - start < std::chrono::milliseconds(300));
  return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  double ours = secondsPerRun(registerAll);
  double peer = secondsPerRun([] { benchmark::DoNotOptimize(peerRegisterAll()); });
  printf("catalogues: %zu modules, %zu texts registered in %.1f us (peer %.1f us); ours/peer = "
         "%.2f\n",
         loc::catalogues().size(), textCount(), ours * 1e6, peer * 1e6, ours / peer);
  benchmark::Shutdown();
  return 0;
}
