// A 41-element dialog (a column of ten rows, each a text, an edit field and
// a button) made through the UI model's factories, laid out by its box
// layouts and painted, against the same widget tree built, measured,
// placed and painted directly with the widget set. Both paint offscreen.
// Prints the ratio with its goal.
#include <memory>
#include <vector>

#include "bench_util.h"
#include "mui/MuLayout.h"
#include "mui/MuLeavesWvw.h"
#include "rfb/PixDraw.h"
#include "muiWvwTree.h"
#include "wvwhost.h"

namespace {

using rfb::Point;
using rfb::Rect;

constexpr int kRows = 10;
const Point kSize(400, 400);

void BM_DialogThroughFactories(benchmark::State& state)
{
  tltest::WvwHost host(kSize);
  for (auto _ : state) {
    tltest::HostDialog dialog("d", "", mui::Size(kSize.x, kSize.y), 0, nullptr, nullptr);
    host.setContent(&dialog.canvas);
    mui::MuLayout* column = mui::MuLayout::create(&dialog, "column", mui::MuLayout::kVertical);
    for (int i = 0; i < kRows; i++) {
      mui::MuLayout* row = mui::MuLayout::create(column, "row", mui::MuLayout::kHorizontal);
      mui::MuStatic::create(row, "text", "Label", 0);
      mui::MuEdit::create(row, "edit", nullptr, 0, 0);
      mui::MuButton::create(row, "button", "Go", 0, 0, 1);
    }
    dialog.setSize(kSize);
    dialog.relayout();
    benchmark::DoNotOptimize(&host.paint());
    host.setContent(nullptr);
  }
}
BENCHMARK(BM_DialogThroughFactories)->Unit(benchmark::kMicrosecond);

// The button's face as the back-end paints it.
class Face : public wvw::WCustom::Callback {
public:
  void paint(wvw::WCustom* w, rfb::WritablePixelBuffer& pb) override
  {
    const wvw::WStyle* s = w->getStyle();
    const int top[3] = {s->bevelLight.r, s->bevelLight.g, s->bevelLight.b};
    const int bottom[3] = {s->buttonFace.r, s->buttonFace.g, s->buttonFace.b};
    const Rect all(0, 0, w->width(), w->height());
    rfb::fillVerticalGradient(pb, wvw::Widget::outsetRect(all, -2), top, bottom);
    w->drawBevel(pb, all, wvw::Widget::Bevel::Raised);
    w->WLayout::paint(pb);
  }
  Point preferredSize(wvw::WCustom*) override { return Point(68, 24); }
  bool wantsFocus(wvw::WCustom*) override { return true; }
};

struct Row {
  Row() : layout(wvw::WLayout::PointerRouting::ToChildren), text(nullptr, "<div>Label</div>"), edit("", 8192),
          button(&face, wvw::WLayout::PointerRouting::ToSelf), label("Go")
  {
    text.setMargin(0);
    text.setTransparent(true);
    button.addChild(&image, nullptr);
    button.addChild(&label, nullptr);
    for (wvw::Widget* w : std::initializer_list<wvw::Widget*>{&text, &edit, &button})
      layout.addChild(w, nullptr);
  }
  // Measures and places the row's widgets from x; its height.
  int place(int width)
  {
    int x = 0, height = 0;
    for (wvw::Widget* w : std::initializer_list<wvw::Widget*>{&text, &edit, &button})
      height = std::max(height, w->preferredHeight(-1));
    for (wvw::Widget* w : std::initializer_list<wvw::Widget*>{&text, &edit, &button}) {
      const int wide = std::min(w->preferredWidth(height), width - x);
      layout.setChildRect(w, Rect(x, 0, x + wide, height));
      x += wide + 8;
    }
    const Point l = label.preferredSize();
    button.setChildRect(&label, Rect(4, 4, 4 + l.x, 4 + l.y));
    return height;
  }
  Face face;
  wvw::WLayout layout;
  wvw::WRichText text;
  wvw::WLabelEdit edit;
  wvw::WCustom button;
  mui::WImageWvw image;
  wvw::WLabel label;
};

void BM_SameTreeDirectly(benchmark::State& state)
{
  tltest::WvwHost host(kSize);
  for (auto _ : state) {
    wvw::WCanvas canvas;
    wvw::WLayout column(wvw::WLayout::PointerRouting::ToChildren);
    canvas.addChild(&column, nullptr);
    host.setContent(&canvas);
    std::vector<std::unique_ptr<Row>> rows;
    for (int i = 0; i < kRows; i++) {
      rows.emplace_back(new Row);
      column.addChild(&rows.back()->layout, nullptr);
    }
    canvas.setChildRect(&column, Rect(8, 8, kSize.x - 8, kSize.y - 8));
    int y = 0;
    for (auto& row : rows) {
      const int h = row->place(kSize.x - 16);
      column.setChildRect(&row->layout, Rect(0, y, kSize.x - 16, y + h));
      y += h + 8;
    }
    benchmark::DoNotOptimize(&host.paint());
    host.setContent(nullptr);
  }
}
BENCHMARK(BM_SameTreeDirectly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
  static mui::MuiWvw theMui;
  mui::Mui::setInstance(&theMui);
  mui::MuiWvw::bindFactories();
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The model adds an element per widget group, the box layouts' two
  // measuring passes and the static text's markup; painting dominates.
  tlbench::printRatio(reporter, "make, lay out and paint a 41-element dialog through the factories / directly",
                      "BM_DialogThroughFactories", "BM_SameTreeDirectly", 1.5);
  benchmark::Shutdown();
  return 0;
}
