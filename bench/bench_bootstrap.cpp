// Verifying a signed bootstrap configuration (decoding, the signer's chain
// to the vendor root, the host-name check and the PSS check over the
// record's bytes) against a bare mbedtls RSASSA-PSS check of the same bytes
// with an already parsed key. The configuration runs two RSA public-key
// operations (the chain's and the document's) on keys it parses each time
// from the signer's PEM certificate and the vendor root (so mbedtls also
// prepares each modulus afresh), so it is held to four times the bare
// check.
// Keys and certificates are made by openssl at start-up.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <benchmark/benchmark.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>

#include "bench_util.h"
#include "hosted/Bed.h"
#include "hosted/BootstrapConfig.h"
#include "plat/File.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"

namespace {

const char* const kUrl = "https://127.0.0.1:8443/btp/0";

struct Setup {
  std::string dir;
  std::string doc;
  std::unique_ptr<ssl::SslTrustManager> trust;
  mbedtls_x509_crt signer;
  hosted::BedSpan record;
  std::string signature;

  Setup()
  {
    char tmpl[] = "/tmp/bench_bootstrap_XXXXXX";
    dir = mkdtemp(tmpl);
    std::string sign = std::string("/usr/bin/python3 ") + TL_SIGN_SCRIPT;
    std::string spec = dir + "/spec.json";
    FILE* f = fopen(spec.c_str(), "we");
    fprintf(f, "{\"uris\": [\"https://127.0.0.1:8443/btp\"], \"count\": 3, \"key\": \"%s/signer.key\","
               " \"certs\": [\"%s/signer.pem\"]}", dir.c_str(), dir.c_str());
    fclose(f);
    std::string cmd = sign + " keys " + dir + " && " + sign + " doc " + spec + " " + dir + "/doc";
    if (system(cmd.c_str()) != 0) {
      fprintf(stderr, "making the keys failed\n");
      exit(1);
    }
    doc = readFile(dir + "/doc");
    auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
    std::string ca = readFile(dir + "/ca.pem");
    lookup->addCertsFromPem((int)ca.size(), ca.c_str());
    trust = ssl::SslTrustManager::create(std::move(lookup));
    mbedtls_x509_crt_init(&signer);
    std::string pem = readFile(dir + "/signer.pem");
    mbedtls_x509_crt_parse(&signer, (const unsigned char*)pem.c_str(), pem.size() + 1);
    record = hosted::findBedKey((int)doc.size(), doc.data(), "any/signed-data");
    hosted::BedSpan sig = hosted::findBedKey((int)doc.size(), doc.data(), "any/signed-data-signature");
    hosted::BedReader r(sig.length, sig.data);
    hosted::BedValuePtr value = r.readValue();
    signature.assign((const char*)value->asOpaque().data(), value->asOpaque().length());
    system(("rm -rf " + dir).c_str());
  }
  static std::string readFile(const std::string& path)
  {
    plat::MBuf<unsigned char> bytes = plat::FilePtr(path.c_str(), plat::FilePtr::kRead).readAll(1 << 20);
    return std::string((const char*)bytes.data(), bytes.length());
  }
};

Setup& setup()
{
  static Setup s;
  return s;
}

void BM_verify_config(benchmark::State& state)
{
  Setup& s = setup();
  for (auto _ : state) {
    hosted::BootstrapConfig c((int)s.doc.size(), s.doc.data(), s.trust.get(), kUrl,
                              hosted::BootstrapConfig::Signature::Required);
    benchmark::DoNotOptimize(c.configCount());
  }
}

void BM_mbedtls_pss(benchmark::State& state)
{
  Setup& s = setup();
  mbedtls_rsa_context* rsa = mbedtls_pk_rsa(s.signer.pk);
  mbedtls_rsa_set_padding(rsa, MBEDTLS_RSA_PKCS_V21, MBEDTLS_MD_SHA256);
  for (auto _ : state) {
    unsigned char hash[32];
    mbedtls_sha256_ret(s.record.data, s.record.length, hash, 0);
    int rc = mbedtls_rsa_rsassa_pss_verify_ext(
        rsa, nullptr, nullptr, MBEDTLS_RSA_PUBLIC, MBEDTLS_MD_SHA256, 32, hash, MBEDTLS_MD_SHA256,
        MBEDTLS_RSA_SALT_LEN_ANY, (const unsigned char*)s.signature.data());
    if (rc != 0)
      state.SkipWithError("bare check failed");
  }
}

BENCHMARK(BM_verify_config)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_mbedtls_pss)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
  setup();
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "signed bootstrap configuration vs bare mbedtls PSS check",
                      "BM_verify_config", "BM_mbedtls_pss", 4.0);
  return 0;
}
