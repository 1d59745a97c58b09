// Buttons and icons: activation rules, the pressed look, Return and space,
// content layout, propagation of the enabled state, and buttons whose
// handlers delete them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "wvwhost.h"
#include "wvw/WButton.h"
#include "wvw/WLabel.h"
#include "wvw/WStyle.h"

namespace {

using rfb::Point;
using rfb::Rect;
using tltest::Recorder;
using tltest::WvwHost;
using wvw::WBevelButton;

int count(const std::vector<std::string>& log, const std::string& what)
{
  return (int)std::count(log.begin(), log.end(), what);
}

TEST(WButtonTest, ActivationRules)
{
  struct Case {
    const char* what;
    std::function<void(WvwHost&)> act;
    int activations;
    int pressChanges;
  } cases[] = {
      {"click inside", [](WvwHost& h) { h.click(10, 10); }, 1, 2},
      {"release outside",
       [](WvwHost& h) {
         h.press(10, 10);
         h.release(50, 10);
       },
       0, 2},
      {"out and back in",
       [](WvwHost& h) {
         h.press(10, 10);
         h.pointer(-5, 10, 1);
         h.pointer(5, 10, 1);
         h.release(5, 10);
       },
       1, 2},
      {"held motion presses",
       [](WvwHost& h) {
         h.pointer(5, 5, 2);
         h.pointer(6, 5, 2);
       },
       0, 1},
      {"other buttons", [](WvwHost& h) { h.click(10, 10, 2); }, 0, 0},
      {"Return", [](WvwHost& h) { h.typeKey(0xFF0D); }, 1, 0},
      {"space", [](WvwHost& h) { h.typeKey(0x20); }, 1, 0},
      {"keypad Enter", [](WvwHost& h) { h.typeKey(0xFF8D); }, 1, 0},
      {"another key", [](WvwHost& h) { h.typeKey('a'); }, 0, 0},
  };
  for (const Case& c : cases) {
    WvwHost host(Point(40, 20));
    WBevelButton button;
    std::vector<std::string> log;
    Recorder rec("b", &log);
    button.setInputHandler(&rec);
    host.setContent(&button);
    button.setFocus();
    log.clear();
    c.act(host);
    EXPECT_EQ(count(log, "b: activated"), c.activations) << c.what;
    EXPECT_EQ(count(log, "b: valueChanged"), c.pressChanges) << c.what;
    EXPECT_EQ(button.isPressed(), c.pressChanges == 1) << c.what;
  }
}

TEST(WButtonTest, ATakenActivationConsumesTheKeyAndTheRelease)
{
  WvwHost host(Point(40, 20));
  WBevelButton button;
  std::vector<std::string> log;
  Recorder rec("b", &log);
  rec.takeActivated = true;
  button.setInputHandler(&rec);
  button.setMouseHandler(&rec);
  host.setContent(&button);
  button.setFocus();
  host.events.clear();
  host.typeKey(0xFF0D);
  host.click(5, 5);
  EXPECT_EQ(host.events, (std::vector<std::string>{"key 65293 up ?", "moved ?", "valueChanged ?", "buttonDown 0 ?",
                                                   "valueChanged ?"}));
  EXPECT_FALSE(button.setPressed(false));
  EXPECT_TRUE(button.setPressed(true));
}

TEST(WButtonTest, ContentAndSizes)
{
  WBevelButton empty;
  EXPECT_EQ(empty.preferredSize(), Point(6, 6));
  wvw::WLabelButton labelled("OK");
  EXPECT_EQ(labelled.preferredSize().x, 60);
  wvw::WLabelButton wide("A much longer caption than sixty pixels");
  EXPECT_EQ(wide.preferredSize(), wide.label().preferredSize().translate(Point(6, 6)));
  wvw::WIconButton icon(wvw::kUpArrowBits, Point(8, 8));
  EXPECT_EQ(icon.preferredSize(), Point(14, 14));
  icon.setSize(Point(30, 20));
  EXPECT_EQ(icon.getChildRect(&icon.icon()), Rect(3, 3, 27, 17));
  // Disabling a button disables its content; the button repaints.
  WvwHost host(Point(30, 20));
  host.setContent(&icon);
  host.damage.clear();
  icon.setEnabled(false);
  EXPECT_FALSE(icon.icon().isEnabled());
  EXPECT_FALSE(icon.wantsFocus());
  EXPECT_TRUE(host.takeDamage().equals(rfb::Region(Rect(0, 0, 30, 20))));
  icon.setContent(nullptr);
  EXPECT_EQ(icon.icon().getParentLayout(), nullptr);
  EXPECT_TRUE(icon.children().empty());
  // Enabling an enabled button still enables a content disabled on its own.
  labelled.label().setEnabled(false);
  labelled.setEnabled(true);
  EXPECT_TRUE(labelled.label().isEnabled());
}

TEST(WButtonTest, AnIconLargerThanItsWidgetIsCentredAndClipped)
{
  static const uint8_t solid[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  WvwHost host(Point(4, 4));
  wvw::WIcon icon(solid, Point(8, 8));
  host.setContent(&icon);
  host.paint();
  for (int y = 0; y < 4; y++) {
    for (int x = 0; x < 4; x++)
      EXPECT_EQ(host.at(x, y), wvw::WStyle::getDefault().contentText) << x << "," << y;
  }
  // The arrow rows, drawn at (0,0) of an 8 x 8 icon.
  WvwHost exact(Point(8, 8));
  wvw::WIcon arrow(wvw::kLeftArrowBits, Point(8, 8));
  exact.setContent(&arrow);
  exact.paint();
  for (int y = 0; y < 8; y++) {
    int row = 0;
    for (int x = 0; x < 8; x++)
      row |= (exact.at(x, y) == wvw::WStyle::getDefault().contentText) << (7 - x);
    EXPECT_EQ(row, wvw::kLeftArrowBits[y]) << y;
  }
}

// The page owns its button; the button's handler deletes the page.
struct Page : wvw::WLayout {
  Page() : WLayout(PointerRouting::ToChildren), button("Delete") { addChildRect(&button, Rect(10, 10, 90, 40), nullptr); }
  wvw::WLabelButton button;
};

struct PageDeleter : wvw::WInputHandler {
  explicit PageDeleter(bool onPress) : onPress(onPress) {}
  bool activated(wvw::Widget*) override
  {
    page.reset();
    return false;
  }
  bool valueChanged(wvw::Widget* source) override
  {
    if (onPress)
      page.reset();
    return source == nullptr;
  }
  bool onPress;
  std::unique_ptr<Page> page;
};

TEST(WButtonTest, AHandlerMayDeleteThePageHoldingTheButton)
{
  for (bool onPress : {false, true}) {
    WvwHost host;
    PageDeleter deleter(onPress);
    deleter.page = std::make_unique<Page>();
    deleter.page->button.setInputHandler(&deleter);
    host.setContent(deleter.page.get());
    host.click(20, 20);
    EXPECT_EQ(deleter.page, nullptr);
    EXPECT_EQ(host.content(), nullptr);
    host.typeKey(0xFF0D);
  }
  // Space on a focused button of a page deleted by the activation.
  WvwHost host;
  PageDeleter deleter(false);
  deleter.page = std::make_unique<Page>();
  deleter.page->button.setInputHandler(&deleter);
  host.setContent(deleter.page.get());
  deleter.page->button.setFocus();
  host.typeKey(0x20);
  EXPECT_EQ(deleter.page, nullptr);
}

TEST(WButtonTest, MembersDestroyedBeforeTheirButtonLeaveNothingDangling)
{
  WvwHost host;
  wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
  host.setContent(&layout);
  {
    wvw::WIconButton icon(wvw::kDownArrowBits, Point(8, 8));
    wvw::WLabelButton label("x");
    layout.addChildRect(&icon, Rect(0, 0, 20, 20), nullptr);
    layout.addChildRect(&label, Rect(20, 0, 80, 20), nullptr);
    icon.setFocus();
    host.press(5, 5);
  }
  EXPECT_TRUE(layout.children().empty());
  host.release(5, 5);
  host.paint();
}

} // namespace
