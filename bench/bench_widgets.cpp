// Widgets: repainting a 1000 x 700 canvas of 150 buttons and 150 labels
// against one fillRect of the same area (the cheapest way to cover it), and
// 10,000 pointer events routed through 8 nested layouts against the same
// events given straight to the innermost widget. Prints each ratio with
// its goal.
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "rfb/PixDraw.h"
#include "wvw/WButton.h"
#include "wvw/WLabel.h"
#include "wvwhost.h"

namespace {

using rfb::Point;
using rfb::Rect;

constexpr int kWidth = 1000, kHeight = 700;
constexpr int kColumns = 20, kRows = 15; // 300 cells of 50 x 46
constexpr int kEvents = 10000, kDepth = 8;

// The canvas: a layout of alternating buttons and labels.
struct Canvas {
  Canvas() : host(Point(kWidth, kHeight)), layout(wvw::WLayout::PointerRouting::ToChildren)
  {
    const int w = kWidth / kColumns, h = kHeight / kRows;
    for (int i = 0; i < kColumns * kRows; i++) {
      const Rect r((i % kColumns) * w, (i / kColumns) * h, (i % kColumns + 1) * w, (i / kColumns + 1) * h);
      const std::string text = "Item " + std::to_string(i);
      if (i % 2) {
        buttons.push_back(std::make_unique<wvw::WLabelButton>(text.c_str()));
        layout.addChildRect(buttons.back().get(), r, nullptr);
      } else {
        labels.push_back(std::make_unique<wvw::WLabel>(text.c_str()));
        layout.addChildRect(labels.back().get(), r, nullptr);
      }
    }
    host.setContent(&layout);
  }
  tltest::WvwHost host;
  wvw::WLayout layout;
  std::vector<std::unique_ptr<wvw::WLabelButton>> buttons;
  std::vector<std::unique_ptr<wvw::WLabel>> labels;
};

void BM_RepaintCanvas(benchmark::State& state)
{
  Canvas canvas;
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, kWidth, kHeight));
  for (auto _ : state) {
    canvas.layout.paint(fb);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RepaintCanvas);

void BM_FillCanvas(benchmark::State& state)
{
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, kWidth, kHeight));
  for (auto _ : state) {
    rfb::fillRect(fb, fb.rect, 0x00d8d8d8);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FillCanvas);

// Eight layouts, each holding the next at (5,5) beside a few siblings, and
// at the bottom a box with a mouse handler.
struct Nested {
  Nested() : host(Point(400, 400))
  {
    for (int i = 0; i < kDepth; i++) {
      layouts.push_back(std::make_unique<wvw::WLayout>(wvw::WLayout::PointerRouting::ToChildren));
      for (int k = 0; k < 3; k++) {
        siblings.push_back(std::make_unique<tltest::TestBox>(layouts.back().get()));
        layouts.back()->setChildRect(siblings.back().get(), Rect(300 - 30 * k, 300, 320 - 30 * k, 320));
      }
      if (i)
        layouts[i - 1]->addChildRect(layouts[i].get(), Rect(5, 5, 395 - 10 * i, 395 - 10 * i), nullptr);
    }
    leaf.setMouseHandler(&counter);
    layouts.back()->addChildRect(&leaf, Rect(5, 5, 200, 200), nullptr);
    host.setContent(layouts.front().get());
  }
  struct Counter : wvw::WMouseInputHandler {
    bool moved(const Point&, wvw::Widget*) override { return ++n > 0; }
    bool buttonDown(int, wvw::Widget*) override { return ++n > 0; }
    bool buttonUp(int, wvw::Widget*) override { return ++n > 0; }
    long n = 0;
  } counter;
  tltest::WvwHost host;
  std::vector<std::unique_ptr<wvw::WLayout>> layouts;
  std::vector<std::unique_ptr<tltest::TestBox>> siblings;
  tltest::TestBox leaf;
};

// Motion with a press every eighth event, inside the innermost widget.
template <typename Send> void events(Send send)
{
  for (int i = 0; i < kEvents; i++)
    send(Point(60 + i % 100, 60 + (i / 100) % 100), (i / 8) % 2 ? 1u : 0u);
}

void BM_RouteNested(benchmark::State& state)
{
  Nested n;
  for (auto _ : state)
    events([&](const Point& p, uint32_t mask) { n.layouts.front()->pointerEvent(p, mask); });
  benchmark::DoNotOptimize(n.counter.n);
}
BENCHMARK(BM_RouteNested);

void BM_DirectToLeaf(benchmark::State& state)
{
  Nested n;
  const Point offset(5 * kDepth, 5 * kDepth);
  for (auto _ : state)
    events([&](const Point& p, uint32_t mask) { n.leaf.pointerEvent(p.translate(offset.negate()), mask); });
  benchmark::DoNotOptimize(n.counter.n);
}
BENCHMARK(BM_DirectToLeaf);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // A repaint covers the area about twice in short rows (label
  // backgrounds, button faces as gradients) and adds 2,400 glyphs and 300
  // rounded outlines; nearly all of it is the drawing primitives' time.
  // Sixteen fills of the window (under 1 ms here) keep a full repaint far
  // inside the host's 10 ms damage flush.
  tlbench::printRatio(reporter, "repaint 1000x700, 300 buttons and labels / one fillRect", "BM_RepaintCanvas",
                      "BM_FillCanvas", 16.0);
  // Each of the 8 layouts finds the child under the pointer and passes the
  // event down; none may cost more than the leaf's own handling.
  tlbench::printRatio(reporter, "10,000 pointer events through 8 nested layouts / to the leaf", "BM_RouteNested",
                      "BM_DirectToLeaf", 9.0);
  benchmark::Shutdown();
  return 0;
}
