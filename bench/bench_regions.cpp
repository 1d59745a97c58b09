// Region arithmetic against pixman's 16-bit regions, the same representation
// in a mature library: union, intersection and subtraction of 10-, 100- and
// 1,000-box regions, and a region built from 10,000 rectangles in scan
// order (addRects against pixman's bulk constructor). Prints our time over
// pixman's for each and the goal (at most 1.5).
#include <stdio.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <pixman.h>

#include "3rdparty/Xregion/Xregion.h"
#include "rfb/Region.h"

#include "bench_util.h"

namespace {

constexpr double kGoal = 1.5;

// n separated squares on a grid; the second operand is shifted by half a
// cell, so every operation cuts boxes.
std::vector<rfb::Rect> gridRects(int n, int shift)
{
  int side = 1;
  while (side * side < n)
    side++;
  std::vector<rfb::Rect> out;
  for (int i = 0; i < n; i++) {
    int x = (i % side) * 16 + shift, y = (i / side) * 16 + shift;
    out.push_back(rfb::Rect(x, y, x + 12, y + 12));
  }
  return out;
}

std::vector<pixman_box16_t> toBoxes(const std::vector<rfb::Rect>& rects)
{
  std::vector<pixman_box16_t> out;
  for (const rfb::Rect& r : rects)
    out.push_back({(int16_t)r.topLeft.x, (int16_t)r.topLeft.y, (int16_t)r.bottomRight.x, (int16_t)r.bottomRight.y});
  return out;
}

struct Operands {
  rfb::Region a, b;
  pixman_region16_t pa, pb;
  explicit Operands(int n)
  {
    std::vector<rfb::Rect> ra = gridRects(n, 0), rb = gridRects(n, 6);
    a.addRects(n, ra.data());
    b.addRects(n, rb.data());
    std::vector<pixman_box16_t> ba = toBoxes(ra), bb = toBoxes(rb);
    pixman_region_init_rects(&pa, ba.data(), n);
    pixman_region_init_rects(&pb, bb.data(), n);
  }
  ~Operands()
  {
    pixman_region_fini(&pa);
    pixman_region_fini(&pb);
  }
};

using OurOp = bool (*)(Xregion::Region*, const Xregion::Region*, const Xregion::Region*);
using PixOp = pixman_bool_t (*)(pixman_region16_t*, const pixman_region16_t*, const pixman_region16_t*);

template <OurOp op> void BM_Ours(benchmark::State& state)
{
  Operands o((int)state.range(0));
  rfb::Region dst;
  for (auto _ : state) {
    op(dst.raw(), o.a.raw(), o.b.raw());
    benchmark::DoNotOptimize(dst.raw()->data);
  }
}

template <PixOp op> void BM_Pixman(benchmark::State& state)
{
  Operands o((int)state.range(0));
  pixman_region16_t dst;
  pixman_region_init(&dst);
  for (auto _ : state) {
    op(&dst, &o.pa, &o.pb);
    benchmark::DoNotOptimize(dst.data);
  }
  pixman_region_fini(&dst);
}

BENCHMARK_TEMPLATE(BM_Ours, Xregion::regionUnion)->Name("BM_OursUnion")->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Pixman, pixman_region_union)->Name("BM_PixmanUnion")->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Ours, Xregion::regionIntersect)->Name("BM_OursIntersect")->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Pixman, pixman_region_intersect)->Name("BM_PixmanIntersect")->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Ours, Xregion::regionSubtract)->Name("BM_OursSubtract")->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Pixman, pixman_region_subtract)->Name("BM_PixmanSubtract")->Arg(10)->Arg(100)->Arg(1000);

// 100 rows of 100 separated rectangles, in scan order.
const std::vector<rfb::Rect>& scanRects()
{
  static const std::vector<rfb::Rect> rects = [] {
    std::vector<rfb::Rect> out;
    for (int y = 0; y < 100; y++)
      for (int x = 0; x < 100; x++)
        out.push_back(rfb::Rect(x * 10, y * 6, x * 10 + 7, y * 6 + 4));
    return out;
  }();
  return rects;
}

void BM_OursAddRects(benchmark::State& state)
{
  const std::vector<rfb::Rect>& rects = scanRects();
  for (auto _ : state) {
    rfb::Region r;
    r.addRects((int)rects.size(), rects.data());
    benchmark::DoNotOptimize(r.raw()->data);
  }
}
BENCHMARK(BM_OursAddRects);

void BM_PixmanInitRects(benchmark::State& state)
{
  std::vector<pixman_box16_t> boxes = toBoxes(scanRects());
  for (auto _ : state) {
    pixman_region16_t r;
    pixman_region_init_rects(&r, boxes.data(), (int)boxes.size());
    benchmark::DoNotOptimize(r.data);
    pixman_region_fini(&r);
  }
}
BENCHMARK(BM_PixmanInitRects);

// Both sides must compute the same boxes, or the times compare nothing.
bool sameResults()
{
  for (int n : {10, 100, 1000}) {
    Operands o(n);
    const OurOp ours[] = {Xregion::regionUnion, Xregion::regionIntersect, Xregion::regionSubtract};
    const PixOp peer[] = {pixman_region_union, pixman_region_intersect, pixman_region_subtract};
    for (int k = 0; k < 3; k++) {
      rfb::Region d;
      pixman_region16_t pd;
      pixman_region_init(&pd);
      ours[k](d.raw(), o.a.raw(), o.b.raw());
      peer[k](&pd, &o.pa, &o.pb);
      int np;
      pixman_box16_t* pb = pixman_region_rectangles(&pd, &np);
      std::vector<rfb::Rect> want;
      for (int i = 0; i < np; i++)
        want.push_back(rfb::Rect(pb[i].x1, pb[i].y1, pb[i].x2, pb[i].y2));
      pixman_region_fini(&pd);
      if (d.rects() != want)
        return false;
    }
  }
  rfb::Region r;
  r.addRects((int)scanRects().size(), scanRects().data());
  return r.numRects() == 10000;
}

} // namespace

int main(int argc, char** argv)
{
  if (!sameResults()) {
    fprintf(stderr, "our regions and pixman's differ\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* op : {"Union", "Intersect", "Subtract"}) {
    for (int n : {10, 100, 1000}) {
      std::string arg = "/" + std::to_string(n);
      if (double r = reporter.ratio(std::string("BM_Ours") + op + arg, std::string("BM_Pixman") + op + arg))
        printf("%s of %d-box regions: ours/pixman time ratio %.2f (goal <= %.2f: %s)\n", op, n, r, kGoal,
               r <= kGoal ? "met" : "missed");
    }
  }
  if (double r = reporter.ratio("BM_OursAddRects", "BM_PixmanInitRects"))
    printf("addRects of 10000 scan-order rectangles: ours/pixman time ratio %.2f (goal <= %.2f: %s)\n", r, kGoal,
           r <= kGoal ? "met" : "missed");
  benchmark::Shutdown();
  return 0;
}
