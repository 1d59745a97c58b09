// The leaf and container kinds on the fake back-end: type words, state
// lines, actions and their refusals, and each kind's own rules.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "muiFake.h"
#include "muimisc/ProgressBar.h"
#include "plat/Configuration.h"
#include "plat/Markup.h"
#include "rfb/KeysymNames.h"

using namespace mui;
using tltest::fakeOf;

namespace {

struct Events : MuObserver {
  void event(MuElement* source, uint32_t code) override { seen.push_back({source, code}); }
  std::vector<std::pair<MuElement*, uint32_t>> seen;
};

struct Links : plat::Markup::LinkCallback {
  bool linkActivated(const char* href) override
  {
    targets.push_back(href);
    return false;
  }
  std::vector<std::string> targets;
};

// A shown dialog "dlg" with a vertical layout "l" in it.
struct Tree {
  Tree()
  {
    EXPECT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    tltest::bindFakeBackEnd();
    Mui::setMetrics(Mui::kDefaultMetrics);
    dialog = MuDialog::create("dlg", "", Size(400, 300), 0, nullptr, nullptr);
    dialog->setShown(true);
    layout = MuLayout::create(dialog.get(), "l", MuLayout::kVertical);
    dialog->addObserver(&events, true);
  }
  std::unique_ptr<MuDialog> dialog;
  MuLayout* layout;
  Events events;
};

std::string tail(const plat::DString& state, const char* kindLines)
{
  const std::string s = state.get();
  const size_t at = s.find(kindLines);
  return at == std::string::npos ? s : s.substr(at);
}

} // namespace

TEST(Kinds, TypeWordsStatesAndActions)
{
  enum Need { kArg = 1, kShown = 2, kAnyFlags = 4, kRefused = 8 };
  enum { kNone = -1 };
  Links links;
  const struct {
    const char* type;
    std::function<MuElement*(MuLayout*)> make;
    const char* action;
    const char* argument;
    int event;
    int need;
    const char* state;
  } rows[] = {
      {"button", [](MuLayout* l) { return MuButton::create(l, "b", "B", 0, 0, 1); }, "click", nullptr,
       MuObserver::kActivated, 0, "element Button\ntype Normal\n"},
      {"check", [](MuLayout* l) { return MuCheck::create(l, "c", "C", 0, nullptr); }, "click", "1",
       MuObserver::kChanged, kArg | kShown, "element Check\ntype Normal\nvalue 1\nindeterminate 0\n"},
      {"choice",
       [](MuLayout* l) {
         MuChoice* c = MuChoice::create(l, "ch", "Ch");
         c->insertItem(0, "a");
         c->insertItem(1, "b");
         return c;
       },
       "select", "1", MuObserver::kChanged, 0, "element Choice\nvalue 1\nvaluestr b\n"},
      {"choice", [](MuLayout* l) { return MuChoice::create(l, "ch", "Ch"); }, "settext", "zz",
       MuObserver::kChanged, 0, "element Choice\nvalue -1\nvaluestr zz\n"},
      {"choice", [](MuLayout* l) { return MuChoice::create(l, "ch", "Ch"); }, "click", nullptr,
       MuObserver::kActivated, kShown, "element Choice\nvalue -1\nvaluestr \n"},
      {"edit", [](MuLayout* l) { return MuEdit::create(l, "e", "E", 0, 0); }, "settext", "a b", MuObserver::kChanged,
       kArg, "element Edit\ntype Text\nvalue a b\n"},
      {"edit", [](MuLayout* l) { return MuEdit::create(l, "e", "E", 1, 0); }, "settext", "secret",
       MuObserver::kChanged, kArg, "element Edit\ntype Password\nvalue <hidden>\n"},
      {"image", [](MuLayout* l) { return MuImage::create(l, "i", "pic", Size(4, 4)); }, "click", nullptr, kNone,
       kRefused, "element Image\nvalue pic\nimSize 0,0\n"},
      {"line", [](MuLayout* l) { return MuLine::create(l, "ln", true, true, 5); }, "click", nullptr, kNone, kRefused,
       "element Line\ntype horizontal type etched\n"},
      {"list", [](MuLayout* l) { return MuList::create(l, "li", 0, 0); }, "select", "2", MuObserver::kChanged, kArg,
       "element List\nvalue -1\n"}, // no row 2
      {"slider", [](MuLayout* l) { return MuSlider::create(l, "s", 0); }, "click", "30", MuObserver::kChanged,
       kArg | kShown, "element Slider\nvalue 30\nmin 0\nmax 100\n"},
      {"static", [](MuLayout* l) { return MuStatic::create(l, "st", "Hi", MuStatic::kHeading); }, "click", nullptr,
       kNone, kRefused, "element Static\ntype Heading\nbold 1\n"},
      {"superbox", [](MuLayout* l) { return MuSuperbox::create(l, "sb", "S", nullptr, 50); }, "settext", "x",
       MuObserver::kChanged, 0, "element Superbox\nvalue x\npopup-dialogid dlg_l_sb_popup\n"},
      {"text",
       [&links](MuLayout* l) {
         return MuText::create(l, "t", "<a href=\"http://a.example/\">A</a>", &links, 0);
       },
       "click", "0", kNone, kArg | kAnyFlags, "element Text\n0 http://a.example/\n"},
      {"pager",
       [](MuLayout* l) {
         MuPager* p = MuPager::create(l, "p", 1);
         MuStatic::create(p, nullptr, "", 0);
         MuStatic::create(p, nullptr, "", 0);
         return p;
       },
       "select", "1", MuObserver::kChanged, kArg, "element Pager\npage 1\n"},
      {"frame", [](MuLayout* l) { return MuFrame::create(l, "f", "", 0); }, "click", nullptr, kNone, kRefused,
       "element Frame\ntype Plain\nmargin 8,8\n"},
      {"scroll", [](MuLayout* l) { return MuScroll::create(l, "sc", 1); }, "select", "0", kNone, kRefused,
       "element Scroll\nstyle 1\n"},
      {"splitter", [](MuLayout* l) { return MuSplitter::create(l, "sp", 0, false, false); }, "click", nullptr,
       kNone, kRefused, "element Splitter\n\n"},
      {"progressBar", [](MuLayout* l) { return muimisc::ProgressBar::create(l, "pb"); }, "click", nullptr, kNone,
       kRefused, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.type) + " " + r.action);
    Tree t;
    MuElement* e = r.make(t.layout);
    t.events.seen.clear();
    EXPECT_STREQ(e->typeName(), r.type);
    // Refused while disabled or locked (unless the action ignores the
    // flags), without an argument it needs, and hidden when it must be
    // shown; then done as a user would, with its event.
    size_t events = 0;
    for (int attempt = 0; attempt < 5; attempt++) {
      e->setEnabled(attempt != 0);
      e->setLocked(attempt == 1);
      e->setShown(attempt != 3);
      const bool refused = attempt == 0 || attempt == 1 ? !(r.need & kAnyFlags)
                           : attempt == 2              ? (r.need & kArg) != 0
                           : attempt == 3              ? (r.need & kShown) != 0
                                                       : false;
      const bool works = !refused && !(r.need & kRefused);
      EXPECT_EQ(e->doAction(r.action, attempt == 2 ? nullptr : r.argument), works) << attempt;
      events += works && r.event != kNone ? 1 : 0;
    }
    ASSERT_EQ(t.events.seen.size(), events);
    for (const auto& seen : t.events.seen)
      EXPECT_EQ(seen, std::make_pair(e, (uint32_t)r.event));
    if (r.state) {
      EXPECT_EQ(tail(e->getState(), r.state), r.state);
    }
  }
  EXPECT_EQ(links.targets, std::vector<std::string>(4, "http://a.example/"));

  Tree t;
  MuSpacer* spacer = MuSpacer::create(t.layout, 5, 6);
  spacer->setPosition(rfb::Point(1, 2));
  spacer->setSize(Size(3, 4));
  EXPECT_STREQ(spacer->getState().get(), "1,2 3x4");
}

TEST(Kinds, RadioGroups)
{
  Tree t;
  MuCheck* r0 = MuCheck::create(t.layout, "r0", "", MuCheck::kRadio, nullptr);
  MuCheck* r1 = MuCheck::create(t.layout, "r1", "", MuCheck::kRadio, r0);
  MuCheck* r2 = MuCheck::create(t.layout, "r2", "", MuCheck::kRadio, r1);
  MuCheck* other = MuCheck::create(t.layout, "o", "", MuCheck::kRadio, nullptr);
  other->setChecked(true);
  r0->setChecked(true);
  // "click" 0 still checks: the group checks the member that changed.
  EXPECT_TRUE(r1->doAction("click", "0"));
  EXPECT_EQ(std::vector<bool>({r0->isChecked(), r1->isChecked(), r2->isChecked(), other->isChecked()}),
            std::vector<bool>({false, true, false, true}));
  // Members leave one by one; the group goes with the last.
  t.layout->removeChild(r1);
  EXPECT_TRUE(r2->doAction("click", "1"));
  EXPECT_FALSE(r0->isChecked());
  t.layout->removeChild(r0);
  t.layout->removeChild(r2);
  t.layout->removeChild(other);
}

TEST(Kinds, NumericFilter)
{
  const struct {
    int32_t minimum, maximum;
    const char* text;
    bool accepted;
  } cases[] = {
      {1, 65535, "", true},          {1, 65535, "7", true},       {1, 65535, "65535", true},
      {1, 65535, "0", false},        {1, 65535, "007", false},    {1, 65535, "-0", false},
      {1, 65535, "70,000", false},   {1, 65535, "65536", false},  {1, 65535, "-", false},
      {-5, 5, "-", true},            {-5, 5, "-5", true},         {-5, 5, "-05", false},
      {-5, 5, "+3", true},           {-5, 5, " 3", false},        {INT32_MIN, INT32_MAX, "-2147483648", true},
      {INT32_MIN, INT32_MAX, "2147483648", false},
  };
  for (const auto& c : cases) {
    MuEdit::NumericFilter filter(c.minimum, c.maximum);
    EXPECT_EQ(filter.accept(nullptr, c.text), c.accepted) << c.text << " in " << c.minimum << ".." << c.maximum;
  }
}

TEST(Kinds, ListRowsTextLinksAndSuperbox)
{
  Tree t;
  MuList* list = MuList::create(t.layout, "li", 0, 0);
  list->addColumn(7, 0, "A", 10);
  list->addColumn(3, 0, "B", 10);
  list->insertRowWith(5, {"c", "d"});
  list->insertRowWith(0, {"a", "b"});
  list->removeRow(2);
  EXPECT_STREQ(list->getItems().get(), "0:\"a\"|\"b\"\n1:\"c\"|\"d\"\n");
  EXPECT_EQ(list->columnIndex(3), 1);
  EXPECT_DEATH(list->setCell(0, 9, "x"), "col >= 0");

  // Links are listed in order; a click out of range or without callback
  // answers false.
  Links links;
  const char* markup = "<a href=\"l0\">x</a> and <b><a href=\"l1\">y</a></b>";
  MuText* text = MuText::create(t.layout, "t", markup, &links, 0);
  EXPECT_EQ(tail(text->getState(), "element Text"), "element Text\n0 l0\n1 l1\n");
  EXPECT_FALSE(text->doAction("click", "5"));
  EXPECT_FALSE(text->doAction("click", "-1"));
  EXPECT_TRUE(text->doAction("click", "1"));
  EXPECT_EQ(links.targets, std::vector<std::string>{"l1"});
  text->setLinkCallback(nullptr);
  EXPECT_FALSE(text->doAction("click", "0"));

  // The popup: named from the dialog and the path, placed under the entry.
  struct Keys : MuSuperboxKeyHandler {
    bool superboxKey(MuSuperbox*, uint32_t key) override { return key == 'k'; }
  } keys;
  MuFrame* frame = MuFrame::create(t.layout, "f.g", "", 0);
  auto* box = static_cast<tltest::FakeSuperbox*>(MuSuperbox::create(frame, "sb", "", &keys, 70));
  MuDialog* popup = box->popup();
  EXPECT_STREQ(popup->getName(), "dlg_l_f_g_sb_popup");
  EXPECT_EQ(popup->dialogFlags(), 0x20u);
  EXPECT_EQ(popup->margin(), 0);
  t.dialog->setPosition(rfb::Point(100, 50));
  t.layout->setPosition(rfb::Point(8, 8));
  frame->setPosition(rfb::Point(1, 2));
  box->setPosition(rfb::Point(10, 20));
  box->field = rfb::Rect(2, 3, 52, 23);
  box->showPopup(true);
  EXPECT_TRUE(popup->isShown());
  EXPECT_EQ(popup->getPosition(), rfb::Point(100 + 8 + 1 + 10 + 2, 50 + 8 + 2 + 20 + 23));
  EXPECT_EQ(popup->getSize(), Size(50, 70));
  // Keys: the handler first; Escape is taken only while the popup shows.
  EXPECT_TRUE(box->onKey('k'));
  EXPECT_TRUE(popup->isShown());
  EXPECT_TRUE(box->onKey(rfb::keysym::Escape));
  EXPECT_FALSE(popup->isShown());
  EXPECT_FALSE(box->onKey(rfb::keysym::Escape));
  box->showPopup(true);
  EXPECT_FALSE(box->doAction("pressenter", nullptr));
  EXPECT_FALSE(popup->isShown());
}

TEST(Kinds, Pager)
{
  Tree t;
  MuPager* pager = MuPager::create(t.layout, "p", 0);
  std::vector<MuElement*> pages;
  for (int i = 0; i < 4; i++)
    pages.push_back(MuStatic::create(pager, nullptr, "", 0));
  pager->setPageTitle(pages[1], "Second");
  EXPECT_STREQ(pager->getItems().get(), "0:\n1:Second\n2:\n3:\n");
  pager->setCurrent(2);
  EXPECT_EQ(std::vector<bool>({pages[0]->isShown(), pages[2]->isShown()}), std::vector<bool>({false, true}));
  // Removing the current page (2 of 4) makes page 1 current; a page after
  // the current one leaves it.
  pager->removeChild(pages[2]);
  EXPECT_EQ(pager->current(), 1);
  pager->removeChild(pages[3]);
  EXPECT_EQ(pager->current(), 1);
  EXPECT_TRUE(t.events.seen.empty());
  // "select" out of range keeps the page but raises changed.
  EXPECT_TRUE(pager->doAction("select", "7"));
  EXPECT_EQ(pager->current(), 1);
  ASSERT_EQ(t.events.seen.size(), 1u);
  EXPECT_EQ(t.events.seen[0].second, (uint32_t)MuObserver::kChanged);
  EXPECT_DEATH(pager->pageSelected(3), "isValid\\(i\\)");
}

namespace {

// Bars 10 wide, a border of 2.
class Scroll : public MuScroll {
public:
  explicit Scroll(MuContainer* parent, uint32_t style) : MuScroll(parent, "sc", style) {}
  Size borderWidth() const override { return Size(2, 2); }
  int horizontalBarHeight() const override { return 10; }
  int verticalBarWidth() const override { return 10; }
};

} // namespace

TEST(Kinds, ScrollDecision)
{
  const struct {
    uint32_t style;
    int wantWidth, wantHeight;
    Size view, child;
    bool horizontal, vertical;
  } cases[] = {
      {3, 50, 50, {100, 100}, {100, 100}, false, false},
      {3, 80, 200, {90, 100}, {90, 200}, false, true},
      // The narrowed child needs more width: both bars.
      {3, 95, 200, {90, 90}, {95, 200}, true, true},
      // Wider first; the lower view then needs the vertical bar.
      {3, 150, 95, {90, 90}, {150, 95}, true, true},
      {1, 150, 95, {100, 100}, {100, 100}, false, false},
      {2, 80, 200, {100, 100}, {100, 100}, false, false},
  };
  Tree t;
  for (const auto& c : cases) {
    Scroll s(t.layout, c.style);
    MuElement* child = MuStatic::create(&s, nullptr, "", 0);
    fakeOf(child).setPreferred(c.wantWidth, c.wantHeight);
    const MuScroll::Fit fit = s.fitChild(Size(100, 100));
    EXPECT_EQ(fit.view, c.view) << c.wantWidth << "x" << c.wantHeight << " style " << c.style;
    EXPECT_EQ(fit.child, c.child) << c.wantWidth << "x" << c.wantHeight;
    EXPECT_EQ(std::make_pair(fit.needHorizontal, fit.needVertical), std::make_pair(c.horizontal, c.vertical));
  }
  // Preferred sizes: the child's wish plus the decoration, capped.
  Scroll s(t.layout, MuScroll::kVertical | MuScroll::kBordered);
  MuElement* child = MuStatic::create(&s, nullptr, "", 0);
  fakeOf(child).preferredWidthFor = [](int h) { return h == 0x3fffffff - 4 ? 60 : -1; };
  fakeOf(child).preferredHeightFor = [](int w) { return w - 100; };
  EXPECT_EQ(s.preferredWidth(5), 60 + 14);
  EXPECT_EQ(s.preferredHeight(300), 300 - 14 - 100 + 4);
  s.setMaxSize(Size(70, 70));
  EXPECT_EQ(s.preferredWidth(5), 70);
}

TEST(Kinds, Splitter)
{
  const struct {
    int firstSize;
    int first, second;
    size_t changes;
  } cases[] = {{250, 215, 80, 1}, {200, 200, 95, 0}};
  for (const auto& c : cases) {
    Tree t;
    MuSplitter* sp = MuSplitter::create(t.layout, "sp", 0, false, false);
    MuElement* a = MuStatic::create(sp, nullptr, "", 0);
    MuElement* b = MuStatic::create(sp, nullptr, "", 0);
    EXPECT_EQ(t.events.seen.size(), 2u * 2);
    fakeOf(a).setPreferred(50, 10);
    fakeOf(b).setPreferred(80, 10);
    sp->childSizeChanged();
    sp->setPaneSize(0, 50, c.firstSize);
    t.events.seen.clear();
    sp->setSize(Size(300, 40));
    EXPECT_EQ(t.events.seen.size(), c.changes);
    EXPECT_EQ(sp->paneSizes()[0], c.first);
    EXPECT_EQ(std::make_pair(a->getSize(), b->getSize()), std::make_pair(Size(c.first, 40), Size(c.second, 40)));
    EXPECT_EQ(b->getPosition(), rfb::Point(c.first + 5, 0));
    EXPECT_EQ(sp->sashPositions(), std::vector<int>{c.first});
    EXPECT_EQ(sp->preferredWidth(0), 50 + 80 + 5);
  }
  // Hit-testing the sash between 200 and 205, then a drag below the
  // minimum of 50.
  Tree t;
  MuSplitter* sp = MuSplitter::create(t.layout, "sp", 0, false, false);
  MuElement* a = MuStatic::create(sp, nullptr, "", 0);
  MuStatic::create(sp, nullptr, "", 0);
  fakeOf(a).setPreferred(50, 10);
  sp->childSizeChanged();
  sp->setPaneSize(0, 50, 200);
  sp->setSize(Size(300, 40));
  auto mouse = [sp](uint32_t kind, int x) {
    tlutil::MouseEvent e;
    e.kind = kind;
    e.position = rfb::Point(x, 5);
    return sp->mouseEvent(e);
  };
  for (const auto& [x, sash] : std::vector<std::pair<int, int>>{{199, -1}, {200, 0}, {204, 0}, {205, -1}}) {
    EXPECT_EQ(mouse(tlutil::MouseEvent::kMotion, x), sash == 0) << x;
    EXPECT_EQ(sp->activeSash(), sash) << x;
  }
  EXPECT_FALSE(mouse(tlutil::MouseEvent::kPress, 100));
  EXPECT_TRUE(mouse(tlutil::MouseEvent::kPress, 202));
  EXPECT_TRUE(mouse(tlutil::MouseEvent::kMotion, 100));
  EXPECT_EQ(sp->paneSizes()[0], 98);
  EXPECT_TRUE(mouse(tlutil::MouseEvent::kMotion, 10));
  EXPECT_EQ(sp->paneSizes()[0], 50);
  EXPECT_TRUE(mouse(tlutil::MouseEvent::kClick, 10));
  EXPECT_EQ(sp->activeSash(), -1);
  EXPECT_FALSE(mouse(tlutil::MouseEvent::kLeft, 10));
  const std::vector<std::string>& calls = fakeOf(sp).calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "dragStarted"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "dragEnded"), 1);
}

TEST(Kinds, PopupBelowAndProgressBar)
{
  struct Menu : MuPopupMenu {
    ui::Menu* menu() override { return nullptr; }
    void popupAtPointer() override {}
    void popupAt(const rfb::Point& p) override { at = p; }
    rfb::Point at;
  } menu;
  Tree t;
  MuElement* e = MuStatic::create(t.dialog.get(), nullptr, "", 0);
  e->setPosition(rfb::Point(10, 20));
  e->setSize(Size(100, 30));
  for (int align = 0; align < 3; align++) {
    MuPopupMenu::popupBelow(&menu, e, align, 40);
    EXPECT_EQ(menu.at, rfb::Point(10 + 30 * align, 50));
  }

  // The filled length is value * width / 65535; only its changes repaint.
  const struct {
    int width;
    uint16_t value;
    int filled;
    bool repaint;
    const char* percent;
  } steps[] = {{200, 32766, 99, true, "49%"}, {200, 32767, 99, false, "49%"}, {200, 32768, 100, true, "50%"},
               {200, 65535, 200, true, "100%"}, {200, 65535, 200, false, "100%"}, {100, 65535, 100, true, "100%"},
               {100, 0, 0, true, "0%"}};
  auto* bar = muimisc::ProgressBar::create(t.layout, "pb");
  bar->setSize(Size(200, 8));
  for (const auto& s : steps) {
    std::vector<std::string>& calls = fakeOf(bar).calls;
    calls.clear();
    if (s.width != bar->getSize().x)
      bar->setSize(Size(s.width, 8));
    else
      bar->setValue(s.value);
    EXPECT_EQ(bar->filled(), s.filled) << s.value;
    EXPECT_EQ(!calls.empty() && calls.back() == "invalidate 0,0 " + std::to_string(s.width) + ",8", s.repaint)
        << s.value;
    EXPECT_STREQ(bar->getItems().get(), s.percent);
  }
}
