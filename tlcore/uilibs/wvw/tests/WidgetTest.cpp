// The widget base: notification chains, default keys, mouse events and
// double clicks on the test clock, damage from sizes, and the fatal
// assertions of tree misuse.
#include <gtest/gtest.h>

#include "wvwhost.h"
#include "wvw/WLayout.h"
#include "wvw/WStyle.h"

namespace {

using rfb::Point;
using rfb::Rect;
using rfb::Region;
using tltest::Recorder;
using tltest::TestBox;
using tltest::WvwHost;
using wvw::WLayout;

constexpr uint32_t kCtrlL = 0xFFE3, kShiftL = 0xFFE1, kTab = 0xFF09, kUp = 0xFF52, kDown = 0xFF54;

struct Tree {
  Tree() : layout(WLayout::PointerRouting::ToChildren), a(&layout), b(&layout)
  {
    host.names = {{&layout, "L"}, {&a, "A"}, {&b, "B"}};
    layout.setChildRect(&a, Rect(0, 0, 20, 10));
    layout.setChildRect(&b, Rect(30, 0, 50, 10));
    host.setContent(&layout);
    a.setFocus();
    host.events.clear();
  }
  WvwHost host;
  WLayout layout;
  TestBox a, b;
};

TEST(WidgetTest, NotificationsBubbleFromOwnHandlerToTheHost)
{
  Tree t;
  std::vector<std::string> log;
  Recorder ra("A", &log), rl("L", &log);
  t.a.setInputHandler(&ra);
  t.layout.setInputHandler(&rl);
  EXPECT_FALSE(t.a.activated(&t.a));
  EXPECT_EQ(log, (std::vector<std::string>{"A: activated", "L: activated"}));
  EXPECT_EQ(t.host.takeEvents(), std::vector<std::string>{"activated A"});
  log.clear();
  rl.takeActivated = true;
  EXPECT_TRUE(t.a.activated(&t.a));
  EXPECT_EQ(log, (std::vector<std::string>{"A: activated", "L: activated"}));
  EXPECT_TRUE(t.host.events.empty());
}

TEST(WidgetTest, DefaultKeys)
{
  struct Case {
    uint32_t keysym;
    uint32_t modifier; // held, 0 for none
    bool down;
    bool copyTaken;
    bool handled;
    int bells;
    const char* focused;
  } cases[] = {
      {'c', kCtrlL, true, false, true, 1, "A"},  {'C', kCtrlL, true, true, true, 0, "A"},
      {'v', kCtrlL, true, false, true, 1, "A"},  {'V', kCtrlL, true, false, true, 1, "A"},
      {'c', 0, true, false, false, 0, "A"},      {kTab, 0, true, false, true, 0, "B"},
      {kTab, kShiftL, true, false, true, 0, "B"}, {kDown, 0, true, false, true, 0, "B"},
      {kUp, 0, true, false, true, 0, "B"},       {kTab, 0, false, false, false, 0, "A"},
      {'x', 0, true, false, false, 0, "A"},
  };
  for (const Case& c : cases) {
    Tree t;
    std::vector<std::string> log;
    Recorder ra("A", &log);
    ra.takeCopy = c.copyTaken;
    t.a.setInputHandler(&ra);
    if (c.modifier)
      t.host.hold(c.modifier);
    const bool handled = t.a.key(c.keysym, c.down, &t.a);
    SCOPED_TRACE(std::to_string(c.keysym) + " modifier " + std::to_string(c.modifier));
    EXPECT_EQ(handled, c.handled);
    EXPECT_EQ(t.host.bells, c.bells);
    EXPECT_EQ(t.b.hasFocus(), std::string(c.focused) == "B");
    // Every handler up to the host saw the key before the default handling.
    ASSERT_FALSE(t.host.events.empty());
    EXPECT_EQ(t.host.events[0], "key " + std::to_string(c.keysym) + (c.down ? " down" : " up") + " A");
  }
}

TEST(WidgetTest, KeysTakenByAHandlerSkipTheDefaults)
{
  Tree t;
  t.host.handleKeys = true;
  t.host.keyDown(kTab);
  EXPECT_TRUE(t.a.hasFocus());
  // A key from another source gets no default handling.
  t.host.handleKeys = false;
  EXPECT_FALSE(t.a.key(kTab, true, &t.b));
  EXPECT_TRUE(t.a.hasFocus());
}

TEST(WidgetTest, MouseEventsGoToTheCallbackAndReleasesAlwaysToTheHandlers)
{
  WvwHost host;
  TestBox box;
  tltest::MouseLog mouse;
  std::vector<std::string> log;
  Recorder rec("box", &log);
  box.setMouseCallback(&mouse);
  box.setMouseHandler(&rec);
  host.setContent(&box);
  mouse.answer = true;
  host.pointer(5, 5);
  host.click(5, 5);
  host.leave();
  EXPECT_EQ(mouse.kinds, (std::vector<int>{4, 0, 1, 5}));
  EXPECT_EQ(log, std::vector<std::string>{"box: up 0"});
  mouse.kinds.clear();
  host.click(5, 5, 2);
  host.hold(kCtrlL);
  host.advance(600);
  host.click(5, 5);
  EXPECT_EQ(mouse.kinds, (std::vector<int>{6, 0, 6}));
}

TEST(WidgetTest, DoubleClicksOnTheTestClock)
{
  struct Case {
    int gapMs;
    std::vector<int> kinds;
  } cases[] = {
      // A double click starts no timer; a single click times out 500 ms on.
      {400, {0, 1, 0, 2, 1}},
      {600, {0, 1, 3, 0, 1, 3}},
  };
  for (const Case& c : cases) {
    WvwHost host(Point(50, 50), Point(100, 200));
    TestBox box;
    tltest::MouseLog mouse;
    box.setMouseCallback(&mouse);
    host.setContent(&box);
    host.pointer(7, 7);
    mouse.kinds.clear();
    host.click(7, 7);
    host.advance(c.gapMs);
    host.click(7, 7);
    host.advance(1000);
    EXPECT_EQ(mouse.kinds, c.kinds) << c.gapMs;
  }
}

TEST(WidgetTest, MotionBetweenClicksMovesTheReferencePoint)
{
  // Motion sets the reference to the widget-relative position, which differs
  // from the root position here, so the second click is no double click.
  WvwHost host(Point(50, 50), Point(100, 200));
  TestBox box;
  tltest::MouseLog mouse;
  box.setMouseCallback(&mouse);
  host.setContent(&box);
  host.pointer(7, 7);
  host.click(7, 7);
  host.pointer(8, 7);
  host.pointer(7, 7);
  mouse.kinds.clear();
  host.click(7, 7);
  EXPECT_EQ(mouse.kinds, (std::vector<int>{0, 1}));
}

TEST(WidgetTest, SetSizeInvalidatesTheLargerArea)
{
  struct Case {
    Point from, to;
    Rect damage; // empty for none
  } cases[] = {
      {{0, 0}, {20, 10}, {0, 0, 20, 10}},  {{20, 10}, {30, 5}, {0, 0, 30, 10}},
      {{20, 10}, {0, 0}, {0, 0, 20, 10}},  {{20, 10}, {20, 10}, {}},
      {{0, 5}, {40000, 3}, {0, 0, 32767, 3}},
  };
  for (const Case& c : cases) {
    WvwHost host;
    TestBox box;
    host.setContent(&box, false);
    box.setSize(c.from);
    host.damage.clear();
    host.events.clear();
    box.setSize(c.to);
    EXPECT_TRUE(host.damage.equals(Region(c.damage))) << c.to.x;
    EXPECT_EQ(host.events.size(), c.from == c.to ? 0u : 1u);
  }
}

TEST(WidgetTest, DetachedAndHiddenWidgetsCauseNoDamage)
{
  WvwHost host;
  TestBox box;
  box.setSize(Point(10, 10));
  box.repaint();
  host.setContent(&box, false);
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(0, 0, 10, 10))));
  // Hiding invalidates the area it covered; hidden, nothing more.
  box.setVisible(false);
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(0, 0, 10, 10))));
  box.repaint();
  box.setSize(Point(20, 20));
  EXPECT_TRUE(host.damage.isEmpty());
  box.setVisible(true);
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(0, 0, 20, 20))));
  // setEnabled does not repaint.
  box.setEnabled(false);
  EXPECT_TRUE(host.damage.isEmpty());
}

TEST(WidgetTest, StyleComesFromTheNearestLayoutWithOne)
{
  WLayout outer(WLayout::PointerRouting::ToChildren), inner(WLayout::PointerRouting::ToChildren);
  outer.addChild(&inner, nullptr);
  TestBox box(&inner);
  EXPECT_EQ(box.getStyle(), &wvw::WStyle::getDefault());
  wvw::WStyle mine = wvw::WStyle::getDefault();
  outer.setStyle(&mine);
  EXPECT_EQ(box.getStyle(), &mine);
  wvw::WStyle own;
  box.setStyle(&own);
  EXPECT_EQ(box.getStyle(), &own);
}

TEST(WidgetTest, RootOffsetsAndTranslation)
{
  WvwHost host(Point(100, 100), Point(300, 400));
  WLayout outer(WLayout::PointerRouting::ToChildren), inner(WLayout::PointerRouting::ToChildren);
  TestBox a(&inner), b(&outer);
  outer.insertChild(&inner, Point(10, 20), nullptr);
  inner.setChildPosition(&a, Point(1, 2));
  outer.setChildPosition(&b, Point(50, 50));
  host.setContent(&outer);
  Point offset;
  EXPECT_EQ(a.getRoot(&offset), &host);
  EXPECT_EQ(offset, Point(311, 422));
  EXPECT_EQ(a.translateTo(Point(0, 0), &b), Point(-39, -28));
  // The layout answers null to its children through WParent.
  EXPECT_EQ(static_cast<wvw::WParent&>(inner).getRoot(&offset), nullptr);
}

struct NoRoot : wvw::WLayoutParent {
  void childInvalidated(wvw::Widget*, const Region&) override {}
  void bell() override {}
  void setFocus(wvw::Widget*) override {}
  bool isChildFocused(wvw::Widget*) override { return false; }
  bool focusNext() override { return false; }
  bool focusPrevious() override { return false; }
  bool isKeyDown(uint32_t) override { return false; }
  plat::String getClipboardText() override { return plat::String(""); }
  void setClipboardText(const char*) override {}
  void showRect(wvw::Widget*, const Rect&) override {}
};

TEST(WidgetDeathTest, TreeMisuseIsFatal)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  WvwHost host;
  TestBox box, loose, other;
  host.setContent(&box);
  EXPECT_DEATH(box.attach(&host, &host, &host), "Assertion '!parent' failed");
  EXPECT_DEATH(loose.setPosition(Point(1, 1)), "Assertion 'parentLayout' failed");
  EXPECT_DEATH(loose.getPosition(), "Assertion 'parentLayout' failed");
  EXPECT_DEATH(loose.getRoot(nullptr), "Assertion 'parent' failed");
  NoRoot noRoot;
  other.attach(&noRoot, nullptr, nullptr);
  EXPECT_DEATH(box.translateTo(Point(0, 0), &other), "Assertion 'myRoot && myRoot == theirRoot' failed");
  WLayout layout(WLayout::PointerRouting::ToChildren);
  EXPECT_DEATH(layout.setChildPosition(&loose, Point(1, 1)), "Assertion 'i != ws.end\\(\\)' failed");
  EXPECT_DEATH(layout.getChildPosition(&loose), "Assertion 'i != ws.end\\(\\)' failed");
  other.detach();
}

TEST(WidgetTest, DoubleClickTimeIsRegistered)
{
  EXPECT_EQ(wvw::doubleClickTime.getValue(), 500);
  EXPECT_FALSE(wvw::doubleClickTime.setValue(-1, plat::kPriorityPolicy));
}

} // namespace
