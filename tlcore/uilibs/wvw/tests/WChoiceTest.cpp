// The drop-down choice: stepping with wrap-around, the menu popped below,
// replacing and removing items, editable and fixed choices, and owners
// that destroy the choice from its notifications.
#include <gtest/gtest.h>

#include <functional>

#include "plat/Configuration.h"
#include "wvwhost.h"
#include "wvw/WChoice.h"

namespace {

using rfb::Point;
using tltest::WvwHost;
using wvw::WChoice;

constexpr uint32_t kUp = 0xFF52, kDown = 0xFF54, kReturn = 0xFF0D, kEscape = 0xFF1B;

class WChoiceTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

std::vector<std::string> list(const WChoice& c)
{
  std::vector<std::string> out;
  c.listItems(out);
  return out;
}

TEST_F(WChoiceTest, ItemsAndStepping)
{
  WvwHost host(Point(150, 24));
  WChoice choice(nullptr, WChoice::Editable::Yes, 50);
  host.setContent(&choice);
  EXPECT_EQ(choice.step(true), -1);
  choice.setItem(5, "five");
  choice.setItem(1, "one");
  choice.setItem(3, "three");
  EXPECT_EQ(list(choice), (std::vector<std::string>{"5:five", "1:one", "3:three"}));
  choice.setItem(5, "FIVE"); // replaced: the new item goes to the end of the menu
  EXPECT_EQ(list(choice), (std::vector<std::string>{"1:one", "3:three", "5:FIVE"}));
  choice.removeItem(3);
  choice.removeItem(42);
  EXPECT_EQ(list(choice), (std::vector<std::string>{"1:one", "5:FIVE"}));
  choice.setItem(3, "three");

  // Up and Down in the entry step in id order and wrap; no match: Up the
  // last, Down the first.
  struct Step {
    const char* start;
    uint32_t key;
    const char* shown;
  } steps[] = {{"nothing", kUp, "FIVE"}, {"nothing", kDown, "one"}, {"one", kDown, "three"},
               {"FIVE", kDown, "one"},   {"one", kUp, "FIVE"},      {"three", kUp, "one"}};
  choice.entry().setFocus();
  for (const Step& s : steps) {
    choice.setText(s.start);
    host.typeKey(s.key);
    EXPECT_STREQ(choice.getText(), s.shown) << s.start << " " << s.key;
    EXPECT_EQ(choice.entry().getSelLength(), -(int)strlen(s.shown)); // editable: selected
  }

  // Only a change of the shown text reports.
  std::vector<std::string> log;
  tltest::Recorder rec("c", &log);
  choice.setInputHandler(&rec);
  choice.selectItem(1);
  choice.selectItem(1);
  choice.selectText("three", 1);
  choice.selectText("no such", 5);
  choice.selectText("no such", 99);
  EXPECT_STREQ(choice.getText(), "");
  int changes = 0;
  for (const auto& l : log)
    changes += l == "c: valueChanged";
  EXPECT_EQ(changes, 2 * 3); // the entry's change and the choice's, for each of three changes
  choice.setInputHandler(nullptr);

  // Completion from the labels, ignoring case.
  choice.setCompletions(true);
  EXPECT_EQ(choice.entry().completions(), (std::vector<std::string>{"one", "three", "FIVE"}));
  choice.setCompletions(false);
  EXPECT_TRUE(choice.entry().completions().empty());
  choice.clearItems();
  EXPECT_TRUE(list(choice).empty());
}

TEST_F(WChoiceTest, MenuFromTheArrowButton)
{
  // Stretched taller than its box, as a layout row may stretch it.
  WvwHost host(Point(150, 48), Point(10, 100));
  WChoice choice(nullptr, WChoice::Editable::No, 50);
  host.setContent(&choice);
  EXPECT_FALSE(choice.entry().wantsFocus());
  choice.setTooltip("tip");
  EXPECT_STREQ(choice.entry().getTooltip(), "tip");
  EXPECT_STREQ(choice.arrowButton().getTooltip(), "tip");
  // Geometry: the entry runs 4 pixels under the 19-pixel button.
  EXPECT_EQ(choice.getChildRect(&choice.entry()).bottomRight.x, 150 - 19 + 4);
  EXPECT_EQ(choice.getChildRect(&choice.arrowButton()).topLeft.x, 150 - 19);
  EXPECT_EQ(choice.popupMenu().getMinWidth(), 150 - 7);
  // Without items the button does nothing.
  host.click(145, 10);
  EXPECT_TRUE(host.popups.empty());
  choice.setItem(1, "one");
  choice.setItem(2, "two");
  host.click(145, 10);
  ASSERT_EQ(host.popups.size(), 1u);
  EXPECT_EQ(host.popups[0].position, Point(10, 100 + choice.entry().height())); // below the box
  EXPECT_EQ(choice.popupMenu().getSize().x, 150 - 7 + 8);
  host.typeKey(kDown);
  host.typeKey(kReturn);
  EXPECT_STREQ(choice.getText(), "two");
  EXPECT_TRUE(host.popups.empty());
  EXPECT_EQ(choice.entry().getSelLength(), 0); // not editable: nothing selected
  // Keys from the button while the menu is shown move its highlight.
  host.click(145, 10);
  choice.key(kDown, true, &choice.arrowButton());
  EXPECT_STREQ(choice.popupMenu().getCurrent()->getText(), "two");
  EXPECT_TRUE(choice.key('x', true, &choice.arrowButton()));
  // A second press of the button takes the highlighted item.
  choice.activated(&choice.arrowButton());
  EXPECT_TRUE(host.popups.empty());
  EXPECT_STREQ(choice.getText(), "two");
  host.click(145, 10);
  choice.key(kEscape, true, &choice.arrowButton());
  EXPECT_TRUE(host.popups.empty());
}

TEST_F(WChoiceTest, ListingAMissingItemIsFatal)
{
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_DEATH(
      {
        WChoice choice(nullptr, WChoice::Editable::No, 10);
        wvw::WMenuItem stray(&choice.popupMenu(), "stray");
        std::vector<std::string> out;
        choice.listItems(out);
      },
      "j != items.end");
}

// An owner destroying the choice from its valueChanged, reached from the
// menu or from a key, ends the dispatch cleanly (AddressSanitizer).
TEST_F(WChoiceTest, OwnerDestroysTheChoice)
{
  for (int how = 0; how < 2; how++) {
    WvwHost host(Point(150, 24));
    struct Killer : wvw::WInputHandler {
      std::unique_ptr<WChoice> choice;
      bool valueChanged(wvw::Widget* w) override
      {
        if (w == choice.get())
          choice.reset();
        return false;
      }
    } k;
    k.choice.reset(new WChoice(nullptr, WChoice::Editable::Yes, 20));
    k.choice->setInputHandler(&k);
    host.setContent(k.choice.get());
    k.choice->setItem(1, "one");
    if (how == 0) {
      host.click(145, 10);
      host.typeKey(kReturn);
      EXPECT_TRUE(host.popups.empty());
    } else {
      k.choice->entry().setFocus();
      host.typeKey(kDown);
    }
    EXPECT_EQ(k.choice, nullptr) << how;
  }
}

} // namespace
