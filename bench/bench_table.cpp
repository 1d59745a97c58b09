// Table: painting a table of 100,000 rows against one of 100 rows, both
// showing the same screenful with a selection and a scrolled-down first
// row. Only the visible rows may cost anything. Prints the ratio with its
// goal.
#include <stdio.h>

#include <string>

#include "bench_util.h"
#include "wvw/WTable.h"
#include "wvwhost.h"

namespace {

using rfb::Point;
using rfb::Rect;

constexpr int kWidth = 400, kHeight = 600;

struct Cells : wvw::WTable::Callback {
  const char* cellText(wvw::WTable*, int row, int id) override
  {
    // The same glyphs on every row of both tables.
    text = "row " + std::to_string(row % 100) + " column " + std::to_string(id);
    return text.c_str();
  }
  rfb::PixelBuffer* cellIcon(wvw::WTable*, int, int) override { return nullptr; }
  bool canSelect(wvw::WTable*, int) override { return true; }
  bool paintCell(wvw::WTable*, int, int, rfb::WritablePixelBuffer&, const Rect&) override { return false; }
  bool cellStyle(wvw::WTable*, int, int, plat::Markup::Style&) override { return false; }
  void doubleClicked(wvw::WTable*, int, int) override {}
  std::string text;
};

void paintRows(benchmark::State& state, int rows)
{
  tltest::WvwHost host(Point(kWidth, kHeight));
  Cells cells;
  wvw::WTable table(&cells, wvw::WTable::kHeader);
  host.setContent(&table);
  table.addColumn(1, wvw::WTable::kText, "Name", -1, Point(0, 0), 0, 1);
  table.addColumn(2, wvw::WTable::kText, "Detail", 150, Point(0, 0), 2, 1);
  table.setRowCount(rows);
  table.setSelection(rows - 10, 1);
  rfb::ManagedPixelBuffer fb(rfb::xrgb8888Format(), Rect(0, 0, kWidth, kHeight));
  for (auto _ : state) {
    table.paint(fb);
    benchmark::ClobberMemory();
  }
  state.counters["visible"] = (double)table.visibleRows();
}

void BM_Table100000Rows(benchmark::State& state)
{
  paintRows(state, 100000);
}
BENCHMARK(BM_Table100000Rows);

void BM_Table100Rows(benchmark::State& state)
{
  paintRows(state, 100);
}
BENCHMARK(BM_Table100Rows);

} // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tlbench::printRatio(reporter, "table of 100,000 rows painted / table of 100 rows", "BM_Table100000Rows",
                      "BM_Table100Rows", 1.2);
  benchmark::Shutdown();
  return 0;
}
