// Labelled controls and the panel: width rules, vertical alignment, the
// labelled check box's label clicks, the panel's geometry and a golden.
#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "tlutil/Font.h"
#include "wvwgolden.h"
#include "wvw/WLabelWidget.h"
#include "wvw/WStyle.h"

namespace {

using rfb::Point;
using rfb::Rect;
using tltest::TestBox;
using tltest::WvwHost;

class WLabelWidgetTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

// A widget of fixed preferred size.
class Sized : public TestBox {
public:
  explicit Sized(Point size) : size_(size) {}
  Point preferredSize() override { return size_; }
  int preferredHeight(int) override { return size_.y; }
  int preferredWidth(int) override { return size_.x; }

private:
  Point size_;
};

TEST_F(WLabelWidgetTest, WidthRules)
{
  tlutil::Font* font = wvw::WStyle::getDefault().font;
  const char* text = "Name:";
  const int lw = wvw::WLabel(text).preferredWidth(30);
  ASSERT_EQ(font->textWidth(text), lw); // margin 0
  struct Case {
    int labelRule, widgetRule;
    bool widgetFirst;
    Rect label, widget; // widget rect before the vertical move (y 0)
  } cases[] = {
      {0, -1, false, Rect(0, 0, lw, 30), Rect(lw + 4, 0, 300, 30)},
      {50, -1, false, Rect(0, 0, 50, 30), Rect(50, 0, 300, 30)},
      {0, 0, false, Rect(0, 0, lw, 30), Rect(lw + 4, 0, lw + 4 + 40, 30)},
      {-1, -2, false, Rect(0, 0, 98, 30), Rect(102, 0, 102 + 197, 30)},
      {0, -1, true, Rect(300 - lw, 0, 300, 30), Rect(0, 0, 300 - lw - 4, 30)},
      {0, 100, true, Rect(100, 0, 100 + lw, 30), Rect(0, 0, 100, 30)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.labelRule) + " " + std::to_string(c.widgetRule) + " " + std::to_string(c.widgetFirst));
    WvwHost host(Point(300, 30));
    wvw::WLabelWidget lwid(text, c.labelRule, c.widgetRule);
    Sized w(Point(40, 30));
    lwid.setWidget(&w);
    lwid.setWidgetFirst(c.widgetFirst);
    host.setContent(&lwid);
    EXPECT_EQ(lwid.getChildRect(&lwid.label()), c.label);
    EXPECT_EQ(lwid.getChildRect(&w), c.widget);
  }
  // Two natural widths too wide: the first gives way.
  WvwHost host(Point(60, 30));
  wvw::WLabelWidget narrow(text, 0, 0);
  Sized w(Point(40, 30));
  narrow.setWidget(&w);
  host.setContent(&narrow);
  EXPECT_EQ(narrow.getChildRect(&narrow.label()), Rect(0, 0, 60 - 4 - 40, 30));
  // No label text: the widget takes everything.
  narrow.setLabelText("");
  EXPECT_EQ(narrow.getChildRect(&w), Rect(0, 0, 60, 30));
  EXPECT_EQ(narrow.preferredSize(), Point(40, 30));
}

// A labelled edit (rules 0 and -1) puts the edit one spacing after the
// label's natural width and gives it the rest; a fixed label width leaves
// no spacing.
TEST_F(WLabelWidgetTest, LabelledEdit)
{
  WvwHost host(Point(300, 30));
  wvw::WLabelEdit le("x", 50);
  le.setSizes(80, -1);
  host.setContent(&le);
  EXPECT_EQ(le.getChildRect(&le.edit()).topLeft.x, 80);
  le.setSizes(0, -1);
  le.setSpacing(4);
  const int lw = le.label().preferredWidth(30);
  EXPECT_EQ(le.getChildRect(&le.edit()).topLeft.x, lw + 4);
  EXPECT_EQ(le.getChildRect(&le.edit()).width(), 300 - lw - 4);
}

TEST_F(WLabelWidgetTest, VerticalAlignment)
{
  const int lh = wvw::WStyle::getDefault().font->lineHeight;
  struct Case {
    int vAlign;
    int widgetHeight;
    int top;
  } cases[] = {
      {0, 10, (40 - std::max(lh, 10)) / 2}, // centred on the taller of the two
      {1, 10, (40 - std::max(lh, 10)) / 2},
      {1, 30, 5},
      {2, 30, 10 - (40 - 30) / 2},
      {0, 60, 0}, // capped at the full height
  };
  for (const Case& c : cases) {
    WvwHost host(Point(200, 40));
    wvw::WLabelWidget lwid("Label", 0, -1);
    Sized w(Point(20, c.widgetHeight));
    lwid.setWidget(&w);
    lwid.setVAlign(c.vAlign);
    host.setContent(&lwid);
    const Rect r = lwid.getChildRect(&w);
    EXPECT_EQ(r.topLeft.y, c.top) << c.vAlign << " " << c.widgetHeight;
    EXPECT_EQ(r.height(), std::min(std::max(c.widgetHeight, lh), 40));
  }
  EXPECT_DEATH(
      {
        WvwHost host(Point(200, 40));
        wvw::WLabelWidget lwid("Label", 0, -1);
        Sized w(Point(20, 10));
        lwid.setWidget(&w);
        host.setContent(&lwid);
        lwid.setVAlign(3);
      },
      "false");
}

TEST_F(WLabelWidgetTest, LabelClicksToggleTheCheckBox)
{
  WvwHost host(Point(200, 20));
  wvw::WLabelCheckBox lcb("Remember me", "WCheck_check", 0);
  host.setContent(&lcb);
  const Rect lr = lcb.getChildRect(&lcb.label());
  const Point in(lr.topLeft.x + 5, 10);
  host.press(in.x, in.y);
  EXPECT_TRUE(lcb.checkBox().hasFocus());
  host.release(in.x, in.y);
  EXPECT_EQ(lcb.checkBox().getState(), 1u);
  host.press(in.x, in.y);
  host.pointer(-20, 10, 1); // released outside the label: no toggle
  host.release(-20, 10);
  EXPECT_EQ(lcb.checkBox().getState(), 1u);
  lcb.setEnabled(false);
  EXPECT_FALSE(lcb.label().isEnabled());
  EXPECT_FALSE(lcb.checkBox().isEnabled());
  wvw::WLabelChoice lc("Pick", wvw::WChoice::Editable::No, 10);
  EXPECT_EQ(lc.choice().getOwner(), &lc);
}

TEST_F(WLabelWidgetTest, PanelGeometryAndGolden)
{
  wvw::WPanel empty("Settings");
  const Point t = empty.title().getSize();
  EXPECT_EQ(empty.preferredSize(), Point(t.x + 12, t.y + 12));
  // A content wider than the title sets the width.
  wvw::WPanel panel("Options");
  Sized a(Point(150, 20));
  panel.content().addChildRect(&a, Rect(0, 0, 150, 20), nullptr);
  const Point tt = panel.title().getSize();
  EXPECT_EQ(panel.preferredSize(), Point(150 + 12, 20 + tt.y + 12));
  WvwHost host(Point(180, 60));
  host.setContent(&panel);
  EXPECT_EQ(panel.getChildRect(&panel.title()).topLeft, Point(10, 0));
  EXPECT_EQ(panel.getChildRect(&panel.content()), Rect(6, tt.y + 6, 180 - 6, tt.y + 6 + 20));
  panel.setEnabled(false);
  EXPECT_FALSE(panel.title().isEnabled());
  EXPECT_TRUE(a.isEnabled()); // the content keeps its own state
  panel.setEnabled(true);
  tltest::expectGolden(host.paint(wvw::WStyle::getDefault().bg), "panel");
  const wvw::WStyle& s = wvw::WStyle::getDefault();
  const int half = tt.y / 2;
  EXPECT_EQ(host.at(5, half), s.bevelFrame);     // the frame's top line
  EXPECT_EQ(host.at(5, half + 1), s.bevelLight); // the inner line
  EXPECT_EQ(host.at(0, 40), s.bevelFrame);
  EXPECT_EQ(host.at(179, 40), s.bevelFrame);
  EXPECT_NE(host.at(12, half), s.bevelFrame); // interrupted behind the title
}

} // namespace
