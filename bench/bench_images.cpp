// Image code against its peers, each ratio printed with its goal: the
// scaler's area averaging against pixman's separable box-filter
// convolution of the same sizes (an icon reduced from 512x512 to 40x40, a
// 48x48 image doubled); decoding the program's built-in icon (its largest
// variant, whatever its size) against libpng's simplified API into the same
// BGRA layout; 10,000 glyphs of a
// built-in font against drawBitmap of the same bits.
#include <stdio.h>

#include <random>
#include <string>
#include <vector>

#include <pixman.h>
#include <png.h>

#include "plat/Resource.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "tlutil/PngFile.h"

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

plat::BuiltInResource icon() { return plat::findBuiltInResource("tlzarnconnectsetup@2x.png"); }

void BM_OursPng(benchmark::State& state)
{
  const plat::BuiltInResource r = icon();
  if (!r.data) {
    state.SkipWithError("no built-in icon");
    return;
  }
  const Point size =
      tlutil::PngFile((int)r.size, static_cast<const uint8_t*>(r.data), tlutil::PngFile::Premultiply::No, "icon")
          .getSize();
  ManagedPixelBuffer buf(rfb::argb8888Format(), Rect(0, 0, size.x, size.y));
  for (auto _ : state) {
    tlutil::PngFile png((int)r.size, static_cast<const uint8_t*>(r.data), tlutil::PngFile::Premultiply::No, "icon");
    png.getImage(&buf, Point());
    benchmark::DoNotOptimize(buf.data);
  }
}
BENCHMARK(BM_OursPng);

void BM_LibpngSimplified(benchmark::State& state)
{
  const plat::BuiltInResource r = icon();
  if (!r.data) {
    state.SkipWithError("no built-in icon");
    return;
  }
  std::vector<uint8_t> out;
  for (auto _ : state) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, r.data, r.size);
    image.format = PNG_FORMAT_BGRA;
    // A no-op after the first round.
    out.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_LibpngSimplified);

constexpr int kGlyphs = 10000;
const char kText[] = "The quick brown fox jumps over the lazy dog 0123456789 ";

void BM_OursGlyphs(benchmark::State& state)
{
  tlutil::Font* font = tlutil::Font::byName("helv15").get();
  ManagedPixelBuffer buf(rfb::xrgb8888Format(), Rect(0, 0, 640, 32));
  for (auto _ : state) {
    int x = 0;
    for (int i = 0; i < kGlyphs; i++) {
      const int c = kText[i % (sizeof kText - 1)];
      font->drawChar(buf, c, Point(x, 8), 0xffffff);
      x = (x + font->charWidth(c)) % 600;
    }
    benchmark::DoNotOptimize(buf.data);
  }
}
BENCHMARK(BM_OursGlyphs);

// The same boxes and bits, drawn straight with drawBitmap.
void BM_DrawBitmapGlyphs(benchmark::State& state)
{
  auto* font = static_cast<tlutil::FontZarnBm*>(tlutil::Font::byName("helv15").get());
  struct Box {
    Rect r;
    std::vector<uint8_t> bits;
  };
  std::vector<Box> boxes;
  std::vector<int> advances;
  for (char c : std::string(kText)) {
    const auto& g = font->glyph(c);
    std::vector<uint8_t> bits((size_t)((g.width + 7) / 8) * g.height, 0xA5);
    boxes.push_back(Box{Rect(g.xOffset, g.yOffset, g.xOffset + g.width, g.yOffset + g.height), bits});
    advances.push_back(g.advance);
  }
  ManagedPixelBuffer buf(rfb::xrgb8888Format(), Rect(0, 0, 640, 32));
  for (auto _ : state) {
    int x = 0;
    for (int i = 0; i < kGlyphs; i++) {
      const size_t k = i % boxes.size();
      if (!boxes[k].bits.empty())
        rfb::drawBitmap(buf, boxes[k].r.translate(Point(x, 8)), 0xffffff, boxes[k].bits.data(), 0, 0);
      x = (x + advances[k]) % 600;
    }
    benchmark::DoNotOptimize(buf.data);
  }
}
BENCHMARK(BM_DrawBitmapGlyphs);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "scale 512x512 to 40x40 / pixman box convolution", "BM_OursDown", "BM_PixmanDown", 2.0);
  tlbench::printRatio(reporter, "scale 48x48 to 96x96 / pixman box convolution", "BM_OursUp", "BM_PixmanUp", 2.0);
  tlbench::printRatio(reporter, "decode the program icon / libpng simplified API", "BM_OursPng", "BM_LibpngSimplified", 1.2);
  tlbench::printRatio(reporter, "10,000 glyphs / drawBitmap of the same bits", "BM_OursGlyphs", "BM_DrawBitmapGlyphs", 1.5);
  benchmark::Shutdown();
  return 0;
}
