// Rich text: line placement for each alignment with indents, sizes against
// the markup layout, link travel with Tab and Shift+Tab, activation rules
// for pointer and keys, hover colours, copy across lines, a selection kept
// inside the runs after relayout, and link handlers that delete the widget.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tlutil/Font.h"
#include "wvwhost.h"
#include "wvw/WRichText.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;
using wvw::WRichText;

constexpr uint32_t kTab = 0xFF09, kReturn = 0xFF0D, kShiftL = 0xFFE1, kCtrlL = 0xFFE3;

const wvw::WStyle& style()
{
  return wvw::WStyle::getDefault();
}

tlutil::Font* font()
{
  return style().font;
}

tlutil::Font* boldFont()
{
  return tlutil::Font::forStyle(tlutil::FontSpec{120, 700});
}

// Records activated links; runs an action on each.
struct Links : plat::Markup::LinkCallback {
  bool linkActivated(const char* href) override
  {
    got.push_back(href);
    if (action)
      action();
    return true;
  }
  std::vector<std::string> got;
  std::function<void()> action;
};

Point centreOf(const Rect& r)
{
  return Point((r.topLeft.x + r.bottomRight.x) / 2, (r.topLeft.y + r.bottomRight.y) / 2);
}

bool anyPixel(WvwHost& host, const Rect& r, const Colour& c)
{
  for (int y = r.topLeft.y; y < r.bottomRight.y; y++) {
    for (int x = r.topLeft.x; x < r.bottomRight.x; x++) {
      if (host.at(x, y) == c)
        return true;
    }
  }
  return false;
}

TEST(WRichTextTest, LinesPlacedByAlignmentIndentsAndVerticalAlignment)
{
  const Point size(300, 80);
  const int unit = font()->lineHeight, margin = 4;
  const int lineWidth = font()->textWidth("Hi ") + boldFont()->textWidth("there");
  const int lineHeight = std::max(font()->lineHeight, boldFont()->lineHeight);
  struct Case {
    const char* align;
    int padLeft, padRight; // in line heights
    int vAlign;
    int left, top; // of the line
  } cases[] = {
      {"left", 0, 0, 0, margin, margin},
      {"left", 2, 1, 1, 2 * unit + margin, (80 - lineHeight) / 2},
      {"center", 0, 0, 2, (300 - lineWidth) / 2, 80 - margin - lineHeight},
      {"center", 2, 0, 0, (300 - 2 * unit - lineWidth) / 2 + 2 * unit, margin},
      {"center", 0, 3, 1, (300 - 3 * unit - lineWidth) / 2, (80 - lineHeight) / 2},
      {"right", 0, 0, 0, 300 - lineWidth - margin, margin},
      {"right", 1, 2, 2, 300 - (lineWidth + 2 * unit) - margin, 80 - margin - lineHeight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.align) + " " + std::to_string(c.padLeft) + "," + std::to_string(c.padRight));
    const std::string markup = "<div style='text-align:" + std::string(c.align) + "; padding-left:" +
                               std::to_string(c.padLeft) + "; padding-right:" + std::to_string(c.padRight) +
                               "'>Hi <b>there</b></div>";
    WRichText text(nullptr, markup.c_str());
    text.setSize(size);
    text.setAlignment(0, c.vAlign); // places the runs again
    ASSERT_EQ(text.runs().size(), 2u);
    const auto& runs = text.runs();
    EXPECT_EQ(std::string(runs[0].text.str()), "Hi ");
    EXPECT_EQ(runs[1].style.font, boldFont());
    EXPECT_EQ(runs[0].rect.topLeft, Point(c.left, c.top));
    EXPECT_EQ(runs[1].rect.topLeft, Point(c.left + font()->textWidth("Hi "), c.top));
    EXPECT_EQ(runs[1].rect.bottomRight.x, c.left + lineWidth);
    EXPECT_EQ(text.layoutSize().y, lineHeight);
  }
}

TEST(WRichTextTest, SizesMatchTheLayout)
{
  // Without wrap the widest line and both margins; with it, the height of
  // the text laid out at each width is what setting that width gives.
  const char* markup = "first line<br/>a much longer second line <b>and bold</b>";
  WRichText text(nullptr, markup);
  text.setMargin(5);
  const int longest = font()->textWidth("a much longer second line ") + boldFont()->textWidth("and bold");
  EXPECT_EQ(text.preferredWidth(0), longest + 10);
  for (int width : {40, 80, 120, 200, 400}) {
    SCOPED_TRACE(width);
    const int want = text.preferredHeight(width);
    text.setSize(Point(width, 100));
    EXPECT_EQ(text.layoutSize().y, want);
    EXPECT_EQ(text.preferredSize().y, want);
    EXPECT_LE(text.layoutSize().x, std::max(width - 10, longest));
    EXPECT_EQ(text.preferredWidth(0), longest + 10);
  }
  text.setWrap(false);
  EXPECT_EQ(text.preferredSize(), Point(longest + 10, 2 * font()->lineHeight));
  EXPECT_EQ(text.preferredHeight(10), 2 * font()->lineHeight);
  // A colour named on a link wins over the link colour; plain text gives
  // left-aligned runs without links.
  WRichText styled(nullptr, "<a href='y' style='color:#ff0000'>red</a> <u>under</u>");
  ASSERT_EQ(styled.runs().size(), 3u);
  EXPECT_EQ(styled.runs()[0].style.contentText, (Colour{255, 0, 0}));
  EXPECT_TRUE(styled.runs()[0].underline && styled.runs()[2].underline);
  EXPECT_FALSE(styled.runs()[2].link.get());
  WRichText plain(nullptr, "no markup at all");
  ASSERT_FALSE(plain.runs().empty());
  EXPECT_FALSE(plain.hasLinks());
  for (const auto& r : plain.runs())
    EXPECT_EQ(r.alignment, 0);
  WRichText none(nullptr, nullptr);
  EXPECT_EQ(none.preferredSize(), Point(8, 0));
  WRichText bad(nullptr, "<p>not markup</p>");
  EXPECT_TRUE(bad.runs().empty());
}

// A rich text beside a focusable box in a layout on the host.
struct Page {
  explicit Page(const char* markup, int width = 400) : text(&links, markup)
  {
    layout.addChildRect(&text, Rect(0, 0, width, 60), nullptr);
    layout.addChildRect(&box, Rect(0, 60, 10, 70), nullptr);
    text.setSelectable(true);
    text.setAlignment(0, 0);
    host.setContent(&layout);
  }
  // The link targets of the runs in 200, 0, 0 once painted.
  std::string lit()
  {
    host.paint();
    std::string out;
    for (const auto& r : text.runs()) {
      if (r.link.get() && anyPixel(host, r.rect, WRichText::kActiveLinkColour))
        out += r.link.str();
    }
    return out;
  }
  std::string focusTarget() const
  {
    const int f = text.focusRun();
    return f >= 0 ? text.runs()[f].link.str() : "-";
  }
  Point linkPoint(const char* target, int part = 0)
  {
    for (const auto& r : text.runs()) {
      if (r.link.get() && std::string(r.link.str()) == target && part-- == 0)
        return centreOf(r.rect);
    }
    ADD_FAILURE() << "no link " << target;
    return Point();
  }
  Links links;
  WvwHost host{Point(400, 100)};
  wvw::WLayout layout{wvw::WLayout::PointerRouting::ToChildren};
  WRichText text;
  tltest::TestBox box;
};

TEST(WRichTextTest, TabVisitsEachLinkOnceAndShiftTabGoesBack)
{
  // b is split over two lines; the same target twice in a row counts once.
  const int w = font()->textWidth("go to a then the") + 10;
  Page p("go to <a href='a'>a</a> then <a href='b'>the long link</a> <a href='c'>c</a>", w);
  int bParts = 0;
  for (const auto& r : p.text.runs())
    bParts += r.link.get() && std::string(r.link.str()) == "b";
  ASSERT_EQ(bParts, 2);
  ASSERT_NE(p.text.runs()[0].rect.topLeft.y, p.text.runs().back().rect.topLeft.y);
  p.text.setFocus();
  std::string forward = p.focusTarget();
  for (int i = 0; i < 3; i++) {
    p.host.typeKey(kTab);
    forward += p.focusTarget();
  }
  EXPECT_EQ(forward, "abc-");
  EXPECT_TRUE(p.box.hasFocus()); // the last Tab moved on
  p.host.hold(kShiftL);
  p.host.typeKey(kTab); // back into the text: its last link
  std::string backward = p.focusTarget();
  EXPECT_EQ(p.lit(), "c");
  for (int i = 0; i < 3; i++) {
    p.host.typeKey(kTab);
    backward += p.focusTarget();
  }
  EXPECT_EQ(backward, "cba-");
  EXPECT_TRUE(p.box.hasFocus());
  // Both parts of b light up when either is hovered.
  p.host.releaseAll();
  const Point second = p.linkPoint("b", 1);
  p.host.pointer(second.x, second.y);
  EXPECT_EQ(p.lit(), "bb");
  p.host.leave();
  EXPECT_EQ(p.lit(), "");
  // Text without links lets Tab through at once.
  Page plain("just text");
  plain.text.setFocus();
  plain.host.typeKey(kTab);
  EXPECT_TRUE(plain.box.hasFocus());
  EXPECT_EQ(plain.text.focusRun(), -1);
}

TEST(WRichTextTest, ActivationByPointerAndKeys)
{
  // Gestures as "press at, move to, release at" over links a and b or off
  // them ("-"), button index and enabled state.
  struct Case {
    const char* press;
    const char* move;
    const char* release;
    int button;
    bool enabled;
    const char* want;
  } cases[] = {
      {"a", "a", "a", 0, true, "a"},   {"b", "b", "b", 0, true, "b"},  {"a", "-", "a", 0, true, "a"},
      {"a", "-", "-", 0, true, ""},    {"-", "a", "a", 0, true, ""},   {"a", "b", "b", 0, true, ""},
      {"a", "a", "a", 2, true, ""},    {"a", "a", "a", 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.press) + c.move + c.release + std::to_string(c.button) + (c.enabled ? "" : "off"));
    Page p("x <a href='a'>first</a> <a href='b'>second</a> y");
    p.text.setEnabled(c.enabled);
    auto at = [&](const char* where) { return *where == '-' ? Point(1, 50) : p.linkPoint(where); };
    const Point a = at(c.press), m = at(c.move), r = at(c.release);
    p.host.pointer(a.x, a.y);
    p.host.press(a.x, a.y, c.button);
    p.host.pointer(m.x, m.y, 1u << c.button);
    p.host.release(r.x, r.y, c.button);
    std::string got;
    for (const auto& g : p.links.got)
      got += g;
    EXPECT_EQ(got, c.want);
  }
  // Keys: Return and space on the focused link, on the key going down only
  // (both consumed); never while disabled.
  Page p("<a href='a'>first</a> <a href='b'>second</a>");
  p.text.setFocus();
  p.host.typeKey(kReturn);
  p.host.typeKey(kTab);
  p.host.takeEvents();
  p.host.keyDown(' ');
  p.host.keyUp(' ');
  EXPECT_EQ(p.links.got, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(p.host.takeEvents().empty());
  Page off("<a href='a'>first</a>");
  off.text.setFocus();
  off.text.setEnabled(false);
  off.text.keyEvent(kReturn, true);
  EXPECT_TRUE(off.links.got.empty());
}

TEST(WRichTextTest, DisabledLinksInDisabledColour)
{
  Page p("<a href='a'>first</a> plain");
  const Point a = p.linkPoint("a");
  p.host.pointer(a.x, a.y);
  EXPECT_EQ(p.lit(), "a");
  p.text.setEnabled(false);
  p.host.paint();
  const Rect link = p.text.runs()[0].rect;
  EXPECT_TRUE(anyPixel(p.host, link, style().disabledText));
  EXPECT_FALSE(anyPixel(p.host, link, WRichText::kActiveLinkColour));
  EXPECT_FALSE(anyPixel(p.host, link, WRichText::kLinkColour));
}

TEST(WRichTextTest, CopyAcrossLinesAndSelectionAfterRelayout)
{
  Page p("one <b>two</b><br/>three <a href='x'>four</a>");
  p.text.selectAll();
  p.host.hold(kCtrlL);
  p.host.typeKey('c');
  EXPECT_EQ(p.host.clipboard, "one two\nthree four");
  // From inside "two" to inside "three", with the pointer.
  const auto& runs = p.text.runs();
  const Point from(runs[1].rect.topLeft.x + boldFont()->charWidth('t') + 1, runs[1].rect.topLeft.y + 2);
  const Point to(runs[2].rect.topLeft.x + font()->textWidth("th") + 1, runs[2].rect.topLeft.y + 2);
  p.host.releaseAll();
  p.host.pointer(from.x, from.y);
  p.host.press(from.x, from.y);
  p.host.pointer(to.x, to.y, 1);
  p.host.release(to.x, to.y);
  p.host.hold(kCtrlL);
  p.host.typeKey('c');
  EXPECT_EQ(p.host.clipboard, "wo\nth");
  // Narrowing drops the blanks at the new breaks: the selection shrinks
  // with the text, and copy and paint stay inside the runs.
  p.text.selectAll();
  const int before = p.text.totalLength();
  p.text.setSize(Point(font()->textWidth("three") + 10, 60));
  ASSERT_LT(p.text.totalLength(), before);
  EXPECT_EQ(p.text.selectionEnd(), p.text.totalLength());
  p.host.typeKey('c');
  // (A run that ended where the next one did not fit keeps its blank.)
  EXPECT_EQ(p.host.clipboard, "one \ntwo\nthree\nfour");
  p.host.paint();
  // A click leaves nothing selected: copying it keeps the clipboard.
  p.host.click(2, 2);
  p.host.typeKey('c');
  EXPECT_EQ(p.host.clipboard, "one \ntwo\nthree\nfour");
}

TEST(WRichTextTest, LinkHandlerMayDeleteOrChangeTheText)
{
  // The handler deletes the widget (pointer and key), or gives it a new text
  // that frees the runs the target came from.
  for (int how = 0; how < 3; how++) {
    SCOPED_TRACE(how);
    WvwHost host(Point(300, 60));
    wvw::WLayout layout(wvw::WLayout::PointerRouting::ToChildren);
    Links links;
    std::unique_ptr<WRichText> text(new WRichText(&links, "<a href='target'>go there</a>"));
    layout.addChildRect(text.get(), Rect(0, 0, 300, 60), nullptr);
    text->setSelectable(true);
    host.setContent(&layout);
    if (how == 2)
      links.action = [&] { text->setText("<a href='other'>replaced</a>"); };
    else
      links.action = [&] { text.reset(); };
    const Point at = centreOf(text->runs()[0].rect);
    if (how == 1) {
      text->setFocus();
      host.keyDown(kReturn);
    } else {
      host.pointer(at.x, at.y);
      host.click(at.x, at.y);
    }
    EXPECT_EQ(links.got, (std::vector<std::string>{"target"}));
    EXPECT_EQ(text == nullptr, how < 2);
    host.paint();
  }
}

} // namespace
