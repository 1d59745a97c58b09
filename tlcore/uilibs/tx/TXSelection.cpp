// TXWindow's share of the selection protocol: offering text as PRIMARY
// and CLIPBOARD (and cut buffer 0), answering requests for it, and pasting
// another client's text with a bounded wait. Only text is exchanged.
#include <errno.h>
#include <string.h>
#include <sys/select.h>

#include "plat/Select.h"
#include "plat/Time.h"
#include "plat/utf8.h"
#include "tx/TXContext.h"
#include "tx/TXUtil.h"
#include "tx/TXWindow.h"

namespace tx {

// Property reads of whole selections, in 32-bit units.
static constexpr long kWholeProperty = 0x7ffffff;

void TXWindow::setWipeSelectionText(bool wipe)
{
  wipe_ = wipe;
  offered_.setSecure(wipe);
  received_.setSecure(wipe);
}

// Text and a NUL into buf.
static void storeText(plat::MBuf<char>& buf, const char* text, int length)
{
  buf.assign(text, length, length + 1);
  buf[length] = '\0';
}

void TXWindow::ownSelection(int length, const char* text, Time time)
{
  vlogWindow.info("Acquiring PRIMARY and CLIPBOARD selections timestamp %lu", (unsigned long)time);
  if (text)
    storeText(offered_, text, length);
  else
    offered_.clear();
  plat::MBuf<unsigned char> latin1 = plat::utf8ToLatin1Buf(text ? length : 0, text ? text : "");
  latin1.setSecure(wipe_);
  XStoreBytes(display(), reinterpret_cast<const char*>(latin1.data()), latin1.length());
  acquireSelection(XA_PRIMARY, time);
  acquireSelection(xa::CLIPBOARD(), time);
}

void TXWindow::acquireSelection(Atom selection, Time time)
{
  XSetSelectionOwner(display(), selection, win_, time);
  if (XGetSelectionOwner(display(), selection) != win_)
    return;
  DisplayContext& c = ctx();
  auto previous = c.selectionOwners.find(selection);
  if (previous != c.selectionOwners.end() && previous->second)
    previous->second->ownedSelections_.erase(selection);
  ownedSelections_[selection] = time;
  c.selectionOwners[selection] = this;
}

const char* TXWindow::getSelection(Atom selection)
{
  auto owner = ctx().selectionOwners.find(selection);
  if (owner != ctx().selectionOwners.end() && owner->second)
    return owner->second->selectionText();
  if (!requestConversion(selection, xa::UTF8_STRING(), 1000) || !receivedText())
    requestConversion(selection, XA_STRING, 1000);
  return receivedText();
}

bool TXWindow::requestConversion(Atom selection, Atom target, int waitMs)
{
  received_.clear();
  XConvertSelection(display(), selection, target, xa::SELECTION_STRING(), win_, CurrentTime);
  XEvent ev;
  if (waitForWindowEvent(SelectionNotify, waitMs, &ev)) {
    handleSelectionNotify(ev.xselection);
    return true;
  }
  vlogWindow.info("timed out waiting for %s %s for 0x%lx", atomName(selection), atomName(target), win_);
  return false;
}

bool TXWindow::waitForWindowEvent(int type, int waitMs, XEvent* ev)
{
  Display* dpy = display();
  if (XCheckTypedWindowEvent(dpy, win_, type, ev))
    return true;
  const int fd = ConnectionNumber(dpy);
  if (fd >= FD_SETSIZE)
    throw plat::SystemException("select", EMFILE);
  const plat::Time deadline = plat::getMonoTime() + (plat::Time)waitMs * plat::kTicksPerMilli;
  XFlush(dpy);
  for (;;) {
    plat::Time now = plat::getMonoTime();
    if (now >= deadline)
      return false;
    int ms = (int)((deadline - now + plat::kTicksPerMilli - 1) / plat::kTicksPerMilli);
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    plat::selectWithTimeout(fd + 1, &fds, nullptr, nullptr, &ms, false);
    if (XCheckTypedWindowEvent(dpy, win_, type, ev))
      return true;
  }
}

void TXWindow::selectionReceived(const XSelectionEvent*, PropertyData* data)
{
  received_.clear();
  if (!data || !data->valid() || data->format != 8)
    return;
  const int n = (int)data->items;
  if (data->actualType == XA_STRING) {
    plat::MBuf<unsigned char> utf8 = plat::latin1ToUtf8Buf(n, data->data);
    utf8.setSecure(wipe_);
    storeText(received_, reinterpret_cast<const char*>(utf8.data()), utf8.length());
  } else if (data->actualType == xa::UTF8_STRING()) {
    const char* s = reinterpret_cast<const char*>(data->data);
    plat::String clean = plat::utf8Sanitise(s, s + n, -1);
    storeText(received_, clean.get(), (int)strlen(clean.get()));
    if (wipe_)
      plat::secureZero(const_cast<char*>(clean.get()), strlen(clean.get()));
  }
}

bool TXWindow::convertSelection(Window requestor, Atom, Atom property, Atom target)
{
  if (!offered_.length())
    return false;
  const int len = offered_.length() - 1;
  if (target == XA_STRING) {
    plat::MBuf<unsigned char> latin1 = plat::utf8ToLatin1Buf(len, offered_.data());
    latin1.setSecure(wipe_);
    setProperty(requestor, property, XA_STRING, 8, latin1.data(), latin1.length());
  } else {
    setProperty(requestor, property, xa::UTF8_STRING(), 8, offered_.data(), len);
  }
  return true;
}

void TXWindow::handleSelectionRequest(const XSelectionRequestEvent& req)
{
  XEvent reply;
  memset(&reply, 0, sizeof(reply));
  XSelectionEvent& ev = reply.xselection;
  ev.type = SelectionNotify;
  ev.display = display();
  ev.requestor = req.requestor;
  ev.selection = req.selection;
  ev.target = req.target;
  ev.time = req.time;
  ev.property = req.property ? req.property : req.target;
  // The requestor may be gone by now: its window is another client's.
  try {
    ErrorCatcher catcher;
    auto owned = ownedSelections_.find(req.selection);
    if (owned == ownedSelections_.end()) {
      ev.property = None;
    } else if (req.target == xa::TARGETS()) {
      long targets[3] = {(long)xa::TIMESTAMP(), (long)xa::UTF8_STRING(), (long)XA_STRING};
      setProperty(req.requestor, ev.property, XA_ATOM, 32, targets, 3);
    } else if (req.target == xa::TIMESTAMP()) {
      long time = (long)owned->second;
      setProperty(req.requestor, ev.property, XA_INTEGER, 32, &time, 1);
    } else if (req.target == xa::UTF8_STRING() || req.target == XA_STRING) {
      if (!convertSelection(req.requestor, req.selection, ev.property, req.target))
        ev.property = None;
    } else {
      ev.property = None;
    }
    XSendEvent(display(), req.requestor, False, 0, &reply);
    catcher.check("Answering a selection request");
  } catch (XErrorException& e) {
    vlogWindow.status("Selection request from 0x%lx not answered: %s", req.requestor, e.str());
  }
}

void TXWindow::handleSelectionNotify(const XSelectionEvent& ev)
{
  if (ev.property == None) {
    selectionReceived(&ev, nullptr);
    return;
  }
  PropertyData data(win_, ev.property, 0, true, kWholeProperty);
  if (data.valid() && data.actualType == xa::INCR()) {
    vlogWindow.status("Ignoring large selection - replacing with empty string");
    incrProperty_ = ev.property;
    selectionReceived(&ev, nullptr);
    return;
  }
  selectionReceived(&ev, &data);
  if (wipe_ && data.data && data.format == 8)
    plat::secureZero(data.data, data.items);
}

} // namespace tx
