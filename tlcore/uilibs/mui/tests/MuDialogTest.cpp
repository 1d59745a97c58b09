// Dialogs (panels, sizing to content, keys, closing), the single container,
// the Mui registry, metrics and factory binding, on the fake back-end.
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
#include "rfb/KeysymNames.h"

using namespace mui;
using tltest::fakeOf;

namespace {

std::unique_ptr<MuDialog> makeDialog(uint32_t flags = 0, const char* name = "dlg")
{
  tltest::bindFakeBackEnd();
  return std::unique_ptr<MuDialog>(MuDialog::create(name, "Title", Size(400, 300), flags, nullptr, nullptr));
}

// A panel of fixed preferred height, or of 100 for any width.
MuElement* panel(MuDialog* d, uint32_t kind, int height)
{
  MuElement* p = MuStatic::create(d, nullptr, "", 0);
  fakeOf(p).setPreferred(0, height);
  if (kind != MuDialog::kFill)
    d->setPanelKind(p, kind);
  return p;
}

struct Counter : MuObserver {
  void event(MuElement* source, uint32_t code) override { seen.push_back({source, code}); }
  std::vector<std::pair<MuElement*, uint32_t>> seen;
};

} // namespace

TEST(Dialog, PanelsByIndexAndTheirLayout)
{
  ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  Mui::setMetrics(Mui::kDefaultMetrics);
  auto d = makeDialog();
  MuElement* fill = panel(d.get(), MuDialog::kFill, 10);
  MuElement* top = panel(d.get(), MuDialog::kTop, 40);
  MuElement* bottom = panel(d.get(), MuDialog::kBottom, 50);
  const struct {
    int index;
    MuElement* panel;
  } indices[] = {{0, fill}, {2, bottom}, {-1, bottom}, {-3, fill}, {3, nullptr}, {-4, nullptr}};
  for (const auto& i : indices)
    EXPECT_EQ(d->getChild(i.index), i.panel) << i.index;

  Counter laidOut;
  d->addObserver(&laidOut, true);
  d->setSize(Size(400, 300));
  const int m = d->margin();
  EXPECT_EQ(m, 8);
  EXPECT_EQ(top->getPosition(), rfb::Point(0, 0));
  EXPECT_EQ(top->getSize(), Size(400, 40));
  EXPECT_EQ(bottom->getPosition(), rfb::Point(0, 250));
  EXPECT_EQ(bottom->getSize(), Size(400, 50));
  EXPECT_EQ(fill->getPosition(), rfb::Point(m, 40 + m));
  EXPECT_EQ(fill->getSize(), Size(400 - 2 * m, 210 - 2 * m));
  ASSERT_EQ(laidOut.seen.size(), 1u);
  EXPECT_EQ(laidOut.seen[0].second, (uint32_t)MuObserver::kLaidOut);

  // Removing a panel keeps the others in order; a stranger is ignored.
  d->removeChild(fill);
  d->removeChild(fill);
  EXPECT_EQ(d->childCount(), 2);
  EXPECT_EQ(d->getChild(0), top);
  EXPECT_DEATH(d->setPanelKind(fill, 1), "Assertion 'i != panels.end\\(\\)' failed");
}

TEST(Dialog, SizeToContent)
{
  const struct {
    uint32_t flags;
    int height;
  } cases[] = {
      {0, 300},
      {0x1, 40 + 50 + 300},
      {0x40, 40 + 50 + 100 + 2 * 8},
      {0x1 | 0x40, 40 + 50 + 100 + 2 * 8},
      {0x1 | 0x1000, 300},
      {0x40 | 0x1000, 300},
  };
  ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  Mui::setMetrics(Mui::kDefaultMetrics);
  for (const auto& c : cases) {
    auto d = makeDialog(c.flags);
    panel(d.get(), MuDialog::kTop, 40);
    MuElement* fill = panel(d.get(), MuDialog::kFill, 0);
    fakeOf(fill).preferredHeightFor = [](int w) { return w == 400 - 16 ? 100 : -1; };
    panel(d.get(), MuDialog::kBottom, 50);
    // A hidden panel counts for nothing.
    panel(d.get(), MuDialog::kTop, 1000)->setShown(false);
    d->relayout();
    EXPECT_EQ(d->getSize(), Size(400, c.height)) << c.flags;
  }
}

TEST(Dialog, ReturnAndEscape)
{
  enum State { kMissing, kEnabled, kDisabled, kLocked };
  const struct {
    State state;
    bool taken;
  } cases[] = {{kMissing, false}, {kEnabled, true}, {kDisabled, false}, {kLocked, false}};
  for (int which = 0; which < 2; which++) {
    for (const auto& c : cases) {
      auto d = makeDialog();
      MuButton* button = MuButton::create(d.get(), "b", "B", 0, 0, 1);
      Counter heard;
      d->addObserver(&heard, true);
      if (c.state != kMissing)
        d->setButton(which, button);
      button->setEnabled(c.state != kDisabled);
      button->setLocked(c.state == kLocked);
      const uint32_t key = which == 0 ? rfb::keysym::Return : rfb::keysym::Escape;
      EXPECT_EQ(d->handleKey(key), c.taken) << which << " " << c.state;
      EXPECT_EQ(heard.seen.size(), c.taken ? 1u : 0u);
      if (c.taken) {
        EXPECT_EQ(heard.seen[0], std::make_pair(static_cast<MuElement*>(button), (uint32_t)MuObserver::kActivated));
      }
      EXPECT_FALSE(d->handleKey(rfb::keysym::Tab));
    }
  }
  // The key handler is asked first.
  struct Handler : MuDialog::KeyHandler {
    bool dialogKey(int which, MuDialog*) override { return which == 1; }
  } handler;
  auto d = makeDialog();
  d->setKeyHandler(&handler);
  EXPECT_TRUE(d->handleKey(rfb::keysym::Escape));
  EXPECT_FALSE(d->handleKey(rfb::keysym::Return));
}

TEST(Dialog, VetoedAndAcceptedClose)
{
  struct Veto : MuDialog::CloseCallback {
    bool mayClose(MuDialog*) override { return allow; }
    bool allow = false;
  } veto;
  struct Closed : MuObserver {
    void dialogClosed(MuElement* d) override { closed.push_back(d); }
    std::vector<MuElement*> closed;
  } closed;
  auto d = makeDialog();
  d->setShown(true);
  d->addObserver(&closed, true);
  d->setCloseCallback(&veto);
  EXPECT_FALSE(d->requestClose());
  EXPECT_TRUE(d->isShown());
  EXPECT_TRUE(closed.closed.empty());
  veto.allow = true;
  EXPECT_TRUE(d->requestClose());
  EXPECT_FALSE(d->isShown());
  EXPECT_EQ(closed.closed, std::vector<MuElement*>{d.get()});
}

TEST(SingleContainer, HoldsAtMostOneChild)
{
  auto d = makeDialog();
  MuFrame* frame = MuFrame::create(d.get(), "f", "", 0);
  struct Gone : MuStatic {
    Gone(MuContainer* p, bool* flag) : MuStatic(p, "g", "", 0), flag(flag) {}
    ~Gone() override { *flag = true; }
    bool* flag;
  };
  bool firstGone = false;
  frame->addChild(std::make_unique<Gone>(frame, &firstGone));
  MuElement* second = MuStatic::create(frame, "s", "", 0);
  EXPECT_TRUE(firstGone);
  EXPECT_EQ(frame->childCount(), 1);
  EXPECT_EQ(frame->getChild(-1), second);
  EXPECT_EQ(frame->getChild(1), nullptr);
  EXPECT_DEATH(frame->removeChild(frame), "Assertion 'element == child.get\\(\\)' failed");
  EXPECT_DEATH(frame->destroyChild(nullptr), "Assertion 'element' failed");
  frame->destroyChild(second);
  EXPECT_EQ(frame->childCount(), 0);
}

// The containers of many children share one list: negative indices count
// from the end, and a child being deleted is no longer among its parent's.
TEST(ChildList, SameIndexingAndDeletionInEveryContainer)
{
  auto d = makeDialog(), host = makeDialog(0, "host");
  MuLayout* l = MuLayout::create(host.get(), "l", MuLayout::kVertical);
  struct Probe : MuElement {
    Probe(MuContainer* p, std::vector<int>* counts) : MuElement(p, nullptr, nullptr), counts(counts) {}
    ~Probe() override { counts->push_back(getParent()->childCount()); }
    std::vector<int>* counts;
  };
  for (MuContainer* c : std::vector<MuContainer*>{d.get(), MuLayout::create(l, "v", MuLayout::kVertical),
                                                  MuPager::create(l, "p", 0), MuSplitter::create(l, "s", 0, 0, 0)}) {
    SCOPED_TRACE(c->typeName());
    std::vector<int> counts;
    std::vector<MuElement*> kids;
    for (int i = 0; i < 3; i++) {
      c->addChild(std::make_unique<Probe>(c, &counts));
      kids.push_back(c->getChild(-1));
    }
    const struct {
      int index;
      MuElement* child;
    } rows[] = {{0, kids[0]}, {2, kids[2]}, {-1, kids[2]}, {-3, kids[0]}, {3, nullptr}, {-4, nullptr}};
    for (const auto& r : rows)
      EXPECT_EQ(c->getChild(r.index), r.child) << r.index;
    c->destroyChild(kids[1]);
    EXPECT_EQ(c->getChild(1), kids[2]);
    c->destroyChildren();
    EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(c->childCount(), 0);
  }
}

TEST(Registry, IdsAreNeverReused)
{
  auto first = makeDialog(0, "one");
  auto second = makeDialog(0, "two");
  auto& dialogs = Mui::instance().dialogs();
  const int id = dialogs.rbegin()->first - 1;
  EXPECT_EQ(Mui::instance().findDialog(id), first.get());
  EXPECT_EQ(Mui::instance().findDialog(id + 1), second.get());
  first.reset();
  auto third = makeDialog(0, "three");
  EXPECT_EQ(Mui::instance().findDialog(id), nullptr);
  EXPECT_EQ(Mui::instance().findDialog(id + 2), third.get());
  EXPECT_EQ(dialogs.size(), 2u);
}

TEST(Registry, GlobalObserversReachEveryDialog)
{
  auto one = makeDialog();
  auto two = makeDialog();
  Counter global;
  Mui::instance().addGlobalObserver(&global, true);
  auto three = makeDialog();
  MuButton* inThree = MuButton::create(three.get(), "b", "B", 0, 0, 1);
  one->notify(one.get(), 0);
  two->notify(two.get(), 0);
  inThree->notify(inThree, 1);
  EXPECT_EQ(global.seen.size(), 3u);
  Mui::instance().addGlobalObserver(&global, false);
  auto four = makeDialog();
  for (MuDialog* d : {one.get(), two.get(), three.get(), four.get()})
    d->notify(d, 0);
  EXPECT_EQ(global.seen.size(), 3u);
}

TEST(Registry, ScaledMetrics)
{
  const struct {
    int ppmm;
    std::vector<int> metrics;
  } cases[] = {
      {4, {8, 4, 8, 8, 24, 68, 16, 20}},
      {8, {16, 8, 16, 16, 48, 136, 32, 40}},
      {5, {10, 5, 10, 10, 30, 85, 20, 25}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(plat::ppmm.setParam(c.ppmm, plat::kPriorityPolicy));
    Mui::setMetrics(Mui::kDefaultMetrics);
    std::vector<int> got;
    for (int i = 0; i < Mui::kMetricCount; i++)
      got.push_back(Mui::metric((Mui::Metric)i));
    EXPECT_EQ(got, c.metrics) << c.ppmm;
  }
  // Halves go away from zero.
  ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
  const int units[][2] = {{8, 4}, {15, 8}, {3, 2}, {1, 1}, {-3, -2}, {-1, -1}, {0, 0}};
  for (const auto& u : units)
    EXPECT_EQ(Mui::scale(u[0]), u[1]) << u[0];
}

TEST(Registry, EveryFactoryBuildsItsKind)
{
  auto d = makeDialog();
  MuLayout* l = MuLayout::create(d.get(), "l", 0);
  const std::vector<std::pair<MuElement*, const char*>> kinds = {
      {MuButton::create(l, "a", "", 0, 0, 0), "button"},  {MuCheck::create(l, "a", "", 1, nullptr), "check"},
      {MuChoice::create(l, "a", ""), "choice"},            {MuEdit::create(l, "a", "", 0, 0), "edit"},
      {MuFrame::create(l, "a", "", 0), "frame"},           {MuImage::create(l, "a", "x", Size()), "image"},
      {l, "layout"},                                       {MuLine::create(l, "a", true, true, 2), "line"},
      {MuList::create(l, "a", 0, 0), "list"},              {MuPager::create(l, "a", 0), "pager"},
      {MuScroll::create(l, "a", 1), "scroll"},             {MuSlider::create(l, "a", 0), "slider"},
      {MuSplitter::create(l, "a", 0, 0, 0), "splitter"},   {MuStatic::create(l, "a", "", 0), "static"},
      {MuSuperbox::create(l, "a", "", nullptr, 10), "superbox"},
      {MuText::create(l, "a", "", nullptr, 0), "text"},    {muimisc::ProgressBar::create(l, "a"), "progressBar"},
      {d.get(), "dialog"},
  };
  for (const auto& k : kinds) {
    EXPECT_STREQ(k.first->typeName(), k.second);
    EXPECT_NE(k.first->common(), nullptr) << k.second;
  }
  EXPECT_EQ(l->childCount(), (int)kinds.size() - 2);
  EXPECT_NE(MuPopupMenu::create("menu", nullptr), nullptr);
  EXPECT_NE(MuAutoHider::create("hider", Size(10, 10), 0, 2, nullptr), nullptr);
}

TEST(Registry, UnboundFactoriesAndInstanceAreFatal)
{
  auto d = makeDialog();
  EXPECT_DEATH(
      {
        tltest::unbindFactories();
        MuButton::create(d.get(), "b", "B", 0, 0, 1);
      },
      "Assertion 'muButtonFactory' failed");
  EXPECT_DEATH(
      {
        tltest::unbindFactories();
        muimisc::ProgressBar::create(d.get(), "p");
      },
      "Assertion 'progressBarFactory' failed");
  EXPECT_DEATH(Mui::setInstance(nullptr), "Assertion 'mui_' failed");
}
