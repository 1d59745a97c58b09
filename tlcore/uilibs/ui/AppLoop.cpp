#include "ui/AppLoop.h"

#include "io/FdSelectManager.h"
#include "tx/TXEvents.h"
#include "tx/TXMsgBox.h"
#include "tx/TXUtil.h"

namespace ui {

AppLoopImpl::AppLoopImpl() : os::AppLoopImpl(&os::AppLoop::selectManager()), displayManager_(nullptr) {}

int AppLoopImpl::run()
{
  while (!stop_) {
    if (tx::display())
      tx::processEvents();
    manager_->processOnce(-1);
  }
  return exitStatus();
}

AppLoop::AppLoop() : os::AppLoop(std::make_unique<AppLoopImpl>()) {}

void AppLoop::showError(const char* text) { tx::TXMsgBox::showError(text); }

} // namespace ui
