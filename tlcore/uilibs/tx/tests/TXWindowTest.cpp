// Event dispatch and X windows, read back with xprop, xwininfo, xdotool and
// a second client, without and then with a window manager (openbox).
#include <gtest/gtest.h>


#include "os/AppInfo.h"
#include "plat/Configuration.h"
#include "tx/TXEvents.h"
#include "tx/TXWindow.h"
#include "txtest.h"

using namespace tltest;

namespace {

void setParam(const char* name, const char* value)
{
  plat::Configuration::global().set(name, value, plat::kPriorityPreference);
}

// Records the types of the events that reach a window, and their x, y.
struct Recorder : tx::TXEventHandler {
  bool handleEvent(XEvent* ev) override
  {
    events.push_back(*ev);
    return false;
  }
  std::vector<XEvent> events;
};

struct Win : tx::TXWindow {
  explicit Win(int w = 60, int h = 40) : TXWindow(w, h) { addEventHandler(&rec, true); }
  ~Win() override { addEventHandler(&rec, false); }
  // The latest event of that type, cleared afterwards; type 0 when none.
  XEvent take(int type)
  {
    XEvent found{};
    for (const XEvent& e : rec.events)
      if (e.type == type)
        found = e;
    rec.events.clear();
    return found;
  }
  Recorder rec;
};

XEvent event(int type, Window w, int x = 0, int y = 0, unsigned state = 0)
{
  XEvent ev{};
  ev.type = type;
  ev.xany.window = w;
  if (type == ClientMessage) {
    ev.xclient.message_type = tx::xa::WM_PROTOCOLS();
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)tx::xa::WM_DELETE_WINDOW();
  } else {
    ev.xbutton.x = ev.xbutton.x_root = x;
    ev.xbutton.y = ev.xbutton.y_root = y;
    ev.xbutton.state = state;
  }
  return ev;
}

// The pointer grab as a second client finds it.
int otherClientGrab()
{
  XSync(tx::display(), False);
  Display* d = XOpenDisplay(sharedXvfb().display().c_str());
  int status = XGrabPointer(d, DefaultRootWindow(d), False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None,
                            None, CurrentTime);
  XCloseDisplay(d);
  return status;
}

std::string xprop(Window w, const std::string& args)
{
  XSync(tx::display(), False);
  return commandOutput("xprop -display " + sharedXvfb().display() + " -id " + std::to_string(w) + " " + args);
}

// "Absolute upper-left X", "Width" and so on from xwininfo.
int xwininfo(Window w, const std::string& field)
{
  XSync(tx::display(), False);
  std::string out = commandOutput("xwininfo -display " + sharedXvfb().display() + " -id " + std::to_string(w));
  size_t at = out.find(field + ":");
  return at == std::string::npos ? -99999 : atoi(out.c_str() + at + field.size() + 1);
}

class TXWindowTest : public ::testing::Test {
protected:
  void SetUp() override { openTestDisplay(); }
};

} // namespace

TEST_F(TXWindowTest, DebugEventLines)
{
  setParam("_DebugEvents", "1");
  TempFile err("");
  fflush(stderr);
  int saved = dup(2);
  FILE* f = fopen(err.path().c_str(), "we");
  dup2(fileno(f), 2);
  XEvent evs[] = {event(ButtonPress, 0x1234, 5, 6), event(40, 0xabc)};
  evs[1].xany.window = 0xabc;
  XEvent expose = event(Expose, 0x77);
  expose.xexpose.x = 1, expose.xexpose.y = 2, expose.xexpose.width = 10, expose.xexpose.height = 20;
  tx::dispatchEvent(&evs[0]);
  tx::dispatchEvent(&expose);
  tx::dispatchEvent(&evs[1]);
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  fclose(f);
  setParam("_DebugEvents", "0");
  // Each line: the local time as HH:MM:SS.mmm, then the event.
  std::vector<std::string> lines = commandLines("cat " + err.path());
  const std::vector<std::string> events = {" ButtonPress window 1234 5,6", " Expose window 77 1,2 to 11,22",
                                           " 40 window abc "};
  ASSERT_EQ(events.size(), lines.size()) << readFile(err.path());
  for (size_t i = 0; i < lines.size(); i++) {
    EXPECT_EQ(events[i], lines[i].substr(12));
    int h, m, sec, ms;
    char end;
    EXPECT_EQ(4, sscanf(lines[i].substr(0, 12).c_str(), "%2d:%2d:%2d.%3d%c", &h, &m, &sec, &ms, &end)) << lines[i];
  }
}

TEST_F(TXWindowTest, GlobalHandlerRemovedDuringDispatchIsNotCalled)
{
  struct Remover : tx::TXEventHandler {
    bool handleEvent(XEvent*) override
    {
      calls++;
      tx::addGlobalHandler(victim, false);
      return true;
    }
    tx::TXEventHandler* victim = nullptr;
    int calls = 0;
  } remover;
  Recorder later;
  remover.victim = &later;
  tx::addGlobalHandler(&remover, true);
  tx::addGlobalHandler(&later, true);
  XEvent ev = event(ButtonPress, 0x42);
  tx::dispatchEvent(&ev);
  tx::addGlobalHandler(&remover, false);
  EXPECT_EQ(1, remover.calls);
  EXPECT_TRUE(later.events.empty());
}

// Under a modal window, input for the others is dropped, except motion
// without buttons; their close requests are ignored.
TEST_F(TXWindowTest, ModalWindowTakesTheInput)
{
  Win other, modal;
  other.map();
  modal.map();
  modal.pushModal();
  const struct {
    XEvent ev;
    bool reaches;
  } cases[] = {{event(ButtonPress, other.window()), false},
               {event(KeyPress, other.window()), false},
               {event(MotionNotify, other.window(), 1, 1, Button1Mask), false},
               {event(MotionNotify, other.window()), true},
               {event(ClientMessage, other.window()), false},
               {event(Expose, other.window()), true},
               {event(ButtonPress, modal.window()), true}};
  for (const auto& c : cases) {
    XEvent ev = c.ev;
    tx::dispatchEvent(&ev);
    Win& target = ev.xany.window == other.window() ? other : modal;
    EXPECT_EQ(c.reaches, target.take(c.ev.type).type == c.ev.type) << c.ev.type;
  }
  modal.unmap();
  XEvent press = event(ButtonPress, other.window());
  tx::dispatchEvent(&press);
  EXPECT_EQ(ButtonPress, other.take(ButtonPress).type);
}

// The latest mapped window asking for the pointer grab holds it, gets a
// real click on another window in its own coordinates, and hands the grab
// back when it unmaps; with _NoGrab nothing is grabbed but input still goes
// to the owner.
TEST_F(TXWindowTest, GrabOwnerTakesClicksAndHandsBack)
{
  Win clicked(200, 200), first, second;
  for (Win* w : {&clicked, &first, &second})
    w->map();
  XMoveWindow(tx::display(), first.window(), 300, 300);
  XMoveWindow(tx::display(), second.window(), 100, 80);
  clicked.addEventMask(ButtonPressMask);
  first.setGrab(true, false);
  second.setGrab(true, false);
  XSync(tx::display(), False);
  EXPECT_EQ(AlreadyGrabbed, otherClientGrab());

  commandOutput("DISPLAY=" + sharedXvfb().display() + " xdotool mousemove --sync 150 150 click 1 2>&1");
  ASSERT_TRUE(pumpUntil([&] {
    return std::any_of(second.rec.events.begin(), second.rec.events.end(),
                       [](const XEvent& e) { return e.type == ButtonPress; });
  }));
  XEvent got = second.take(ButtonPress);
  EXPECT_EQ(second.window(), got.xbutton.window);
  EXPECT_EQ(50, got.xbutton.x);
  EXPECT_EQ(70, got.xbutton.y);

  second.unmap();
  XEvent press = event(ButtonPress, clicked.window(), 130, 95);
  tx::dispatchEvent(&press);
  EXPECT_EQ(first.window(), first.take(ButtonPress).xbutton.window);
  EXPECT_EQ(AlreadyGrabbed, otherClientGrab());

  first.setGrab(false, false);
  EXPECT_EQ(GrabSuccess, otherClientGrab());
  setParam("_NoGrab", "1");
  second.map();
  second.setGrab(true, true);
  EXPECT_EQ(GrabSuccess, otherClientGrab());
  XEvent key = event(KeyPress, clicked.window());
  tx::dispatchEvent(&key);
  EXPECT_EQ(KeyPress, second.take(KeyPress).type);
  second.setGrab(false, false);
  setParam("_NoGrab", "0");
}

// What a window manager and other clients read of a window, without and
// with openbox.
TEST_F(TXWindowTest, PropertiesAndRequestsWithoutAndWithWindowManager)
{
  Display* dpy = tx::display();
  Window root = tx::rootWindow();
  long area[8] = {0, 0, 10, 10, 5, 6, 100, 200};
  long desktop = 1;
  tx::setProperty(root, tx::xa::NET_WORKAREA(), XA_CARDINAL, 32, area, 8);
  tx::setProperty(root, tx::xa::NET_CURRENT_DESKTOP(), XA_CARDINAL, 32, &desktop, 1);
  EXPECT_EQ(rfb::Rect(5, 6, 105, 206), tx::getWorkArea());
  tx::setProperty(root, tx::xa::NET_WORKAREA(), XA_CARDINAL, 32, area, 4);
  EXPECT_EQ(rfb::Rect(0, 0, 1024, 768), tx::getWorkArea());
  XDeleteProperty(dpy, root, tx::xa::NET_WORKAREA());
  XDeleteProperty(dpy, root, tx::xa::NET_CURRENT_DESKTOP());

  for (bool wm : {false, true}) {
    SCOPED_TRACE(wm ? "openbox" : "no window manager");
    if (wm)
      sharedXvfb().startWm();
    EXPECT_EQ(wm, tx::wmRunning());
    EXPECT_EQ(wm, tx::wmSupports(tx::xa::NET_ACTIVE_WINDOW()));
    tx::TXWindow w(300, 200);
    w.setWMProperties("tlname", nullptr);
    w.setName("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac");
    w.setFixedSize(true);
    w.resize(320, 240);
    w.map();
    w.centreOnScreen();
    bool hidden = true;
    if (wm) {
      ASSERT_TRUE(pumpUntil([&] { return w.isHidden(&hidden); }));
    }
    XSync(dpy, False);
    const std::string props =
      xprop(w.window(), "-f WM_NAME 8x -f _NET_WM_NAME 8x WM_CLASS WM_NAME _NET_WM_NAME _NET_WM_PID WM_NORMAL_HINTS");
    for (const std::string& want :
         {std::string("WM_CLASS(STRING) = \"tlname\", \"tessaly-tltest\""),
          std::string("WM_NAME(STRING) = 0x47, 0x72, 0xfc, 0xdf, 0x65, 0x20, 0x80"),
          std::string("_NET_WM_NAME(UTF8_STRING) = 0x47, 0x72, 0xc3, 0xbc, 0xc3, 0x9f, 0x65, 0x20, 0xe2, 0x82, 0xac"),
          "_NET_WM_PID(CARDINAL) = " + std::to_string(getpid()),
          std::string("program specified minimum size: 320 by 240"),
          std::string("program specified maximum size: 320 by 240")})
      EXPECT_NE(std::string::npos, props.find(want)) << want << "\n" << props;
    EXPECT_EQ(320, xwininfo(w.window(), "Width"));
    // A window manager puts its frame where the window asked to be.
    pumpUntil([&] { return w.getRootOrigin().x != 0; }, 2000);
    std::string extents = wm ? xprop(w.window(), "_NET_FRAME_EXTENTS") : "= 0, 0, 0, 0";
    int left = 0, right = 0, top = 0;
    sscanf(extents.substr(extents.find('=')).c_str(), "= %d, %d, %d", &left, &right, &top);
    EXPECT_EQ((1024 - 320 - 10) / 2, xwininfo(w.window(), "Absolute upper-left X") - left);
    EXPECT_EQ((768 - 240 - 30) / 2, xwininfo(w.window(), "Absolute upper-left Y") - top);

    // Sizes asked before the first map reach a window manager as requests
    // it answers late: the window takes none but the last.
    struct Sized : tx::TXWindow {
      Sized() : TXWindow(100, 100) {}
      void resized() override { seen.push_back(rfb::Point(width(), height())); }
      std::vector<rfb::Point> seen;
    } sized;
    sized.setWMProperties("sized", nullptr);
    sized.resize(300, 200);
    sized.resize(320, 240);
    sized.map();
    EXPECT_TRUE(pumpUntil([&] { return xwininfo(sized.window(), "Width") == 320 && sized.isMapped(); }));
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(rfb::Point(320, 240), sized.seen.back());
    EXPECT_EQ(2u, sized.seen.size()) << "a stale size was taken";

    // Unmapped, it is resized at once without a window manager and when
    // the manager answers with one.
    tx::TXWindow tiny(5, 5);
    tiny.resize(0, 0);
    pumpUntil([&] { return xwininfo(tiny.window(), "Width") == 1; }, 2000);
    EXPECT_EQ(1, xwininfo(tiny.window(), "Width"));
    EXPECT_EQ(1, xwininfo(tiny.window(), "Height"));

    if (!wm) {
      EXPECT_FALSE(w.isHidden(&hidden));
      EXPECT_EQ(rfb::Rect(0, 0, 1024, 768), tx::getWorkArea());
      screenshot(root, 1024, 768, "txwindow-nowm");
      continue;
    }
    EXPECT_EQ(rfb::Rect(0, 0, 1024, 768), tx::getWorkArea());
    tx::TXWindow other(100, 100);
    other.setWMProperties("other", nullptr);
    other.map();
    w.raiseAndActivate();
    EXPECT_TRUE(pumpUntil([&] { return tx::TXWindow::getActiveWindow() == w.window(); }));
    w.drawBevel(tx::defaultGC(), 10, 10, 300, 220, 3, tx::greyPixel(tx::kGreyBBBB), tx::greyPixel(tx::kGreyFFFF),
                tx::greyPixel(tx::kGrey5555));
    XSync(dpy, False);
    screenshot(root, 1024, 768, "txwindow-openbox");
    EXPECT_TRUE(w.isHidden(&hidden) && !hidden);
    w.iconify();
    EXPECT_TRUE(pumpUntil([&] { return w.isHidden(&hidden) && hidden; }));
    sharedXvfb().stopWm();
  }
}
