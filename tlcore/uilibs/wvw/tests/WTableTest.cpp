// The table against a scripted callback: relayout and column widths,
// selection and moveSelection over refused rows, scrolling into view, hit
// tests on every edge, wheel and keys, double clicks on the test clock,
// cell styles and owner-painted rows and cells, deletion from handlers,
// and a golden with header, selection, icons and scrollbar.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "plat/Configuration.h"
#include "tlutil/Font.h"
#include "wvwgolden.h"
#include "wvw/WStyle.h"
#include "wvw/WTable.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;
using wvw::WTable;

constexpr uint32_t kUp = 0xFF52, kDown = 0xFF54;

// Texts "r<row>c<id>", icons on even rows, rows refused by refuse, and a
// log of what the table asked and told.
struct Script : WTable::Callback {
  Script() : icon(rfb::xrgb8888Format(), Rect(0, 0, 20, 20))
  {
    const int rgba[4] = {200, 40, 40, 255};
    rfb::fillRect(icon, icon.rect, rfb::pixelFromRGBA(icon.format, rgba, nullptr));
  }
  const char* cellText(WTable*, int row, int id) override
  {
    text = "r" + std::to_string(row) + "c" + std::to_string(id);
    return text.c_str();
  }
  rfb::PixelBuffer* cellIcon(WTable*, int row, int) override { return row % 2 ? nullptr : &icon; }
  bool canSelect(WTable*, int row) override { return !refuse.count(row); }
  bool paintCell(WTable*, int row, int id, rfb::WritablePixelBuffer& pb, const Rect& r) override
  {
    if (!ownRows.count(row) && !(ownCell.first == row && ownCell.second == id && id >= 0))
      return false;
    if (ownRows.count(row) && id >= 0)
      ADD_FAILURE() << "cell asked of an owner-painted row";
    const int rgba[4] = {0, 0, 255, 255};
    rfb::fillRect(pb, r, rfb::pixelFromRGBA(pb.format, rgba, nullptr));
    return true;
  }
  bool cellStyle(WTable*, int row, int, plat::Markup::Style& style) override
  {
    if (row != styledRow)
      return false;
    style = plat::Markup::Style(0, 120, 700, "#008000", "#ffff00");
    return true;
  }
  void doubleClicked(WTable* table, int row, int id) override
  {
    log.push_back("double " + std::to_string(row) + " " + std::to_string(id));
    if (deleteOnDouble)
      owned.reset();
    (void)table;
  }

  rfb::ManagedPixelBuffer icon;
  std::string text;
  std::set<int> refuse, ownRows;
  std::pair<int, int> ownCell{-1, -1};
  int styledRow = -1;
  std::vector<std::string> log;
  bool deleteOnDouble = false;
  std::unique_ptr<WTable> owned;
};

class WTableTest : public testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    L = wvw::WStyle::getDefault().font->lineHeight;
    R = L + 8;
  }
  int L = 0, R = 0;
};

TEST_F(WTableTest, RelayoutAndColumnWidths)
{
  Script script;
  WvwHost host(Point(200, 4 + 5 * R));
  WTable table(&script, WTable::kHeader);
  host.setContent(&table);
  EXPECT_EQ(R, table.rowHeight());
  EXPECT_EQ(R, table.headerHeight());
  EXPECT_EQ(4, table.visibleRows());
  table.addColumn(1, WTable::kText, "Fixed", 50, Point(0, 0), 0, 0);
  table.addColumn(2, WTable::kText, "Auto", -1, Point(0, 0), 0, 0);
  table.addColumn(3, WTable::kIcon, nullptr, -1, Point(0, 0), 1, 1);
  table.addColumn(4, WTable::kText, "More", -1, Point(0, 0), 2, 0);
  const auto widths = [&] {
    std::vector<int> w;
    for (const auto& c : table.columns())
      w.push_back(table.columnWidth(c));
    return w;
  };
  // A table taller than its rows: no scrollbar, the full width shared.
  table.setRowCount(4);
  EXPECT_FALSE(table.scrollbar().isVisible());
  EXPECT_EQ((std::vector<int>{50, 63, 20, 63}), widths());
  // One row more than fit: the scrollbar takes 16 pixels.
  table.setRowCount(5);
  EXPECT_TRUE(table.scrollbar().isVisible());
  EXPECT_EQ((std::vector<int>{50, 55, 20, 55}), widths());
  EXPECT_EQ(Rect(182, 2 + R, 198, 2 + 5 * R), table.getChildRect(&table.scrollbar()));
  EXPECT_EQ(1, table.scrollbar().range());
  // A tall icon sets the row height; without automatic text columns the
  // remaining width is reported.
  table.addColumn(5, WTable::kIcon, nullptr, 30, Point(24, 40), 0, 0);
  EXPECT_EQ(std::max(R, 44), table.rowHeight());
  table.removeColumn(2);
  table.removeColumn(4);
  table.removeColumn(99);
  EXPECT_EQ((std::vector<int>{50, 20, 30}), widths());
  EXPECT_EQ(table.scrollbar().isVisible() ? 80 : 96, table.autoWidth());
}

// The selected column follows its column when one before it is removed.
TEST_F(WTableTest, RemoveColumnKeepsTheSelectedColumn)
{
  Script script;
  WvwHost host(Point(200, 100));
  WTable table(&script, 0);
  host.setContent(&table);
  for (int id : {10, 20, 30})
    table.addColumn(id, WTable::kText, nullptr, 40, Point(0, 0), 0, 0);
  table.setRowCount(3);
  table.setSelection(1, 30);
  EXPECT_EQ(2, table.selectedColumn());
  table.removeColumn(10);
  EXPECT_EQ(1, table.selectedColumn());
  EXPECT_EQ(30, table.columns()[table.selectedColumn()].id);
  table.removeColumn(30);
  EXPECT_EQ(-1, table.selectedColumn());
  host.paint();
}

// Keys and wheel steps over refused rows, scrolling into view.
TEST_F(WTableTest, SelectionWalk)
{
  Script script;
  script.refuse = {1, 3, 5, 7, 9};
  WvwHost host(Point(200, 4 + 3 * R));
  WTable table(&script, 0);
  host.setContent(&table);
  table.addColumn(7, WTable::kText, nullptr, -1, Point(0, 0), 0, 0);
  table.setRowCount(9);
  ASSERT_EQ(3, table.visibleRows());
  host.takeEvents();
  const struct {
    uint32_t key; // or 3/4 for the wheel
    int selected, first;
  } steps[] = {
      {kDown, 0, 0}, {kDown, 2, 0}, {kDown, 4, 2}, {kDown, 6, 4}, {kDown, 8, 6}, {kDown, 8, 6}, {kUp, 6, 6},
      {3, 4, 4},     {3, 2, 2},     {4, 4, 2},     {kUp, 2, 2},  {kUp, 0, 0},   {kUp, 0, 0},   {4, 2, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.key) + " to " + std::to_string(s.selected));
    if (s.key < 5)
      host.click(50, 10, (int)s.key);
    else
      host.typeKey(s.key);
    EXPECT_EQ(s.selected, table.selectedRow());
    EXPECT_EQ(s.first, table.firstVisibleRow());
  }
  // Above the first row the view scrolls to the top and the selection stays.
  table.scrollbar().setValue(5);
  table.setSelection(0, 7);
  EXPECT_EQ(0, table.firstVisibleRow());
  table.scrollbar().setValue(5);
  EXPECT_FALSE(table.moveSelection(-1));
  EXPECT_EQ(0, table.firstVisibleRow());
  EXPECT_EQ(0, table.selectedRow());
  // A refused row is no selection; a count change clears it.
  table.setSelection(3, 7);
  EXPECT_EQ(-1, table.selectedRow());
  table.setSelection(8, 7);
  table.setRowCount(20);
  EXPECT_EQ(-1, table.selectedRow());
  EXPECT_FALSE(table.moveSelection(-1));
  // Each change was reported once as valueChanged.
  int changes = 0;
  for (const auto& e : host.takeEvents())
    changes += e.rfind("valueChanged", 0) == 0;
  EXPECT_GT(changes, 10);
}

// Every edge of the rows' area, the header and the scrollbar.
TEST_F(WTableTest, HitTests)
{
  Script script;
  WvwHost host(Point(200, 4 + 4 * R));
  WTable table(&script, WTable::kHeader);
  host.setContent(&table);
  WTable::Hit hit;
  // No columns: a row, but never a column.
  table.setRowCount(10);
  EXPECT_TRUE(table.hitTest(Point(10, 2 + R), &hit));
  EXPECT_EQ(0, hit.row);
  EXPECT_EQ(-1, hit.columnId);
  table.addColumn(1, WTable::kText, "A", 60, Point(0, 0), 0, 0);
  table.addColumn(2, WTable::kText, "B", 40, Point(0, 0), 0, 0);
  table.scrollbar().setValue(2);
  const int top = 2 + R, bottom = 4 + 4 * R - 2;
  const struct {
    Point p;
    bool ok;
    int row, column;
  } cases[] = {
      {{1, top}, false, -1, -1},           {{2, top}, true, 2, 1},             {{61, top}, true, 2, 1},
      {{62, top}, true, 2, 2},             {{101, top}, true, 2, 2},           {{181, top}, true, 2, 2},
      {{182, top}, false, -1, -1},         {{190, top + 5}, false, -1, -1},    {{50, top - 1}, false, -1, -1},
      {{50, 2}, false, -1, -1},            {{50, top + R - 1}, true, 2, 1},    {{50, top + R}, true, 3, 1},
      {{50, bottom - 1}, true, 4, 1},      {{50, bottom}, false, -1, -1},      {{199, top}, false, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.p.x) + "," + std::to_string(c.p.y));
    EXPECT_EQ(c.ok, table.hitTest(c.p, &hit));
    EXPECT_EQ(c.row, hit.row);
    EXPECT_EQ(c.column, hit.columnId);
  }
  // Rows past the end hit no row and no column.
  table.setRowCount(2);
  EXPECT_TRUE(table.hitTest(Point(50, bottom - 1), &hit));
  EXPECT_EQ(-1, hit.row);
  EXPECT_EQ(-1, hit.columnId);
}

// Clicks below the rows keep or clear the selection; two clicks on one
// cell within DoubleClickTime make a double click, later ones and clicks
// on other cells activations.
TEST_F(WTableTest, ClicksAndDoubleClicks)
{
  for (uint32_t options : {0u, (uint32_t)WTable::kKeepSelection}) {
    Script script;
    WvwHost host(Point(200, 4 + 6 * R));
    WTable table(&script, options);
    host.setContent(&table);
    table.addColumn(1, WTable::kText, nullptr, 100, Point(0, 0), 0, 0);
    table.addColumn(2, WTable::kText, nullptr, -1, Point(0, 0), 0, 0);
    table.setRowCount(3);
    host.click(10, 2 + R + 1);
    EXPECT_EQ(1, table.selectedRow());
    EXPECT_TRUE(table.hasFocus());
    host.click(10, 2 + 5 * R);
    EXPECT_EQ(options ? 1 : -1, table.selectedRow());
    host.takeEvents();
    const struct {
      int wait, x, row;
    } clicks[] = {{600, 10, 0}, {499, 10, 0}, {10, 10, 0}, {600, 10, 0}, {500, 10, 0}, {600, 10, 1}, {100, 150, 1}};
    for (const auto& c : clicks) {
      host.advance(c.wait);
      host.click(c.x, 2 + c.row * R + 1);
    }
    EXPECT_EQ((std::vector<std::string>{"double 0 1"}), script.log);
    int activations = 0;
    for (const auto& e : host.takeEvents())
      activations += e.rfind("activated", 0) == 0;
    EXPECT_EQ(6, activations);
  }
}

// An empty table selects nothing and ignores Up and Down.
TEST_F(WTableTest, EmptyTable)
{
  Script script;
  WvwHost host(Point(200, 60));
  WTable table(&script, WTable::kHeader);
  host.setContent(&table);
  table.addColumn(1, WTable::kText, "Name", -1, Point(0, 0), 0, 0);
  host.setFocus(&table);
  for (uint32_t k : {kDown, kUp})
    host.typeKey(k);
  host.click(50, 40);
  EXPECT_EQ(-1, table.selectedRow());
  host.paint();
  const Colour bg = wvw::WStyle::getDefault().contentBg;
  EXPECT_EQ(bg, host.at(100, 50));
}

// A callback or handler may destroy the table from a double click, an
// activation or a selection change.
TEST_F(WTableTest, HandlersDestroyTheTable)
{
  struct Killer : wvw::WInputHandler {
    Script* script;
    std::string on;
    bool activated(wvw::Widget*) override { return kill("activated"); }
    bool valueChanged(wvw::Widget*) override { return kill("valueChanged"); }
    bool kill(const std::string& what)
    {
      if (what == on)
        script->owned.reset();
      return false;
    }
  };
  for (const char* on : {"activated", "valueChanged", "double"}) {
    SCOPED_TRACE(on);
    Script script;
    Killer killer;
    killer.script = &script;
    killer.on = on;
    script.deleteOnDouble = std::string(on) == "double";
    WvwHost host(Point(200, 100));
    script.owned.reset(new WTable(&script, 0));
    host.setContent(script.owned.get());
    script.owned->setInputHandler(&killer);
    script.owned->addColumn(1, WTable::kText, nullptr, -1, Point(0, 0), 0, 0);
    script.owned->setRowCount(5);
    host.click(20, 5);
    host.click(20, 5);
    EXPECT_FALSE(script.owned);
    host.advance(1000);
  }
}

// Cell styles colour a cell's text and background, never on the selected
// row; owner-painted rows and cells are left to the callback.
TEST_F(WTableTest, GoldenWithHeaderSelectionIconsAndScrollbar)
{
  Script script;
  script.refuse = {3};
  script.styledRow = 1;
  script.ownRows = {4};
  script.ownCell = {5, 2};
  WvwHost host(Point(220, 4 + 7 * 24));
  WTable table(&script, WTable::kHeader);
  host.setContent(&table);
  table.addColumn(1, WTable::kIcon, nullptr, -1, Point(0, 0), 1, 1);
  table.addColumn(2, WTable::kText, "Name", -1, Point(0, 0), 0, 1);
  table.addColumn(3, WTable::kText, "Size", 60, Point(0, 0), 2, 1);
  table.setRowCount(30);
  table.setSelection(2, 2);
  host.setFocus(&table);
  host.paint();
  const auto& st = wvw::WStyle::getDefault();
  const int H = table.headerHeight(), RH = table.rowHeight();
  const int top = 2 + H;
  // Styled row: yellow background behind its text cells, not the icon.
  EXPECT_EQ((Colour{255, 255, 0}), host.at(30, top + RH + 1));
  EXPECT_EQ(st.contentBg, host.at(3, top + RH + 1));
  // Selected row across the body; owner-painted row and cell in blue.
  EXPECT_EQ(st.selectionBg, host.at(150, top + 2 * RH + 1));
  EXPECT_EQ((Colour{0, 0, 255}), host.at(150, top + 4 * RH + 1));
  EXPECT_EQ((Colour{0, 0, 255}), host.at(30, top + 5 * RH + 1));
  EXPECT_EQ(st.contentBg, host.at(150, top + 5 * RH + 1));
  // The icon on row 0 is centred in its 20-pixel column (16 of 20 drawn).
  EXPECT_EQ((Colour{200, 40, 40}), host.at(4, top + (RH - 16) / 2));
  EXPECT_EQ(st.contentBg, host.at(3, top + (RH - 16) / 2 - 1));
  // Header lines between columns, the frame band in bg.
  EXPECT_EQ(st.bevelFrame, host.at(2 + 20 - 1, 4));
  EXPECT_EQ(st.bevelLight, host.at(2 + 20, 4));
  EXPECT_TRUE(table.scrollbar().isVisible());
  tltest::expectGolden(host.paint(), "table");
}

} // namespace
