// Widget-hosting windows, dialogs and message boxes on Xvfb, driven by
// xdotool and read back by xwininfo and a second client; screenshots of
// a window of widgets and of a message box in English and German.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "plat/Configuration.h"
#include "rfb/PixDraw.h"
#include "tx/TXMsgBox.h"
#include "txdemo.h"
#include "txtest.h"

using namespace tltest;

namespace {

struct Probe : wvw::Widget {
  struct Key {
    uint32_t sym;
    bool down;
    bool shift;
    bool operator==(const Key& o) const { return sym == o.sym && down == o.down && shift == o.shift; }
  };
  std::vector<Key> keys;
  // When each paint ran, and in which pass of the test's loop.
  std::vector<std::pair<plat::Time, int>> paints;
  int pass = 0;
  int presses = 0;
  uint32_t mask = 0;

  rfb::Point preferredSize() override { return rfb::Point(100, 60); }
  void keyEvent(uint32_t sym, bool down) override { keys.push_back({sym, down, isShiftDown()}); }
  void pointerEvent(const rfb::Point& p, uint32_t m) override
  {
    presses += (m & ~mask) != 0;
    mask = m;
    Widget::pointerEvent(p, m);
  }
  void paint(rfb::WritablePixelBuffer& pb) override
  {
    paints.push_back({plat::getMonoTime(), pass});
    rfb::fillRect(pb, pb.rect, pixel(pb, plat::Colour{255, 0, 0}));
  }
};

// Rows in red, green and blue stripes of 50.
struct Stripes : wvw::Widget {
  int paints = 0;
  rfb::Point preferredSize() override { return rfb::Point(100, 300); }
  void paint(rfb::WritablePixelBuffer& pb) override
  {
    paints++;
    const plat::Colour colours[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int y = pb.rect.topLeft.y; y < pb.rect.bottomRight.y; y++)
      rfb::fillRect(pb, rfb::Rect(pb.rect.topLeft.x, y, pb.rect.bottomRight.x, y + 1), pixel(pb, colours[y / 50 % 3]));
  }
};

struct Box : tx::TXMsgBox {
  using TXMsgBox::TXMsgBox;
  std::function<void()> onShow;
  void showHook() override { onShow(); }
};

void xdotool(const std::string& args)
{
  XSync(tx::display(), False);
  EXPECT_EQ("", commandOutput("xdotool " + args));
}

// Clicks the widget's middle.
void click(tx::TXWParent& w, wvw::Widget& widget)
{
  rfb::Point o;
  widget.getRoot(&o);
  xdotool("mousemove " + std::to_string(o.x + widget.width() / 2) + " " + std::to_string(o.y + widget.height() / 2) +
          " click 1");
  (void)w;
}

std::string xwininfo(Window w)
{
  XSync(tx::display(), False);
  return commandOutput("xwininfo -id " + std::to_string(w));
}

void setLocale(const char* locale)
{
  plat::Configuration::global().set("Locale", locale, plat::kPriorityPreference);
}

class TXHost : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    openTestDisplay();
    os::AppLoop::selectManager();
    loc::Localize::instance()->init({});
    setLocale("en");
  }

  // A mapped host of probe at (100, 100) with the input focus.
  void host(tx::TXWParent& w)
  {
    w.resize(100, 60);
    w.setPosition(rfb::Point(100, 100));
    w.setVisible(true);
    ASSERT_TRUE(loopUntil([&] { return probe.isAttached() && w.backBuffer(); }));
    loopFor(50);
    XSetInputFocus(tx::display(), w.window(), RevertToParent, CurrentTime);
    loopFor(50);
  }

  Probe probe;
};

TEST_F(TXHost, KeysReachTheContentShiftedAndReleasedOnFocusOut)
{
  tx::TXWParent w(&probe, nullptr, false);
  host(w);
  // A spare keycode that gives ISO_Left_Tab without Shift.
  KeySym leftTab = XK_ISO_Left_Tab;
  XChangeKeyboardMapping(tx::display(), 200, 1, &leftTab, 1);
  loopFor(50);
  xdotool("key 200");
  loopUntil([&] { return probe.keys.size() >= 4; });
  const std::vector<Probe::Key> tab = {
    {XK_Shift_L, true, true}, {XK_Tab, true, true}, {XK_Shift_L, false, false}, {XK_Tab, false, false}};
  EXPECT_EQ(tab, probe.keys);

  probe.keys.clear();
  xdotool("keydown a");
  loopUntil([&] { return w.isKeyDown('a'); });
  XSetInputFocus(tx::display(), PointerRoot, RevertToParent, CurrentTime);
  loopUntil([&] { return probe.keys.size() >= 2; });
  xdotool("keyup a");
  loopFor(100);
  const std::vector<Probe::Key> a = {{'a', true, false}, {'a', false, false}};
  EXPECT_EQ(a, probe.keys);
  EXPECT_FALSE(w.isKeyDown('a'));
}

TEST_F(TXHost, DamageWithin10MsIsPaintedInOneBatch)
{
  tx::TXWParent w(&probe, nullptr, false);
  host(w);
  probe.paints.clear();
  const plat::Time start = plat::getMonoTime();
  probe.invalidate(rfb::Region(rfb::Rect(0, 0, 10, 10)));
  loopFor(3);
  probe.invalidate(rfb::Region(rfb::Rect(50, 40, 60, 50)));
  ASSERT_TRUE(loopUntil([&] { return ++probe.pass && probe.paints.size() >= 2; }));
  loopFor(30);
  ASSERT_EQ(2u, probe.paints.size());
  EXPECT_GE(probe.paints[0].first - start, 10 * plat::kTicksPerMilli);
  EXPECT_EQ(probe.paints[0].second, probe.paints[1].second);
  // What reached the window, at this server's depth.
  XImage* im = XGetImage(tx::display(), w.window(), 55, 45, 1, 1, AllPlanes, ZPixmap);
  Visual* v = DefaultVisual(tx::display(), DefaultScreen(tx::display()));
  EXPECT_EQ(v->red_mask, XGetPixel(im, 0, 0));
  XDestroyImage(im);
}

// A window taller than a band is drawn a band at a time at first, and
// through a window-sized buffer (shared where the server allows) once the
// first put is a while past; every row lands where it belongs either way.
TEST_F(TXHost, FirstFramesGoInBandsThenThroughTheWholeBuffer)
{
  Stripes stripes;
  tx::TXWParent w(&stripes, nullptr, false);
  w.resize(100, 300);
  w.setVisible(true);
  ASSERT_TRUE(loopUntil([&] { return w.backBuffer() && stripes.paints > 0; }));
  loopFor(30);
  Visual* v = DefaultVisual(tx::display(), DefaultScreen(tx::display()));
  const unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
  auto rowsLand = [&] {
    XSync(tx::display(), False);
    XImage* im = XGetImage(tx::display(), w.window(), 10, 0, 1, 300, AllPlanes, ZPixmap);
    int wrong = 0;
    for (int y = 0; y < 300; y++)
      wrong += XGetPixel(im, 0, y) != masks[y / 50 % 3];
    XDestroyImage(im);
    return wrong;
  };
  EXPECT_EQ(tx::TXWParent::kBandRows, w.backBuffer()->rect.height());
  EXPECT_EQ(0, rowsLand());

  ASSERT_TRUE(loopUntil([&] { return w.backBuffer()->rect.height() == 300; }));
  const XvfbOptions server = XvfbOptions::fromEnv();
  EXPECT_EQ(server.shm && !server.tcp, w.backBuffer()->isShared());
  const int before = stripes.paints;
  stripes.invalidate(rfb::Region(rfb::Rect(0, 0, 100, 300)));
  ASSERT_TRUE(loopUntil([&] { return stripes.paints > before; }));
  EXPECT_EQ(0, rowsLand());
}

TEST_F(TXHost, TooltipShowsHalfASecondAfterThePointerStops)
{
  tx::TXWParent w(&probe, nullptr, false);
  host(w);
  probe.setTooltip("Tip");
  xdotool("mousemove 130 120");
  const plat::Time moved = plat::getMonoTime();
  tx::TXWRoot* root = tx::TXWRoot::instance();
  ASSERT_TRUE(loopUntil([&] { return root->popupWindow(&w.tooltip()); }));
  EXPECT_GE(plat::getMonoTime() - moved, 480 * plat::kTicksPerMilli);
  EXPECT_EQ(rfb::Point(132, 136), root->popupWindow(&w.tooltip())->getRootOrigin());
  xdotool("mousemove 500 500");
  EXPECT_TRUE(loopUntil([&] { return !root->popupWindow(&w.tooltip()); }));
}

TEST_F(TXHost, ClickOutsideAPopupClosesItAndGoesNoFurther)
{
  tx::TXWParent w(&probe, nullptr, false);
  host(w);
  Probe menu;
  menu.setSize(rfb::Point(80, 40));
  tx::TXWRoot* root = tx::TXWRoot::instance();
  root->showPopup(&menu, true, true, rfb::Point(300, 300));
  ASSERT_TRUE(loopUntil([&] { return menu.isAttached(); }));
  click(w, menu);
  ASSERT_TRUE(loopUntil([&] { return menu.presses == 1; }));
  xdotool("mousemove 130 120 click 1");
  EXPECT_TRUE(loopUntil([&] { return root->popupCount() == 0; }));
  loopFor(100);
  EXPECT_EQ(0, probe.presses);
  EXPECT_FALSE(menu.isAttached());
}

TEST_F(TXHost, TheDefaultIconNeedsBothSizes)
{
  for (const char* name : {"statusError", "noSuchImage"}) {
    tx::TXWindow::setDefaultIconData({});
    tx::TXWParent::setDefaultIcon(name);
    tx::TXWParent w(nullptr, nullptr, false);
    w.setWMProperties("icon", nullptr);
    tx::PropertyData icon(w.window(), tx::xa::NET_WM_ICON(), XA_CARDINAL, false);
    EXPECT_EQ(std::string(name) == "statusError" ? 2564u : 0u, icon.items) << name;
  }
  tx::TXWindow::setDefaultIconData({});
}

// --- Dialogs ----------------------------------------------------------------------------

TEST_F(TXHost, ModalRunsServeOnlyTheirOwnTimers)
{
  tx::TXWParent w(&probe, nullptr, false);
  host(w);
  probe.paints.clear();
  Later before, inside;
  bool early = false;
  before.at(0, [&] { early = true; });
  Box box(nullptr, "timers", tx::TXMsgBox::kOk);
  // Damage left when the run ends is still painted afterwards.
  box.onShow = [&] {
    inside.at(50, [&] {
      probe.repaint();
      box.endDialog(1);
    });
  };
  EXPECT_TRUE(box.runModal());
  EXPECT_FALSE(early);
  EXPECT_TRUE(loopUntil([&] { return early && !probe.paints.empty(); }, 1000));
}

TEST_F(TXHost, ACentredDialogThatGrowsStaysCentred)
{
  tx::TXDialog d(nullptr, "grow", true);
  for (int size : {100, 300}) {
    d.resize(size + 100, size);
    const std::string info = xwininfo(d.window());
    EXPECT_NE(std::string::npos, info.find("Absolute upper-left X:  " + std::to_string((1024 - size - 110) / 2)));
    EXPECT_NE(std::string::npos, info.find("Absolute upper-left Y:  " + std::to_string((768 - size - 30) / 2)));
  }
}

TEST_F(TXHost, MessageBoxButtonsKeysAndClose)
{
  struct Case {
    uint32_t flags;
    std::string action;
    bool result;
    int chosen;
  } cases[] = {
    {tx::TXMsgBox::kOkCancel, "click 1", false, 1},
    {tx::TXMsgBox::kOkCancel, "click 0", true, 0},
    {tx::TXMsgBox::kYesNo | tx::TXMsgBox::kFocusLast, "key Return", false, 1},
    {tx::TXMsgBox::kOk, "close", false, -1},
  };
  for (const Case& c : cases) {
    Box box(nullptr, "Question?", c.flags, "Title");
    Later later;
    box.onShow = [&] {
      later.at(200, [&] {
        if (c.action == "close") {
          // The window manager's close request, from another client.
          Display* d = XOpenDisplay(sharedXvfb().display().c_str());
          XEvent ev{};
          ev.xclient.type = ClientMessage;
          ev.xclient.window = box.window();
          ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
          ev.xclient.format = 32;
          ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
          XSendEvent(d, box.window(), False, NoEventMask, &ev);
          XCloseDisplay(d);
        } else if (c.action == "key Return") {
          XSetInputFocus(tx::display(), box.window(), RevertToParent, CurrentTime);
          xdotool("key Return");
        } else {
          click(box, *box.buttons()[c.action == "click 1"]);
        }
      });
    };
    EXPECT_EQ(c.result, box.runModal()) << c.action;
    EXPECT_EQ(c.chosen, box.chosen()) << c.action;
  }
}

TEST_F(TXHost, LongTextWrapsAndTheBoxGrowsInHeightOnly)
{
  Box small(nullptr, "Short.", tx::TXMsgBox::kIconError);
  std::string text;
  for (int i = 0; i < 40; i++)
    text += "A message that needs several lines. ";
  Box box(nullptr, text.c_str(), tx::TXMsgBox::kIconError);
  wvw::WLabel& l = box.label();
  EXPECT_GT(l.lines().size(), 2u);
  EXPECT_LE(l.width(), 450);
  EXPECT_EQ(l.getPosition().x + l.width() + 10, box.width());
  EXPECT_EQ(l.height() + 55, box.height());
  EXPECT_GT(box.height(), small.height());
}

// What a person sees: the text is on screen 200 ms after the box shows,
// with no input (read back by another client).
TEST_F(TXHost, MessageBoxAndHostWindowScreenshots)
{
  for (const char* locale : {"en", "de"}) {
    setLocale(locale);
    Box box(nullptr, LOC_TR("ui_getfileorfolderdialog_no_selection"), tx::TXMsgBox::kYesNo | 0x20 | 0x100, "Box");
    Later later;
    int dark = 0;
    box.onShow = [&] {
      later.at(200, [&] {
        Display* d = XOpenDisplay(sharedXvfb().display().c_str());
        wvw::WLabel& l = box.label();
        const rfb::Point p = l.getPosition();
        XImage* im = XGetImage(d, box.window(), p.x, p.y, (unsigned)l.width(), (unsigned)l.height(), AllPlanes,
                               ZPixmap);
        for (int y = 0; im && y < l.height(); y++)
          for (int x = 0; x < l.width(); x++)
            dark += XGetPixel(im, x, y) == BlackPixel(d, DefaultScreen(d));
        if (im)
          XDestroyImage(im);
        XCloseDisplay(d);
        EXPECT_TRUE(screenshot(box.window(), box.width(), box.height(), std::string("msgbox_") + locale));
        box.endDialog(0);
      });
    };
    box.runModal();
    EXPECT_GT(dark, 20) << locale;

    DemoWidgets demo(560, 460);
    tx::TXWParent w(&demo.canvas, nullptr, false);
    w.resize(560, 460);
    w.setVisible(true);
    ASSERT_TRUE(loopUntil([&] { return demo.canvas.isAttached(); }));
    loopFor(100);
    EXPECT_TRUE(screenshot(w.window(), 560, 460, std::string("hostwindow_") + locale));
  }
  setLocale("en");
}

} // namespace
