// Observers and event bubbling (re-entrancy included), paths, state dumps
// and the style chain, on the fake back-end.
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "muiFake.h"

using namespace mui;
using tltest::fakeOf;

namespace {

struct ElementTest : ::testing::Test {
  bool bound_ = (tltest::bindFakeBackEnd(), true);
  // dialog > (unnamed) layout "" > frame-like layout "box" > button "b"
  std::unique_ptr<MuDialog> dialog{MuDialog::create("dlg", "Title", Size(400, 300), 0, nullptr, nullptr)};
  MuLayout* main = MuLayout::create(dialog.get(), nullptr, MuLayout::kVertical);
  MuLayout* box = MuLayout::create(main, "box", MuLayout::kHorizontal);
  MuButton* button = MuButton::create(box, "b", "&OK", 0, 0, 1);
};

// Logs "<observer>:<source>:<code>" and runs an action on each event.
struct Logger : MuObserver {
  Logger(std::string name, std::vector<std::string>* log) : name(std::move(name)), log(log) {}
  void event(MuElement* source, uint32_t code) override
  {
    log->push_back(name + ":" + (source->getName() ? source->getName() : "?") + ":" + std::to_string(code));
    if (action)
      action();
  }
  std::string name;
  std::vector<std::string>* log;
  std::function<void()> action;
};

} // namespace

// Each case: observers a and b on the button, x on box, m on main and d on
// the dialog; the case arranges more, then the button raises activated.
TEST_F(ElementTest, NotificationCases)
{
  using Arrange = std::function<void(ElementTest&, Logger& a, Logger& b)>;
  const struct {
    const char* what;
    Arrange arrange;
    std::vector<std::string> expected;
  } cases[] = {
      {"bubbles in order with the source unchanged", [](ElementTest&, Logger&, Logger&) {},
       {"a:b:1", "b:b:1", "x:b:1", "m:b:1", "d:b:1"}},
      {"registered twice: called twice", [](ElementTest& t, Logger& a, Logger&) { t.button->addObserver(&a, true); },
       {"a:b:1", "b:b:1", "a:b:1", "x:b:1", "m:b:1", "d:b:1"}},
      {"registered twice, removed once: gone",
       [](ElementTest& t, Logger& a, Logger&) { t.button->addObserver(&a, true), t.button->addObserver(&a, false); },
       {"b:b:1", "x:b:1", "m:b:1", "d:b:1"}},
      {"removed during the event: not called",
       [](ElementTest& t, Logger& a, Logger& b) { a.action = [&t, &b] { t.button->addObserver(&b, false); }; },
       {"a:b:1", "x:b:1", "m:b:1", "d:b:1"}},
      {"added during the event: waits for the next",
       [](ElementTest& t, Logger& a, Logger&) { a.action = [&t, &a] { t.button->addObserver(&a, true); }; },
       {"a:b:1", "b:b:1", "x:b:1", "m:b:1", "d:b:1"}},
      {"source destroyed: the rest and the bubbling stop",
       [](ElementTest& t, Logger& a, Logger&) { a.action = [&t] { t.box->removeChild(t.button); }; }, {"a:b:1"}},
      {"ancestor destroyed on the way up: the same",
       [](ElementTest& t, Logger&, Logger& b) { b.action = [&t] { t.main->removeChild(t.box); }; },
       {"a:b:1", "b:b:1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dialog = MuDialog::create("dlg", "Title", Size(400, 300), 0, nullptr, nullptr);
    main = MuLayout::create(dialog.get(), nullptr, MuLayout::kVertical);
    box = MuLayout::create(main, "box", MuLayout::kHorizontal);
    button = MuButton::create(box, "b", "OK", 0, 0, 1);
    std::vector<std::string> log;
    Logger a("a", &log), b("b", &log), x("x", &log), m("m", &log), d("d", &log);
    button->addObserver(&a, true);
    button->addObserver(&b, true);
    box->addObserver(&x, true);
    main->addObserver(&m, true);
    dialog->addObserver(&d, true);
    c.arrange(*this, a, b);
    button->notify(button, MuObserver::kActivated);
    EXPECT_EQ(log, c.expected);
  }
}

TEST_F(ElementTest, AThrowingObserverStopsTheBubblingAndLeavesTheChainSound)
{
  std::vector<std::string> log;
  Logger thrower("t", &log), after("after", &log), up("up", &log);
  thrower.action = [] { throw std::runtime_error("observer failed"); };
  button->addObserver(&thrower, true);
  button->addObserver(&after, true);
  box->addObserver(&up, true);
  EXPECT_THROW(button->notify(button, 0), std::runtime_error);
  EXPECT_EQ(log, (std::vector<std::string>{"t:b:0"}));
  // The record is gone: removing and notifying again touch no stale record.
  button->addObserver(&thrower, false);
  log.clear();
  button->notify(button, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"after:b:0", "up:b:0"}));
}

TEST_F(ElementTest, DispatchCallsTheOperationOfEachCode)
{
  struct Seen : MuObserver {
    void activated(MuElement* e, uint32_t c) override { log.push_back("activated " + std::to_string(c) + " " + e->getName()); }
    void changed(MuElement* e, uint32_t c) override { log.push_back("changed " + std::to_string(c) + " " + e->getName()); }
    void dialogClosed(MuElement* d) override { log.push_back(std::string("closed ") + d->getName()); }
    void dialogLaidOut(MuElement* d) override { log.push_back(std::string("laidout ") + d->getName()); }
    std::vector<std::string> log;
  } seen;
  button->addObserver(&seen, true);
  for (uint32_t code = 0; code < 9; code++)
    button->notify(button, code);
  EXPECT_EQ(seen.log, (std::vector<std::string>{"changed 0 b", "activated 1 b", "closed dlg", "laidout dlg"}));
}

namespace {

// An element of no kind, on the fake back-end.
struct Plain : MuElement {
  Plain(MuContainer* parent, const char* name, const char* label) : MuElement(parent, name, label)
  {
    setCommon(std::make_unique<tltest::FakeCommon>(true));
  }
  static Plain* add(MuContainer* parent, const char* name, const char* label = nullptr)
  {
    auto* p = new Plain(parent, name, label);
    parent->addChild(std::unique_ptr<MuElement>(p));
    return p;
  }
};

} // namespace

TEST_F(ElementTest, PathsAndSearch)
{
  MuLayout* a = MuLayout::create(main, "a", 0);
  MuLayout* deep = MuLayout::create(MuLayout::create(a, nullptr, 0), nullptr, 1);
  Plain* b = Plain::add(deep, "b");
  MuLayout* x1 = MuLayout::create(main, "x", 0);
  MuLayout* x2 = MuLayout::create(main, "x", 0);
  Plain* y = Plain::add(x2, "y");
  const struct {
    const char* path;
    MuElement* found;
  } searches[] = {
      {"box.b", button}, {"b", nullptr},  {"a.b", b},    {"x", x1},          {"x.y", y},
      {"dlg.box.b", nullptr}, {"box.", nullptr}, {"", nullptr}, {"box.b.c", nullptr},
  };
  for (const auto& s : searches)
    EXPECT_EQ(dialog->findElement(s.path), s.found) << s.path;
  EXPECT_EQ(dialog->findElement(nullptr), dialog.get());
  const struct {
    MuElement* element;
    const char* path;
  } paths[] = {{dialog.get(), ""}, {main, ""}, {button, "box.b"}, {b, "a.b"}, {y, "x.y"}, {deep, "a"}};
  for (const auto& p : paths)
    EXPECT_STREQ(p.element->getPathName().str(), p.path);
}

TEST_F(ElementTest, StateDumps)
{
  dialog->setShown(true);
  Plain* plain = Plain::add(box, nullptr);
  plain->setPosition(rfb::Point(10, 20));
  plain->setSize(Size(30, 40));
  EXPECT_STREQ(plain->getState().get(), "shown 1\nenabled 1\nlocked 0\npos 10,20\nsize 30,40\n");
  EXPECT_STREQ(Plain::add(box, "l", "A label")->getState().get(),
               "shown 1\nenabled 1\nlocked 0\npos 0,0\nsize 0,0\nlabel A label\n");
  box->setShown(false);
  EXPECT_STREQ(plain->getState().get(), "shown 0\nenabled 1\nlocked 0\npos 10,20\nsize 30,40\n");
  box->setShown(true);

  const struct {
    bool enabled, locked;
    const char* lines;
    bool backEndEnabled;
  } flags[] = {
      {true, false, "enabled 1\nlocked 0\n", true},
      {false, false, "enabled 0\nlocked 0\n", false},
      {true, true, "enabled 1\nlocked 1\n", false},
      {false, true, "enabled 0\nlocked 1\n", false},
  };
  for (const auto& f : flags) {
    plain->setLocked(f.locked);
    plain->setEnabled(f.enabled);
    EXPECT_NE(strstr(plain->getState().get(), f.lines), nullptr) << f.lines;
    EXPECT_EQ(fakeOf(plain).enabled, f.backEndEnabled) << f.lines;
    EXPECT_EQ(fakeOf(plain).calls.back(), f.backEndEnabled ? "setEnabled 1" : "setEnabled 0");
    // A shown locked child locks its containers; a hidden one does not.
    EXPECT_EQ(main->isLocked(), f.locked);
  }
  plain->setShown(false);
  EXPECT_FALSE(main->isLocked());

  std::unique_ptr<MuDialog> flagged(MuDialog::create("f", "", Size(400, 300), 0x1 | 0x4 | 0x10 | 0x1000, nullptr, nullptr));
  EXPECT_STREQ(flagged->getState().get(),
               "shown 0\nenabled 1\nlocked 0\npos 0,0\nsize 400,300\nelement Dialog\nfixedsize 1\n"
               "disableclose 1\nnohide 0\nmodal 1\nabsfixedsize 1\n");
  EXPECT_STREQ(strstr(box->getState().get(), "element"), "element Layout\ntype Horizontal\n");
}

TEST_F(ElementTest, StyleChainAndFocus)
{
  EXPECT_EQ(&button->effectiveStyle(), &dialog->effectiveStyle());
  EXPECT_EQ(button->effectiveStyle(), plat::Markup::Style(0, 120, 400));
  box->setColour("red");
  box->setTextSize(150);
  EXPECT_STREQ(button->effectiveStyle().color.get(), "red");
  EXPECT_EQ(button->effectiveStyle().size, 150);
  button->setStyle(plat::Markup::Style(1, 90, 700, "blue", "white"));
  EXPECT_EQ(button->effectiveStyle(), plat::Markup::Style(1, 90, 700, "blue", "white"));
  EXPECT_EQ(fakeOf(button).calls.back(), "styleChanged");

  button->setFocus();
  EXPECT_EQ(static_cast<tltest::FakeDialog*>(dialog.get())->focused, button);
  EXPECT_EQ(dialog->focusedElement(), button);
}

TEST(ElementDeath, RootlessQueries)
{
  tltest::bindFakeBackEnd();
  Plain loose(nullptr, "loose", nullptr);
  EXPECT_DEATH(loose.effectiveStyle(), "Assertion 'parent' failed");
  EXPECT_DEATH(loose.getAbsolutePosition(), "Assertion 'parent' failed");
}

// Observers that add and remove observers, destroy elements and observers
// and raise nested events, at random; AddressSanitizer catches any use of a
// destroyed element or observer.
TEST(ElementReentrancy, RandomisedRounds)
{
  tltest::bindFakeBackEnd();
  std::mt19937 rng(20240611);
  struct Chaos;
  struct World {
    std::unique_ptr<MuDialog> dialog;
    std::vector<MuElement*> elements;  // the live ones, the dialog first
    std::vector<std::unique_ptr<Chaos>> observers;
    std::mt19937* rng;
    int depth = 0, calls = 0;
    int pick(size_t n) { return std::uniform_int_distribution<int>(0, (int)n - 1)(*rng); }
    MuElement* anyElement() { return elements[pick(elements.size())]; }
    void forget(MuElement* gone)  // gone and everything below it
    {
      elements.erase(std::remove_if(elements.begin(), elements.end(),
                                    [gone](MuElement* e) {
                                      for (; e; e = e->getParent())
                                        if (e == gone)
                                          return true;
                                      return false;
                                    }),
                     elements.end());
    }
    void detach(MuObserver* o)
    {
      for (MuElement* e : elements)
        e->addObserver(o, false);
    }
  };
  struct Chaos : MuObserver {
    explicit Chaos(World* w) : world(w) {}
    void event(MuElement*, uint32_t) override
    {
      World& w = *world;
      w.calls++;
      active++;
      const int o = w.observers.empty() ? -1 : w.pick(w.observers.size());
      switch (w.pick(6)) {
      case 0:  // add an observer somewhere
        if (o >= 0)
          w.anyElement()->addObserver(w.observers[o].get(), true);
        break;
      case 1:  // remove one everywhere
        if (o >= 0)
          w.detach(w.observers[o].get());
        break;
      case 2:  // destroy an element other than the dialog
        if (w.elements.size() > 1) {
          MuElement* victim = w.elements[1 + w.pick(w.elements.size() - 1)];
          w.forget(victim);
          victim->getParent()->removeChild(victim);
        }
        break;
      case 3:  // destroy an observer that is not running
        if (o >= 0 && w.observers[o]->active == 0) {
          w.detach(w.observers[o].get());
          w.observers.erase(w.observers.begin() + o);
        }
        break;
      case 4:  // a nested event
        if (w.depth < 4) {
          w.depth++;
          MuElement* e = w.anyElement();
          e->notify(e, 0);
          w.depth--;
        }
        break;
      default:  // grow the tree
        if (auto* c = dynamic_cast<MuContainer*>(w.anyElement()))
          w.elements.push_back(w.pick(2) ? static_cast<MuElement*>(MuLayout::create(c, "l", 0))
                                         : MuButton::create(c, "b", nullptr, 0, 0, 0));
      }
      active--;
    }
    World* world;
    int active = 0;
  };

  int calls = 0;
  for (int round = 0; round < 5000; round++) {
    World w;
    w.rng = &rng;
    w.dialog = MuDialog::create("chaos", "", Size(10, 10), 0, nullptr, nullptr);
    w.elements.push_back(w.dialog.get());
    for (int i = 0; i < 6; i++)
      w.elements.push_back(MuLayout::create(static_cast<MuContainer*>(w.elements[w.pick(i + 1)]), nullptr, 0));
    for (int i = 0; i < 5; i++)
      w.observers.push_back(std::make_unique<Chaos>(&w));
    for (int i = 0; i < 12; i++)
      w.anyElement()->addObserver(w.observers[w.pick(5)].get(), true);
    for (int i = 0; i < 4; i++) {
      MuElement* e = w.anyElement();
      e->notify(e, MuObserver::kChanged);
    }
    calls += w.calls;
    w.dialog.reset();  // before the observers it may still hold
  }
  EXPECT_GT(calls, 10000);
}
