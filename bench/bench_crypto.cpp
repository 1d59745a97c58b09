// SHA-256 and HMAC-SHA-256 through crypto::Sha and crypto::Hmac against the
// same computations called on mbedtls directly (the wrapper's cost), and the
// random stream's throughput against mbedtls's own HMAC-DRBG making the same
// 16-byte blocks. Prints our time over the peer's. The digest's own rate
// is held against `openssl dgst -sha256`: both digest the same 200 MB file
// read in 8 KiB pieces (as dgst reads), and openssl's run on an empty file is
// taken off its time (its start and exit).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <mbedtls/hmac_drbg.h>
#include <mbedtls/md.h>
#include <mbedtls/sha256.h>

#include "bench_util.h"
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

// A 200 MB file of random bytes, and an empty one.
struct Files {
  Files()
  {
    char tmpl[] = "/tmp/bench_crypto-XXXXXX";
    if (!mkdtemp(tmpl))
      return;
    dir = tmpl;
    big = dir + "/big";
    empty = dir + "/empty";
    ok = tlbench::runQuiet({"/bin/sh", "-c",
                            "head -c " + std::to_string(kBigSize) + " /dev/urandom > " + big +
                                " && : > " + empty}) == 0;
  }
  ~Files()
  {
    if (!dir.empty())
      tlbench::runQuiet({"/bin/rm", "-rf", dir});
  }
  static constexpr long kBigSize = 200 * 1000 * 1000;
  std::string dir, big, empty;
  bool ok = false;
};
Files* files;

double now()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The file's digest as dgst makes it: 8 KiB reads.
bool digestFile(const std::string& path, unsigned char (&out)[32])
{
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  crypto::Sha sha(256, false);
  unsigned char buf[8192];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0)
    sha.update((int)n, buf);
  close(fd);
  sha.final(out, sizeof(out));
  return n == 0;
}

void BM_ShaFile(benchmark::State& s)
{
  if (!files->ok) {
    s.SkipWithError("no file");
    return;
  }
  unsigned char out[32];
  for (auto _ : s) {
    if (!digestFile(files->big, out)) {
      s.SkipWithError("read");
      return;
    }
    benchmark::DoNotOptimize(out);
  }
  s.SetBytesProcessed(s.iterations() * Files::kBigSize);
}

double timeDgst(const std::string& path)
{
  const double start = now();
  return tlbench::runQuiet({"/usr/bin/openssl", "dgst", "-sha256", path}) == 0 ? now() - start : -1;
}

void BM_OpensslDgst(benchmark::State& s)
{
  if (!files->ok) {
    s.SkipWithError("no file");
    return;
  }
  for (auto _ : s) {
    const double whole = timeDgst(files->big), bare = timeDgst(files->empty);
    if (whole < 0 || bare < 0) {
      s.SkipWithError("openssl dgst failed");
      return;
    }
    s.SetIterationTime(std::max(whole - bare, 1e-6));
  }
  s.SetBytesProcessed(s.iterations() * Files::kBigSize);
}

BENCHMARK(BM_ShaFile)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_OpensslDgst)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(5)->UseManualTime();

BENCHMARK(BM_Sha256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_MbedSha256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_Hmac256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_MbedHmac256)->Arg(64)->Arg(64 << 10);
BENCHMARK(BM_Drbg);
BENCHMARK(BM_MbedDrbg);

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
  files = new Files;
  tlbench::initialize(argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "SHA-256 of 200 MB / openssl dgst -sha256 (a rate of 0.8 or more)",
                      "BM_ShaFile/iterations:2/repeats:5/real_time",
                      "BM_OpensslDgst/iterations:2/repeats:5/manual_time", 1.25);
  for (const char* name : {"Sha256", "Hmac256"}) {
    for (const char* arg : {"64", "65536"}) {
      double ratio = reporter.ratio(std::string("BM_") + name + "/" + arg,
                                    std::string("BM_Mbed") + name + "/" + arg);
      if (ratio > 0)
        printf("%s of %s bytes: ours/mbedtls time ratio %.3f\n", name, arg, ratio);
    }
  }
  double ratio = reporter.ratio("BM_Drbg", "BM_MbedDrbg");
  if (ratio > 0)
    printf("DRBG: %.1f MB/s in 1 KiB draws; ours/mbedtls HMAC-DRBG time ratio %.3f\n",
           kDraw / reporter.times["BM_Drbg"] * 1e3, ratio);
  benchmark::Shutdown();
  delete files;
  return 0;
}
