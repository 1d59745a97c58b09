// Inflating a 4 MiB gzip file (compressible text, made here with zlib's
// deflate): rdr::ZlibInStream read window by window, against zlib's inflate
// called directly and against a `gzip -dc` child process reading the same
// file. Prints our time over each peer's.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "rdr/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/ZlibInStream.h"

#include "bench_util.h"

namespace {

std::string raw;
std::string packed;
std::string path;

void makeData()
{
  std::mt19937 rng(4122);
  const char* words[] = {"frame", "stream", "window", "inflate", "header", "trailer"};
  char line[96];
  while (raw.size() < (4u << 20)) {
    int n = snprintf(line, sizeof(line), "%u %s %s %08x\n", (unsigned)raw.size(), words[rng() % 6],
                     words[rng() % 6], (unsigned)rng());
    raw.append(line, n);
  }
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  packed.resize(deflateBound(&zs, raw.size()));
  zs.next_in = (Bytef*)raw.data();
  zs.avail_in = (uInt)raw.size();
  zs.next_out = (Bytef*)&packed[0];
  zs.avail_out = (uInt)packed.size();
  deflate(&zs, Z_FINISH);
  packed.resize(zs.total_out);
  deflateEnd(&zs);

  char tmpl[] = "/tmp/bench_inflate_XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0 || write(fd, packed.data(), packed.size()) != (ssize_t)packed.size())
    abort();
  close(fd);
  path = tmpl;
}

std::string viaStream()
{
  std::string out;
  out.reserve(raw.size());
  rdr::MemInStream src(packed.data(), (int)packed.size());
  rdr::ZlibInStream z(0, true);
  z.setUnderlying(&src);
  try {
    for (;;) {
      z.check(true, 1);
      out.append((const char*)z.getPtr(), z.nUnread());
      z.setPtr(z.getEnd());
      z.setCheckpoint();
    }
  } catch (rdr::ZlibEndOfStream&) {
  }
  return out;
}

std::string viaZlib()
{
  std::string out;
  out.reserve(raw.size());
  z_stream zs{};
  inflateInit2(&zs, 16 + MAX_WBITS);
  zs.next_in = (Bytef*)packed.data();
  zs.avail_in = (uInt)packed.size();
  unsigned char buf[16800];
  int rc;
  do {
    zs.next_out = buf;
    zs.avail_out = sizeof(buf);
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append((const char*)buf, sizeof(buf) - zs.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&zs);
  return out;
}

std::string viaGzip()
{
  std::string out;
  out.reserve(raw.size());
  FILE* p = popen(("gzip -dc " + path).c_str(), "r");
  if (!p)
    abort();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.append(buf, n);
  pclose(p);
  return out;
}

void BM_ZlibInStream(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(viaStream());
  s.SetBytesProcessed((int64_t)s.iterations() * raw.size());
}
void BM_ZlibDirect(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(viaZlib());
  s.SetBytesProcessed((int64_t)s.iterations() * raw.size());
}
void BM_GzipChild(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(viaGzip());
  s.SetBytesProcessed((int64_t)s.iterations() * raw.size());
}
// The child's work does not show in this process's CPU time.
BENCHMARK(BM_ZlibInStream)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDirect)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GzipChild)->UseRealTime()->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  makeData();
  // The comparison means nothing unless all three produce the same bytes.
  if (viaStream() != raw || viaZlib() != raw || viaGzip() != raw) {
    fprintf(stderr, "the inflaters disagree\n");
    unlink(path.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ours = 0;
  for (auto& t : reporter.times)
    if (t.first.rfind("BM_ZlibInStream", 0) == 0)
      ours = t.second;
  for (const char* peer : {"BM_ZlibDirect", "BM_GzipChild"}) {
    for (auto& t : reporter.times)
      if (t.first.rfind(peer, 0) == 0 && ours > 0 && t.second > 0)
        printf("%s of %zu KiB (%zu KiB packed): ZlibInStream/%s time ratio %.2f\n", "inflate",
               raw.size() >> 10, packed.size() >> 10, peer + 3, ours / t.second);
  }
  benchmark::Shutdown();
  unlink(path.c_str());
  return 0;
}
