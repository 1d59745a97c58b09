// 1,000 sequential lookups through the loop's resolver (numeric text answered
// on the next pass; a name sent to a worker thread, which each lookup of a
// sequence starts anew since the channel closes when nothing is pending)
// against the same lookups made directly with getaddrinfo.
#include <benchmark/benchmark.h>
#include <netdb.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>

#include "io/FdSelectManager.h"
#include "io/IpResolver.h"

#include "bench_util.h"

namespace {

constexpr int kLookups = 1000;
const char* const kHosts[] = {"127.0.0.1", "localhost"};

struct Waiter : io::IpResolver::Callback {
  void resolved(io::IpResolver*, io::IpInfoList& list) override
  {
    done = true;
    ok = !list.addresses.empty();
  }
  void failed(io::IpResolver*, const plat::Exception&) override { done = true; }
  bool done = false;
  bool ok = false;
};

void BM_Resolver(benchmark::State& state)
{
  const char* host = kHosts[state.range(0)];
  io::FdSelectManager loop;
  for (auto _ : state) {
    for (int i = 0; i < kLookups; i++) {
      Waiter w;
      io::IpResolverMgr::getResolver()->resolve(&w, host, 80, AF_INET);
      while (!w.done)
        loop.processOnce(1000);
      if (!w.ok) {
        state.SkipWithError("lookup failed");
        break;
      }
    }
  }
  io::IpResolverMgr::shutdown();
}

void BM_GetAddrInfo(benchmark::State& state)
{
  const char* host = kHosts[state.range(0)];
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  for (auto _ : state) {
    for (int i = 0; i < kLookups; i++) {
      struct addrinfo* result = nullptr;
      if (getaddrinfo(host, "80", &hints, &result) != 0) {
        state.SkipWithError("lookup failed");
        break;
      }
      freeaddrinfo(result);
    }
  }
}

BENCHMARK(BM_Resolver)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAddrInfo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int i = 0; i < 2; i++) {
    std::string arg = std::to_string(i);
    if (double r = reporter.ratio("BM_Resolver/" + arg, "BM_GetAddrInfo/" + arg))
      printf("%s: %d lookups, resolver/getaddrinfo time ratio %.2f\n", kHosts[i], kLookups, r);
  }
  benchmark::Shutdown();
  return 0;
}
