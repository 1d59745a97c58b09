// Tooltip: fitted to its maximum width, plain text escaped, placed beside
// the widget and flipped at the screen area's right and bottom edges,
// painted in "helpBg" with a frame, hidden from its host when destroyed,
// and a link handler that deletes the tooltip.
#include <gtest/gtest.h>

#include <memory>

#include "tlutil/Font.h"
#include "wvwhost.h"
#include "wvw/WTooltip.h"

namespace {

using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;
using wvw::WTooltip;

tlutil::Font* font()
{
  return wvw::WStyle::getDefault().font;
}

std::string shownText(WTooltip& tip)
{
  std::string s;
  for (const auto& r : tip.text().runs())
    s += r.text.str();
  return s;
}

TEST(WTooltipTest, FitsToTheMaximumWidthAndEscapesPlainText)
{
  WTooltip tip(120, nullptr);
  tip.setText("one two three four <b>five</b> & six");
  EXPECT_EQ(tip.text().layoutSize().y, 2 * font()->lineHeight);
  EXPECT_LE(tip.width(), 124);
  EXPECT_EQ(tip.getSize(), tip.text().getSize().translate(Point(4, 4)));
  EXPECT_EQ(tip.text().getPosition(), Point(2, 2));
  // A wider maximum unwraps it; a short text takes its own width.
  tip.setMaxWidth(1000);
  EXPECT_EQ(tip.height(), font()->lineHeight + 4);
  EXPECT_EQ(shownText(tip), "one two three four <b>five</b> & six");
  tip.setMarkup("<b>Hi</b>");
  EXPECT_EQ(tip.width(), tlutil::Font::bold(120)->textWidth("Hi") + 8 + 4);
}

TEST(WTooltipTest, PlacedBesideTheWidgetAndFlippedAtTheScreenEdges)
{
  // The host's origin is (50, 40) on a screen area that does not start at
  // 0,0: the tooltip is kept inside its right and bottom edges.
  struct Case {
    Point point;
    bool flipX, flipY;
  } cases[] = {
      {Point(10, 10), false, false},
      {Point(340, 10), true, false},
      {Point(10, 270), false, true},
      {Point(340, 270), true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.point.x) + "," + std::to_string(c.point.y));
    WvwHost host(Point(400, 300), Point(50, 40));
    host.screen = Rect(-200, -100, 400, 320);
    tltest::TestBox box;
    host.setContent(&box);
    WTooltip tip(200, nullptr);
    tip.setText("tip");
    tip.showAt(c.point, &box);
    ASSERT_EQ(host.popups.size(), 1u);
    EXPECT_EQ(host.popups[0].widget, &tip);
    EXPECT_FALSE(host.popups[0].grab);
    const Point want(c.flipX ? 50 - tip.width() - 2 : 50 + c.point.x, c.flipY ? 40 - tip.height() - 2 : 40 + c.point.y);
    EXPECT_EQ(host.popups[0].position, want);
    EXPECT_EQ(50 + c.point.x + tip.width() > 400, c.flipX);
    EXPECT_EQ(40 + c.point.y + tip.height() > 320, c.flipY);
    tip.hide();
    EXPECT_TRUE(host.popups.empty());
  }
}

TEST(WTooltipTest, PaintedOnHelpBgAndHiddenWhenDestroyed)
{
  WvwHost host(Point(300, 100));
  tltest::TestBox box;
  host.setContent(&box);
  {
    WTooltip tip(200, nullptr);
    tip.setText("help text");
    tip.showAt(Point(5, 5), &box);
    ASSERT_EQ(host.popups.size(), 1u);
    rfb::ManagedPixelBuffer pb(rfb::xrgb8888Format(), Rect(0, 0, tip.width(), tip.height()));
    tip.paint(pb);
    const plat::Colour help = plat::getColor("helpBg", plat::Colour());
    EXPECT_EQ(WvwHost::colourAt(pb, 0, 0), wvw::WStyle::getDefault().mark);
    EXPECT_EQ(WvwHost::colourAt(pb, tip.width() - 1, tip.height() - 1), wvw::WStyle::getDefault().mark);
    EXPECT_EQ(WvwHost::colourAt(pb, 1, 1), help);
    EXPECT_EQ(WvwHost::colourAt(pb, 3, 3), help); // the text's own background
  }
  EXPECT_TRUE(host.popups.empty());
}

TEST(WTooltipTest, LinkHandlerMayDeleteTheTooltip)
{
  struct Deleter : plat::Markup::LinkCallback {
    bool linkActivated(const char*) override
    {
      tip.reset();
      return true;
    }
    std::unique_ptr<WTooltip> tip;
  } deleter;
  deleter.tip.reset(new WTooltip(200, &deleter));
  deleter.tip->setMarkup("<a href='x'>more</a>");
  WvwHost host(Point(300, 100));
  host.setContent(deleter.tip.get(), false);
  const Rect r = deleter.tip->text().runs()[0].rect;
  const Point at(r.topLeft.x + 4, r.topLeft.y + 4);
  host.pointer(at.x, at.y);
  host.click(at.x, at.y);
  EXPECT_FALSE(deleter.tip);
  EXPECT_EQ(host.content(), nullptr);
}

} // namespace
