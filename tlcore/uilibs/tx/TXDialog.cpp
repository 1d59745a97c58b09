#include "tx/TXDialog.h"

#include <errno.h>

#include "plat/Select.h"
#include "plat/Timer.h"
#include "tx/TXUtil.h"

namespace tx {

TXDialog::TXDialog(TXWindow* parent, const char* name, bool centred)
  : TXWParent(nullptr, nullptr, false), centred_(centred), parent_(parent)
{
  setChild(&canvas_);
  setWMProperties(name, this, nullptr);
}

TXDialog::~TXDialog() { setChild(nullptr); }

void TXDialog::prepareShow()
{
  done_ = false;
  result_ = 0;
  setTransientFor(parent_ ? parent_->window() : 0);
}

void TXDialog::show()
{
  prepareShow();
  showHook();
  setVisible(true);
}

bool TXDialog::runModal()
{
  prepareShow();
  Display* dpy = display();
  const int fd = ConnectionNumber(dpy);
  if (fd >= FD_SETSIZE)
    throw plat::SystemException("select", EMFILE);
  plat::DestroyGuard guard(liveness_);
  {
    plat::TimerManager timers(true);
    showHook();
    setVisible(true);
    pushModal();
    for (;;) {
      processEvents();
      if (guard.destroyed() || done_)
        break;
      int timeout = timers.processTimers();
      if (guard.destroyed() || done_)
        break;
      if (timeout == 0)
        timeout = timers.getTimeout();
      // What the timers drew must reach the server before we sleep, and
      // events their round trips queued must not wait for new data.
      XFlush(dpy);
      if (XEventsQueued(dpy, QueuedAlready))
        continue;
      fd_set read;
      int ms;
      do {
        FD_ZERO(&read);
        FD_SET(fd, &read);
        ms = timeout;
      } while (plat::selectWithTimeout(fd + 1, &read, nullptr, nullptr, &ms, false) < 0);
    }
  }
  // Damage collected in the nested manager's last moments would never be
  // painted otherwise.
  TXWParent::restartPendingRedraws();
  return !guard.destroyed() && result_ != 0;
}

void TXDialog::resize(int w, int h)
{
  if (w == width() && h == height())
    return;
  TXWindow::resize(w, h);
  if (centred_)
    centreOnScreen();
}

bool TXDialog::endDialog(uint8_t result)
{
  result_ = result;
  done_ = true;
  setVisible(false);
  return true;
}

void TXDialog::cancel() { endDialog(0); }

void TXDialog::deleteWindow(TXWindow*)
{
  done_ = true;
  result_ = 0;
  setVisible(false);
}

} // namespace tx
