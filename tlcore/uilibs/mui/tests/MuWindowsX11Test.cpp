// Dialogs built through the bound factories on one Xvfb with openbox:
// their window-manager hints and states read by xprop and xwininfo, input
// by xdotool, the clipboard read by xclip, and goldens read back with
// XGetImage at the server's depth.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>

#include "mui/MuLayout.h"
#include "mui/MuMenuBarWvw.h"
#include "mui/MuWindowsTx.h"
#include "muimisc/ProgressBar.h"
#include "plat/Configuration.h"
#include "txtest.h"
#include "wvwgolden.h"

using namespace tltest;

namespace {

void xdotool(const std::string& args)
{
  XSync(tx::display(), False);
  EXPECT_EQ("", commandOutput("xdotool " + args));
}

// Separate commands: a click chained to a move would go to the focused
// window by XSendEvent.
void clickAt(int x, int y, int button)
{
  xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y));
  xdotool("click " + std::to_string(button));
}

std::string id(mui::MuDialog* d)
{
  return std::to_string(mui::windowOf(d)->window());
}

std::string xprop(mui::MuDialog* d, const char* property)
{
  XSync(tx::display(), False);
  return commandOutput("xprop -id " + id(d) + " " + property);
}

struct Events : mui::MuObserver {
  void event(mui::MuElement*, uint32_t code) override { codes.push_back(code); }
  int count(uint32_t code) const { return (int)std::count(codes.begin(), codes.end(), code); }
  std::vector<uint32_t> codes;
};

using Dialog = std::unique_ptr<mui::MuDialog>;

class MuWindows : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    sharedXvfb().startWm();
    openTestDisplay();
    os::AppLoop::selectManager();
    static mui::MuiWvw theMui;
    mui::Mui::setInstance(&theMui);
    mui::MuiWvw::bindFactories();
  }
  static Dialog make(uint32_t flags, int w = 100, int h = 60, mui::MuDialog* owner = nullptr)
  {
    Dialog d(mui::MuDialog::create("d", "Title", mui::Size(w, h), flags, owner, nullptr));
    d->setMargin(0);
    return d;
  }
  static void show(mui::MuDialog* d)
  {
    d->setShown(true);
    ASSERT_TRUE(loopUntil([&] { return static_cast<mui::MuDialogTx*>(d)->backBuffer() != nullptr; }));
    loopFor(100);
  }
};

TEST_F(MuWindows, MotifHintsFollowTheFlags)
{
  const long functions[8] = {62, 44, 54, 36, 30, 12, 22, 4};
  for (uint32_t f = 0; f < 16; f++) {
    const uint32_t flags = (f & 7) | (f & 8 ? 0x100 : 0);
    Dialog d = make(flags);
    char want[100];
    snprintf(want, sizeof(want), "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x%lx, 0x%d, 0x0, 0x0\n", functions[f & 7],
             f & 8 ? 0 : 1);
    EXPECT_EQ(want, xprop(d.get(), "_MOTIF_WM_HINTS")) << std::hex << flags;
  }
  // Without a window manager that can move it, a window keeps its frame.
  sharedXvfb().stopWm();
  Dialog bare = make(0x100);
  EXPECT_NE(std::string::npos, xprop(bare.get(), "_MOTIF_WM_HINTS").find("0x3e, 0x1,"));
  sharedXvfb().startWm();
}

TEST_F(MuWindows, WindowFlagsPlacementAndSizes)
{
  // Mapped without the focus; the input hint comes back unless the window
  // is override-redirect.
  const std::string noInput = "Client accepts input or input focus: False";
  Dialog over = make(0x420);
  show(over.get());
  EXPECT_NE(std::string::npos, xprop(over.get(), "WM_HINTS").find(noInput));
  Dialog quiet = make(0x400);
  show(quiet.get());
  EXPECT_EQ(std::string::npos, xprop(quiet.get(), "WM_HINTS").find(noInput));
  EXPECT_NE(std::string::npos, commandOutput("xwininfo -id " + id(over.get())).find("Override Redirect State: yes"));
  EXPECT_EQ(over->getSize(), over->outerSize());

  Dialog above = make(0x80, 300, 200);
  above->setPosition(rfb::Point(100, 100));
  show(above.get());
  EXPECT_NE(std::string::npos, xprop(above.get(), "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"));
  EXPECT_EQ(above->getSize().translate(tx::getWMDecorationSize()), above->outerSize());
  EXPECT_EQ(mui::Size(1024, 768), above->workAreaSize());
  const rfb::Point placed = above->getPosition();
  above->setShown(false);
  show(above.get());
  EXPECT_EQ(placed, above->getPosition()) << "kept where the caller put it";

  Dialog child = make(0, 100, 60, above.get());
  show(child.get());
  // Both frames are placed alike: the child's origin is the owner's moved
  // by half the difference in size.
  const rfb::Point o = above->getPosition();
  EXPECT_EQ(rfb::Point(o.x + 100 + (o.x - 100), o.y + 70 + (o.y - 100)), child->getPosition());

  child->copyToClipboard("copied text");
  EXPECT_EQ("copied text", pumpCommand("xclip -o -selection clipboard"));
}

TEST_F(MuWindows, ModalDialogsBlockAndDropInputElsewhere)
{
  Dialog main = make(0, 200, 100);
  mui::MuButton* button = mui::MuButton::create(main.get(), "b", "Press", 0, 0, 1);
  main->setPosition(rfb::Point(50, 50));
  show(main.get());
  Events events;
  main->addObserver(&events, true);
  auto clickButton = [&] {
    const rfb::Point p = main->getPosition().translate(button->getPosition());
    clickAt(p.x + 20, p.y + 10, 1);
    loopFor(200);
  };
  Dialog modal = make(0x08, 80, 40);
  modal->setPosition(rfb::Point(600, 400));
  show(modal.get());
  clickButton();
  EXPECT_EQ(0, events.count(mui::MuObserver::kActivated));
  modal->setShown(false);
  clickButton();
  EXPECT_EQ(1, events.count(mui::MuObserver::kActivated));

  // A blocking one returns when it is answered: here by a timer started
  // inside its loop, once its window is mapped.
  Dialog blocking = make(0x10, 80, 40);
  struct Answer : tx::TXEventHandler, plat::Timer::Callback {
    mui::MuDialog* d;
    plat::Timer timer{this};
    bool handleEvent(XEvent* ev) override
    {
      if (ev->type == MapNotify && ev->xmap.window == mui::windowOf(d)->window())
        timer.start(300);
      return false;
    }
    bool timerExpired(plat::Timer*) override
    {
      d->requestClose();
      return false;
    }
  } answer;
  answer.d = blocking.get();
  tx::addGlobalHandler(&answer, true);
  blocking->addObserver(&events, true);
  const plat::Time start = plat::getMonoTime();
  blocking->setShown(true);
  tx::addGlobalHandler(&answer, false);
  EXPECT_GE(plat::getMonoTime() - start, 300 * plat::kTicksPerMilli);
  EXPECT_FALSE(blocking->isShown());
  EXPECT_EQ(1, events.count(mui::MuObserver::kDialogClosed));
}

TEST_F(MuWindows, GrabbedDialogsAndListsCloseOnAClickOutside)
{
  // xdotool's clicks need a focused window.
  Dialog main = make(0, 200, 100);
  main->setPosition(rfb::Point(50, 50));
  mui::MuSuperbox* box = mui::MuSuperbox::create(main.get(), "s", nullptr, nullptr, 50);
  show(main.get());
  XSetInputFocus(tx::display(), mui::windowOf(main.get())->window(), RevertToParent, CurrentTime);
  ASSERT_TRUE(loopUntil([&] { return mui::windowOf(main.get())->hasFocus(); }));

  Dialog grabbed = make(0x2000);
  grabbed->setPosition(rfb::Point(500, 300));
  show(grabbed.get());
  const rfb::Point o = grabbed->getPosition();
  clickAt(o.x + 100, o.y + 10, 4);
  loopFor(200);
  EXPECT_TRUE(grabbed->isShown()) << "the wheel does not close it";
  clickAt(o.x + 100, o.y + 10, 3);
  EXPECT_TRUE(loopUntil([&] { return !grabbed->isShown(); }));

  box->showPopup(true);
  ASSERT_TRUE(loopUntil([&] { return box->popup()->isShown(); }));
  EXPECT_TRUE(mui::windowOf(box->popup())->wantsPointerGrab());
  box->setFocus();
  xdotool("type ab");
  EXPECT_TRUE(loopUntil([&] { return std::string(box->getText().get()) == "ab"; })) << "typing goes on in the entry";
  EXPECT_TRUE(box->popup()->isShown());
  clickAt(700, 600, 1);
  EXPECT_TRUE(loopUntil([&] { return !box->popup()->isShown(); }));

  {
    // Popup menus register by name; one going erases every entry of it.
    std::unique_ptr<mui::MuPopupMenu> a = mui::MuPopupMenu::create("pm", nullptr);
    std::unique_ptr<mui::MuPopupMenu> b = mui::MuPopupMenu::create("pm", nullptr);
    EXPECT_EQ(2u, mui::MuPopupMenu::registry().count("pm"));
    a->menu()->insertItem("Item", nullptr, nullptr);
    a->popupAt(rfb::Point(20, 20));
    EXPECT_TRUE(loopUntil([] { return tx::TXWRoot::instance()->popupCount() == 1; }));
    tx::TXWRoot::instance()->closeAll();
    b.reset();
    EXPECT_EQ(0u, mui::MuPopupMenu::registry().count("pm"));
  }

  std::unique_ptr<mui::MuAutoHider> hider = mui::MuAutoHider::create("h", mui::Size(50, 20), 0, 4, nullptr);
  EXPECT_EQ(0x0A00u, hider->element()->dialogFlags());
}

TEST_F(MuWindows, MenuBarOrdersMenusAndOpensOnAltMnemonic)
{
  Dialog d = make(0, 200, 100);
  d->setPosition(rfb::Point(300, 300));
  auto* bar = dynamic_cast<mui::MuMenuBarWvw*>(d->getMenuBar());
  ASSERT_TRUE(bar);
  ui::Menu::Item* file = bar->addMenu("&File", nullptr);
  ui::Menu::Item* edit = bar->addMenu("&Edit", file);
  EXPECT_TRUE(edit->isSeparator());
  edit->setLabel("Edit");
  EXPECT_FALSE(edit->isSeparator());
  ASSERT_EQ(2u, bar->widget().menus().size());
  EXPECT_STREQ("Edit", bar->widget().menus()[0]->label().getText());
  file->subMenu()->insertItem("Open", nullptr, nullptr);
  edit->subMenu()->insertItem("Copy", nullptr, nullptr);
  EXPECT_EQ(2u, bar->allItems().size());
  show(d.get());
  XSetInputFocus(tx::display(), mui::windowOf(d.get())->window(), RevertToParent, CurrentTime);
  ASSERT_TRUE(loopUntil([&] { return mui::windowOf(d.get())->hasFocus(); }));
  loopFor(200); // until the window manager is done with the focus
  xdotool("key alt+f");
  EXPECT_TRUE(loopUntil([&] { return bar->widget().menus()[1]->isOpen(); }));
  xdotool("key Escape");
}

TEST_F(MuWindows, FocusWidgetIsForgottenWithItsElement)
{
  Dialog d = make(0, 200, 100);
  mui::MuLayout* box = mui::MuLayout::create(d.get(), "box", 0);
  mui::MuEdit* edit = mui::MuEdit::create(box, "e", nullptr, 0, 0);
  show(d.get());
  edit->setFocus();
  auto* tx = static_cast<mui::MuDialogTx*>(d.get());
  EXPECT_EQ(mui::MuCommonWvw::getWidget(edit, true), tx->focusWidget());
  d->removeChild(box);
  d->setShown(false);
  show(d.get());
  EXPECT_EQ(nullptr, tx->focusWidget());
}

TEST_F(MuWindows, PaintedElementsMatchTheirGoldens)
{
  Dialog d = make(0x200, 200, 120);
  d->setPosition(rfb::Point(10, 10));
  mui::MuLayout* box = mui::MuLayout::create(d.get(), "box", 0);
  box->setSpacing(2);
  std::vector<muimisc::ProgressBar*> bars;
  for (int value : {0, 32767, 65535}) {
    bars.push_back(muimisc::ProgressBar::create(box, "p"));
    bars.back()->setValue((uint16_t)value);
  }
  mui::MuLine::create(box, "etched", true, true, 2);
  mui::MuLine::create(box, "colour", true, false, 3);
  mui::MuFrame::create(box, "header", nullptr, mui::MuFrame::kHeader);
  mui::MuFrame::create(box, "bordered", nullptr, mui::MuFrame::kBordered);
  mui::MuLayout* row = mui::MuLayout::create(box, "row", 1);
  for (bool thin : {false, true}) {
    mui::MuSplitter* s = mui::MuSplitter::create(row, "s", 0, thin, true);
    mui::MuSpacer::create(s, 20, 10);
    mui::MuSpacer::create(s, 20, 10);
  }
  mui::MuButton::create(row, "normal", "", 0, 0, 1);
  mui::MuButton* pressed = mui::MuButton::create(row, "pressed", "", 0, 0, 1);
  mui::MuButton::create(row, "disabled", "", 0, 0, 1)->setEnabled(false);
  show(d.get());
  for (uint32_t kind : {tlutil::MouseEvent::kMotion, tlutil::MouseEvent::kPress}) {
    tlutil::MouseEvent e;
    e.kind = kind;
    e.position = rfb::Point(2, 2);
    pressed->mouseEvent(e);
  }
  for (muimisc::ProgressBar* bar : bars)
    box->setChildLayout(bar, mui::MuLayout::kFixed, 8);
  d->relayout();
  tx::TXWindow* w = mui::windowOf(d.get());
  static_cast<tx::TXWParent*>(w)->flushDamage();
  XSync(tx::display(), False);
  XImage* im = XGetImage(tx::display(), w->window(), 0, 0, (unsigned)w->width(), (unsigned)w->height(), AllPlanes,
                         ZPixmap);
  ASSERT_TRUE(im);
  rfb::ManagedPixelBuffer pb(rfb::xrgb8888Format(), rfb::Rect(0, 0, w->width(), w->height()));
  std::map<unsigned long, rfb::Pixel> colours;
  const int depth = DefaultDepth(tx::display(), DefaultScreen(tx::display()));
  for (int y = 0; y < w->height(); y++)
    for (int x = 0; x < w->width(); x++) {
      XColor c;
      c.pixel = XGetPixel(im, x, y);
      auto known = colours.find(c.pixel);
      if (known == colours.end()) {
        XQueryColor(tx::display(), DefaultColormap(tx::display(), DefaultScreen(tx::display())), &c);
        const int rgb[3] = {c.red >> 8, c.green >> 8, c.blue >> 8};
        known = colours.emplace(c.pixel, pb.format.pixelFromRGB(rgb, nullptr)).first;
      }
      pb.setPixel(rfb::Point(x, y), known->second);
    }
  XDestroyImage(im);
  expectGolden(pb, "elements-depth" + std::to_string(depth));
  if (depth == 24) {
    // The bar at 32767 of 200 pixels fills 99 (the first under the border).
    const int y = bars[1]->getAbsolutePosition().y - d->getPosition().y + 2;
    ASSERT_EQ(200, bars[1]->getSize().x);
    EXPECT_EQ((plat::Colour{0x28, 0x8c, 0xf4}), WvwHost::colourAt(pb, 98, y));
    EXPECT_EQ((plat::Colour{0xd0, 0xd0, 0xd0}), WvwHost::colourAt(pb, 99, y));
  }
}

} // namespace
