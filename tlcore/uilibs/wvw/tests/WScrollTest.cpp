// Scrollbars and the scroll view: repeat timing on the test clock, which
// bars content sizes around the view's size bring in, showRect, wheel
// steps at the ends, the track, deletion from a handler during a repeat,
// and a golden of a view with both bars.
#include <gtest/gtest.h>

#include <memory>

#include "plat/Configuration.h"
#include "wvwgolden.h"
#include "wvw/WScroll.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::WvwHost;

// Content whose pixels tell where it sits: bands of colour every 10 pixels.
class Bands : public wvw::Widget {
public:
  explicit Bands(const Point& size) { setSize(size); }
  Point preferredSize() override { return getSize(); }
  void paint(rfb::WritablePixelBuffer& pb) override
  {
    for (int y = 0; y < height(); y += 10) {
      for (int x = 0; x < width(); x += 10) {
        const int rgba[4] = {(x * 3) % 256, (y * 3) % 256, ((x + y) / 10 % 2) * 200, 255};
        rfb::fillRect(pb, Rect(x, y, x + 10, y + 10), rfb::pixelFromRGBA(pb.format, rgba, pb.colourMap));
      }
    }
  }
};

// A scroll view of step 15 on a host, showing bands of the given size.
struct Viewed {
  Viewed(const Point& size, const Point& contentSize) : host(size), content(contentSize)
  {
    view.setContent(&content);
    host.setContent(&view);
  }
  WvwHost host;
  wvw::WScrollView view{15};
  Bands content;
};

class WScrollTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

// Holding an arrow repeats after 300 ms, then every interval x 4/5 down to
// 100 ms; the release clicks once more and the repeat stops.
TEST_F(WScrollTest, ArrowRepeatOnTheTestClock)
{
  WvwHost host(Point(16, 200));
  wvw::WScrollbar bar(false, 2);
  host.setContent(&bar);
  bar.setRange(1000, 10);
  host.press(8, 195);
  ASSERT_TRUE(bar.moreButton().isPressed());
  const struct {
    int ms, value;
  } steps[] = {{299, 0}, {1, 2}, {239, 2}, {1, 4}, {192, 6}, {153, 8}, {122, 10}, {100, 12}, {99, 12}, {1, 14}, {100, 16}};
  for (const auto& s : steps) {
    host.advance(s.ms);
    EXPECT_EQ(s.value, bar.value()) << "after " << s.ms;
  }
  host.release(8, 195);
  EXPECT_EQ(18, bar.value());
  host.advance(1000);
  EXPECT_EQ(18, bar.value());
  EXPECT_FALSE(bar.repeatTimer().isStarted());

  // The less button goes back and stops at 0.
  bar.setValue(3);
  host.press(8, 3);
  host.advance(300);
  EXPECT_EQ(1, bar.value());
  host.advance(240);
  EXPECT_EQ(0, bar.value());
  host.release(8, 3);
  EXPECT_EQ(0, bar.value());
}

// Track clicks page; a range of 0 keeps a full-length thumb at 0; the
// track shows the bar's grey.
TEST_F(WScrollTest, TrackAndEmptyRange)
{
  WvwHost host(Point(16, 100));
  wvw::WScrollbar bar(false, 1);
  host.setContent(&bar);
  bar.setRange(0, 10);
  EXPECT_EQ(Point(0, 0), bar.slider().thumbPosition());
  EXPECT_EQ(68, bar.slider().getThumbSize().y);
  bar.setRange(90, 10);
  host.click(8, 70);
  EXPECT_EQ(10, bar.value());
  host.paint();
  EXPECT_EQ((Colour{184, 184, 184}), host.at(0, 80));
  bar.setRange(-5, 10);
  EXPECT_EQ(0, bar.value());
}

// A handler that destroys the bar during a repeat ends it quietly.
TEST_F(WScrollTest, HandlerDeletesBarDuringRepeat)
{
  struct Killer : wvw::WInputHandler {
    std::unique_ptr<wvw::WScrollbar> bar;
    bool valueChanged(wvw::Widget* source) override
    {
      if (source == &bar->slider() && bar->value() >= 4)
        bar.reset();
      return false;
    }
  } killer;
  WvwHost host(Point(16, 200));
  killer.bar.reset(new wvw::WScrollbar(false, 2));
  host.setContent(killer.bar.get());
  killer.bar->setRange(100, 10);
  killer.bar->slider().setInputHandler(&killer);
  host.press(8, 195);
  host.advance(300);
  host.advance(240);
  EXPECT_FALSE(killer.bar);
  EXPECT_EQ(nullptr, host.content());
  host.advance(1000);
}

// Which bars content sizes around a 100 x 80 view bring in, and the
// viewport that remains.
TEST_F(WScrollTest, BarsForContentSizes)
{
  const struct {
    Point content;
    bool h, v;
  } cases[] = {
      {{100, 80}, false, false}, {{50, 50}, false, false}, {{101, 80}, true, true}, {{100, 81}, true, true},
      {{84, 81}, false, true},   {{85, 81}, true, true},   {{101, 64}, true, false}, {{101, 65}, true, true},
      {{300, 10}, true, false},  {{10, 300}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.content.x) + "x" + std::to_string(c.content.y));
    Viewed v(Point(100, 80), c.content);
    wvw::WScrollView& view = v.view;
    EXPECT_EQ(c.h, view.hBar().isVisible());
    EXPECT_EQ(c.v, view.vBar().isVisible());
    const Point vp(100 - (c.v ? 16 : 0), 80 - (c.h ? 16 : 0));
    EXPECT_EQ(vp, view.viewport().getSize());
    if (c.h) {
      EXPECT_EQ(Rect(0, 64, vp.x, 80), view.getChildRect(&view.hBar()));
    }
    if (c.v) {
      EXPECT_EQ(Rect(84, 0, 100, vp.y), view.getChildRect(&view.vBar()));
    }
    EXPECT_EQ(std::max(0, c.content.y - vp.y), view.vBar().range());
    EXPECT_EQ(std::max(0, c.content.x - vp.x), view.hBar().range());
  }
  // A content that grows brings the bars in; one that shrinks takes them
  // out and pulls the offset back.
  Viewed v(Point(100, 80), Point(50, 50));
  wvw::WScrollView& view = v.view;
  Bands& content = v.content;
  content.setSize(Point(84, 200));
  EXPECT_TRUE(view.vBar().isVisible());
  view.vBar().setValue(120);
  EXPECT_EQ(Point(0, -120), view.viewport().getChildPosition(&content));
  content.setSize(Point(84, 100));
  EXPECT_EQ(20, view.vBar().value());
  EXPECT_EQ(Point(0, -20), view.viewport().getChildPosition(&content));
  view.setContent(nullptr);
  EXPECT_FALSE(content.isAttached());
}

// Wheel steps of 3 x step stop at both ends, whichever widget they come from.
TEST_F(WScrollTest, WheelStopsAtTheEnds)
{
  Viewed v(Point(100, 100), Point(84, 200));
  WvwHost& host = v.host;
  wvw::WScrollView& view = v.view;
  Bands& content = v.content;
  const struct {
    int button, offset;
  } steps[] = {{4, 45}, {4, 90}, {4, 100}, {4, 100}, {3, 55}, {3, 10}, {3, 0}, {3, 0}};
  for (const auto& s : steps) {
    host.click(40, 40, s.button);
    EXPECT_EQ(s.offset, view.vBar().value());
    EXPECT_EQ(Point(0, -s.offset), view.viewport().getChildPosition(&content));
  }
  host.click(92, 50, 4);
  EXPECT_EQ(45, view.vBar().value());
}

// showRect scrolls just far enough; a rectangle larger than the view
// shows its top-left corner. The view keeps the request.
TEST_F(WScrollTest, ShowRect)
{
  const struct {
    Point start;
    Rect rect; // in content coordinates
    Point offset;
  } cases[] = {
      {{0, 0}, {10, 10, 20, 20}, {0, 0}},         {{0, 0}, {90, 100, 100, 110}, {16, 26}},
      {{100, 100}, {50, 60, 60, 70}, {50, 60}},   {{0, 0}, {10, 20, 210, 220}, {10, 20}},
      {{50, 50}, {40, 10, 250, 300}, {40, 10}},   {{0, 0}, {216, 216, 300, 300}, {216, 216}},
      {{30, 0}, {35, 0, 119, 10}, {35, 0}},       {{30, 0}, {35, 0, 114, 84}, {30, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rect.topLeft.x) + "," + std::to_string(c.rect.topLeft.y));
    Viewed v(Point(100, 100), Point(300, 300));
    wvw::WScrollView& view = v.view;
    Bands& content = v.content;
    view.hBar().setValue(c.start.x);
    view.vBar().setValue(c.start.y);
    content.getParent()->showRect(&content, c.rect);
    EXPECT_EQ(c.offset, view.scrollOffset());
  }
}

TEST_F(WScrollTest, GoldenWithBothBars)
{
  Viewed v(Point(120, 90), Point(200, 150));
  WvwHost& host = v.host;
  wvw::WScrollView& view = v.view;
  Bands& content = v.content;
  view.hBar().setValue(30);
  view.vBar().setValue(20);
  host.paint();
  // The content at its offset, the bars' grey beside their thumbs.
  EXPECT_EQ(Point(-30, -20), view.viewport().getChildPosition(&content));
  EXPECT_EQ((Colour{90, 60, 200}), host.at(0, 0));
  EXPECT_EQ((Colour{184, 184, 184}), host.at(110, 50));
  EXPECT_EQ((Colour{184, 184, 184}), host.at(18, 80));
  tltest::expectGolden(host.paint(), "scrollview");
}

} // namespace
