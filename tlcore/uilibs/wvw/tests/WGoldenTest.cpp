// Golden images of buttons and labels at ppmm 4 in the light scheme with
// the built-in colour table, compared pixel for pixel (tltest::expectGolden;
// TL_REWRITE_GOLDENS=1 rewrites them). Each also checks the pixels the
// drawing rules fix, so a golden never merely freezes what was drawn.
#include <gtest/gtest.h>

#include "plat/Configuration.h"
#include "tlutil/Font.h"
#include "wvwgolden.h"
#include "wvw/WButton.h"
#include "wvw/WLabel.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;
using rfb::Point;
using tltest::WvwHost;

const wvw::WStyle& style()
{
  return wvw::WStyle::getDefault();
}

bool anyPixel(WvwHost& host, const rfb::Rect& r, const Colour& c)
{
  for (int y = r.topLeft.y; y < r.bottomRight.y; y++) {
    for (int x = r.topLeft.x; x < r.bottomRight.x; x++) {
      if (host.at(x, y) == c)
        return true;
    }
  }
  return false;
}

// The last row of a vertical gradient over rows rows: the drawing rounds
// (delta x (rows - 1) + (rows - 1) / 2) / (rows - 1) toward zero.
Colour gradientEnd(const Colour& top, const Colour& bottom, int rows)
{
  const int d = rows - 1;
  auto ch = [d](int t, int b) { return t + ((b - t) * d + d / 2) / d; };
  return Colour{ch(top.r, bottom.r), ch(top.g, bottom.g), ch(top.b, bottom.b)};
}

class WGoldenTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

TEST_F(WGoldenTest, Buttons)
{
  enum State { kEnabled, kDisabled, kPressed, kFocused };
  const char* names[] = {"button_enabled", "button_disabled", "button_pressed", "button_focused"};
  for (State state : {kEnabled, kDisabled, kPressed, kFocused}) {
    SCOPED_TRACE(names[state]);
    const Point size(80, 28);
    WvwHost host(size);
    wvw::WLabelButton button("Install");
    host.setContent(&button);
    if (state == kDisabled)
      button.setEnabled(false);
    if (state == kPressed) {
      host.takeFocus = false; // no focus ring over the swapped bevel
      host.press(40, 14);
    }
    if (state == kFocused)
      button.setFocus();
    tltest::expectGolden(host.paint(style().bg), names[state]);
    // The bevel: outer and inner lines, swapped while pressed; the focus
    // ring over the outer line.
    const Colour outer = state == kFocused ? style().mark : state == kPressed ? style().bevelLight : style().bevelFrame;
    const Colour inner = state == kPressed ? style().bevelFrame : style().bevelLight;
    for (const Point& p : {Point(40, 0), Point(0, 14), Point(79, 14), Point(40, 27)})
      EXPECT_EQ(host.at(p.x, p.y), outer) << p.x << "," << p.y;
    for (const Point& p : {Point(40, 1), Point(1, 14), Point(78, 14), Point(40, 26)})
      EXPECT_EQ(host.at(p.x, p.y), inner) << p.x << "," << p.y;
    // The face's gradient ends, and the text colour.
    const Colour top = state == kPressed ? style().buttonFace : style().bevelLight;
    const Colour bottom = state == kDisabled ? style().bevelLight
                          : state == kPressed ? style().buttonPressed
                                              : style().buttonFace;
    EXPECT_EQ(host.at(4, 2), top);
    EXPECT_EQ(host.at(4, 25), gradientEnd(top, bottom, 24));
    const rfb::Rect inside(3, 3, 77, 25);
    EXPECT_EQ(anyPixel(host, inside, style().contentText), state != kDisabled);
    EXPECT_EQ(anyPixel(host, inside, style().disabledText), state == kDisabled);
  }
}

TEST_F(WGoldenTest, IconButton)
{
  WvwHost host(Point(20, 20));
  wvw::WIconButton button(wvw::kRightArrowBits, Point(8, 8));
  host.setContent(&button);
  tltest::expectGolden(host.paint(style().bg), "iconbutton");
  // The arrow's rows centred at (6, 6).
  for (int y = 0; y < 8; y++) {
    for (int x = 0; x < 8; x++) {
      const bool set = (wvw::kRightArrowBits[y] >> (7 - x)) & 1;
      EXPECT_EQ(host.at(6 + x, 6 + y) == style().contentText, set) << x << "," << y;
    }
  }
}

TEST_F(WGoldenTest, LabelsWithSelectionAndMnemonic)
{
  const Point size(160, 60);
  WvwHost host(size);
  wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
  wvw::WLabel text("Selected text across two lines");
  wvw::WLabelWithMnemonic mnemonic("Save &As", wvw::WLabel::kEnd);
  layout.addChildRect(&text, rfb::Rect(0, 0, 110, 40), nullptr);
  layout.addChildRect(&mnemonic, rfb::Rect(0, 40, 160, 60), nullptr);
  text.setSelectable(true);
  host.setContent(&layout);
  ASSERT_EQ(text.lines().size(), 2u);
  const int lh = style().font->lineHeight;
  const int top = (40 - 2 * lh) / 2;
  host.press(30, top + 2);
  host.pointer(40, top + lh + 2, 1);
  host.release(40, top + lh + 2);
  tltest::expectGolden(host.paint(), "labels");
  EXPECT_TRUE(anyPixel(host, rfb::Rect(0, top, 110, top + 2 * lh), style().selectionBg));
  EXPECT_TRUE(anyPixel(host, rfb::Rect(0, top, 110, top + 2 * lh), style().selectedText));
  EXPECT_TRUE(anyPixel(host, rfb::Rect(0, top, 110, top + 2 * lh), style().contentText));
  EXPECT_EQ(host.at(0, 0), style().bg);
  EXPECT_EQ(host.at(159, 59), style().bg);
}

} // namespace
