// What the program's entry needs from the user interface: its application
// loop, a way to show an error, the binding of the UI model, and the wizard
// window. The X front end (XFrontEnd.h) builds the real wizard; tests of
// the engine use a headless one.
//
// The program's main() registers exactly one front end, once, before it
// calls tlOrbSetup::setupMain; the registry owns it until exit. Everything
// runs on the main thread.
#pragma once

#include <memory>

#include "hosted/HostedClientContext.h"

int main(int argc, char** argv);

namespace os {
class AppLoop;
}

namespace tlOrbSetup {

// Only the program's main() can make one, so only it registers a front end.
class FrontEndKey {
  FrontEndKey() {}
  friend int ::main(int argc, char** argv);
};

class FrontEnd {
public:
  // The wizard window as the entry and the single-instance channel see it.
  class Window {
  public:
    virtual ~Window() = default;
    // Removes a leftover installer directory, shows and focuses the window.
    virtual void show() = 0;
    virtual void raiseAndActivate() = 0;
    // A sign-in callback URI; throws plat::Exception when not expected.
    virtual void handleUri(const char* uri) = 0;
  };

  virtual ~FrontEnd() = default;

  // The application loop of this front end (it becomes os::AppLoop's
  // instance).
  virtual std::unique_ptr<os::AppLoop> makeLoop() = 0;
  // A modal error message; must not throw.
  virtual void showError(const char* text) = 0;
  // Makes the UI model's back end current and binds every element kind;
  // starts the automation channel where test features allow it.
  virtual void bindUiModel() = 0;
  // The wizard's window, its capabilities client made from cloudConfig.
  virtual std::unique_ptr<Window> makeWindow(hosted::HostedClientContextPtr cloudConfig) = 0;

  // Registers the process's front end; a second registration is fatal.
  static void install(FrontEndKey key, std::unique_ptr<FrontEnd> frontEnd);
  // The registered front end; fatal when none is.
  static FrontEnd& get();
};

} // namespace tlOrbSetup
