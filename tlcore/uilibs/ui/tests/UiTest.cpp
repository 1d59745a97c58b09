// The X-serving loop, menus, the auto-hider (read back by xwininfo) and
// desktop detection against openbox and stand-in desktop windows, on one
// Xvfb.
#include <gtest/gtest.h>

#include <signal.h>

#include "loc/Localize.h"
#include "plat/Configuration.h"
#include "tx/TXMsgBox.h"
#include "txtest.h"
#include "ui/AppLoop.h"
#include "ui/AutoHider.h"
#include "ui/DesktopEnvironment.h"
#include "ui/MenuWvw.h"

using namespace tltest;

namespace {


struct Quitter : tx::TXEventHandler {
  bool handleEvent(XEvent* ev) override
  {
    if (ev->type == ClientMessage)
      os::AppLoop::exit(5);
    return false;
  }
};

class Ui : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    openTestDisplay();
    loc::Localize::instance()->init({});
    plat::Configuration::global().set("Locale", "en", plat::kPriorityPreference);
  }
};

TEST_F(Ui, TheLoopServesXTimersAndQuits)
{
  {
    ui::AppLoop loop;
    os::AppLoop::exit(3);
    EXPECT_EQ(3, loop.run());
  }
  {
    // Quit from a timer: the pass ends, a timer due on the next does not run.
    ui::AppLoop loop;
    Later quit, next;
    bool ranNext = false;
    quit.at(10, [&] {
      os::AppLoop::exit(7);
      next.at(0, [&] { ranNext = true; });
    });
    EXPECT_EQ(7, loop.run());
    EXPECT_FALSE(ranNext);
  }
  {
    // An event Xlib read during a round trip is dispatched with no new data.
    ui::AppLoop loop;
    tx::TXWindow w(10, 10);
    Quitter quitter;
    w.addEventHandler(&quitter, true);
    Later send, timeout;
    send.at(10, [&] {
      tx::sendEvent(w.window(), NoEventMask, w.window(), tx::xa::WM_STATE(), 0);
      XSync(tx::display(), False);
    });
    timeout.at(5000, [] { os::AppLoop::exit(99); });
    EXPECT_EQ(5, loop.run());
    w.addEventHandler(&quitter, false);
  }
}

TEST(UiNoServer, ShowErrorWritesToStandardError)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        unsetenv("DISPLAY");
        ui::AppLoop::showError("Cannot start");
        exit(0);
      },
      testing::ExitedWithCode(0), "unable to open display");
}

// --- Menus --------------------------------------------------------------------------------

struct Actions : ui::Menu::ActionCallback {
  std::vector<ui::Menu::Item*> chosen;
  void action(ui::Menu::Item* item) override { chosen.push_back(item); }
};

std::string shape(ui::Menu& m)
{
  std::string s;
  for (const auto& item : m.items())
    s += item->isSeparator() ? "-" : item->label();
  return s;
}

TEST_F(Ui, MenuSectionsAndChoices)
{
  wvw::WRootMenu widget(wvw::WMenu::CheckColumn::No, tx::TXWRoot::instance(), wvw::WMenu::Mnemonics::Hidden,
                        nullptr);
  Actions actions;
  ui::MenuWvw menu(&widget, &actions);
  ui::Menu::Item* c = menu.addToSection(2, "c");
  ui::Menu::Item* a = menu.addToSection(0, "a");
  ui::Menu::Item* b = menu.addToSection(1, "b");
  menu.addToSection(0, "a2");
  EXPECT_EQ("aa2-b-c", shape(menu));
  menu.removeFromSection(b);
  EXPECT_EQ("aa2-c", shape(menu));
  menu.removeFromSection(a);
  EXPECT_EQ("a2-c", shape(menu));
  EXPECT_EQ(menu.items().size(), widget.items().size());
  EXPECT_EQ(2u, menu.leafItems().size());

  // Choosing pops the menus down; a disabled item calls nothing.
  for (bool enabled : {false, true}) {
    c->setEnabled(enabled);
    widget.popup(true, rfb::Point(10, 10), nullptr);
    ASSERT_TRUE(loopUntil([&] { return widget.isAttached(); }));
    auto* item = static_cast<ui::MenuWvw::Item*>(c);
    item->widget().activated(&item->widget());
    EXPECT_TRUE(loopUntil([&] { return !widget.isAttached(); }));
    EXPECT_EQ(enabled ? 1u : 0u, actions.chosen.size());
  }
}

struct Bar : ui::MenuBar, ui::Menu::Backend {
  ui::Menu top{this, nullptr};
  std::vector<std::unique_ptr<ui::Menu>> subs;
  ui::Menu::Item* addMenu(const char* title, ui::Menu::Item* before) override
  {
    return top.insertItem(title, nullptr, before, nullptr, ui::Menu::kSubMenu);
  }
  struct Item : ui::Menu::Item {
    Item(const char* label, ui::Menu* sub) : ui::Menu::Item(label, nullptr), sub_(sub) {}
    ui::Menu* subMenu() override { return sub_; }
    ui::Menu* sub_;
  };
  std::unique_ptr<ui::Menu::Item> createItem(const char* label, const char* second, ui::Menu::Item*,
                                             ui::Menu::ActionCallback*, unsigned flags) override
  {
    if (!(flags & ui::Menu::kSubMenu))
      return std::make_unique<ui::Menu::Item>(label, second);
    subs.push_back(std::make_unique<ui::Menu>(this, nullptr));
    return std::make_unique<Item>(label, subs.back().get());
  }
  void itemRemoved(ui::Menu::Item*) override {}
  void changed() override {}
};

TEST_F(Ui, TheMenuBarIsOneWithItsStandardMenus)
{
  Bar bar;
  EXPECT_EQ(bar.helpMenu(), bar.helpMenu());
  EXPECT_EQ(bar.aboutItem(1), bar.aboutItem(0));
  EXPECT_STREQ("&About...", bar.aboutItem(0)->label());
  bar.fileMenu();
  EXPECT_EQ("&Help&File", shape(bar.top));
  EXPECT_DEATH(Bar(), "!inst_");
}

// --- The auto-hider --------------------------------------------------------------------------

struct Animations : ui::AutoHider::Callback {
  std::vector<std::pair<bool, bool>> seen;
  void animation(bool starting, bool showing, ui::AutoHider*) override { seen.push_back({starting, showing}); }
};

int relativeY(Window w)
{
  XSync(tx::display(), False);
  std::string info = commandOutput("xwininfo -id " + std::to_string(w));
  size_t at = info.find("Relative upper-left Y:");
  return at == std::string::npos ? -1 : atoi(info.c_str() + at + 22);
}

TEST_F(Ui, TheAutoHiderSlidesAPanelAtTheBottom)
{
  tx::TXWindow parent(600, 600), panel(200, 100);
  parent.map();
  panel.map();
  Animations anim;
  ui::TXAutoHider hider(&panel, ui::AutoHider::kBottom, 10, &anim);
  hider.setParent(&parent);
  for (bool show : {true, false}) {
    anim.seen.clear();
    hider.setShown(show, 0);
    EXPECT_EQ(show ? 500 : 590, relativeY(panel.window()));
    EXPECT_EQ((std::vector<std::pair<bool, bool>>{{true, show}, {false, show}}), anim.seen);
  }
  hider.setShown(true);
  EXPECT_EQ(20, hider.stepInterval());
  const plat::Time start = plat::getMonoTime();
  ASSERT_TRUE(loopUntil([&] { return anim.seen.size() == 4; }));
  EXPECT_GE(plat::getMonoTime() - start, 290 * plat::kTicksPerMilli);
  EXPECT_EQ(500, relativeY(panel.window()));

  // A timed show outlives the pointer's motion over the parent.
  hider.showFor(2000);
  commandOutput("xdotool mousemove 300 100 sleep 0.1 mousemove 310 150");
  loopFor(500);
  EXPECT_TRUE(hider.showing());
  EXPECT_EQ(0.0, hider.hiddenFraction());
}

// --- Desktop detection --------------------------------------------------------------------------

struct Changes : ui::DesktopEnvironment::Callback {
  int count = 0;
  void desktopChanged() override { count++; }
};

CaptureDest dest("desktopcapture");

TEST_F(Ui, DesktopDetectionFollowsTheWindowManager)
{
  plat::setLogOverride("DesktopEnvironment:desktopcapture:100");
  Changes changes;
  ui::DesktopEnvironment desktop(&changes);
  auto waitFor = [&](const std::string& line) { return loopUntil([&] { return dest.saw(line); }, 15000); };
  EXPECT_TRUE(waitFor("Detected None"));

  sharedXvfb().startWm();
  EXPECT_TRUE(waitFor("Detected TWM-compatible"));

  // Desktop windows whose owner knows the session bus.
  pid_t child = fork();
  if (child == 0) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/tmp/tl-test-bus", 1);
    execl("/bin/sleep", "sleep", "60", (char*)nullptr);
    _exit(127);
  }
  const std::string environ = "/proc/" + std::to_string(child) + "/environ";
  ASSERT_TRUE(loopUntil([&] { return readFile(environ).find("tl-test-bus") != std::string::npos; }));
  std::vector<std::unique_ptr<tx::TXWindow>> windows;
  for (const char* cls : {"gnome-shell", "gnome-session"}) {
    windows.push_back(std::make_unique<tx::TXWindow>(10, 10));
    XClassHint hint = {const_cast<char*>(cls), const_cast<char*>("Desk")};
    XSetClassHint(tx::display(), windows.back()->window(), &hint);
    long pid = child;
    tx::setProperty(windows.back()->window(), tx::xa::NET_WM_PID(), XA_CARDINAL, 32, &pid, 1);
  }
  desktop.redetect(1);
  EXPECT_TRUE(waitFor("Detected GNOME Shell"));
  EXPECT_TRUE(waitFor("DBus address: unix:path=/tmp/tl-test-bus"));
  EXPECT_EQ(ui::DesktopEnvironment::kGnomeShell, desktop.kind());

  dest.clear();
  sharedXvfb().stopWm();
  EXPECT_TRUE(waitFor("Window Manager exited (watched window gone)"));
  EXPECT_TRUE(waitFor("Detected None"));
  EXPECT_EQ(nullptr, desktop.dbusAddress());
  sharedXvfb().startWm();
  EXPECT_TRUE(waitFor("Detected GNOME Shell"));
  EXPECT_GE(changes.count, 5);
  kill(child, SIGKILL);
  waitChild(child);
  plat::setLogOverride(nullptr);
  sharedXvfb().stopWm();
}

} // namespace
