// SHA-256 and HMAC-SHA-256 through crypto::Sha and crypto::Hmac against the
// same computations called on mbedtls directly (the wrapper's cost), and the
// random stream's throughput against mbedtls's own HMAC-DRBG making the same
// 16-byte blocks. Prints our time over the peer's.
#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <mbedtls/hmac_drbg.h>
#include <mbedtls/md.h>
#include <mbedtls/sha256.h>

#include "crypto/Hmac.h"
#include "crypto/RandomStream.h"
#include "crypto/Sha.h"

namespace {

const std::vector<unsigned char>& data()
{
  static std::vector<unsigned char> d;
  if (d.empty()) {
    std::mt19937 rng(142);
    d.resize(64 << 10);
    for (unsigned char& c : d)
      c = static_cast<unsigned char>(rng());
  }
  return d;
}

const unsigned char kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

void BM_Sha256(benchmark::State& s)
{
  int n = static_cast<int>(s.range(0));
  crypto::Sha sha(256, false);
  unsigned char out[32];
  for (auto _ : s) {
    sha.start();
    sha.update(n, data().data());
    sha.final(out, sizeof(out));
    benchmark::DoNotOptimize(out);
  }
  s.SetBytesProcessed(s.iterations() * n);
}
void BM_MbedSha256(benchmark::State& s)
{
  int n = static_cast<int>(s.range(0));
  mbedtls_sha256_context ctx;
  mbedtls_sha256_init(&ctx);
  unsigned char out[32];
  for (auto _ : s) {
    mbedtls_sha256_starts_ret(&ctx, 0);
    mbedtls_sha256_update_ret(&ctx, data().data(), n);
    mbedtls_sha256_finish_ret(&ctx, out);
    benchmark::DoNotOptimize(out);
  }
  mbedtls_sha256_free(&ctx);
  s.SetBytesProcessed(s.iterations() * n);
}

void BM_Hmac256(benchmark::State& s)
{
  int n = static_cast<int>(s.range(0));
  crypto::Hmac h(256, sizeof(kKey), kKey);
  unsigned char out[32];
  for (auto _ : s) {
    h.update(n, data().data());
    h.final(out, sizeof(out));
    h.reset();
    benchmark::DoNotOptimize(out);
  }
  s.SetBytesProcessed(s.iterations() * n);
}
void BM_MbedHmac256(benchmark::State& s)
{
  int n = static_cast<int>(s.range(0));
  mbedtls_md_context_t ctx;
  mbedtls_md_init(&ctx);
  mbedtls_md_setup(&ctx, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 1);
  mbedtls_md_hmac_starts(&ctx, kKey, sizeof(kKey));
  unsigned char out[32];
  for (auto _ : s) {
    mbedtls_md_hmac_update(&ctx, data().data(), n);
    mbedtls_md_hmac_finish(&ctx, out);
    mbedtls_md_hmac_reset(&ctx);
    benchmark::DoNotOptimize(out);
  }
  mbedtls_md_free(&ctx);
  s.SetBytesProcessed(s.iterations() * n);
}

const int kDraw = 1024;

void BM_Drbg(benchmark::State& s)
{
  unsigned char out[kDraw];
  for (auto _ : s) {
    crypto::RandomStream r;
    r.readBytes(out, kDraw);
    benchmark::DoNotOptimize(out);
  }
  s.SetBytesProcessed(s.iterations() * kDraw);
}
void BM_MbedDrbg(benchmark::State& s)
{
  mbedtls_hmac_drbg_context ctx;
  mbedtls_hmac_drbg_init(&ctx);
  mbedtls_hmac_drbg_seed_buf(&ctx, mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), kKey,
                             sizeof(kKey));
  unsigned char out[kDraw];
  for (auto _ : s) {
    for (int i = 0; i < kDraw; i += 16)
      mbedtls_hmac_drbg_random(&ctx, out + i, 16);
    benchmark::DoNotOptimize(out);
  }
  mbedtls_hmac_drbg_free(&ctx);
  s.SetBytesProcessed(s.iterations() * kDraw);
}

BENCHMARK(BM_Sha256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_MbedSha256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_Hmac256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_MbedHmac256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_Drbg);
BENCHMARK(BM_MbedDrbg);

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs) {
      times[r.benchmark_name()] = r.GetAdjustedRealTime();
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end())
        rates[r.benchmark_name()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, double> rates;
};

// The comparison means nothing unless both sides compute the same values.
bool sameResults()
{
  unsigned char a[32], b[32];
  crypto::Sha sha(256, false);
  sha.update(1000, data().data());
  sha.final(a, sizeof(a));
  mbedtls_sha256_ret(data().data(), 1000, b, 0);
  if (memcmp(a, b, 32) != 0)
    return false;
  crypto::Hmac h(256, sizeof(kKey), kKey);
  h.update(1000, data().data());
  h.final(a, sizeof(a));
  mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), kKey, sizeof(kKey),
                  data().data(), 1000, b);
  return memcmp(a, b, 32) == 0;
}

} // namespace

int main(int argc, char** argv)
{
  if (!sameResults()) {
    fprintf(stderr, "crypto::Sha/Hmac and mbedtls disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* name : {"Sha256", "Hmac256"}) {
    for (const char* arg : {"64", "65536"}) {
      double ours = reporter.times[std::string("BM_") + name + "/" + arg];
      double ref = reporter.times[std::string("BM_Mbed") + name + "/" + arg];
      if (ours > 0 && ref > 0)
        printf("%s of %s bytes: ours/mbedtls time ratio %.3f (wrapper cost %+.1f%%)\n", name, arg,
               ours / ref, (ours / ref - 1) * 100);
    }
  }
  double ours = reporter.times["BM_Drbg"], ref = reporter.times["BM_MbedDrbg"];
  if (ours > 0 && ref > 0)
    printf("DRBG: %.1f MB/s in 1 KiB draws; ours/mbedtls HMAC-DRBG time ratio %.3f\n",
           reporter.rates["BM_Drbg"] / 1e6, ours / ref);
  benchmark::Shutdown();
  return 0;
}
