#include "tx/TXDisplayManager.h"

#include "io/FdIo.h"
#include "tx/TXUtil.h"

namespace tx {

TXDisplayManager::TXDisplayManager(const char* displayName) : io_(new io::FdIo(-1, io::FdIoFlags::kNone))
{
  try {
    openDisplay(displayName);
    io_->attach(ConnectionNumber(display()), io::FdIoFlags::kBlocking);
    io_->setHandler(this, true);
  } catch (...) {
    io_->shutdown(io::Shutdown::kDrop);
    throw;
  }
}

TXDisplayManager::~TXDisplayManager() { io_->shutdown(io::Shutdown::kDrop); }

bool WindowWatcher::watch(Window window)
{
  if (window_) {
    ErrorCatcher catcher;
    XSelectInput(display(), window_, NoEventMask);
    addGlobalHandler(this, false);
    window_ = 0;
  }
  if (!window)
    return true;
  // The window may be gone already (a window manager that just exited).
  ErrorCatcher catcher;
  XSelectInput(display(), window, StructureNotifyMask);
  syncIfPending();
  if (catcher.errorCode())
    return false;
  addGlobalHandler(this, true);
  window_ = window;
  return true;
}

bool WindowWatcher::handleEvent(XEvent* ev)
{
  if (ev->type == DestroyNotify && window_ && ev->xdestroywindow.window == window_) {
    Window gone = window_;
    stop();
    callback_->windowDestroyed(gone);
  }
  return false;
}

} // namespace tx
