// Every page of the wizard in every language, on the X back-ends under
// Xvfb with openbox, in this process: the real download from an HTTPS
// stand-in and the admin helper's dry run, the rest through the dialog's
// own flow calls. On each page the automation channel's layout check finds
// nothing, every shown element lies inside the window, the progress bar
// reads back its two colours where its value puts them, and a screenshot is
// kept (TL_SCREENSHOT_DIR/sweep-<lang>-NN-<page>.png, tiled into
// sweep-<lang>-sheet.png by tools/contact_sheet.py). Also the output box
// with 1 MiB of output, and the copied password in cut buffer 0. The engine
// asks through the X front end's engine UI: on a display with a GNOME Shell
// window and a display manager whose custom.conf comments out Wayland's
// disabling line, the real install of the fake package brings the Wayland
// question and the GNOME notice in the model's box over the wizard.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "ProgramRun.h"
#include "loc/Localize.h"
#include "mui/MuButtonBar.h"
#include "mui/MuContainer.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuLayout.h"
#include "mui/MuLeaves.h"
#include "mui/MuMessageBox.h"
#include "mui/Mui.h"
#include "mui/MuiComms.h"
#include "muimisc/ProgressBar.h"
#include "os/AppInfo.h"
#include "os/dirs.h"
#include "os/paths.h"
#include "plat/Configuration.h"
#include "plat/TestFeatures.h"
#include "product/addresses.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/EngineUi.h"
#include "tlOrbSetup/Pages.h"
#include "tlOrbSetup/PkgOrb.h"
#include "tlOrbSetup/SetupApp.h"
#include "tlOrbSetup/SetupDlg.h"
#include "tlOrbSetup/SignInPage.h"
#include "tlOrbSetup/XFrontEnd.h"
#include "tx/TXEvents.h"
#include "tx/TXWParent.h"

using namespace tlOrbSetup;

namespace {

void set(const char* name, const char* value)
{
  ASSERT_TRUE(plat::Configuration::global().set(name, value, plat::kPriorityPolicy + 1)) << name;
}

tx::TXWParent* windowOf(mui::MuDialog* d)
{
  return static_cast<tx::TXWParent*>(static_cast<tx::TXWindow*>(d->windowHandle()));
}

// Paths of shown leaves that reach outside the w by h window.
std::string outside(mui::MuElement* e, rfb::Point origin, int w, int h)
{
  if (!e->isShown())
    return "";
  auto* c = dynamic_cast<mui::MuContainer*>(e);
  if (!c) {
    const rfb::Point p = e->getAbsolutePosition().translate(origin.negate());
    const mui::Size s = e->getSize();
    const bool in = s.x <= 0 || s.y <= 0 || (p.x >= 0 && p.y >= 0 && p.x + s.x <= w && p.y + s.y <= h);
    return in ? "" : std::string(e->getPathName().str()) + " ";
  }
  std::string out;
  for (int i = 0; i < c->childCount(); i++)
    out += outside(c->getChild(i), origin, w, h);
  return out;
}

// Pixels of the bar that are not #288cf4 left of its filled length and
// #d0d0d0 right of it.
int barMisses(muimisc::ProgressBar* bar, tx::TXWindow* window, rfb::Point origin)
{
  const rfb::Point p = bar->getAbsolutePosition().translate(origin.negate());
  const mui::Size s = bar->getSize();
  EXPECT_TRUE(s.x > 0 && s.y > 0);
  const int filled = bar->value() * s.x / 65535;
  XImage* im = XGetImage(tx::display(), window->window(), p.x, p.y, s.x, s.y, AllPlanes, ZPixmap);
  int misses = 0;
  for (int y = 0; y < s.y; y++)
    for (int x = 0; x < s.x; x++)
      misses += (XGetPixel(im, x, y) & 0xffffff) != (x < filled ? 0x288cf4u : 0xd0d0d0u);
  XDestroyImage(im);
  return misses;
}

// Starts a check once the next window maps, inside the modal loop that
// shows it (that loop serves only timers started while it runs).
struct OnMap : tx::TXEventHandler {
  OnMap() { tx::addGlobalHandler(this, true); }
  ~OnMap() override { tx::addGlobalHandler(this, false); }
  bool handleEvent(XEvent* ev) override
  {
    if (ev->type == MapNotify && fn) {
      later.at(300, std::move(fn));
      fn = nullptr;
    }
    return false;
  }
  std::function<void()> fn;
  tltest::Later later;
};

class LanguageSweep : public ::testing::TestWithParam<const char*> {
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(plat::ppmm.setParam(4, plat::kPriorityPolicy));
    tltest::sharedXvfb().startWm();
    os::AppInfo::set("tlzarnconnectsetup", "Tessaly", "zarn", nullptr, nullptr);
    tltest::openTestDisplay();
    os::AppLoop::selectManager();
    // Tells the desktop detection GNOME Shell: tiny, off the screen.
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    Window shell = XCreateWindow(tx::display(), DefaultRootWindow(tx::display()), -10, -10, 1, 1, 0,
                                 CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect, &attrs);
    XClassHint hint{const_cast<char*>("gnome-shell"), const_cast<char*>("Gnome-shell")};
    XSetClassHint(tx::display(), shell, &hint);
    XMapWindow(tx::display(), shell);
    XSync(tx::display(), False);
    XFrontEnd().bindUiModel();
    loc::Localize::instance()->init({});
  }
  void SetUp() override
  {
    if (geteuid() != 0)
      GTEST_SKIP() << "runs the admin helper as root";
    httptest::prepareProcess();
    os::setTmpDirForTest(tmp_.path().c_str());
    os::setConfigDir(config_.path().c_str());
    setenv("HOME", home_.path().c_str(), 1);
    plat::setTestFeaturesDirsForTests(&keyDirs_);
    plat::resetTestFeaturesGateForTests();
    AdminHelperClient::setProgramForTest(TL_PROGRAM);
    set("_CertsPem", pkg_.caPem().c_str());
    set("_NoInstall", "1");
    set("_SignInTimeoutSecs", "0");
    ASSERT_TRUE(plat::Configuration::global().set("Locale", GetParam(), plat::kPriorityPolicy));
    dm_.write("custom.conf", "[daemon]\n#WaylandEnable=false\n");
    PkgOrb::setDisplayManagerDirsForTest({plat::String(dm_.path().c_str())});
  }
  void TearDown() override
  {
    dlg_.reset();
    tltest::loopFor(100);
    AdminHelperClient::setProgramForTest(nullptr);
    PkgOrb::setDisplayManagerDirsForTest({});
    tltest::FakeProduct::purge();
  }

  mui::MuElement* find(const char* path) { return dlg_->dialog()->findElement(path); }
  void act(const char* path, const char* action = "click", const char* argument = nullptr)
  {
    mui::MuElement* e = find(path);
    ASSERT_TRUE(e && e->doAction(action, argument)) << path << " " << action;
  }
  std::string page() { return dlg_->currentPage() ? dlg_->currentPage()->root()->getName() : "?"; }
  bool reach(const std::string& name)
  {
    return tltest::loopUntil([&] { return page() == name; }, 60000);
  }
  void startDownload(const std::string& mode)
  {
    set("_OrbUri", pkg_.uri(mode).c_str());
    act("initial.install");
  }

  // What each page must be in every language; a screenshot of it.
  void look(const std::string& name, mui::MuDialog* d = nullptr)
  {
    SCOPED_TRACE(name);
    d = d ? d : dlg_->dialog();
    tx::TXWParent* w = windowOf(d);
    w->flushDamage();
    XSync(tx::display(), False);
    const std::string address = d == dlg_->dialog() ? "SetupDlg" : "messagebox";
    EXPECT_STREQ("\n\n", mui::MuiComms::execute(("checklayout " + address).c_str()).get());
    if (d == dlg_->dialog()) {
      EXPECT_EQ("", outside(d, d->getAbsolutePosition(), w->width(), w->height()));
    }
    for (const char* bar : {"download.progress", "install.progress"}) {
      mui::MuElement* e = d->findElement(bar);
      if (e && e->isShownInTree()) {
        EXPECT_EQ(0, barMisses(static_cast<muimisc::ProgressBar*>(e), w, d->getAbsolutePosition())) << bar;
      }
    }
    shots_++;
    const std::string shot = "sweep-" + std::string(GetParam()) + "-" + std::to_string(shots_ / 10) +
                             std::to_string(shots_ % 10) + "-" + name;
    EXPECT_TRUE(tltest::screenshot(w->window(), w->width(), w->height(), shot));
  }

  // The output box: 1200 by 800 units, its text scrolling, its OK inside
  // the box and on the screen; answered with OK.
  void lookAtOutputBox(bool shot)
  {
    mui::MuMessageBox* box = dlg_->errorPage()->outputBox();
    ASSERT_NE(nullptr, box);
    tx::TXWParent* w = windowOf(box->dialog());
    EXPECT_EQ(600, w->width());
    EXPECT_EQ(400, w->height());
    mui::MuElement* scroll = box->dialog()->findElement("main.frame.info.scroll");
    ASSERT_NE(nullptr, scroll);
    EXPECT_GT(box->dialog()->findElement("main.frame.info.scroll.msg")->getSize().y, 10 * scroll->getSize().y);
    mui::MuButton* ok = box->buttonBar()->find(mui::MuButtonBar::kOk);
    const rfb::Point at = ok->getAbsolutePosition().translate(box->dialog()->getAbsolutePosition().negate());
    EXPECT_EQ("", outside(ok, box->dialog()->getAbsolutePosition(), w->width(), w->height()));
    int rootX, rootY;
    Window child;
    XTranslateCoordinates(tx::display(), w->window(), DefaultRootWindow(tx::display()), at.x, at.y, &rootX,
                          &rootY, &child);
    EXPECT_TRUE(rootX >= 0 && rootY >= 0 && rootX + ok->getSize().x <= 1024 && rootY + ok->getSize().y <= 768)
        << rootX << "," << rootY;
    if (shot)
      look("output-box", box->dialog());
    ok->doAction("click", nullptr);
  }

  // The engine's box as shown (its window transient for the wizard's),
  // looked at as name, answered with button.
  void answerEngineBox(const std::string& name, const char* button)
  {
    mui::MuDialog* box = nullptr;
    for (const auto& d : mui::Mui::instance().dialogs())
      box = d.second->isShown() && d.second != dlg_->dialog() ? d.second : box;
    ASSERT_NE(nullptr, box);
    tx::TXWParent* w = windowOf(box);
    ::Window owner = 0;
    XGetTransientForHint(tx::display(), w->window(), &owner);
    EXPECT_EQ(windowOf(dlg_->dialog())->window(), owner);
    EXPECT_EQ("", outside(box, box->getAbsolutePosition(), w->width(), w->height()));
    look(name, box);
    mui::MuElement* b = box->findElement((std::string("main.buttons.") + button).c_str());
    EXPECT_TRUE(b && b->doAction("click", nullptr)) << button;
    if (!b)
      box->setShown(false);
  }

  static inline std::vector<plat::String> keyDirs_{plat::String(TL_TEST_SUPPORT_DIR)};
  tltest::TempDir tmp_{"sweeptmp"}, config_{"sweepcfg"}, home_{"sweephome"}, dm_{"sweepdm"};
  tltest::PackageServer pkg_{std::string(1000, 'd')};
  std::unique_ptr<SetupDlg> dlg_;
  int shots_ = 0;
};

TEST_P(LanguageSweep, EveryPage)
{
  const std::string shots = std::string(TL_SCREENSHOT_DIR) + "/sweep-" + GetParam();
  tltest::commandOutput("rm -f " + shots + "-*.png");
  dlg_.reset(new SetupDlg(loadedCloudConfig()));
  std::unique_ptr<EngineUi> engineUi = makeWizardEngineUi(*dlg_);
  EngineUi::Registration registration(engineUi.get());
  dlg_->show();
  ASSERT_TRUE(tltest::loopUntil([&] { return windowOf(dlg_->dialog())->isMapped(); }));
  tltest::loopFor(300);
  look("initial");

  // Held at half the package, then cancelled: an error without output.
  startDownload("hold");
  ASSERT_TRUE(tltest::loopUntil([&] { return dlg_->downloadPage()->bar()->value() == 32768; }, 20000));
  look("download");
  act("download.cancel");
  EXPECT_FALSE(find("error.cmdOutBtn")->isShown());
  look("error");

  // Installing (the helper's dry run), 1 MiB of output, cancelled.
  act("error.retry");
  startDownload("pkg/whole");
  ASSERT_TRUE(tltest::loopUntil([&] { return page() == "install" && dlg_->installPage()->busy(); }, 60000));
  for (int n = 0; n < (1 << 20);) {
    const std::string line = "Unpacking tlzarnconnect-part-" + std::to_string(n) + " (1.0-1) ...\n";
    dlg_->installPage()->output(nullptr, (int)line.size(), line.c_str());
    n += (int)line.size();
  }
  look("install");
  act("install.cancel");
  tltest::loopFor(100); // the error page left before goes
  EXPECT_TRUE(find("error.cmdOutBtn")->isShown());
  look("error-output");
  // Pressed twice: one box.
  OnMap onMap;
  for (int i = 0; i < 2; i++) {
    onMap.fn = [this, i] { lookAtOutputBox(i == 0); };
    act("error.cmdOutBtn");
    EXPECT_FALSE(onMap.fn) << "the box never mapped";
  }
  EXPECT_EQ(2u, mui::Mui::instance().dialogs().size());

  // Installed for real (a dry run starts no service, so asks nothing), no
  // credentials: the Wayland question ("Yes" in Spanish: the helper edits
  // custom.conf), the GNOME notice, then the sign-in road, timed out at once.
  const bool yes = GetParam() == std::string("es");
  tltest::FakeProduct fake;
  pkg_.serve(tltest::readFile(fake.deb()));
  set("_NoInstall", "0");
  act("error.retry");
  set("_OrbUri", pkg_.uri("pkg/whole").c_str());
  onMap.fn = [&] {
    onMap.fn = [&] { answerEngineBox("gnome-notice", "ok"); };
    answerEngineBox("wayland-question", yes ? "yes" : "no");
  };
  act("initial.install");
  ASSERT_TRUE(reach("signInChoose"));
  EXPECT_FALSE(onMap.fn) << "the GNOME notice never mapped";
  EXPECT_EQ(std::string("[daemon]\n") + (yes ? "" : "#") + "WaylandEnable=false\n",
            tltest::readFile(dm_ / "custom.conf"));
  EXPECT_NE(std::string::npos,
            tltest::readFile(fake.record).find("tlzarnservice start tlzarnserver-x11-serviced\n"));
  set("_NoInstall", "1");
  look("signInChoose");
  act("signInChoose.signIn.btn");
  look("signingIn");
  ASSERT_TRUE(tltest::loopUntil([&] { return page() == "signInChoose"; }));
  EXPECT_TRUE(dlg_->signInChoosePage()->timedOut());
  look("signInChoose-timedOut");
  act("signInChoose.signIn.btn");
  dlg_->handleUri((std::string(product::kUriScheme) + "://install?state=" + signingInState().str() +
                   "&server=s&viewer=v").c_str());
  look("applyToken"); // before the pass that reports its failure
  ASSERT_TRUE(reach("error"));

  // Settings: both choices, the password's two messages, the copy.
  dlg_->showSettings();
  const struct {
    const char *first, *second, *name;
  } passwords[] = {{"12345", "12345", "settings-short"}, {"123456", "123457", "settings-mismatch"}};
  for (const auto& p : passwords) {
    act("settings.pwd1.hidden", "settext", p.first);
    act("settings.pwd2.hidden", "settext", p.second);
    EXPECT_TRUE(find("settings.aux1.error")->isShown());
    look(p.name);
  }
  act("settings.pwd1.clipboardBtn");
  EXPECT_EQ("CUT_BUFFER0(STRING) = \"123456\"\n",
            tltest::pumpCommand("DISPLAY=" + tltest::sharedXvfb().display() + " xprop -root CUT_BUFFER0"));
  act("settings.sysAuth", "click", "1");
  look("settings-system");

  // Installed with credentials: the simple launch page.
  mkdir((config_ / "tlzarnconnect.d").c_str(), 0700);
  config_.write("tlzarnconnect.d/CloudCredentials.bed", "x");
  dlg_->installDone(nullptr, "");
  ASSERT_EQ("simpleLaunch", page());
  look("simpleLaunch");

  int status;
  tltest::runCommand("/usr/bin/python3 " TL_TEST_SUPPORT_DIR "/../../tools/contact_sheet.py " + shots +
                         "-sheet.png " + shots + "-[0-9]*.png",
                     &status);
  EXPECT_EQ(0, status);
}

INSTANTIATE_TEST_SUITE_P(Languages, LanguageSweep, ::testing::Values("en", "de", "es", "fr", "pt"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
