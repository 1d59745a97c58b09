// Tab sheets: adding, removing and selecting with a vetoing callback, the
// arrows and their states, strip scrolling by 25 and into view, Ctrl+Tab
// wrapping, fatal index checks, deletion from a callback and from a tab's
// activation, and a golden of the join between sheet and selected tab.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "plat/Configuration.h"
#include "wvwgolden.h"
#include "wvw/WStyle.h"
#include "wvw/WTabSheets.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::TestBox;
using tltest::WvwHost;
using wvw::WTabSheets;

constexpr uint32_t kTab = 0xFF09, kCtrl = 0xFFE3, kShift = 0xFFE1;

// Logs every question; vetoes the moves to veto.
struct Veto : WTabSheets::Callback {
  bool mayChange(int current, int next) override
  {
    log.push_back(std::to_string(current) + ">" + std::to_string(next));
    if (destroy)
      owned.reset();
    return next != veto;
  }
  int veto = -100;
  bool destroy = false;
  std::vector<std::string> log;
  std::unique_ptr<WTabSheets> owned;
};

class WTabSheetsTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
  // The tab titles from left to right in the strip.
  static std::string strip(WTabSheets& p)
  {
    std::vector<std::pair<int, std::string>> tabs;
    for (int i = 0; i < p.sheetCount(); i++)
      tabs.emplace_back(p.strip().getChildPosition(p.tabAt(i)).x, p.tabAt(i)->label().getText());
    std::sort(tabs.begin(), tabs.end());
    std::string s;
    for (const auto& t : tabs)
      s += t.second;
    return s;
  }
};

TEST_F(WTabSheetsTest, AddRemoveSelectWithVeto)
{
  WvwHost host(Point(400, 200));
  WTabSheets pager;
  host.setContent(&pager);
  TestBox a, b, c, d;
  Veto veto;
  pager.addCallback(&veto);
  EXPECT_EQ(0, pager.addSheet("A", &a));
  EXPECT_EQ(1, pager.addSheet("C", &c));
  EXPECT_EQ(1, pager.addSheet("B", &b, 1));
  EXPECT_EQ("ABC", strip(pager));
  EXPECT_EQ(-1, pager.currentIndex());
  const int th = pager.tabAt(0)->height();
  EXPECT_EQ(pager.tabAt(0)->preferredSize().translate(Point(6, 4)), pager.tabAt(0)->getSize());
  EXPECT_EQ(Point((int)std::lround(th * 0.85), th), pager.leftArrow().getSize());

  pager.selectSheet(1);
  EXPECT_EQ(1, pager.currentIndex());
  EXPECT_TRUE(pager.tabAt(1)->isSelected());
  EXPECT_EQ(pager.sheetAt(1), pager.children().back().widget);
  EXPECT_EQ(Point(0, th - 1), pager.getChildPosition(pager.sheetAt(1)));
  EXPECT_EQ(Point(400, 200 - th), pager.sheetAt(1)->getSize());
  EXPECT_EQ(Point(10, th + 9), pager.contentOrigin());
  EXPECT_EQ(0, pager.strip().getChildPosition(pager.tabAt(1)).y);
  EXPECT_EQ(1, pager.strip().getChildPosition(pager.tabAt(0)).y);

  // A veto keeps sheet and tab exactly as they were.
  veto.veto = 2;
  host.click(pager.strip().getChildPosition(pager.tabAt(2)).x + 3, 5);
  EXPECT_EQ(1, pager.currentIndex());
  EXPECT_TRUE(pager.tabAt(1)->isSelected());
  EXPECT_FALSE(pager.tabAt(2)->isSelected());
  EXPECT_FALSE(pager.sheetAt(2)->isAttached());

  // Inserting before the current sheet keeps it current.
  EXPECT_EQ(0, pager.addSheet("D", &d, 0));
  EXPECT_EQ("DABC", strip(pager));
  EXPECT_EQ(2, pager.currentIndex());
  // Removing one before it lowers its index; removing it leaves none.
  pager.removeSheet(0);
  EXPECT_EQ(1, pager.currentIndex());
  EXPECT_EQ(&b, pager.sheetAt(1)->getContent());
  pager.removeSheet(1);
  EXPECT_EQ(-1, pager.currentIndex());
  EXPECT_EQ("AC", strip(pager));
  EXPECT_FALSE(b.isAttached());
  EXPECT_EQ((std::vector<std::string>{"-1>1", "1>2"}), veto.log);
  pager.removeCallback(&veto);
  pager.selectSheet(1);
  EXPECT_EQ(&c, pager.sheetAt(pager.currentIndex())->getContent());
  pager.selectSheet(-1);
  EXPECT_EQ(-1, pager.currentIndex());
  EXPECT_EQ(1u, pager.children().size());
}

// Ctrl+Tab forward and Ctrl+Shift+Tab back, both wrapping; nothing on an
// empty pager.
TEST_F(WTabSheetsTest, CtrlTabWraps)
{
  WvwHost host(Point(400, 200));
  WTabSheets pager;
  host.setContent(&pager);
  host.hold(kCtrl);
  host.typeKey(kTab);
  EXPECT_EQ(-1, pager.currentIndex());
  TestBox a, b, c;
  pager.addSheet("A", &a);
  pager.addSheet("B", &b);
  pager.addSheet("C", &c);
  const struct {
    bool shift;
    int index;
  } steps[] = {{false, 0}, {false, 1}, {false, 2}, {false, 0}, {true, 2}, {true, 1}, {true, 0}, {true, 2}};
  for (const auto& s : steps) {
    if (s.shift)
      host.hold(kShift);
    pager.keyEvent(kTab, true);
    pager.keyEvent(kTab, false);
    host.releaseAll();
    host.hold(kCtrl);
    EXPECT_EQ(s.index, pager.currentIndex());
  }
  pager.selectSheet(-1);
  host.hold(kShift);
  pager.keyEvent(kTab, true);
  EXPECT_EQ(2, pager.currentIndex());
}

// Arrows appear when the tabs do not fit; the left one is disabled at
// offset 0, the right one once the last tab's right edge shows; they move
// the strip by 25; selecting a hidden tab scrolls it into view.
TEST_F(WTabSheetsTest, ArrowsAndStripScrolling)
{
  WvwHost host(Point(200, 120));
  WTabSheets pager;
  host.setContent(&pager);
  std::vector<std::unique_ptr<TestBox>> boxes;
  for (int i = 0; i < 3; i++) {
    boxes.emplace_back(new TestBox);
    pager.addSheet(("Tab" + std::to_string(i)).c_str(), boxes.back().get());
  }
  EXPECT_FALSE(pager.arrowsShown());
  for (int i = 3; i < 8; i++) {
    boxes.emplace_back(new TestBox);
    pager.addSheet(("Tab" + std::to_string(i)).c_str(), boxes.back().get());
  }
  ASSERT_TRUE(pager.arrowsShown());
  const int aw = pager.leftArrow().width();
  int S = 0;
  for (int i = 0; i < 8; i++)
    S += pager.tabAt(i)->width();
  const int x1 = 200 - 2 * aw, m = x1 - S;
  EXPECT_EQ(Point(200 - 2 * aw, 2), pager.getChildPosition(&pager.leftArrow()));
  EXPECT_EQ(Point(200 - aw, 2), pager.getChildPosition(&pager.rightArrow()));
  EXPECT_EQ(Rect(0, 0, x1, pager.tabAt(0)->height()), pager.getChildRect(&pager.strip()));
  EXPECT_FALSE(pager.leftArrow().isEnabled());
  EXPECT_TRUE(pager.rightArrow().isEnabled());

  const Point right = pager.getChildPosition(&pager.rightArrow()).translate(Point(3, 3));
  const Point left = pager.getChildPosition(&pager.leftArrow()).translate(Point(3, 3));
  host.click(right.x, right.y);
  EXPECT_EQ(-25, pager.stripOffset());
  EXPECT_TRUE(pager.leftArrow().isEnabled());
  for (int i = 0; i < 20; i++)
    host.click(right.x, right.y);
  EXPECT_EQ(m, pager.stripOffset());
  EXPECT_FALSE(pager.rightArrow().isEnabled());
  EXPECT_EQ(Rect(m, 0, x1, pager.tabAt(0)->height()), pager.getChildRect(&pager.strip()));
  pager.selectSheet(7);
  host.click(left.x, left.y);
  EXPECT_EQ(m + 25, pager.stripOffset());

  // Into view with a margin of 10: the first tab from the far right, the
  // last one back from the left.
  pager.selectSheet(0);
  EXPECT_EQ(0, pager.stripOffset());
  pager.selectSheet(7);
  EXPECT_EQ(m, pager.stripOffset());
  pager.selectSheet(1);
  const int x0 = pager.strip().getChildPosition(pager.tabAt(1)).x;
  EXPECT_EQ(std::min(0, m + std::min(10 - (x0 + m), x1 - m - (x0 + pager.tabAt(1)->width()))), pager.stripOffset());
  // Wide enough again: no arrows, offset 0.
  host.content()->setSize(Point(S + 10, 120));
  EXPECT_FALSE(pager.arrowsShown());
  EXPECT_EQ(0, pager.stripOffset());
  EXPECT_FALSE(pager.leftArrow().isAttached());
}

TEST_F(WTabSheetsTest, IndexChecksAreFatal)
{
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  const struct {
    std::function<void(WTabSheets&)> call;
    const char* message;
  } cases[] = {
      {[](WTabSheets& p) { p.removeSheet(-1); }, "index >= 0"},
      {[](WTabSheets& p) { p.removeSheet(1); }, "index < \\(int\\)sheets.size\\(\\)"},
      {[](WTabSheets& p) { p.sheetAt(5); }, "index < \\(int\\)sheets.size\\(\\)"},
      {[](WTabSheets& p) { p.selectSheet(1); }, "index < \\(int\\)sheets.size\\(\\)"},
      {[](WTabSheets& p) { p.setTabTitle(1, "x"); }, "index < \\(int\\)tabs.size\\(\\)"},
      {[](WTabSheets& p) { p.setTabTitle(-2, "x"); }, "index >= 0"},
  };
  for (const auto& c : cases) {
    EXPECT_DEATH(
        {
          WTabSheets pager;
          TestBox box;
          pager.addSheet("A", &box);
          c.call(pager);
        },
        c.message);
  }
}

// A veto callback or a tab's activation may destroy the pager.
TEST_F(WTabSheetsTest, DestroyedFromCallbackAndActivation)
{
  struct Killer : wvw::WInputHandler {
    Veto* veto;
    bool activated(wvw::Widget*) override
    {
      veto->owned.reset();
      return false;
    }
  };
  for (bool fromActivation : {false, true}) {
    SCOPED_TRACE(fromActivation);
    WvwHost host(Point(300, 150));
    Veto veto;
    Killer killer;
    killer.veto = &veto;
    TestBox a, b;
    veto.owned.reset(new WTabSheets);
    host.setContent(veto.owned.get());
    veto.owned->addSheet("One", &a);
    veto.owned->addSheet("Two", &b);
    if (fromActivation)
      veto.owned->tabAt(1)->setInputHandler(&killer);
    else
      veto.owned->addCallback(&veto);
    veto.destroy = !fromActivation;
    host.click(veto.owned->strip().getChildPosition(veto.owned->tabAt(1)).x + 4, 6);
    EXPECT_FALSE(veto.owned);
    EXPECT_FALSE(a.isAttached());
    host.paint();
  }
  // Ctrl+Tab into a destroying callback.
  WvwHost host(Point(300, 150));
  Veto veto;
  TestBox a;
  veto.owned.reset(new WTabSheets);
  host.setContent(veto.owned.get());
  veto.owned->addSheet("One", &a);
  veto.owned->addCallback(&veto);
  veto.destroy = true;
  host.hold(kCtrl);
  host.typeKey(kTab);
  EXPECT_FALSE(veto.owned);
}

// The frame opens under the selected tab; its edges join the tab's.
TEST_F(WTabSheetsTest, GoldenJoin)
{
  WvwHost host(Point(240, 110));
  wvw::WCanvas canvas;
  WTabSheets pager;
  canvas.addChildRect(&pager, Rect(5, 5, 235, 105), nullptr);
  host.setContent(&canvas);
  TestBox a, b, c;
  pager.addSheet("General", &a);
  pager.addSheet("Network", &b);
  pager.addSheet("About", &c);
  pager.selectSheet(1);
  host.paint();
  const auto& st = wvw::WStyle::getDefault();
  const Rect tab = pager.sheetAt(1)->getTabRect();
  const int y0 = 5 + pager.getChildPosition(pager.sheetAt(1)).y, a0 = 5 + tab.topLeft.x, b0 = 5 + tab.bottomRight.x;
  EXPECT_EQ(st.bg, host.at((a0 + b0) / 2, y0));
  EXPECT_EQ(st.bg, host.at((a0 + b0) / 2, y0 + 1));
  EXPECT_EQ(st.bevelFrame, host.at(a0 - 5, y0));
  EXPECT_EQ(st.bevelFrame, host.at(a0, y0 + 1));
  EXPECT_EQ(st.bevelLight, host.at(a0 + 1, y0 + 2));
  EXPECT_EQ(st.bevelFrame, host.at(b0 - 1, y0 + 1));
  EXPECT_EQ(st.bevelLight, host.at(b0 - 2, y0 + 2));
  EXPECT_EQ(st.bevelFrame, host.at(5, y0 + 1));
  // The selected tab's face starts light, the others' grey (their first
  // face row lies under their outline, one pixel lower).
  EXPECT_EQ((Colour{238, 238, 238}), host.at(a0 + 4, 5 + 2));
  EXPECT_EQ((Colour{238, 238, 238}), host.at(5 + 4, 5 + 3));
  EXPECT_LT(host.at(5 + 4, 5 + 4).r, 190);
  tltest::expectGolden(host.paint(), "tabsheets");
}

} // namespace
