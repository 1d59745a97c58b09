// plat::binToHex and plat::binToBase64/base64Decode against plain reference
// loops on 64 KiB of random bytes; prints our time over the reference's.
#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "plat/encodings.h"

#include "bench_util.h"

namespace {

const std::string& data()
{
  static std::string d;
  if (d.empty()) {
    std::mt19937 rng(115);
    d.resize(64 << 10);
    for (char& c : d)
      c = (char)rng();
  }
  return d;
}

const unsigned char* bytes()
{
  return (const unsigned char*)data().data();
}
int size()
{
  return (int)data().size();
}

// The references: one output character at a time, as a textbook would.
std::string refHex(const unsigned char* p, int n)
{
  std::string out;
  for (int i = 0; i < n; i++) {
    unsigned hi = p[i] >> 4, lo = p[i] & 15;
    out += (char)(hi < 10 ? '0' + hi : 'a' + hi - 10);
    out += (char)(lo < 10 ? '0' + lo : 'a' + lo - 10);
  }
  return out;
}

std::string refBase64(const unsigned char* p, int n)
{
  static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (int i = 0; i < n; i++) {
    acc = acc << 8 | p[i];
    for (bits += 8; bits >= 6; bits -= 6)
      out += a[(acc >> (bits - 6)) & 63];
  }
  if (bits > 0)
    out += a[(acc << (6 - bits)) & 63];
  while (out.size() % 4)
    out += '=';
  return out;
}

std::string refUnbase64(const std::string& t)
{
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (char c : t) {
    if (c == '=')
      break;
    const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    acc = acc << 6 | (unsigned)(strchr(a, c) - a);
    if ((bits += 6) >= 8) {
      bits -= 8;
      out += (char)(acc >> bits);
    }
  }
  return out;
}

void BM_Hex(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(plat::binToHex(size(), bytes()));
}
void BM_RefHex(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(refHex(bytes(), size()));
}
void BM_Base64(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(plat::binToBase64(size(), bytes(), false));
}
void BM_RefBase64(benchmark::State& s)
{
  for (auto _ : s)
    benchmark::DoNotOptimize(refBase64(bytes(), size()));
}
void BM_Unbase64(benchmark::State& s)
{
  plat::String t = plat::binToBase64(size(), bytes(), false);
  plat::MBuf<unsigned char> out;
  for (auto _ : s)
    benchmark::DoNotOptimize(plat::base64Decode(t.str(), out));
}
void BM_RefUnbase64(benchmark::State& s)
{
  std::string t = refBase64(bytes(), size());
  for (auto _ : s)
    benchmark::DoNotOptimize(refUnbase64(t));
}
BENCHMARK(BM_Hex);
BENCHMARK(BM_RefHex);
BENCHMARK(BM_Base64);
BENCHMARK(BM_RefBase64);
BENCHMARK(BM_Unbase64);
BENCHMARK(BM_RefUnbase64);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  // The comparison means nothing unless both sides produce the same text.
  plat::MBuf<unsigned char> back;
  std::string b64 = refBase64(bytes(), size());
  if (refHex(bytes(), size()) != plat::binToHex(size(), bytes()).str() ||
      b64 != plat::binToBase64(size(), bytes(), false).str() ||
      !plat::base64Decode(b64.c_str(), back) || refUnbase64(b64) != data() ||
      std::string((const char*)back.data(), back.length()) != data()) {
    fprintf(stderr, "the codecs and the references disagree\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* name : {"Hex", "Base64", "Unbase64"}) {
    double ours = reporter.times[std::string("BM_") + name];
    double ref = reporter.times[std::string("BM_Ref") + name];
    if (ours > 0 && ref > 0)
      printf("%s of 64 KiB: ours/reference time ratio %.2f\n", name, ours / ref);
  }
  benchmark::Shutdown();
  return 0;
}
