// Certificates against mbedtls itself, measured in the same run:
//   loading Debian's CA bundle into a store   vs mbedtls_x509_crt_parse_file
//   verifyChain of leaf, intermediate, root   vs mbedtls_x509_crt_verify with
//                                                the root preloaded
// Both of ours do more than the peer: the bundle is parsed into shared
// certificate objects with their names, alternative names and key located,
// and the trust manager looks issuers up in its store, records the chain
// and judges validity itself. The chain comes from the tests' zoo script.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <benchmark/benchmark.h>
#include <mbedtls/x509_crt.h>

#include "bench_util.h"
#include "plat/File.h"
#include "plat/Time.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"

namespace {

const char kBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// Made once, removed at the end of main.
std::string& zooBase()
{
  static std::string base;
  if (base.empty()) {
    char tmpl[] = "/tmp/tlbench-zoo-XXXXXX";
    base = mkdtemp(tmpl);
  }
  return base;
}

std::string zooDir()
{
  static std::string dir;
  if (dir.empty()) {
    dir = zooBase() + "/zoo";
    std::string cmd = std::string(TL_SSL_ZOO_SCRIPT) + " " + dir + " >/dev/null";
    if (system(cmd.c_str()) != 0) {
      fprintf(stderr, "%s failed\n", cmd.c_str());
      exit(1);
    }
  }
  return dir;
}

ssl::SslCertificatePtr zooCert(const char* name)
{
  plat::FilePtr f((zooDir() + "/" + name + ".der").c_str(), plat::FilePtr::kRead);
  plat::MBuf<unsigned char> der = f.readAll(1 << 20);
  return ssl::SslCertificate::createFromDer(der.length(), der.data());
}

void BM_LoadBundle_ours(benchmark::State& state)
{
  for (auto _ : state) {
    plat::FilePtr f(kBundle, plat::FilePtr::kRead);
    plat::MBuf<unsigned char> text = f.readAll(16 << 20);
    ssl::SslCertLookupCustom store;
    store.addCertsFromPem(text.length(), reinterpret_cast<const char*>(text.data()));
    benchmark::DoNotOptimize(store.size());
  }
}
BENCHMARK(BM_LoadBundle_ours)->Unit(benchmark::kMillisecond);

void BM_LoadBundle_mbedtls(benchmark::State& state)
{
  for (auto _ : state) {
    mbedtls_x509_crt chain;
    mbedtls_x509_crt_init(&chain);
    benchmark::DoNotOptimize(mbedtls_x509_crt_parse_file(&chain, kBundle));
    mbedtls_x509_crt_free(&chain);
  }
}
BENCHMARK(BM_LoadBundle_mbedtls)->Unit(benchmark::kMillisecond);

void BM_VerifyChain_ours(benchmark::State& state)
{
  auto store = std::make_unique<ssl::SslCertLookupCustom>();
  store->addCert(zooCert("root"));
  std::unique_ptr<ssl::SslTrustManager> tm = ssl::SslTrustManager::create(std::move(store));
  ssl::SslCertificatePtr leaf = zooCert("valid");
  std::vector<ssl::SslCertificatePtr> inter = {zooCert("inter")};
  plat::Time now = plat::getTime();
  for (auto _ : state) {
    std::vector<ssl::SslCertificatePtr> chain = tm->verifyChain(leaf.get(), inter, now);
    if (chain.size() != 3)
      state.SkipWithError("chain not verified");
  }
}
BENCHMARK(BM_VerifyChain_ours)->Unit(benchmark::kMicrosecond);

void BM_VerifyChain_mbedtls(benchmark::State& state)
{
  mbedtls_x509_crt chain, root;
  mbedtls_x509_crt_init(&chain);
  mbedtls_x509_crt_init(&root);
  for (const char* name : {"valid", "inter"})
    mbedtls_x509_crt_parse_file(&chain, (zooDir() + "/" + name + ".der").c_str());
  mbedtls_x509_crt_parse_file(&root, (zooDir() + "/root.der").c_str());
  for (auto _ : state) {
    uint32_t flags = 0;
    if (mbedtls_x509_crt_verify_with_profile(&chain, &root, nullptr, &mbedtls_x509_crt_profile_next,
                                             nullptr, &flags, nullptr, nullptr) != 0)
      state.SkipWithError("chain not verified");
  }
  mbedtls_x509_crt_free(&chain);
  mbedtls_x509_crt_free(&root);
}
BENCHMARK(BM_VerifyChain_mbedtls)->Unit(benchmark::kMicrosecond);

void report(const char* what, double ratio, double goal)
{
  if (ratio <= 0) {
    printf("%-34s no peer figure\n", what);
    return;
  }
  printf("%-34s ours/peer time ratio %6.2f (goal <= %.2f: %s)\n", what, ratio, goal,
         ratio <= goal ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv)
{
  zooDir();
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  report("CA bundle load vs mbedtls", reporter.ratio("BM_LoadBundle_ours", "BM_LoadBundle_mbedtls"),
         1.5);
  report("verifyChain vs mbedtls", reporter.ratio("BM_VerifyChain_ours", "BM_VerifyChain_mbedtls"),
         1.5);
  if (system(("rm -rf " + zooBase()).c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", zooBase().c_str());
  benchmark::Shutdown();
  return 0;
}
