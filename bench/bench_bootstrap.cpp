// Verifying a signed bootstrap configuration (decoding, the signer's chain
// to the vendor root, the host-name check and the PSS check over the
// record's bytes) against a bare mbedtls RSASSA-PSS check of the same bytes
// with an already parsed key. The configuration runs two RSA public-key
// operations (the chain's and the document's) on keys it parses each time
// from the signer's PEM certificate and the vendor root (so mbedtls also
// prepares each modulus afresh), so it is held to four times the bare
// check.
// Keys and certificates are made by openssl at start-up.
//
// Also a bootstrap fetch (a new TLS connection, the hosted GET, the
// verification and the cache update) against a bare HTTPS GET of the same
// document over a new connection, both from one nginx on 127.0.0.1; held to
// 1.5 times the bare GET.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <benchmark/benchmark.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/sha256.h>
#include <mbedtls/x509_crt.h>

#include "bench_util.h"
#include "hosted/Bed.h"
#include "hosted/BootstrapConfig.h"
#include "hosted/BootstrapRequest.h"
#include "hosted/HostedClientContext.h"
#include "hosted/HostedRequest.h"
#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "plat/File.h"
#include "ssl/HttpsClient.h"
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
    std::string desc = dir + "/desc.json";
    FILE* f = fopen(desc.c_str(), "we");
    fprintf(f, "{\"uris\": [\"https://127.0.0.1:8443/btp\"], \"count\": 3, \"key\": \"%s/signer.key\","
               " \"certs\": [\"%s/signer.pem\"]}", dir.c_str(), dir.c_str());
    fclose(f);
    std::string cmd = sign + " keys " + dir + " && " + sign + " doc " + desc + " " + dir + "/doc";
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
  }
  ~Setup() { tlbench::runQuiet({"/bin/rm", "-rf", dir}); }
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

// nginx serving the signed document as /btp/0 over TLS with the signer's
// certificate (made for 127.0.0.1), and a vendor package trusting its CA.
struct Site {
  Site()
  {
    Setup& s = setup();
    std::string www = s.dir + "/www/btp";
    std::string desc = s.dir + "/vendor.json";
    std::ofstream(desc) << "{\"certs\": [\"" << s.dir << "/ca.pem\"], \"bootstrap\": {}}";
    std::string sign = std::string("/usr/bin/python3 ") + TL_SIGN_SCRIPT;
    if (access("/usr/sbin/nginx", X_OK) != 0 ||
        tlbench::runQuiet({"/bin/sh", "-c", "mkdir -p " + www + " && cp " + s.dir + "/doc " + www +
                                                "/0 && " + sign + " vendor " + desc + " " +
                                                s.dir + "/vendor.pkg"}) != 0)
      return;
    vendor = Setup::readFile(s.dir + "/vendor.pkg");
    port = tlbench::freePort();
    std::ofstream(s.dir + "/nginx.conf")
        << "daemon off; master_process off; worker_processes 1; pid " << s.dir
        << "/nginx.pid; error_log " << s.dir << "/error.log;\n"
        << "events { worker_connections 256; }\n"
        << "http { access_log off; client_body_temp_path " << s.dir << "; proxy_temp_path "
        << s.dir << "; fastcgi_temp_path " << s.dir << "; uwsgi_temp_path " << s.dir
        << "; scgi_temp_path " << s.dir << ";\n"
        << "server { listen 127.0.0.1:" << port << " ssl; root " << s.dir
        << "/www; ssl_certificate " << s.dir << "/signer.pem; ssl_certificate_key " << s.dir
        << "/signer.key; ssl_protocols TLSv1.2; }\n}\n";
    nginx.reset(new tlbench::Peer({"/usr/sbin/nginx", "-c", s.dir + "/nginx.conf", "-e",
                                   s.dir + "/error.log", "-p", s.dir},
                                  {port}));
    ready = nginx->ready();
    url = "https://127.0.0.1:" + std::to_string(port) + "/btp/0";
  }

  std::string vendor;
  std::string url;
  int port = 0;
  std::unique_ptr<tlbench::Peer> nginx;
  bool ready = false;
};

Site& site()
{
  static Site s;
  return s;
}

struct Fetched : hosted::BootstrapRequestCallback, http::HttpCallback {
  void bootstrapReceived(hosted::BootstrapRequest*, const hosted::BootstrapConfigPtr&) override
  {
    done = ok = true;
  }
  void bootstrapRequestFailed(hosted::BootstrapRequest*, const hosted::HostedException& e) override
  {
    done = true;
    fprintf(stderr, "bootstrap fetch failed: %s\n", e.str());
  }
  bool acceptStatus(http::HttpRequest*, int status) override { return status == 200; }
  void requestComplete(http::HttpRequest*) override { done = ok = true; }
  void requestFailed(http::HttpRequest*, plat::Exception* e) override
  {
    done = true;
    fprintf(stderr, "GET failed: %s\n", e->str());
  }
  void wait(io::FdSelectManager& mgr, benchmark::State& state)
  {
    while (!done)
      mgr.processOnce(-1);
    if (!ok)
      state.SkipWithError("fetch failed");
    done = ok = false;
  }
  bool done = false;
  bool ok = false;
};

void BM_bootstrap_fetch(benchmark::State& state)
{
  Site& w = site();
  if (!w.ready) {
    state.SkipWithError("nginx missing or not started");
    return;
  }
  io::FdSelectManager mgr;
  hosted::HostedClientContextPtr context(new hosted::HostedClientContext(
      nullptr, (int)w.vendor.size(), w.vendor.data(), nullptr, nullptr, nullptr, nullptr));
  hosted::HostedHttpSession session(context, nullptr);
  Fetched f;
  for (auto _ : state) {
    // Otherwise the next request is a cache hit.
    context->bootstrapCache().erase();
    hosted::BootstrapRequest request(*context, session, &f, w.url.c_str());
    f.wait(mgr, state);
  }
}

void BM_bare_https_get(benchmark::State& state)
{
  Site& w = site();
  if (!w.ready) {
    state.SkipWithError("nginx missing or not started");
    return;
  }
  io::FdSelectManager mgr;
  auto custom = std::make_unique<ssl::SslCertLookupCustom>();
  std::string ca = Setup::readFile(setup().dir + "/ca.pem");
  custom->addCertsFromPem((int)ca.size(), ca.c_str());
  std::unique_ptr<http::HttpClient> client = ssl::createHttpsClient(std::move(custom));
  Fetched f;
  for (auto _ : state) {
    std::unique_ptr<http::HttpRequest> r(client->newRequest("GET", w.url.c_str()));
    r->setHeader("Connection", "close");
    r->start(&f);
    f.wait(mgr, state);
  }
}

BENCHMARK(BM_verify_config)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_mbedtls_pss)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bootstrap_fetch)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_https_get)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
  if (!os::AppInfo::isAppNameSet())
    os::AppInfo::setAppName("bench_bootstrap");
  signal(SIGPIPE, SIG_IGN);
  setup();
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "signed bootstrap configuration vs bare mbedtls PSS check",
                      "BM_verify_config", "BM_mbedtls_pss", 4.0);
  tlbench::printRatio(reporter, "bootstrap fetch vs bare HTTPS GET", "BM_bootstrap_fetch/real_time",
                      "BM_bare_https_get/real_time", 1.5);
  return 0;
}
