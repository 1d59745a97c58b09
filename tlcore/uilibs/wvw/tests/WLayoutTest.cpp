// The layout container: the focus chain, pointer routing with grabs,
// damage from moves and from adding and removing children, and the
// unlinking of children and layouts that are destroyed.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "wvwhost.h"
#include "wvw/WLayout.h"

namespace {

using rfb::Point;
using rfb::Rect;
using rfb::Region;
using tltest::Recorder;
using tltest::TestBox;
using tltest::WvwHost;
using wvw::WLayout;

constexpr uint32_t kShiftL = 0xFFE1, kTab = 0xFF09;

// Root: a, then the nested layout n holding n1 and n2, then b.
struct Focus {
  Focus()
    : root(WLayout::PointerRouting::ToChildren), a(&root), nested(WLayout::PointerRouting::ToChildren), n1(&nested),
      n2(&nested), b(&root)
  {
    root.insertChild(&nested, Point(20, 0), &b);
    root.setChildRect(&a, Rect(0, 0, 10, 10));
    nested.setChildRect(&n1, Rect(0, 0, 10, 10));
    nested.setChildRect(&n2, Rect(10, 0, 20, 10));
    root.setChildRect(&b, Rect(50, 0, 60, 10));
    nested.setSize(Point(20, 10));
    leaves = {{"a", &a}, {"n1", &n1}, {"n2", &n2}, {"b", &b}};
    host.setContent(&root);
  }
  std::string focused()
  {
    std::string out;
    for (auto& l : leaves) {
      if (l.second->hasFocus())
        out += (out.empty() ? "" : "+") + l.first;
    }
    return out.empty() ? "-" : out;
  }
  WvwHost host;
  WLayout root;
  TestBox a;
  WLayout nested;
  TestBox n1, n2, b;
  std::map<std::string, wvw::Widget*> leaves;
};

TEST(WLayoutTest, FocusEdgeCases)
{
  struct Case {
    const char* what;
    const char* start;
    std::function<void(Focus&)> act;
    const char* focused;
  } cases[] = {
      {"Tab", "a", [](Focus& f) { f.host.typeKey(kTab); }, "n1"},
      {"Tab leaves the nested layout", "n2", [](Focus& f) { f.host.typeKey(kTab); }, "b"},
      {"Tab wraps around", "b", [](Focus& f) { f.host.typeKey(kTab); }, "a"},
      {"Shift+Tab lands on the container's last field", "b",
       [](Focus& f) {
         f.host.hold(kShiftL);
         f.host.typeKey(kTab);
       },
       "n2"},
      {"Shift+Tab wraps from the first", "a",
       [](Focus& f) {
         f.host.hold(kShiftL);
         f.host.typeKey(kTab);
       },
       "b"},
      {"hidden children are skipped", "a",
       [](Focus& f) {
         f.nested.setVisible(false);
         f.host.typeKey(kTab);
       },
       "b"},
      {"disabled children are skipped", "n2",
       [](Focus& f) {
         f.b.setEnabled(false);
         f.host.typeKey(kTab);
       },
       "a"},
      {"with one focusable child Tab stays", "a",
       [](Focus& f) {
         f.nested.setEnabled(false);
         f.b.setVisible(false);
         f.host.typeKey(kTab);
       },
       "a"},
      {"disabling the focused child moves on", "n1", [](Focus& f) { f.n1.setEnabled(false); }, "n2"},
      {"hiding the focused child moves on", "n2", [](Focus& f) { f.n2.setVisible(false); }, "b"},
      {"enabling never takes the focus", "a",
       [](Focus& f) {
         f.b.setEnabled(false);
         f.b.setEnabled(true);
         f.b.setVisible(false);
         f.b.setVisible(true);
       },
       "a"},
      {"removing the focused child moves on", "n1", [](Focus& f) { f.nested.removeChild(&f.n1); }, "n2"},
      {"removing the only focusable child leaves none", "a",
       [](Focus& f) {
         f.nested.setEnabled(false);
         f.b.setEnabled(false);
         f.root.removeChild(&f.a);
       },
       "-"},
      {"focusing a leaf focuses its layouts", "-", [](Focus& f) { f.n2.setFocus(); }, "n2"},
      {"a layout given the focus focuses its first child", "-", [](Focus& f) { f.host.setFocus(&f.root); }, "a"},
      {"a press focuses the leaf under the pointer", "a", [](Focus& f) { f.host.click(33, 5); }, "n2"},
  };
  for (const Case& c : cases) {
    Focus f;
    if (std::string(c.start) != "-")
      f.leaves[c.start]->setFocus();
    ASSERT_EQ(f.focused(), c.start) << c.what;
    c.act(f);
    EXPECT_EQ(f.focused(), c.focused) << c.what;
  }
}

TEST(WLayoutTest, FocusNotifications)
{
  Focus f;
  std::vector<std::string> log;
  Recorder ra("a", &log), rn2("n2", &log);
  f.a.setInputHandler(&ra);
  f.n2.setInputHandler(&rn2);
  f.a.setFocus();
  f.host.hold(kShiftL);
  f.host.typeKey(kTab);
  f.host.typeKey(kTab);
  // a to b (no recorder), then b to the nested layout's last field.
  EXPECT_EQ(log, (std::vector<std::string>{"a: focus", "a: key 65289 down", "a: focus back", "n2: focus back",
                                           "n2: key 65289 up"}));
  // Removing the only focusable child tells it that it lost the focus.
  Focus g;
  log.clear();
  g.a.setInputHandler(&ra);
  g.nested.setEnabled(false);
  g.b.setEnabled(false);
  g.a.setFocus();
  log.clear();
  g.root.removeChild(&g.a);
  EXPECT_EQ(log, (std::vector<std::string>{"a: focus back"}));
  EXPECT_EQ(g.root.getFocusedChild(), nullptr);
}

struct Routing {
  Routing() : layout(WLayout::PointerRouting::ToChildren), a(&layout), b(&layout)
  {
    layout.setChildRect(&a, Rect(10, 10, 30, 30));
    layout.setChildRect(&b, Rect(40, 10, 60, 30));
    a.setMouseHandler(&ra);
    b.setMouseHandler(&rb);
    layout.setMouseHandler(&rl);
    host.setContent(&layout);
    a.setMouseHandler(&ra);
  }
  WvwHost host;
  WLayout layout;
  TestBox a, b;
  std::vector<std::string> log;
  Recorder ra{"a", &log}, rb{"b", &log}, rl{"L", &log};
};

TEST(WLayoutTest, APressGrabsThePointerAcrossChildEdges)
{
  Routing r;
  r.host.pointer(15, 15);
  r.host.press(15, 15);
  r.host.pointer(45, 50, 1);  // over b and below everything: still a's
  r.host.pointer(-5, 12, 1);
  r.host.release(-5, 12);
  r.host.pointer(45, 15);
  // The layout's own area counts as a target: leaving it for a child is a
  // leave; a child that holds the grab is told when the pointer leaves it
  // but keeps receiving it, in its own coordinates.
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "L: left", "a: moved 5,5", "L: moved 5,5", "a: down 0", "L: down 0", "a: left", "L: left",
                       "a: moved 35,40", "L: moved 35,40", "a: moved -15,2", "L: moved -15,2", "a: up 0", "L: up 0",
                       "L: left", "b: moved 5,5", "L: moved 5,5"}));
  EXPECT_EQ(r.layout.getGrabChild(), nullptr);
}

TEST(WLayoutTest, APressOnEmptyAreaGrabsForTheLayout)
{
  Routing r;
  r.host.press(35, 5);
  EXPECT_EQ(r.layout.getGrabChild(), &r.layout);
  r.log.clear();
  r.host.pointer(15, 15, 1);
  r.host.release(15, 15);
  EXPECT_EQ(r.log, (std::vector<std::string>{"L: left", "L: moved 15,15", "L: up 0"}));
}

TEST(WLayoutTest, HiddenAndDisabledChildren)
{
  Routing r;
  // b on top of a: hidden, the pointer reaches a.
  r.layout.setChildRect(&r.b, Rect(10, 10, 30, 30));
  r.b.setVisible(false);
  r.host.pointer(15, 15);
  EXPECT_EQ(r.log, (std::vector<std::string>{"L: left", "a: moved 5,5", "L: moved 5,5"}));
  // A disabled child gets motion; while a button is held it is skipped and
  // the press reaches the child below.
  r.b.setVisible(true);
  r.b.setEnabled(false);
  r.log.clear();
  r.host.pointer(16, 15);
  r.host.press(16, 15);
  EXPECT_EQ(r.log, (std::vector<std::string>{"b: moved 6,5", "L: moved 6,5", "a: moved 6,5", "L: moved 6,5",
                                             "a: down 0", "L: down 0"}));
}

TEST(WLayoutTest, PointerLeaveGoesToTheChildUnderThePointer)
{
  Routing r;
  r.host.pointer(15, 15);
  r.log.clear();
  r.host.pointer(45, 15);
  r.host.leave();
  EXPECT_EQ(r.log, (std::vector<std::string>{"a: left", "L: left", "b: moved 5,5", "L: moved 5,5", "b: left",
                                             "L: left", "L: left"}));
}

TEST(WLayoutTest, DamageFromMovesAndChildren)
{
  WvwHost host;
  WLayout outer(WLayout::PointerRouting::ToChildren), layout(WLayout::PointerRouting::ToChildren);
  outer.insertChild(&layout, Point(100, 50), nullptr);
  layout.setSize(Point(50, 20));
  TestBox a, b;
  layout.addChildRect(&a, Rect(0, 0, 20, 10), nullptr);
  // A detached layout passes nothing up.
  layout.setChildPosition(&a, Point(5, 0));
  host.setContent(&outer, false);
  host.damage.clear();
  layout.setChildPosition(&a, Point(0, 0));
  layout.setChildPosition(&a, Point(10, 0));
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(100, 50, 130, 60))));
  layout.insertChild(&b, Point(40, 15), nullptr);
  b.setSize(Point(20, 10));
  // Not clipped to the layout's 50 x 20.
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(140, 65, 160, 75))));
  layout.removeChild(&b);
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(140, 65, 160, 75))));
  EXPECT_FALSE(b.isAttached());
  EXPECT_EQ(b.getParentLayout(), nullptr);
  // Hidden layouts pass nothing up.
  layout.setVisible(false);
  host.damage.clear();
  layout.setChildPosition(&a, Point(0, 0));
  EXPECT_TRUE(host.damage.isEmpty());
}

TEST(WLayoutTest, PreferredSizeAndPainting)
{
  struct Padded : WLayout {
    Padded() : WLayout(PointerRouting::ToChildren)
    {
      rightPadding_ = 4;
      bottomPadding_ = 4;
    }
  } layout;
  TestBox a, b, hidden;
  layout.addChildRect(&a, Rect(0, 0, 10, 10), nullptr);
  layout.addChildRect(&b, Rect(5, 20, 15, 25), nullptr);
  EXPECT_EQ(layout.preferredSize(), Point(19, 29));
  layout.addChildRect(&hidden, Rect(0, 0, 50, 50), nullptr);
  hidden.setVisible(false);
  EXPECT_EQ(layout.preferredSize(), Point(54, 54));
  // Children in order, later ones on top; hidden ones and the layout's own
  // background are not painted.
  WvwHost host(Point(30, 30));
  host.setContent(&layout);
  b.colour = plat::Colour{0, 0, 255};
  layout.setChildRect(&b, Rect(5, 5, 15, 15));
  host.paint();
  EXPECT_EQ(host.at(2, 2), (plat::Colour{0, 128, 0}));
  EXPECT_EQ(host.at(7, 7), (plat::Colour{0, 0, 255}));
  EXPECT_EQ(host.at(20, 20), (plat::Colour{255, 255, 255}));
}

TEST(WLayoutTest, DragAndDropReachTheChildrenUnderThePointer)
{
  struct Target : TestBox {
    explicit Target(WLayout* l) : TestBox(l) {}
    bool canDrop(wvw::WDragDropData*) override { return true; }
    bool dragOver(wvw::WDragDropData*, const Point& p) override
    {
      log.push_back("over " + std::to_string(p.x));
      return true;
    }
    void drop(wvw::WDragDropData*, const Point& p) override { log.push_back("drop " + std::to_string(p.x)); }
    void dragEnded() override { log.push_back("ended"); }
    std::vector<std::string> log;
  };
  WLayout layout(WLayout::PointerRouting::ToChildren);
  TestBox plain(&layout);
  wvw::WDragDropData data("text/plain");
  EXPECT_FALSE(layout.canDropInTree(&data));
  Target target(&layout);
  layout.setSize(Point(100, 20));
  layout.setChildRect(&target, Rect(50, 0, 70, 20));
  EXPECT_TRUE(layout.canDropInTree(&data));
  // Each child judges the position itself (here: anywhere), in its own
  // coordinates; outside the layout nobody is asked.
  EXPECT_TRUE(layout.dragOver(&data, Point(10, 5)));
  EXPECT_FALSE(layout.dragOver(&data, Point(150, 5)));
  EXPECT_TRUE(layout.dragOver(&data, Point(55, 5)));
  layout.drop(&data, Point(10, 5));
  layout.drop(&data, Point(60, 5));
  layout.dragEnded();
  EXPECT_EQ(target.log, (std::vector<std::string>{"over -40", "over 5", "drop 10", "ended"}));
}

// --- Destruction -------------------------------------------------------------------------

TEST(WLayoutTest, ALayoutDestroyedFirstUnlinksItsChildren)
{
  WvwHost host;
  TestBox box;
  std::vector<std::string> log;
  Recorder rec("box", &log);
  box.setInputHandler(&rec);
  {
    auto layout = std::make_unique<WLayout>(WLayout::PointerRouting::ToChildren);
    layout->addChild(&box, nullptr);
    host.setContent(layout.get());
    EXPECT_TRUE(box.isAttached());
  }
  EXPECT_FALSE(box.isAttached());
  EXPECT_EQ(box.getParentLayout(), nullptr);
  box.setSize(Point(5, 5)); // touches nothing of the layout
}

TEST(WLayoutTest, AChildDestroyedFirstUnlinksItselfQuietly)
{
  WvwHost host;
  WLayout layout(WLayout::PointerRouting::ToChildren);
  host.setContent(&layout);
  auto box = std::make_unique<TestBox>(&layout);
  layout.setChildRect(box.get(), Rect(5, 5, 15, 15));
  box->setFocus();
  host.press(7, 7);
  EXPECT_EQ(layout.getGrabChild(), box.get());
  host.damage.clear();
  host.events.clear();
  box.reset();
  EXPECT_EQ(layout.getFocusedChild(), nullptr);
  EXPECT_EQ(layout.getGrabChild(), nullptr);
  EXPECT_TRUE(layout.children().empty());
  EXPECT_TRUE(host.takeDamage().equals(Region(Rect(5, 5, 15, 15))));
  EXPECT_TRUE(host.events.empty());
  host.pointer(8, 8, 1);
  host.release(8, 8);
}

// A page that owns its widgets: a handler deleting it from a notification
// or a mouse callback deletes the dispatching widgets too.
struct Page : WLayout {
  Page() : WLayout(PointerRouting::ToChildren), inner(PointerRouting::ToChildren), box(&inner)
  {
    addChildRect(&inner, Rect(0, 0, 50, 50), nullptr);
    inner.setChildRect(&box, Rect(10, 10, 20, 20));
  }
  WLayout inner;
  TestBox box;
};

struct Deleter : wvw::WInputHandler, wvw::WMouseInputHandler, tlutil::MouseCallback {
  bool del()
  {
    page.reset();
    return false;
  }
  bool focusChanged(bool, wvw::Widget*) override { return del(); }
  bool buttonDown(int, wvw::Widget*) override { return del(); }
  bool buttonUp(int, wvw::Widget*) override { return del(); }
  bool key(uint32_t, bool, wvw::Widget*) override { return del(); }
  bool mouseEvent(const tlutil::MouseEvent& e) override { return e.kind == 1 && del(); }
  std::unique_ptr<Page> page;
};

TEST(WLayoutTest, HandlersMayDeleteTheLayoutsOnTheDispatchPath)
{
  const std::vector<std::function<void(Deleter&, WvwHost&)>> ways = {
      [](Deleter& d, WvwHost& h) {
        d.page->box.setMouseHandler(&d);
        h.press(15, 15);
      },
      [](Deleter& d, WvwHost& h) {
        d.page->inner.setMouseHandler(&d);
        h.press(15, 15);
        h.release(15, 15);
      },
      [](Deleter& d, WvwHost& h) {
        d.page->box.setMouseCallback(&d);
        h.click(15, 15);
      },
      [](Deleter& d, WvwHost&) {
        d.page->box.setInputHandler(&d);
        d.page->box.setFocus();
      },
      [](Deleter& d, WvwHost& h) {
        d.page->inner.setInputHandler(&d);
        d.page->box.setFocus();
        h.typeKey('x');
      },
  };
  for (auto& way : ways) {
    WvwHost host(Point(50, 50));
    Deleter d;
    d.page = std::make_unique<Page>();
    host.setContent(d.page.get());
    way(d, host);
    EXPECT_EQ(d.page, nullptr);
    EXPECT_EQ(host.content(), nullptr);
  }
}

} // namespace
