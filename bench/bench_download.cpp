// The package download (Pkg::startDownload: GET, progress timer, the
// body's SHA-256 as it arrives, saving it in the installer session
// directory and the install-command check) against a bare GET of the same
// 200 MB with the same client, both from one nginx over plain HTTP on
// 127.0.0.1, so the difference is what the download adds. The body is saved
// once it is complete, so that cost adds to the GET's; "save_ms" shows it.
// The saved file is removed outside the timing. Goal: time ratio <= 3, on
// the medians of interleaved repetitions. Saving alone is timed too.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_util.h"
#include "http/native/NativeHttpClient.h"
#include "io/FdSelectManager.h"
#include "os/AppInfo.h"
#include "plat/Exception.h"
#include "tlOrbSetup/Pkg.h"
#include "tlOrbSetup/SessionDir.h"

namespace {

constexpr int kSize = 200 * 1000 * 1000;
const char* const kNginx = "/usr/sbin/nginx";

// nginx serving one file of kSize bytes from a scratch directory.
struct Server {
  Server()
  {
    char tmpl[] = "/tmp/bench_download-XXXXXX";
    if (!mkdtemp(tmpl) || access(kNginx, X_OK) != 0)
      return;
    dir = tmpl;
    if (tlbench::runQuiet({"/usr/bin/truncate", "-s", std::to_string(kSize), dir + "/pkg.deb"}) !=
        0)
      return;
    port = tlbench::freePort();
    const std::string conf = dir + "/nginx.conf";
    std::ofstream(conf) << "daemon off; master_process off; worker_processes 1; pid " << dir
                        << "/pid; error_log " << dir << "/err;\nevents {}\nhttp { access_log off;"
                        << " sendfile on; client_body_temp_path " << dir << "; proxy_temp_path "
                        << dir << "; fastcgi_temp_path " << dir << "; uwsgi_temp_path " << dir
                        << "; scgi_temp_path " << dir << ";\nserver { listen 127.0.0.1:" << port
                        << "; root " << dir << "; } }\n";
    nginx.reset(new tlbench::Peer({kNginx, "-c", conf, "-e", dir + "/err", "-p", dir}, {port}));
    ready = nginx->ready();
  }
  ~Server()
  {
    nginx.reset();
    if (!dir.empty())
      tlbench::runQuiet({"/bin/rm", "-rf", dir});
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/pkg.deb"; }

  std::string dir;
  int port = 0;
  std::unique_ptr<tlbench::Peer> nginx;
  bool ready = false;
};

Server* server;

// A package that only downloads.
struct BenchPkg : tlOrbSetup::Pkg {
  BenchPkg(http::HttpClient* client, const char* uri) : Pkg(nullptr, client, uri, "Bench") {}
  void launch() override {}
  void applyToken(const char*) override {}
};

// How a download or a bare GET ended.
struct Outcome : tlOrbSetup::Pkg::DownloadCallback, http::HttpCallback {
  // (1, 1): the body is complete, saving starts.
  void progress(tlOrbSetup::Pkg*, int64_t received, int64_t total) override
  {
    if (received == 1 && total == 1)
      bodyAt = std::chrono::steady_clock::now();
  }
  void done(tlOrbSetup::Pkg*, const plat::Exception& e) override { end(*e.str() ? &e : nullptr); }
  bool acceptStatus(http::HttpRequest*, int status) override { return status == 200; }
  void requestComplete(http::HttpRequest*) override { end(nullptr); }
  void requestFailed(http::HttpRequest*, plat::Exception* e) override { end(e); }
  void end(const plat::Exception* e)
  {
    finished = true;
    endAt = std::chrono::steady_clock::now();
    ok = !e;
    if (e)
      fprintf(stderr, "failed: %s\n", e->str());
  }
  bool finished = false;
  bool ok = false;
  std::chrono::steady_clock::time_point bodyAt, endAt;
};

// Runs one fetch per iteration with a client kept for the whole run; the
// fetch returns false on failure.
template <class Fetch> void fetchEach(benchmark::State& state, Fetch fetch)
{
  if (!server->ready) {
    state.SkipWithError("nginx missing");
    return;
  }
  io::FdSelectManager mgr;
  std::unique_ptr<http::HttpClient> client(http::createHttpClient(nullptr));
  std::string url = server->url();
  auto until = [&](const Outcome& o) {
    while (!o.finished)
      mgr.processOnce(-1);
    // What finished goes on the next pass.
    mgr.processOnce(0);
    return o.ok;
  };
  for (auto _ : state) {
    if (!fetch(state, client.get(), url.c_str(), until)) {
      state.SkipWithError("download failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kSize);
}

void BM_Download(benchmark::State& state)
{
  fetchEach(state, [](benchmark::State& st, http::HttpClient* client, const char* url, auto until) {
    BenchPkg pkg(client, url);
    Outcome o;
    pkg.startDownload(&o);
    if (!until(o))
      return false;
    st.counters["save_ms"] += std::chrono::duration<double, std::milli>(o.endAt - o.bodyAt).count();
    st.PauseTiming();
    unlink(pkg.file());
    st.ResumeTiming();
    return true;
  });
  state.counters["save_ms"].flags = benchmark::Counter::kAvgIterations;
}

void BM_BareGet(benchmark::State& state)
{
  fetchEach(state, [](benchmark::State&, http::HttpClient* client, const char* url, auto until) {
    std::unique_ptr<http::HttpRequest> r(client->newRequest("GET", url));
    r->setTimeout(-1);
    r->setMaxBodySize(tlOrbSetup::Download::kMaxBodySize);
    Outcome o;
    r->start(&o);
    return until(o) && r->getResponseBody()->length() == kSize;
  });
}

// What saving alone costs: the body written into the session directory.
void BM_SaveOnly(benchmark::State& state)
{
  std::string body(kSize, 'x');
  for (auto _ : state) {
    plat::String file;
    try {
      file = tlOrbSetup::writeSessionFile("pkg.deb", body.size(), body.data());
    } catch (const plat::Exception& e) {
      state.SkipWithError(e.str());
      return;
    }
    state.PauseTiming();
    unlink(file.str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kSize);
}

} // namespace

BENCHMARK(BM_SaveOnly)->Iterations(2)->Repetitions(7)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Download)->Iterations(2)->Repetitions(7)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareGet)->Iterations(2)->Repetitions(7)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
  os::AppInfo::set("bench_download", nullptr, "zarn", nullptr, nullptr);
  signal(SIGPIPE, SIG_IGN);
  tlbench::initialize(argc, argv);
  server = new Server;
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  tlbench::printRatio(reporter, "200 MB package download and save over a bare GET",
                      "BM_Download/iterations:2/repeats:7/real_time",
                      "BM_BareGet/iterations:2/repeats:7/real_time", 3.0);
  if (double r = reporter.ratio("BM_SaveOnly/iterations:2/repeats:7/real_time",
                                "BM_BareGet/iterations:2/repeats:7/real_time"))
    printf("saving 200 MB alone over a bare GET: time ratio %.2f\n", r);
  delete server;
  return 0;
}
