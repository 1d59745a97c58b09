// The scaler's area averaging against pixman's separable box-filter
// convolution of the same sizes (a box reconstruction sampled by a box
// over each destination pixel), xrgb8888 to xrgb8888: an icon reduced
// from 512x512 to 40x40, and a 48x48 image doubled. Prints each ratio
// with its goal.
#include <stdio.h>

#include <random>
#include <vector>

#include <pixman.h>

#include "bench_util.h"
#include "tlutil/Scaler.h"

namespace {

using rfb::ManagedPixelBuffer;
using rfb::Point;
using rfb::Rect;

void fill(ManagedPixelBuffer& b)
{
  std::mt19937 rng(9);
  uint32_t* p = reinterpret_cast<uint32_t*>(b.data);
  for (int i = 0; i < b.rect.width() * b.rect.height(); i++)
    p[i] = rng() & 0xffffff;
}

void ours(benchmark::State& state, int from, int to)
{
  ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, from, from));
  fill(src);
  tlutil::Scaler s;
  s.coords_.dstSz = Point(to, to);
  s.setSource(&src, true);
  std::vector<uint32_t> out((size_t)to * to);
  for (auto _ : state) {
    s.getImage(out.data(), Rect(0, 0, to, to));
    benchmark::DoNotOptimize(out.data());
  }
}

void pixmanBox(benchmark::State& state, int from, int to)
{
  ManagedPixelBuffer src(rfb::xrgb8888Format(), Rect(0, 0, from, from));
  fill(src);
  std::vector<uint32_t> out((size_t)to * to);
  pixman_image_t* s =
    pixman_image_create_bits(PIXMAN_x8r8g8b8, from, from, reinterpret_cast<uint32_t*>(src.data), from * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, to, to, out.data(), to * 4);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed((double)from / to), pixman_double_to_fixed((double)from / to));
  pixman_image_set_transform(s, &t);
  int n = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
    &n, pixman_double_to_fixed((double)from / to), pixman_double_to_fixed((double)from / to), PIXMAN_KERNEL_BOX,
    PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
  free(params);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, to, to);
    benchmark::DoNotOptimize(out.data());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void BM_OursDown(benchmark::State& state) { ours(state, 512, 40); }
BENCHMARK(BM_OursDown);
void BM_PixmanDown(benchmark::State& state) { pixmanBox(state, 512, 40); }
BENCHMARK(BM_PixmanDown);
void BM_OursUp(benchmark::State& state) { ours(state, 48, 96); }
BENCHMARK(BM_OursUp);
void BM_PixmanUp(benchmark::State& state) { pixmanBox(state, 48, 96); }
BENCHMARK(BM_PixmanUp);

void ratio(const tlbench::RatioReporter& rep, const char* what, const char* a, const char* b, double goal)
{
  if (double r = rep.ratio(a, b))
    printf("%s: time ratio %.2f (goal <= %.2f: %s)\n", what, r, goal, r <= goal ? "met" : "missed");
}

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  ratio(reporter, "scale 512x512 to 40x40 / pixman box convolution", "BM_OursDown", "BM_PixmanDown", 2.0);
  ratio(reporter, "scale 48x48 to 96x96 / pixman box convolution", "BM_OursUp", "BM_PixmanUp", 2.0);
  benchmark::Shutdown();
  return 0;
}
