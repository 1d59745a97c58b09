// Other clients on the display are outside input. One hostile client (a
// second connection) nests windows deeply, sends events with button
// numbers without a bit, sizes and notifications nobody asked for, answers
// with more than a paste may hold and makes a check window vanish; our own
// windows go parent first, copy more than one request carries and ask for
// images beyond 32-bit sizes. One Xvfb.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/resource.h>

#include <tuple>
#include <utility>

#include "plat/Configuration.h"
#include "tx/TXImage.h"
#include "tx/TXWParent.h"
#include "txtest.h"
#include "ui/AutoHider.h"
#include "ui/DesktopEnvironment.h"

using namespace tltest;

namespace {

Display* other;
// The check window the other client destroys just before we select its
// events (XSelectInput below).
Window doomed;
CaptureDest logs("hostilecapture");
constexpr int kMaxSelection = tx::TXWindow::kMaxSelectionBytes;

// The other client's window that names itself the window manager's check
// window, on itself and on the root.
Window checkWindow()
{
  const Window root = DefaultRootWindow(other), w = XCreateSimpleWindow(other, root, 0, 0, 1, 1, 0, 0, 0);
  for (Window on : {w, root})
    XChangeProperty(other, on, XInternAtom(other, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32,
                    PropModeReplace, (const unsigned char*)&w, 1);
  XSync(other, False);
  return w;
}

// An event from the other client, in our queue when this returns.
void send(XEvent ev)
{
  // Our window must exist at the server before the other client names it.
  XSync(tx::display(), False);
  XSendEvent(other, ev.xany.window, False, 0, &ev);
  XSync(other, False);
  XSync(tx::display(), False);
}

bool sawWithin(const std::string& line, int ms) { return loopUntil([&] { return logs.saw(line); }, ms); }

struct Probe : wvw::Widget {
  std::vector<uint32_t> masks;
  rfb::Point preferredSize() override { return rfb::Point(50, 50); }
  void paint(rfb::WritablePixelBuffer&) override {}
  void pointerEvent(const rfb::Point&, uint32_t mask) override { masks.push_back(mask); }
};

class HostileClient : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    openTestDisplay();
    os::AppLoop::selectManager();
    other = XOpenDisplay(sharedXvfb().display().c_str());
    plat::setLogOverride("DesktopEnvironment:hostilecapture:100");
  }
};

} // namespace

extern "C" int XSelectInput(Display* d, Window w, long mask)
{
  static auto real = reinterpret_cast<int (*)(Display*, Window, long)>(dlsym(RTLD_NEXT, "XSelectInput"));
  if (w && w == doomed) {
    XDestroyWindow(other, std::exchange(doomed, 0));
    XSync(other, False);
  }
  return real(d, w, mask);
}

// The walk's stack does not grow with the tree (20,000 levels, which Xvfb
// takes seconds to make, in 512 KB); it stops at its bound, and a
// detection over it takes well under the 11 s an unbounded one took.
TEST_F(HostileClient, DetectionWalksABoundedPartOfADeepTree)
{
  const Window top = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 1, 1, 0, 0, 0);
  for (Window w = top, i = 1; i < 20000; i++)
    w = XCreateSimpleWindow(other, w, 0, 0, 1, 1, 0, 0, 0);
  checkWindow();
  struct Count : tx::EnumWindowsCallback {
    int n = 0;
    bool window(Window) override { return ++n; }
  } count;
  rlimit stack, small;
  getrlimit(RLIMIT_STACK, &stack);
  small = {512 << 10, stack.rlim_max};
  setrlimit(RLIMIT_STACK, &small);
  EXPECT_FALSE(tx::enumWindows(&count, 0, true));
  EXPECT_EQ(tx::kMaxWalkWindows, count.n);
  {
    ui::DesktopEnvironment desktop(nullptr);
    EXPECT_TRUE(sawWithin("Detected TWM-compatible", 5000));
  }
  setrlimit(RLIMIT_STACK, &stack);
  XDestroyWindow(other, top);
}

TEST_F(HostileClient, ACheckWindowGoneBeforeItIsWatchedIsAnExit)
{
  logs.clear();
  doomed = checkWindow();
  ui::DesktopEnvironment desktop(nullptr);
  EXPECT_TRUE(sawWithin("Window Manager exited (watched window gone)", 5000));
  EXPECT_EQ(0, logs.count("Detected TWM-compatible"));
  EXPECT_TRUE(logs.saw("Detected None"));
}

// Key events trace no position, buttons without a bit leave the mask alone,
// a size only the server's events give.
TEST_F(HostileClient, EventsOutOfRange)
{
  Probe probe;
  tx::TXWParent w(&probe, nullptr, false);
  w.setVisible(true);
  ASSERT_TRUE(pumpUntil([&] { return probe.isAttached(); }));
  plat::Configuration::global().set("_DebugEvents", "1", plat::kPriorityPreference);
  for (auto [type, detail, traced] : {std::tuple{KeyPress, 38u, "KeyPress window %lx \n"},
                                      {ButtonPress, 0u, "ButtonPress window %lx 5,6\n"},
                                      {ButtonPress, 40u, "ButtonPress window %lx 5,6\n"},
                                      {ButtonRelease, 40u, "ButtonRelease window %lx 5,6\n"}}) {
    XEvent ev{};
    ev.xbutton = {type, 0, True, other, w.window(), DefaultRootWindow(other), None, 0, 5, 6, 5, 6, 0, detail, True};
    testing::internal::CaptureStderr();
    send(ev);
    tx::processEvents();
    char want[64];
    snprintf(want, sizeof(want), traced, w.window());
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(want)) << want;
  }
  plat::Configuration::global().set("_DebugEvents", "0", plat::kPriorityPreference);
  EXPECT_EQ(std::vector<uint32_t>(3, 0), probe.masks);
  const int width = w.width();
  XEvent ev{};
  ev.xconfigure = {ConfigureNotify, 0, True, other, w.window(), w.window(), 0, 0, 65535, 65535, 0, None, False};
  send(ev);
  tx::processEvents();
  EXPECT_EQ(width, w.width());
}

// The other client's notifications go ahead of our request (only what they
// name tells them from an answer): one naming our WM_NAME, then the answer.
TEST_F(HostileClient, SelectionsTakeOnlyTheAnswerAskedForUpToTheBound)
{
  tx::TXWindow w(10, 10);
  w.setName("ours");
  const Atom utf8 = tx::xa::UTF8_STRING(), ours = tx::xa::SELECTION_STRING();
  auto notify = [&](Atom property) {
    XEvent ev{};
    ev.xselection = {SelectionNotify, 0, True, other, w.window(), tx::xa::CLIPBOARD(), utf8, property, 0};
    send(ev);
  };
  notify(XA_WM_NAME);
  for (int size : {kMaxSelection, kMaxSelection + 1}) {
    // Also the server's refusals of earlier requests (no client owns CLIPBOARD).
    tx::processEvents();
    const std::string data(size, 'x');
    XChangeProperty(other, w.window(), ours, utf8, 8, PropModeReplace, (const unsigned char*)data.data(), size);
    notify(XA_WM_NAME);
    notify(ours);
    const char* text = w.getSelection(tx::xa::CLIPBOARD());
    EXPECT_EQ(size == kMaxSelection ? size : 0, text ? (int)strlen(text) : 0);
    EXPECT_TRUE(tx::PropertyData(w.window(), XA_WM_NAME, XA_STRING, false).valid());
    EXPECT_FALSE(tx::PropertyData(w.window(), ours, 0, false).valid());
    XSync(tx::display(), False);
  }
  // More than a request carries: the cut buffer is left alone.
  const std::string big(17 << 20, 'y');
  w.ownSelection((int)big.size(), big.c_str(), tx::getServerTime());
  EXPECT_EQ(w.window(), XGetSelectionOwner(tx::display(), tx::xa::CLIPBOARD()));
}

TEST_F(HostileClient, AParentDestroyedFirstLeavesItsChildrenAndTheAutoHiderWorking)
{
  auto parent = std::make_unique<tx::TXWindow>(300, 300);
  tx::TXWindow child(10, 10, parent.get()), panel(50, 50);
  ui::TXAutoHider hider(&panel, ui::AutoHider::kBottom, 10, nullptr);
  hider.setParent(parent.get());
  parent.reset();
  hider.setShown(false);
  loopFor(400);
  EXPECT_EQ(nullptr, hider.parent());
  child.resize(20, 20);
  XSync(tx::display(), False);
}

TEST_F(HostileClient, ImagesWhoseBytesExceed32BitsAreRefused)
{
  EXPECT_THROW(tx::TXImage(rfb::Point(65536, 16385)), plat::Exception);
  tx::TXImage image(rfb::Point(10, 10));
  EXPECT_THROW(image.setSize(rfb::Point(16385, 65536)), plat::Exception);
  EXPECT_EQ(10, image.rect.width());
}
