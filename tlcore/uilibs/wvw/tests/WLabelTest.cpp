// Labels: wrapping, alignment, sizes, selection and copy across lines,
// a text change that clears the selection, and mnemonics.
#include <gtest/gtest.h>

#include "tlutil/Font.h"
#include "wvwhost.h"
#include "wvw/WLabel.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;
using wvw::WLabel;
using wvw::WLabelWithMnemonic;

constexpr uint32_t kCtrlL = 0xFFE3;

tlutil::Font* font()
{
  return wvw::WStyle::getDefault().font;
}

// The bounding box of the pixels painted in colour.
Rect boxOf(WvwHost& host, const Point& size, const Colour& colour)
{
  Rect box;
  for (int y = 0; y < size.y; y++) {
    for (int x = 0; x < size.x; x++) {
      if (host.at(x, y) == colour)
        box = box.unionBoundary(Rect(x, y, x + 1, y + 1));
    }
  }
  return box;
}

TEST(WLabelTest, WrappingAndSizes)
{
  // (The font wraps only when a character after the first of a word
  // overflows, so one-letter words do not show it.)
  WLabel label("ab cd");
  EXPECT_EQ(label.lines().size(), 1u);
  const int lh = font()->lineHeight;
  EXPECT_EQ(label.preferredSize(), Point(font()->textWidth("ab cd") + 8, lh));
  label.setSize(Point(8 + font()->textWidth("ab"), 40));
  ASSERT_EQ(label.lines().size(), 2u);
  EXPECT_EQ(label.preferredWidth(40), font()->textWidth("ab cd"));
  EXPECT_EQ(label.preferredHeight(label.width()), 2 * lh);
  EXPECT_EQ(label.preferredHeight(200), lh);
  label.setWrap(false);
  EXPECT_EQ(label.lines().size(), 1u);
  EXPECT_EQ(label.preferredHeight(1), lh);
  WLabel lines("one\ntwo\nthree");
  EXPECT_EQ(lines.lines().size(), 3u);
  EXPECT_EQ(lines.totalLength(), 11);
  WLabel none(nullptr);
  EXPECT_EQ(none.preferredWidth(10), 0);
  EXPECT_EQ(none.preferredSize(), Point(8, 0));
}

TEST(WLabelTest, Alignment)
{
  const Point size(100, 40);
  const int w = font()->textWidth("Hi"), lh = font()->lineHeight;
  struct Case {
    int h, v;
    int left, top; // where the line box starts
  } cases[] = {
      {0, 0, 4, 4},
      {1, 1, (100 - w) / 2, (40 - lh) / 2},
      {2, 2, 100 - w - 4, 40 - lh - 4},
  };
  for (const Case& c : cases) {
    WvwHost host(size);
    WLabel label("Hi");
    label.setAlignment(c.h, c.v);
    label.setUnderline(true);
    host.setContent(&label);
    host.paint();
    const Rect box = boxOf(host, size, wvw::WStyle::getDefault().contentText);
    // The underline spans the text's width, two pixels above the line box's bottom.
    EXPECT_EQ(box.topLeft.x, c.left) << c.h;
    EXPECT_EQ(box.bottomRight.x, c.left + w) << c.h;
    EXPECT_EQ(box.bottomRight.y, c.top + lh - 1) << c.v;
    EXPECT_EQ(host.at(0, 0), wvw::WStyle::getDefault().bg);
  }
}

struct Selectable {
  Selectable() : label("hello world")
  {
    label.setSelectable(true);
    // Two lines: "hello " and "world".
    label.setMargin(0);
    label.setAlignment(WLabel::kStart, WLabel::kStart);
    host.setContent(&label);
    label.setSize(Point(font()->textWidth("hello") + 2, 60));
  }
  // A point in the middle of the character at offset i of line n.
  Point at(int n, int i)
  {
    const char* line = label.lines()[n].str();
    const int x = font()->textWidth(line, line + i) + font()->charWidth(line[i]) / 4;
    return Point(x, n * font()->lineHeight + 2);
  }
  WvwHost host{Point(200, 60)};
  WLabel label;
};

TEST(WLabelTest, SelectionAndCopyAcrossLines)
{
  Selectable s;
  ASSERT_EQ(s.label.lines().size(), 2u);
  const std::string l0 = s.label.lines()[0].str(), l1 = s.label.lines()[1].str();
  const Point from = s.at(0, 2), to = s.at(1, 3);
  s.host.pointer(from.x, from.y);
  s.host.press(from.x, from.y);
  s.host.pointer(to.x, to.y, 1);
  s.host.release(to.x, to.y);
  EXPECT_TRUE(s.label.hasFocus());
  s.host.hold(kCtrlL);
  s.host.typeKey('c');
  EXPECT_EQ(s.host.clipboard, l0.substr(2) + "\n" + l1.substr(0, 3));
  EXPECT_EQ(s.host.bells, 0);
  // Select all through the menu action.
  s.label.menuAction(wvw::WEditMenu::Callback::kSelectAll);
  s.label.menuAction(wvw::WEditMenu::Callback::kCopy);
  EXPECT_EQ(s.host.clipboard, l0 + "\n" + l1);
}

TEST(WLabelTest, SelectionShowsOnlyWithTheFocus)
{
  Selectable s;
  const Colour selBg = wvw::WStyle::getDefault().selectionBg;
  s.label.selectAll();
  s.host.paint();
  EXPECT_FALSE(boxOf(s.host, Point(200, 60), selBg).isEmpty());
  // Hosted again, the label has lost the focus: the selection stays but is
  // not shown.
  s.host.setContent(nullptr);
  s.host.setContent(&s.label, false);
  s.host.paint();
  EXPECT_TRUE(boxOf(s.host, Point(200, 60), selBg).isEmpty());
  EXPECT_EQ(s.label.selectionEnd(), s.label.totalLength());
}

TEST(WLabelTest, ANewTextClearsTheSelection)
{
  Selectable s;
  s.label.selectAll();
  s.label.setText("h\xC3\xA9");
  EXPECT_EQ(s.label.selectionStart(), 0);
  EXPECT_EQ(s.label.selectionEnd(), 0);
  // Copying nothing leaves the clipboard alone.
  s.host.clipboard = "kept";
  s.host.hold(kCtrlL);
  s.host.typeKey('c');
  EXPECT_EQ(s.host.clipboard, "kept");
  s.host.paint();
}

TEST(WLabelTest, CopyFromAPlainLabelRingsTheBellUnlessAHandlerCopies)
{
  WvwHost host;
  WLabel label("text");
  host.setContent(&label);
  EXPECT_FALSE(label.wantsFocus());
  host.setFocus(&label);
  host.hold(kCtrlL);
  host.typeKey('c');
  EXPECT_EQ(host.bells, 1);
  EXPECT_EQ(host.clipboard, "");
  tltest::Recorder copier("copier", &host.events);
  copier.takeCopy = true;
  label.setInputHandler(&copier);
  host.typeKey('c');
  EXPECT_EQ(host.bells, 1);
}

TEST(WLabelTest, Mnemonics)
{
  struct Case {
    const char* text;
    const char* shown;
    int mnemonic;
    int index;
  } cases[] = {
      {"&Save", "Save", 'S', 0},
      {"Save &As", "Save As", 'A', 5},
      {"a&&b", "a&b", 0, -1},
      {"plain", "plain", 0, -1},
      {"caf&\xC3\xA9", "caf\xC3\xA9", 0xE9, 3},
  };
  const Colour text = wvw::WStyle::getDefault().contentText;
  for (const Case& c : cases) {
    WvwHost host(Point(120, 30));
    WLabelWithMnemonic label(c.text);
    label.setAlignment(WLabel::kStart, WLabel::kStart);
    EXPECT_STREQ(label.getText(), c.shown);
    EXPECT_EQ(label.getMnemonic(), c.mnemonic) << c.text;
    EXPECT_EQ(label.getMnemonicIndex(), c.index) << c.text;
    host.setContent(&label);
    // The underline: what showing the mnemonic adds to the painting.
    const int y = 4 + font()->lineHeight - 2;
    std::vector<Colour> plainRow;
    label.setShowMnemonic(false);
    host.paint();
    for (int x = 0; x < 120; x++)
      plainRow.push_back(host.at(x, y));
    label.setShowMnemonic(true);
    host.paint();
    int first = -1, last = -1;
    for (int x = 0; x < 120; x++) {
      if (host.at(x, y) != plainRow[x]) {
        EXPECT_EQ(host.at(x, y), text);
        if (first < 0)
          first = x;
        last = x;
      }
    }
    if (c.index < 0) {
      EXPECT_EQ(first, -1) << c.text;
      continue;
    }
    const char* s = label.getText();
    int end = c.index + 1;
    while (((unsigned char)s[end] & 0xC0) == 0x80)
      end++;
    EXPECT_EQ(first, 4 + font()->textWidth(s, s + c.index)) << c.text;
    EXPECT_EQ(last + 1, 4 + font()->textWidth(s, s + end)) << c.text;
  }
}

} // namespace
