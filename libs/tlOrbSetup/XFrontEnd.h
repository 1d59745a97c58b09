// The front end the program registers: the X-serving application loop, the
// X layer's message box for errors, the UI model bound to its widget and
// window back-ends, and the wizard dialog as the window. While the window
// lives, the engine's questions (EngineUi) are asked in the model's message
// box over the wizard, and its desktop kind is the one detected on the
// display.
//
// Registered once by main(); main thread only. Without a display makeLoop
// throws the display error and showError writes to standard error.
#pragma once

#include "tlOrbSetup/FrontEnd.h"

namespace tlOrbSetup {

class EngineUi;
class SetupDlg;

class XFrontEnd : public FrontEnd {
public:
  std::unique_ptr<os::AppLoop> makeLoop() override;
  void showError(const char* text) override;
  void bindUiModel() override;
  std::unique_ptr<Window> makeWindow(hosted::HostedClientContextPtr cloudConfig) override;
};

// The engine UI the window registers: questions in the model's message box
// over dlg's dialog, the desktop kind detected on the display from now on.
// Borrows dlg, which must outlive it.
std::unique_ptr<EngineUi> makeWizardEngineUi(SetupDlg& dlg);

} // namespace tlOrbSetup
