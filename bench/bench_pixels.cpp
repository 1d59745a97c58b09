// Pixel buffers and translation: fills and row copies against memset and
// memcpy, OVER compositing against pixman, the 32-to-24 and 32-bit swap
// rearrangements against pixman SRC and memcpy (in pixels per second on an
// image that fits the cache), and one table against channel tables for
// 16-bit input. Prints each ratio with its goal.
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <pixman.h>

#include "bench_util.h"
#include "rfb/PixDraw.h"
#include "rfb/PixTranslate.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::Point;
using rfb::Rect;

constexpr int kSize = 256;  // fills, copies and compositing: 256 KB a buffer
constexpr int kCached = 64; // translation: 16 KB in, 12 to 16 KB out

void randomBytes(uint8_t* p, size_t n, unsigned seed)
{
  std::mt19937 rng(seed);
  for (size_t i = 0; i < n; i++)
    p[i] = (uint8_t)rng();
}

// Premultiplied pixels, a third of them opaque and some clear.
void premultipliedPixels(ManagedPixelBuffer& b)
{
  std::mt19937 rng(1);
  for (int y = 0; y < b.rect.height(); y++)
    for (int x = 0; x < b.rect.width(); x++) {
      uint32_t a = rng() % 3 == 0 ? 255 : rng() & 255, p = a << 24;
      for (int s : {16, 8, 0})
        p |= (uint32_t)(rng() % (a + 1)) << s;
      b.setPixel(Point(x, y), p);
    }
}

void BM_OursFillRect(benchmark::State& state)
{
  ManagedPixelBuffer b(rfb::xrgb8888Format(), Rect(0, 0, kSize, kSize));
  for (auto _ : state) {
    rfb::fillRect(b, b.rect, 0x00203040);
    benchmark::DoNotOptimize(b.data);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OursFillRect);

void BM_Memset(benchmark::State& state)
{
  std::vector<uint8_t> b((size_t)kSize * kSize * 4);
  for (auto _ : state) {
    memset(b.data(), 0x20, b.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memset);

void BM_OursCopyRows(benchmark::State& state)
{
  // Rows of a wider buffer, so that each row is its own copy.
  std::vector<uint8_t> src((size_t)(kSize + 16) * kSize * 4), dst(src.size());
  randomBytes(src.data(), src.size(), 2);
  for (auto _ : state) {
    rfb::copyRows(src.data(), dst.data(), Point(kSize, kSize), 4, kSize + 16, kSize + 16);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OursCopyRows);

void BM_Memcpy(benchmark::State& state)
{
  std::vector<uint8_t> src((size_t)kSize * kSize * 4), dst(src.size());
  randomBytes(src.data(), src.size(), 2);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy);

void BM_OursOver(benchmark::State& state)
{
  ManagedPixelBuffer src(rfb::argb8888Format(), Rect(0, 0, kSize, kSize)),
    dst(rfb::argb8888Format(), Rect(0, 0, kSize, kSize));
  premultipliedPixels(src);
  for (auto _ : state) {
    state.PauseTiming();
    memset(dst.data, 0x80, dst.capacity());
    state.ResumeTiming();
    rfb::blendImage(src, Point(0, 0), dst, dst.rect, rfb::blendOver);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OursOver);

void BM_PixmanOver(benchmark::State& state)
{
  ManagedPixelBuffer src(rfb::argb8888Format(), Rect(0, 0, kSize, kSize)),
    dst(rfb::argb8888Format(), Rect(0, 0, kSize, kSize));
  premultipliedPixels(src);
  pixman_image_t* s =
    pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, reinterpret_cast<uint32_t*>(src.data), kSize * 4);
  pixman_image_t* d =
    pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, reinterpret_cast<uint32_t*>(dst.data), kSize * 4);
  for (auto _ : state) {
    state.PauseTiming();
    memset(dst.data, 0x80, dst.capacity());
    state.ResumeTiming();
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSize, kSize);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(BM_PixmanOver);

const rfb::PixelFormat kRgb24(24, 24, false, true, 255, 255, 255, 0, 8, 16, 0, 0);

// Ours: a translating buffer over a cached source.
void translate(benchmark::State& state, const rfb::PixelFormat& in, const rfb::PixelFormat& out, int option)
{
  ManagedPixelBuffer src(in, Rect(0, 0, kCached, kCached));
  randomBytes(src.data, src.capacity(), 3);
  rfb::TransPixelBuffer t(option);
  t.setPF(out);
  t.setSource(&src);
  std::vector<uint8_t> dst((size_t)kCached * kCached * 4);
  for (auto _ : state) {
    t.getImage(dst.data(), src.rect, 0);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}

void pixmanSrc(benchmark::State& state, pixman_format_code_t in, pixman_format_code_t out, int outBytes)
{
  std::vector<uint32_t> src((size_t)kCached * kCached), dst(src.size());
  randomBytes(reinterpret_cast<uint8_t*>(src.data()), src.size() * 4, 3);
  pixman_image_t* s = pixman_image_create_bits(in, kCached, kCached, src.data(), kCached * 4);
  pixman_image_t* d = pixman_image_create_bits(out, kCached, kCached, dst.data(), kCached * outBytes);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kCached, kCached);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void BM_Ours32to24(benchmark::State& state) { translate(state, rfb::xrgb8888Format(), kRgb24, 0); }
BENCHMARK(BM_Ours32to24);
void BM_Pixman32to24(benchmark::State& state) { pixmanSrc(state, PIXMAN_x8r8g8b8, PIXMAN_b8g8r8, 3); }
BENCHMARK(BM_Pixman32to24);
void BM_OursSwap32(benchmark::State& state) { translate(state, rfb::xrgb8888Format(), rfb::rgb888Format(), 0); }
BENCHMARK(BM_OursSwap32);
void BM_PixmanSwap32(benchmark::State& state) { pixmanSrc(state, PIXMAN_x8r8g8b8, PIXMAN_x8b8g8r8, 4); }
BENCHMARK(BM_PixmanSwap32);

void BM_MemcpyCached(benchmark::State& state)
{
  std::vector<uint8_t> src((size_t)kCached * kCached * 4), dst(src.size());
  randomBytes(src.data(), src.size(), 3);
  for (auto _ : state) {
    memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyCached);

void BM_OursOneTable16(benchmark::State& state) { translate(state, rfb::rgb565Format(), rfb::xrgb8888Format(), 0); }
BENCHMARK(BM_OursOneTable16);
void BM_OursChannels16(benchmark::State& state) { translate(state, rfb::rgb565Format(), rfb::xrgb8888Format(), 1); }
BENCHMARK(BM_OursChannels16);

// Translations give what pixman gives before anything is timed.
bool sameResults()
{
  struct Pair {
    rfb::PixelFormat out;
    pixman_format_code_t code;
    int bytes;
  };
  for (const Pair& p : {Pair{kRgb24, PIXMAN_b8g8r8, 3}, Pair{rfb::rgb888Format(), PIXMAN_x8b8g8r8, 4}}) {
    ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, 16, 4));
    randomBytes(src.data, src.capacity(), 5);
    rfb::TransPixelBuffer t;
    t.setPF(p.out);
    t.setSource(&src);
    std::vector<uint8_t> ours(16 * 4 * 4), theirs(ours.size());
    t.getImage(ours.data(), src.rect, 0);
    pixman_image_t* s =
      pixman_image_create_bits(PIXMAN_x8r8g8b8, 16, 4, reinterpret_cast<uint32_t*>(src.data), 16 * 4);
    pixman_image_t* d =
      pixman_image_create_bits(p.code, 16, 4, reinterpret_cast<uint32_t*>(theirs.data()), 16 * p.bytes);
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, 16, 4);
    pixman_image_unref(s);
    pixman_image_unref(d);
    for (size_t i = 0; i < 16 * 4; i++)
      for (int k = 0; k < 3; k++)
        if (ours[i * p.bytes + k] != theirs[i * p.bytes + k])
          return false;
  }
  return true;
}

void ratio(const tlbench::RatioReporter& rep, const char* what, const char* ours, const char* peer, double goal)
{
  if (double r = rep.ratio(ours, peer))
    printf("%s: time ratio %.2f (goal <= %.2f: %s)\n", what, r, goal, r <= goal ? "met" : "missed");
}

// A rearrangement's rate against its goal, with its time against pixman
// SRC and memcpy of the same input for comparison.
void rate(const tlbench::RatioReporter& rep, const char* what, const char* run, const char* pixman, double goalGpx)
{
  auto it = rep.times.find(run);
  if (it == rep.times.end() || it->second <= 0)
    return;
  double gpx = (double)kCached * kCached / it->second; // pixels per ns
  printf("%s 64x64: %.2f Gpx/s (goal >= %.2f: %s); time ratio to pixman SRC %.2f, to memcpy %.2f\n", what, gpx,
         goalGpx, gpx >= goalGpx ? "met" : "missed", rep.ratio(run, pixman), rep.ratio(run, "BM_MemcpyCached"));
}

} // namespace

int main(int argc, char** argv)
{
  if (!sameResults()) {
    fprintf(stderr, "our rearrangements and pixman's SRC differ\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // A 4-byte pattern cannot be one byte fill: the first row is built by
  // doubling copies, the others copied from it.
  ratio(reporter, "fillRect 256x256 xrgb8888 / memset", "BM_OursFillRect", "BM_Memset", 2.0);
  ratio(reporter, "copyRows 256x256x4 / memcpy", "BM_OursCopyRows", "BM_Memcpy", 1.5);
  ratio(reporter, "blendImage OVER argb8888 / pixman OVER", "BM_OursOver", "BM_PixmanOver", 3.0);
  rate(reporter, "32-to-24 rearrangement", "BM_Ours32to24", "BM_Pixman32to24", 2.0);
  rate(reporter, "32-bit swap", "BM_OursSwap32", "BM_PixmanSwap32", 2.0);
  ratio(reporter, "rgb565 one table / channel tables", "BM_OursOneTable16", "BM_OursChannels16", 1.0);
  benchmark::Shutdown();
  return 0;
}
