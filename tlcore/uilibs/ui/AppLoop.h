// The wizard process's application loop: one loop that serves the X
// connection, every other descriptor and every timer. Each pass first
// dispatches every X event Xlib has queued (also those read during a
// handler's round trip, which would not wake select), then makes one pass
// of the process's select manager, in which the X descriptor is watched.
//
// ui::AppLoop becomes the process's os::AppLoop; it owns its
// implementation, which owns the display manager (the display itself is
// never closed). Modal dialogs run nested loops of their own inside a
// pass. Main thread only.
#pragma once

#include <memory>

#include "os/AppLoop.h"
#include "tx/TXDisplayManager.h"

namespace ui {

class AppLoopImpl : public os::AppLoopImpl {
public:
  // Opens the display DISPLAY names; throws plat::Exception when it cannot.
  AppLoopImpl();

  int run() override;

private:
  tx::TXDisplayManager displayManager_;
};

class AppLoop : public os::AppLoop {
public:
  // Throws plat::Exception when the display cannot be opened.
  AppLoop();

  // A modal error box (the layer's own); without an X server the text and
  // the reason go to the log and standard error. Never throws.
  static void showError(const char* text);
};

} // namespace ui
