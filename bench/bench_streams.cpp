// Integer and bulk reads and writes through the memory streams against plain
// loads, stores and memcpy of the same data; prints our time over the peer's.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "rdr/MemInStream.h"
#include "rdr/MemIoStream.h"
#include "rdr/MemOutStream.h"

#include "bench_util.h"

namespace {

constexpr int kBytes = 64 << 10;
constexpr int kChunk = 4096;

const std::vector<uint8_t>& source()
{
  static std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kBytes);
    for (int i = 0; i < kBytes; i++)
      d[i] = (uint8_t)(i * 131 + 7);
    return d;
  }();
  return data;
}

template <typename T> T loadBE(const uint8_t* p)
{
  T v;
  memcpy(&v, p, sizeof(T));
  if (sizeof(T) == 2)
    return (T)__builtin_bswap16((uint16_t)v);
  if (sizeof(T) == 4)
    return (T)__builtin_bswap32((uint32_t)v);
  if (sizeof(T) == 8)
    return (T)__builtin_bswap64((uint64_t)v);
  return v;
}

template <typename T> void storeBE(uint8_t* p, T v)
{
  if (sizeof(T) == 2)
    v = (T)__builtin_bswap16((uint16_t)v);
  if (sizeof(T) == 4)
    v = (T)__builtin_bswap32((uint32_t)v);
  if (sizeof(T) == 8)
    v = (T)__builtin_bswap64((uint64_t)v);
  memcpy(p, &v, sizeof(T));
}

template <typename T> T readOne(rdr::InStream& in)
{
  if (sizeof(T) == 1)
    return (T)in.readU8();
  if (sizeof(T) == 2)
    return (T)in.readU16();
  if (sizeof(T) == 4)
    return (T)in.readU32();
  return (T)in.readU64();
}

template <typename T> void writeOne(rdr::OutStream& out, T v)
{
  if (sizeof(T) == 1)
    out.writeU8((uint8_t)v);
  else if (sizeof(T) == 2)
    out.writeU16((uint16_t)v);
  else if (sizeof(T) == 4)
    out.writeU32((uint32_t)v);
  else
    out.writeU64((uint64_t)v);
}

template <typename T> void BM_readInts(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  for (auto _ : state) {
    rdr::MemInStream in(d.data(), kBytes);
    T sum = 0;
    for (int i = 0; i < kBytes / (int)sizeof(T); i++)
      sum += readOne<T>(in);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

template <typename T> void BM_loadInts(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  for (auto _ : state) {
    const uint8_t* p = d.data();
    benchmark::DoNotOptimize(p);
    T sum = 0;
    for (int i = 0; i < kBytes / (int)sizeof(T); i++)
      sum += loadBE<T>(p + i * sizeof(T));
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

template <typename T> void BM_writeInts(benchmark::State& state)
{
  rdr::MemOutStream out(kBytes);
  for (auto _ : state) {
    out.clear();
    for (int i = 0; i < kBytes / (int)sizeof(T); i++)
      writeOne<T>(out, (T)i);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

template <typename T> void BM_storeInts(benchmark::State& state)
{
  std::vector<uint8_t> buf(kBytes);
  for (auto _ : state) {
    uint8_t* p = buf.data();
    benchmark::DoNotOptimize(p);
    for (int i = 0; i < kBytes / (int)sizeof(T); i++)
      storeBE<T>(p + i * sizeof(T), (T)i);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_readBulk(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  std::vector<uint8_t> buf(kChunk);
  for (auto _ : state) {
    rdr::MemInStream in(d.data(), kBytes);
    for (int i = 0; i < kBytes / kChunk; i++)
      in.readBytes(buf.data(), kChunk);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_writeBulk(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  rdr::MemOutStream out(kBytes);
  for (auto _ : state) {
    out.clear();
    for (int i = 0; i < kBytes / kChunk; i++)
      out.writeBytes(d.data() + i * kChunk, kChunk);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

// Through the ring: every chunk written, then read out with a checkpoint.
void BM_ringBulk(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  rdr::MemIoStream ring(nullptr, -1, 16384);
  std::vector<uint8_t> buf(kChunk);
  for (auto _ : state) {
    for (int i = 0; i < kBytes / kChunk; i++) {
      ring.writeBytes(d.data() + i * kChunk, kChunk);
      ring.readBytes(buf.data(), kChunk);
      ring.setCheckpoint();
    }
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

// The peer of each bulk case: memcpy of the same chunks (twice for the ring).
void BM_memcpyBulk(benchmark::State& state)
{
  const std::vector<uint8_t>& d = source();
  std::vector<uint8_t> buf(kBytes);
  for (auto _ : state) {
    for (int i = 0; i < kBytes / kChunk; i++)
      memcpy(buf.data() + i * kChunk, d.data() + i * kChunk, kChunk);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

BENCHMARK_TEMPLATE(BM_readInts, uint8_t);
BENCHMARK_TEMPLATE(BM_loadInts, uint8_t);
BENCHMARK_TEMPLATE(BM_readInts, uint16_t);
BENCHMARK_TEMPLATE(BM_loadInts, uint16_t);
BENCHMARK_TEMPLATE(BM_readInts, uint32_t);
BENCHMARK_TEMPLATE(BM_loadInts, uint32_t);
BENCHMARK_TEMPLATE(BM_readInts, uint64_t);
BENCHMARK_TEMPLATE(BM_loadInts, uint64_t);
BENCHMARK_TEMPLATE(BM_writeInts, uint8_t);
BENCHMARK_TEMPLATE(BM_storeInts, uint8_t);
BENCHMARK_TEMPLATE(BM_writeInts, uint16_t);
BENCHMARK_TEMPLATE(BM_storeInts, uint16_t);
BENCHMARK_TEMPLATE(BM_writeInts, uint32_t);
BENCHMARK_TEMPLATE(BM_storeInts, uint32_t);
BENCHMARK_TEMPLATE(BM_writeInts, uint64_t);
BENCHMARK_TEMPLATE(BM_storeInts, uint64_t);
BENCHMARK(BM_readBulk);
BENCHMARK(BM_writeBulk);
BENCHMARK(BM_ringBulk);
BENCHMARK(BM_memcpyBulk);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  // The streams must read back what the plain loads see.
  {
    const std::vector<uint8_t>& d = source();
    rdr::MemInStream in(d.data(), kBytes);
    if (in.readU32() != loadBE<uint32_t>(d.data()) || in.readU64() != loadBE<uint64_t>(d.data() + 4)) {
      fprintf(stderr, "stream and plain loads disagree\n");
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const struct {
    const char* label;
    const char* ours;
    const char* peer;
    double peerFactor;
  } pairs[] = {
      {"readU8", "BM_readInts<uint8_t>", "BM_loadInts<uint8_t>", 1},
      {"readU16", "BM_readInts<uint16_t>", "BM_loadInts<uint16_t>", 1},
      {"readU32", "BM_readInts<uint32_t>", "BM_loadInts<uint32_t>", 1},
      {"readU64", "BM_readInts<uint64_t>", "BM_loadInts<uint64_t>", 1},
      {"writeU8", "BM_writeInts<uint8_t>", "BM_storeInts<uint8_t>", 1},
      {"writeU16", "BM_writeInts<uint16_t>", "BM_storeInts<uint16_t>", 1},
      {"writeU32", "BM_writeInts<uint32_t>", "BM_storeInts<uint32_t>", 1},
      {"writeU64", "BM_writeInts<uint64_t>", "BM_storeInts<uint64_t>", 1},
      {"MemInStream::readBytes", "BM_readBulk", "BM_memcpyBulk", 1},
      {"MemOutStream::writeBytes", "BM_writeBulk", "BM_memcpyBulk", 1},
      {"MemIoStream write+read", "BM_ringBulk", "BM_memcpyBulk", 2},
  };
  for (const auto& p : pairs) {
    double ours = reporter.times[p.ours];
    double peer = reporter.times[p.peer] * p.peerFactor;
    if (ours > 0 && peer > 0)
      printf("%s: stream/plain time ratio %.2f\n", p.label, ours / peer);
  }
  benchmark::Shutdown();
  return 0;
}
