// Small controls: arrow lines, the check-box state cycle, the slider's
// arithmetic against a python reference of its rounding, discrete slider
// keys and ticks, image placement, and goldens of each control.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "plat/Configuration.h"
#include "testutil.h"
#include "wvwgolden.h"
#include "wvw/WSlider.h"
#include "wvw/WSmallControls.h"
#include "wvw/WStyle.h"

namespace {

using plat::Colour;
using rfb::Point;
using rfb::Rect;
using tltest::Recorder;
using tltest::WvwHost;

const wvw::WStyle& style()
{
  return wvw::WStyle::getDefault();
}

int countColour(WvwHost& host, const Rect& r, const Colour& c)
{
  int n = 0;
  for (int y = r.topLeft.y; y < r.bottomRight.y; y++) {
    for (int x = r.topLeft.x; x < r.bottomRight.x; x++)
      n += host.at(x, y) == c;
  }
  return n;
}

class WSmallControlsTest : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy)); }
};

// Every direction and margin: L - L/2 lines, each two shorter than the one
// before and centred on the first, the first at L/4 (down, right) or
// L/4 + 1 (up, left) from the square's edge.
TEST_F(WSmallControlsTest, ArrowLines)
{
  for (const Point size : {Point(20, 12), Point(12, 20), Point(9, 9), Point(4, 4)}) {
    for (uint32_t dir = 0; dir < 4; dir++) {
      for (int margin = 0; margin <= 4; margin++) {
        SCOPED_TRACE(std::to_string(size.x) + "x" + std::to_string(size.y) + " dir " + std::to_string(dir) +
                     " margin " + std::to_string(margin));
        WvwHost host(size);
        wvw::WArrow arrow(dir);
        arrow.setMargin(margin);
        host.setContent(&arrow);
        host.paint();
        const int side = std::min(size.x, size.y), l = side - 2 * margin;
        const int left = (size.x - side) / 2 + margin, top = (size.y - side) / 2 + margin;
        const bool vertical = dir == wvw::WArrow::kUp || dir == wvw::WArrow::kDown;
        // Painted pixels per line across the pointing axis.
        std::map<int, std::pair<int, int>> lines; // line -> first, count
        for (int y = 0; y < size.y; y++) {
          for (int x = 0; x < size.x; x++) {
            if (host.at(x, y) != style().contentText)
              continue;
            const int line = vertical ? y : x, along = vertical ? x : y;
            auto it = lines.find(line);
            if (it == lines.end())
              lines[line] = {along, 1};
            else
              it->second.second++;
          }
        }
        const int n = l > 0 ? l - l / 2 : 0;
        ASSERT_EQ((int)lines.size(), n);
        if (!n)
          continue;
        const bool forward = dir == wvw::WArrow::kDown || dir == wvw::WArrow::kRight;
        const int origin = vertical ? top : left, start = vertical ? left : top;
        const int first = forward ? origin + l / 4 : origin + l - l / 4 - 1;
        for (int i = 0; i < n; i++) {
          const int line = forward ? first + i : first - i;
          ASSERT_EQ(lines.count(line), 1u) << i;
          EXPECT_EQ(lines[line].first, start + i) << i;
          EXPECT_EQ(lines[line].second, l - 2 * i) << i;
        }
      }
    }
  }
  // The Part's example: 20 x 12, margin 2, L = 8, lines of 8, 6, 4, 2.
  WvwHost host(Point(20, 12));
  wvw::WArrow arrow(wvw::WArrow::kDown);
  host.setContent(&arrow);
  host.paint();
  EXPECT_EQ(countColour(host, Rect(0, 0, 20, 12), style().contentText), 8 + 6 + 4 + 2);
  arrow.setEnabled(false);
  host.paint();
  EXPECT_EQ(countColour(host, Rect(0, 0, 20, 12), style().disabledText), 20);
  host.takeDamage();
  arrow.setMargin(2);
  EXPECT_TRUE(host.damage.isEmpty());
  EXPECT_FALSE(arrow.wantsFocus());
}

TEST_F(WSmallControlsTest, CheckBoxStateCycle)
{
  struct Case {
    const char* style;
    bool radio;
    bool glyph;
  } cases[] = {{"WCheck_check", false, true}, {"WCheck_dot", true, true}, {"checkbox", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style);
    WvwHost host(Point(16, 16));
    wvw::WCheckBox box(c.style, wvw::WCheckBox::kIndeterminate);
    std::vector<std::string> log;
    Recorder rec("c", &log);
    box.setInputHandler(&rec);
    host.setContent(&box);
    EXPECT_EQ(box.isRadio(), c.radio);
    EXPECT_EQ(box.getGlyph() != nullptr, c.glyph);
    EXPECT_EQ(box.preferredSize(), Point(16, 16));
    // Indeterminate -> on -> off -> on, by click, Return and space.
    const uint32_t want[] = {1, 0, 1, 0};
    std::function<void()> acts[] = {[&] { host.click(8, 8); }, [&] { host.typeKey(0xFF0D); },
                                    [&] { host.typeKey(0x20); }, [&] { host.click(8, 8); }};
    std::vector<Colour> looks;
    for (int i = 0; i < 4; i++) {
      log.clear();
      acts[i]();
      EXPECT_EQ(box.getState(), want[i]) << i;
      EXPECT_EQ(std::count(log.begin(), log.end(), "c: activated"), 1) << i;
      host.paint();
      looks.push_back(host.at(8, 8));
    }
    box.setState(wvw::WCheckBox::kIndeterminate);
    host.paint();
    const Colour ind = host.at(8, 8);
    if (c.glyph) {
      // The tick and the dot both cover the box's centre.
      EXPECT_EQ(looks[0], style().contentText);
      EXPECT_EQ(looks[1], style().contentBg);
      EXPECT_EQ(ind, style().contentText);
    } else {
      EXPECT_NE(looks[0], looks[1]); // on and off images differ
    }
    // setState sends valueChanged only on a change.
    log.clear();
    box.setState(wvw::WCheckBox::kIndeterminate);
    EXPECT_TRUE(log.empty());
  }
}

// A handler that deletes the check box from its valueChanged ends the
// dispatch without touching it (AddressSanitizer watches).
TEST_F(WSmallControlsTest, HandlerDeletesCheckBox)
{
  struct Deleter : wvw::WInputHandler {
    std::unique_ptr<wvw::WCheckBox> box;
    int seen = 0;
    bool valueChanged(wvw::Widget* w) override
    {
      if (w == box.get() && box->getState() == wvw::WCheckBox::kOn) {
        seen++;
        box.reset();
        return false;
      }
      return false;
    }
  } deleter;
  WvwHost host(Point(16, 16));
  deleter.box.reset(new wvw::WCheckBox("WCheck_check", 0));
  deleter.box->setInputHandler(&deleter);
  host.setContent(deleter.box.get());
  host.click(8, 8);
  EXPECT_EQ(deleter.seen, 1);
  EXPECT_EQ(host.content(), nullptr);
}

// Thumb size, position, paging and dragging on one axis against the
// exact rational arithmetic of slider_reference.py.
TEST_F(WSmallControlsTest, SliderArithmeticMatchesReference)
{
  std::mt19937 rng(41);
  struct Run {
    int size, range, page, value, press, dragFrom, dragTo;
    int thumb, pos, afterPress, afterDrag;
  };
  std::vector<Run> runs;
  std::vector<std::string> requests;
  const int bigRanges[] = {0, 1, 2, 3, 7, 100, 1000, 65535, 2000000000};
  for (int i = 0; i < 400; i++) {
    Run r{};
    r.size = 1 + (int)(rng() % 300);
    r.range = i % 3 ? (int)(rng() % 50) : bigRanges[rng() % 9];
    r.page = 1 + (int)(rng() % (i % 2 ? 5 : 2000000000));
    r.value = r.range ? (int)(rng() % ((uint32_t)r.range + 1)) : 0;
    wvw::WSlider2D s;
    s.setSize(Point(r.size, 10));
    s.setRange(Point(r.range, 0));
    s.setPage(Point(r.page, 1));
    s.setValue(Point(r.value, 0));
    r.thumb = s.getThumbSize().x;
    r.pos = s.thumbPosition().x;
    r.press = (int)(rng() % (r.size + 20)) - 10;
    r.dragFrom = r.pos + (int)(rng() % r.thumb);
    r.dragTo = (int)(rng() % (r.size + 40)) - 20;
    requests.push_back(std::to_string(r.size) + " " + std::to_string(r.range) + " " + std::to_string(r.page) + " " +
                       std::to_string(r.value) + " " + std::to_string(r.press) + " " + std::to_string(r.dragFrom) +
                       " " + std::to_string(r.dragTo));
    {
      WvwHost host(Point(r.size, 10));
      host.setContent(&s, false);
      host.click(r.press, 5);
      r.afterPress = s.getValue().x;
      host.setContent(nullptr);
    }
    {
      wvw::WSlider2D d;
      d.setSize(Point(r.size, 10));
      d.setRange(Point(r.range, 0));
      d.setPage(Point(r.page, 1));
      d.setValue(Point(r.value, 0));
      WvwHost host(Point(r.size, 10));
      host.setContent(&d, false);
      host.press(r.dragFrom, 5);
      EXPECT_TRUE(d.isDragging());
      host.pointer(r.dragTo, 5, 1);
      host.release(r.dragTo, 5);
      EXPECT_FALSE(d.isDragging());
      r.afterDrag = d.getValue().x;
      host.setContent(nullptr);
    }
    runs.push_back(r);
  }
  const auto lines =
      tltest::pythonLines(std::string(TL_TEST_SUPPORT_DIR) + "/slider_reference.py", requests);
  ASSERT_EQ(lines.size(), runs.size());
  for (size_t i = 0; i < runs.size(); i++) {
    const Run& r = runs[i];
    EXPECT_EQ(std::to_string(r.thumb) + " " + std::to_string(r.pos) + " " + std::to_string(r.afterPress) + " " +
                  std::to_string(r.afterDrag),
              lines[i])
        << requests[i];
  }
}

TEST_F(WSmallControlsTest, SliderSettersClampAndReport)
{
  WvwHost host(Point(100, 20));
  wvw::WSlider2D s;
  std::vector<std::string> log;
  Recorder rec("s", &log);
  s.setInputHandler(&rec);
  host.setContent(&s);
  s.setRange(Point(10, -5));
  EXPECT_EQ(s.getRange(), Point(10, 0));
  s.setValue(Point(20, 3));
  EXPECT_EQ(s.getValue(), Point(10, 0));
  s.setRange(Point(4, 0));
  EXPECT_EQ(s.getValue(), Point(4, 0));
  s.setPage(Point(0, -1));
  EXPECT_EQ(s.getPage(), Point(1, 1));
  s.setValue(Point(4, 0));
  EXPECT_EQ(log, (std::vector<std::string>{"s: valueChanged", "s: valueChanged"}));
  // Thumbs are never thinner than 8 pixels.
  s.setRange(Point(1000, 0));
  EXPECT_EQ(s.getThumbSize().x, 8);
  EXPECT_EQ(s.preferredSize(), Point(1, 1));
  EXPECT_FALSE(s.wantsFocus());
}

TEST_F(WSmallControlsTest, DiscreteSliderKeys)
{
  struct Case {
    bool horizontal;
    int start;
    uint32_t key;
    int value;
    bool handledHere; // else it reaches the host
  } cases[] = {
      {true, 2, 0xFF51, 1, true},  {true, 2, 0xFF53, 3, true},  {true, 4, 0xFF53, 4, true},
      {true, 0, 0xFF51, 0, true},  {true, 2, 0xFF52, 2, false}, {false, 2, 0xFF52, 1, true},
      {false, 2, 0xFF54, 3, true}, {false, 4, 0xFF54, 4, true}, {false, 2, 0xFF53, 2, false},
      {true, 2, 'a', 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.horizontal) + " " + std::to_string(c.key));
    WvwHost host(c.horizontal ? Point(100, 26) : Point(26, 100));
    wvw::WDiscreteSlider s(c.horizontal);
    host.setContent(&s);
    c.horizontal ? s.setRange(Point(4, 0)) : s.setRange(Point(0, 4));
    c.horizontal ? s.setValue(Point(c.start, 0)) : s.setValue(Point(0, c.start));
    host.takeEvents();
    host.typeKey(c.key);
    EXPECT_EQ(c.horizontal ? s.getValue().x : s.getValue().y, c.value);
    const auto events = host.takeEvents();
    const bool reached = std::find(events.begin(), events.end(), "key " + std::to_string(c.key) + " down ?") !=
                         events.end();
    EXPECT_EQ(reached, !c.handledHere);
  }
  wvw::WDiscreteSlider h(true), v(false);
  EXPECT_EQ(h.preferredSize(), Point(10, 26));
  EXPECT_EQ(v.preferredSize(), Point(26, 10));
  EXPECT_TRUE(h.wantsFocus());
  h.setEnabled(false);
  EXPECT_FALSE(h.wantsFocus());
}

// Range 4 shows five ticks in bevelFrame, centred under each thumb
// position, from c + 2 to c + 8 across; the thumb's face greys follow the
// state.
TEST_F(WSmallControlsTest, DiscreteSliderTicksAndThumb)
{
  WvwHost host(Point(111, 30));
  wvw::WDiscreteSlider s(true);
  host.setContent(&s);
  s.setRange(Point(4, 0));
  s.setValue(Point(2, 0));
  host.paint();
  const int c = 20;
  std::vector<int> ticks;
  for (int x = 0; x < 111; x++) {
    if (host.at(x, c + 5) == style().bevelFrame)
      ticks.push_back(x);
  }
  EXPECT_EQ(ticks, (std::vector<int>{5, 30, 55, 80, 105}));
  for (int x : ticks) {
    EXPECT_EQ(host.at(x, c + 2), style().bevelFrame);
    EXPECT_EQ(host.at(x, c + 7), style().bevelFrame);
    EXPECT_NE(host.at(x, c + 8), style().bevelFrame);
    EXPECT_NE(host.at(x, c + 1), style().bevelFrame);
  }
  // Thumb at 50..61: the face starts grey 238 (top) and the groove shows
  // contentBg beside it.
  EXPECT_EQ(host.at(55, 2), (Colour{238, 238, 238}));
  EXPECT_EQ(host.at(20, 10), style().contentBg);
  s.setEnabled(false);
  host.paint(Colour{1, 2, 3});
  EXPECT_EQ(host.at(55, 2), (Colour{216, 216, 216}));
  EXPECT_EQ(host.at(55, 17), (Colour{216, 216, 216}));
  EXPECT_EQ(host.at(20, 10), (Colour{1, 2, 3})); // the groove stays unfilled
}

TEST_F(WSmallControlsTest, ImagePlacement)
{
  // Created 0 x 0: takes the image's size.
  wvw::WImage fresh("eyeOpen");
  ASSERT_NE(fresh.getImage(), nullptr);
  const Point is(fresh.getImage()->rect.width(), fresh.getImage()->rect.height());
  ASSERT_GT(is.x, 0);
  EXPECT_EQ(fresh.getSize(), is);
  EXPECT_EQ(fresh.preferredSize(), is);
  EXPECT_FALSE(fresh.wantsFocus());
  EXPECT_FALSE(wvw::WImage().setImage("noSuchImage"));
  wvw::WImage none;
  EXPECT_TRUE(none.setImage(nullptr));
  EXPECT_EQ(none.preferredSize(), Point(0, 0));

  // The bounding box of painted pixels for each alignment, and tiling.
  const Point area(is.x * 2 + 3, is.y * 2 + 1);
  auto bounds = [&](WvwHost& host, const Point& size) {
    Rect b(size.x, size.y, 0, 0);
    for (int y = 0; y < size.y; y++) {
      for (int x = 0; x < size.x; x++) {
        if (host.at(x, y) != Colour{255, 255, 255}) {
          b.topLeft.x = std::min(b.topLeft.x, x);
          b.topLeft.y = std::min(b.topLeft.y, y);
          b.bottomRight.x = std::max(b.bottomRight.x, x + 1);
          b.bottomRight.y = std::max(b.bottomRight.y, y + 1);
        }
      }
    }
    return b;
  };
  WvwHost ref(is);
  wvw::WImage plain("eyeOpen");
  ref.setContent(&plain, false);
  ref.paint();
  const Rect inner = bounds(ref, is); // the image's own painted box
  for (int h = 0; h <= 2; h++) {
    for (int v = 0; v <= 2; v++) {
      WvwHost host(area);
      wvw::WImage img("eyeOpen");
      img.setAlignment(h, v);
      host.setContent(&img); // already sized: keeps its size
      EXPECT_EQ(img.getSize(), area);
      host.paint();
      const Point at((area.x - is.x) * h / 2, (area.y - is.y) * v / 2);
      EXPECT_EQ(bounds(host, area), inner.translate(at)) << h << "," << v;
    }
  }
  WvwHost host(area);
  wvw::WImage tiled("eyeOpen");
  tiled.setTile(true);
  host.setContent(&tiled);
  host.paint();
  for (const Point& tile : {Point(0, 0), Point(is.x, 0), Point(0, is.y), Point(is.x * 2, is.y * 2)}) {
    const Point p = inner.topLeft.translate(tile);
    if (p.x < area.x && p.y < area.y) {
      EXPECT_EQ(host.at(p.x, p.y), ref.at(inner.topLeft.x, inner.topLeft.y)) << p.x << "," << p.y;
    }
  }
  // Disabled: every painted pixel is grey.
  tiled.setEnabled(false);
  host.paint();
  int coloured = 0;
  for (int y = 0; y < area.y; y++) {
    for (int x = 0; x < area.x; x++) {
      const Colour c = host.at(x, y);
      coloured += !(c.r == c.g && c.g == c.b);
    }
  }
  EXPECT_EQ(coloured, 0);
}

TEST_F(WSmallControlsTest, CustomWidgetAndCanvas)
{
  struct Cb : wvw::WCustom::Callback, wvw::WCustom::DragSource, wvw::WCustom::DragListener {
    int paints = 0;
    bool focus = true;
    rfb::PixelFormat dragImageFormat;
    void paint(wvw::WCustom*, rfb::WritablePixelBuffer&) override { paints++; }
    Point preferredSize(wvw::WCustom*) override { return Point(7, 9); }
    bool wantsFocus(wvw::WCustom*) override { return focus; }
    bool canStartDrag(wvw::WCustom*, const Point&) override { return true; }
    void fillDragData(wvw::WCustom*, wvw::WDragDropData&) override {}
    bool canDropAt(wvw::WCustom*, wvw::WDragDropData*, const Point&) override { return true; }
    void drawDragImage(wvw::WCustom*, wvw::WDragDropData&, rfb::ManagedPixelBuffer& image) override
    {
      dragImageFormat = image.format;
    }
  } cb;
  wvw::WCanvas canvas;
  wvw::WCustom custom(&cb, wvw::WLayout::PointerRouting::ToSelf, &cb);
  canvas.addChildRect(&custom, Rect(10, 10, 20, 20), nullptr);
  WvwHost host(Point(40, 40));
  host.setContent(&canvas);
  host.paint();
  EXPECT_EQ(cb.paints, 1);
  EXPECT_EQ(custom.preferredSize(), Point(7, 9));
  EXPECT_TRUE(custom.wantsFocus());
  cb.focus = false;
  EXPECT_FALSE(custom.wantsFocus());
  EXPECT_EQ(host.at(0, 0), style().bg);
  EXPECT_EQ(host.at(39, 39), style().bg);
  // A drag starts with an rgb888 image; a drop's type is matched by its text.
  static const char* const accepted[] = {"item", nullptr};
  custom.setDragSource("item", accepted, &cb);
  host.press(12, 12);
  host.pointer(30, 30, 1);
  EXPECT_TRUE(cb.dragImageFormat.equal(rfb::rgb888Format()));
  wvw::WDragDropData item("item");
  EXPECT_TRUE(canvas.canDropInTree(&item));
}

// One golden of every control in its states; each also checks the pixels
// the drawing rules fix.
TEST_F(WSmallControlsTest, Golden)
{
  WvwHost host(Point(200, 90));
  wvw::WCanvas canvas;
  wvw::WArrow arrows[] = {wvw::WArrow(0), wvw::WArrow(1), wvw::WArrow(2), wvw::WArrow(3)};
  for (int i = 0; i < 4; i++)
    canvas.addChildRect(&arrows[i], Rect(i * 14, 0, i * 14 + 12, 12), nullptr);
  arrows[3].setEnabled(false);
  wvw::WCheckBox checks[] = {wvw::WCheckBox("WCheck_check", 0), wvw::WCheckBox("WCheck_check", 1),
                             wvw::WCheckBox("WCheck_check", 2), wvw::WCheckBox("WCheck_check", 1),
                             wvw::WCheckBox("WCheck_dot", 0),   wvw::WCheckBox("WCheck_dot", 1),
                             wvw::WCheckBox("WCheck_dot", 2),   wvw::WCheckBox("checkbox", 0),
                             wvw::WCheckBox("checkbox", 1)};
  for (int i = 0; i < 9; i++)
    canvas.addChildRect(&checks[i], Rect(i * 20, 16, i * 20 + 16, 32), nullptr);
  checks[3].setEnabled(false);
  wvw::WDiscreteSlider slider(true), dragged(true), vertical(false);
  canvas.addChildRect(&slider, Rect(0, 36, 80, 62), nullptr);
  canvas.addChildRect(&dragged, Rect(90, 36, 170, 62), nullptr);
  canvas.addChildRect(&vertical, Rect(175, 36, 200, 90), nullptr);
  slider.setRange(Point(3, 0));
  slider.setValue(Point(1, 0));
  dragged.setRange(Point(2, 0));
  vertical.setRange(Point(0, 2));
  vertical.setValue(Point(0, 2));
  wvw::WSlider2D thumb;
  canvas.addChildRect(&thumb, Rect(0, 66, 80, 80), nullptr);
  thumb.setRange(Point(3, 0));
  thumb.setValue(Point(1, 0));
  wvw::WImage image("eyeOpen");
  canvas.addChildRect(&image, Rect(90, 62, 170, 90), nullptr);
  host.setContent(&canvas);
  host.press(95, 46); // the dragged slider's thumb: pressed and held
  ASSERT_TRUE(dragged.isDragging());
  checks[1].setFocus();
  tltest::expectGolden(host.paint(), "smallcontrols");
  // Boxes: contentBg inside, disabled box disabledBg, focus ring in mark.
  EXPECT_EQ(host.at(20 + 3, 16 + 8), style().contentBg);
  EXPECT_EQ(host.at(60 + 3, 16 + 8), style().disabledBg);
  EXPECT_EQ(host.at(20 + 8, 16 + 1), style().mark);
  // The dragged thumb's face starts at grey 184.
  EXPECT_EQ(host.at(90 + 5, 36 + 2), (Colour{184, 184, 184}));
  // The plain thumb's face starts at grey 238.
  const int tx = thumb.thumbPosition().x;
  EXPECT_EQ(host.at(tx + 4, 66 + 2), (Colour{238, 238, 238}));
}

} // namespace
