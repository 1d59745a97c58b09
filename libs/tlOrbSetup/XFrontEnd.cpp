#include "tlOrbSetup/XFrontEnd.h"

#include <stdio.h>

#include "mui/MuMessageBox.h"
#include "mui/MuiWvw.h"
#include "os/AppInfo.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Markup.h"
#include "tlOrbSetup/EngineUi.h"
#include "tlOrbSetup/SetupDlg.h"
#include "tx/TXUtil.h"
#include "tx/TXWindow.h"
#include "ui/AppLoop.h"
#include "ui/DesktopEnvironment.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("SetupWindow");

// The engine's questions, asked over the wizard's dialog.
class WizardEngineUi : public EngineUi, public ui::DesktopEnvironment::Callback, private tx::TXEventHandler {
public:
  explicit WizardEngineUi(SetupDlg& dlg) : dlg_(dlg), window_(static_cast<tx::TXWindow*>(dlg.dialog()->windowHandle()))
  {
    window_->addEventHandler(this, true);
  }
  ~WizardEngineUi() override
  {
    if (!desktop_)
      window_->addEventHandler(this, false);
  }

  bool messageBox(const char* text, int style, TextKind kind) override
  {
    mui::MuDialog* owner = dlg_.dialog();
    mui::MuMessageBox box(owner, kind == TextKind::kPlain ? text : "", (uint32_t)style, nullptr, nullptr, true,
                          owner->windowHandle());
    if (kind == TextKind::kMarkup) {
      box.setText(text);
      box.setLinkCallback(&openUrl_);
    }
    return box.run();
  }
  int detectDesktopKind() override { return desktop_ ? desktop_->kind() : 0; }
  void desktopChanged() override {}

private:
  // The desktop is looked at once the window has had its first paint: under
  // a window manager the walk over all windows takes a round trip each.
  bool handleEvent(XEvent* ev) override
  {
    if (ev->type == Expose && !desktop_) {
      window_->addEventHandler(this, false);
      desktop_ = std::make_unique<ui::DesktopEnvironment>(this);
    }
    return false;
  }

  SetupDlg& dlg_;
  tx::TXWindow* window_;
  std::unique_ptr<ui::DesktopEnvironment> desktop_;
  plat::LinkCbOpenUrl openUrl_;
};

class XWindow : public FrontEnd::Window {
public:
  explicit XWindow(hosted::HostedClientContextPtr cloudConfig)
      : dlg_(std::move(cloudConfig)), engineUi_(makeWizardEngineUi(dlg_)),
        registration_(engineUi_.get())
  {
  }

  void show() override
  {
    dlg_.show();
    vlog.status("show");
  }
  void raiseAndActivate() override
  {
    vlog.status("raiseAndActivate");
    static_cast<tx::TXWindow*>(dlg_.dialog()->windowHandle())->raiseAndActivate();
  }
  void handleUri(const char* uri) override { dlg_.handleUri(uri); }

private:
  SetupDlg dlg_;
  std::unique_ptr<EngineUi> engineUi_;
  EngineUi::Registration registration_;
};

} // namespace

std::unique_ptr<EngineUi> makeWizardEngineUi(SetupDlg& dlg)
{
  return std::make_unique<WizardEngineUi>(dlg);
}

std::unique_ptr<os::AppLoop> XFrontEnd::makeLoop()
{
  return std::make_unique<ui::AppLoop>();
}

void XFrontEnd::showError(const char* text)
{
  try {
    tx::openDisplay(nullptr);
  } catch (plat::Exception&) {
    // No box without a display: the text alone, as a command-line tool would.
    const char* app = os::AppInfo::getAppName(true);
    fprintf(stderr, "%s: %s\n", *app ? app : "tlzarnconnectsetup", text);
    fflush(stderr);
    return;
  }
  ui::AppLoop::showError(text);
}

void XFrontEnd::bindUiModel()
{
  static mui::MuiWvw backEnd;
  mui::Mui::setInstance(&backEnd);
  mui::MuiWvw::bindFactories();
}

std::unique_ptr<FrontEnd::Window> XFrontEnd::makeWindow(hosted::HostedClientContextPtr cloudConfig)
{
  return std::make_unique<XWindow>(std::move(cloudConfig));
}

} // namespace tlOrbSetup
