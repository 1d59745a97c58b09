// Controls: typing 10,000 characters into an edit field, each key followed
// by a repaint of the field, against building the same text in a
// plat::DString; and relaying out a 500-entry menu against placing 500
// plain widgets in a column of the same container. Prints each ratio with
// its goal.
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "plat/DString.h"
#include "wvw/WEdit.h"
#include "wvw/WMenu.h"
#include "wvwhost.h"

namespace {

using rfb::Point;
using rfb::Rect;

constexpr int kChars = 10000, kEntries = 500;

char charAt(int i)
{
  return (char)('a' + i % 26);
}

void BM_TypeIntoEdit(benchmark::State& state)
{
  tltest::WvwHost host(Point(300, 24));
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, 300, 24));
  for (auto _ : state) {
    wvw::WEdit edit(kChars);
    host.setContent(&edit);
    edit.setFocus();
    for (int i = 0; i < kChars; i++) {
      host.typeKey((uint32_t)(unsigned char)charAt(i));
      edit.paint(fb);
    }
    benchmark::DoNotOptimize(edit.length());
    host.setContent(nullptr);
  }
}
BENCHMARK(BM_TypeIntoEdit)->Unit(benchmark::kMillisecond);

void BM_BuildDString(benchmark::State& state)
{
  for (auto _ : state) {
    plat::DString text;
    for (int i = 0; i < kChars; i++)
      text.appendChar((unsigned char)charAt(i));
    benchmark::DoNotOptimize(text.get());
  }
}
BENCHMARK(BM_BuildDString)->Unit(benchmark::kMillisecond);

void BM_RelayoutMenu(benchmark::State& state)
{
  tltest::WvwHost host;
  host.screen = Rect(0, 0, 1920, 1080); // several columns
  wvw::WRootMenu menu(wvw::WMenu::CheckColumn::Yes, &host, wvw::WMenu::Mnemonics::Shown, nullptr);
  std::vector<std::unique_ptr<wvw::WMenuItem>> items;
  for (int i = 0; i < kEntries; i++)
    items.emplace_back(new wvw::WMenuItem(&menu, ("Entry &" + std::to_string(i)).c_str()));
  menu.setMaxHeight(1080);
  for (auto _ : state) {
    menu.relayout();
    benchmark::DoNotOptimize(menu.columns());
  }
}
BENCHMARK(BM_RelayoutMenu);

void BM_PlaceBoxes(benchmark::State& state)
{
  wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
  std::vector<std::unique_ptr<tltest::TestBox>> boxes;
  for (int i = 0; i < kEntries; i++)
    boxes.emplace_back(new tltest::TestBox(&layout));
  int shift = 0;
  for (auto _ : state) {
    shift ^= 1; // a real move each time
    for (int i = 0; i < kEntries; i++)
      layout.setChildRect(boxes[i].get(), Rect(4 + shift, 4 + 20 * i, 104, 24 + 20 * i));
    benchmark::DoNotOptimize(layout.preferredSize());
  }
}
BENCHMARK(BM_PlaceBoxes);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Each key copies the text once (the candidate a filter sees), measures
  // its length a few times and repaints the field: a bevel, two fills and
  // only the visible glyphs, the text's width and caret offset following
  // from the changed bytes. That is a few linear passes where the peer's
  // append makes one, plus a constant repaint; 250 appends' worth per key
  // keeps a key in a 10,000-byte field around ten microseconds here.
  tlbench::printRatio(reporter, "type 10,000 chars into an edit, repainting / build them in a DString",
                      "BM_TypeIntoEdit", "BM_BuildDString", 250.0);
  // A relayout measures every entry twice (widest, then placement) and
  // places it; the peer only places.
  tlbench::printRatio(reporter, "relayout a 500-entry menu / place 500 widgets in a column", "BM_RelayoutMenu",
                      "BM_PlaceBoxes", 4.0);
  benchmark::Shutdown();
  return 0;
}
