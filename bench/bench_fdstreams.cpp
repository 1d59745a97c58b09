// Buffered and descriptor streams against hand-written loops doing the same
// work:
// - buffered streams in memory: big-endian integers and 4 KiB blocks written
//   and read through the stream window, against memcpy into and out of a
//   plain 16 KiB buffer (the stream's own buffer size);
// - descriptor streams over a pipe, with a plain thread on the other end:
//   FdOutStream/FdInStream against a raw write/read loop with the same
//   buffer size.
// Prints the throughput of the streams as a share of the plain loop's.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "os/socket.h"
#include "rdr/BufferedInStream.h"
#include "rdr/BufferedOutStream.h"
#include "rdr/FdInStream.h"
#include "rdr/Exception.h"
#include "rdr/FdOutStream.h"

namespace {

constexpr int kBuf = 16384;
constexpr int kBlock = 4096;
constexpr int kMemBytes = 16 << 20;  // per iteration, in memory
constexpr int kPipeBytes = 64 << 20; // per iteration, through the pipe

// A sink that takes everything and looks at the first byte of each block,
// so that the writing cannot be optimised away.
class SinkOut : public rdr::BufferedOutStream {
public:
  SinkOut() : BufferedOutStream(kBuf, kBuf) {}
  uint64_t sum = 0;

protected:
  int writeOut(const uint8_t* data, int len, bool) override
  {
    sum += data[0];
    return len;
  }
};

// Refills from a fixed block of bytes.
class SourceIn : public rdr::BufferedInStream {
public:
  explicit SourceIn(const std::vector<uint8_t>& src) : BufferedInStream(kBuf), src(src)
  {
    setRewindable(false);
  }

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override
  {
    int n = std::min(maxLen, (int)src.size());
    memcpy(buf, src.data(), n);
    return n;
  }
  const std::vector<uint8_t>& src;
};

// The plain loops copy blocks as the streams do: through the C library's
// memcpy with a length known only at run time. A fixed-size copy that the
// compiler expands in place (rep movsq) is other, slower work, and made the
// peer of the block reads look several times slower than the stream.
void copyBlock(void* to, const void* from, size_t n)
{
  benchmark::DoNotOptimize(n);
  memcpy(to, from, n);
}

std::vector<uint8_t> sourceBytes()
{
  std::vector<uint8_t> v(kBuf);
  for (size_t i = 0; i < v.size(); i++)
    v[i] = (uint8_t)(i * 7);
  return v;
}

// --- In memory ------------------------------------------------------------------

void BM_StreamWriteU32(benchmark::State& state)
{
  SinkOut out;
  for (auto _ : state) {
    for (uint32_t i = 0; i < kMemBytes / 4; i++)
      out.writeU32(i);
    out.flush();
  }
  benchmark::DoNotOptimize(out.sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_MemcpyWriteU32(benchmark::State& state)
{
  std::vector<uint8_t> buf(kBuf);
  uint64_t sum = 0;
  for (auto _ : state) {
    size_t used = 0;
    for (uint32_t i = 0; i < kMemBytes / 4; i++) {
      if (buf.size() - used < 4) {
        sum += buf[0];
        used = 0;
      }
      uint32_t be = __builtin_bswap32(i);
      memcpy(&buf[used], &be, 4);
      used += 4;
    }
    sum += buf[0];
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_StreamWriteBlocks(benchmark::State& state)
{
  SinkOut out;
  std::vector<uint8_t> block = sourceBytes();
  for (auto _ : state) {
    for (int i = 0; i < kMemBytes / kBlock; i++)
      out.writeBytes(block.data(), kBlock);
    out.flush();
  }
  benchmark::DoNotOptimize(out.sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_MemcpyWriteBlocks(benchmark::State& state)
{
  std::vector<uint8_t> buf(kBuf), block = sourceBytes();
  uint64_t sum = 0;
  for (auto _ : state) {
    size_t used = 0;
    for (int i = 0; i < kMemBytes / kBlock; i++) {
      if (buf.size() - used < (size_t)kBlock) {
        sum += buf[0];
        used = 0;
      }
      copyBlock(&buf[used], block.data(), kBlock);
      used += kBlock;
    }
    sum += buf[0];
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_StreamReadU32(benchmark::State& state)
{
  std::vector<uint8_t> src = sourceBytes();
  SourceIn in(src);
  uint64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kMemBytes / 4; i++)
      sum += in.readU32();
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_MemcpyReadU32(benchmark::State& state)
{
  std::vector<uint8_t> src = sourceBytes(), buf(kBuf);
  uint64_t sum = 0;
  for (auto _ : state) {
    size_t pos = 0, avail = 0;
    for (int i = 0; i < kMemBytes / 4; i++) {
      if (avail - pos < 4) {
        memcpy(buf.data(), src.data(), src.size());
        pos = 0;
        avail = src.size();
      }
      uint32_t be;
      memcpy(&be, &buf[pos], 4);
      sum += __builtin_bswap32(be);
      pos += 4;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_StreamReadBlocks(benchmark::State& state)
{
  std::vector<uint8_t> src = sourceBytes(), dst(kBlock);
  SourceIn in(src);
  uint64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kMemBytes / kBlock; i++) {
      in.readBytes(dst.data(), kBlock);
      sum += dst[kBlock - 1];
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

void BM_MemcpyReadBlocks(benchmark::State& state)
{
  // Allocated in the stream's order (its buffer comes after the block), so
  // that source and target lie as far apart as there: a target 16 bytes
  // after the source modulo 4 KiB slows every copy (4K aliasing).
  std::vector<uint8_t> src = sourceBytes(), dst(kBlock), buf(kBuf);
  uint64_t sum = 0;
  for (auto _ : state) {
    size_t pos = 0, avail = 0;
    for (int i = 0; i < kMemBytes / kBlock; i++) {
      if (avail - pos < (size_t)kBlock) {
        copyBlock(buf.data(), src.data(), src.size());
        pos = 0;
        avail = src.size();
      }
      copyBlock(dst.data(), &buf[pos], kBlock);
      sum += dst[kBlock - 1];
      pos += kBlock;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kMemBytes);
}

// --- Through a pipe -------------------------------------------------------------

void rawWriteAll(int fd, int64_t total)
{
  std::vector<uint8_t> buf(kBuf, 'x');
  while (total > 0) {
    ssize_t n = write(fd, buf.data(), std::min<int64_t>(total, kBuf));
    if (n <= 0)
      return;
    total -= n;
  }
}

void rawReadAll(int fd)
{
  std::vector<uint8_t> buf(kBuf);
  while (read(fd, buf.data(), kBuf) > 0) {
  }
}

// Runs body(fd) on one end of a fresh pipe with peer(otherFd) on a thread.
template <typename Body, typename Peer> void overPipe(bool bodyWrites, Body body, Peer peer)
{
  int fds[2];
  os::pipeCloexec(fds);
  int mine = bodyWrites ? fds[1] : fds[0], theirs = bodyWrites ? fds[0] : fds[1];
  std::thread t([&] {
    peer(theirs);
    close(theirs);
  });
  body(mine);
  close(mine);
  t.join();
}

void BM_FdOutStream(benchmark::State& state)
{
  std::vector<uint8_t> block = sourceBytes();
  for (auto _ : state) {
    overPipe(
        true,
        [&](int fd) {
          rdr::FdOutStream out(fd);
          for (int i = 0; i < kPipeBytes / kBlock; i++)
            out.writeBytes(block.data(), kBlock);
          out.flush();
        },
        rawReadAll);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kPipeBytes);
}

void BM_RawWrite(benchmark::State& state)
{
  std::vector<uint8_t> block = sourceBytes(), buf(kBuf);
  for (auto _ : state) {
    overPipe(
        true,
        [&](int fd) {
          size_t used = 0;
          auto drain = [&] {
            for (size_t off = 0; off < used;) {
              ssize_t n = write(fd, &buf[off], used - off);
              if (n <= 0)
                return;
              off += n;
            }
            used = 0;
          };
          for (int i = 0; i < kPipeBytes / kBlock; i++) {
            if (buf.size() - used < (size_t)kBlock)
              drain();
            copyBlock(&buf[used], block.data(), kBlock);
            used += kBlock;
          }
          drain();
        },
        rawReadAll);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kPipeBytes);
}

void BM_FdInStream(benchmark::State& state)
{
  uint64_t sum = 0;
  for (auto _ : state) {
    overPipe(
        false,
        [&](int fd) {
          rdr::FdInStream in(fd, kBuf);
          in.setRewindable(false);
          try {
            for (;;) {
              in.check(true, 1);
              sum += in.getPtr()[0];
              in.consume(in.nUnread());
            }
          } catch (rdr::EndOfStream&) {
          }
        },
        [](int fd) { rawWriteAll(fd, kPipeBytes); });
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kPipeBytes);
}

void BM_RawRead(benchmark::State& state)
{
  uint64_t sum = 0;
  for (auto _ : state) {
    overPipe(
        false,
        [&](int fd) {
          std::vector<uint8_t> buf(kBuf);
          ssize_t n;
          while ((n = read(fd, buf.data(), kBuf)) > 0)
            sum += buf[0];
        },
        [](int fd) { rawWriteAll(fd, kPipeBytes); });
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * (int64_t)kPipeBytes);
}

BENCHMARK(BM_StreamWriteU32);
BENCHMARK(BM_MemcpyWriteU32);
BENCHMARK(BM_StreamWriteBlocks);
BENCHMARK(BM_MemcpyWriteBlocks);
BENCHMARK(BM_StreamReadU32);
BENCHMARK(BM_MemcpyReadU32);
BENCHMARK(BM_StreamReadBlocks);
BENCHMARK(BM_MemcpyReadBlocks);
BENCHMARK(BM_FdOutStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FdInStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's time (the median when repeated) so that the ratios can
// be printed at the end; the pipe runs are noisy on a busy machine.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs) {
      std::string name = r.run_name.str();
      if (r.run_type == Run::RT_Aggregate ? r.aggregate_name == "median" : !medians.count(name))
        times[name] = r.GetAdjustedRealTime();
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians[name] = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, bool> medians;
  std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const char* pairs[][3] = {
      {"integer writes", "BM_StreamWriteU32", "BM_MemcpyWriteU32"},
      {"4 KiB block writes", "BM_StreamWriteBlocks", "BM_MemcpyWriteBlocks"},
      {"integer reads", "BM_StreamReadU32", "BM_MemcpyReadU32"},
      {"4 KiB block reads", "BM_StreamReadBlocks", "BM_MemcpyReadBlocks"},
      {"pipe writes", "BM_FdOutStream/real_time", "BM_RawWrite/real_time"},
      {"pipe reads", "BM_FdInStream/real_time", "BM_RawRead/real_time"},
  };
  for (auto& p : pairs) {
    double ours = reporter.times[p[1]], peer = reporter.times[p[2]];
    if (ours > 0 && peer > 0)
      printf("%-20s stream throughput / plain loop's: %3.0f %%\n", p[0], 100 * peer / ours);
  }
  benchmark::Shutdown();
  return 0;
}
