// TXWindow's share of the selection protocol: offering text as PRIMARY
// and CLIPBOARD (and cut buffer 0), answering requests for it, and pasting
// another client's text with a bounded wait. Only text is exchanged.
#include <errno.h>
#include <string.h>
#include <sys/select.h>

#include <algorithm>

#include "plat/Select.h"
#include "plat/Time.h"
#include "plat/utf8.h"
#include "tx/TXContext.h"
#include "tx/TXUtil.h"
#include "tx/TXWindow.h"

namespace tx {

// The most bytes one request can write into a property (ChangeProperty
// has 7 units of header with the big-requests length).
static size_t maxPropertyBytes()
{
  long units = XExtendedMaxRequestSize(display());
  if (!units)
    units = XMaxRequestSize(display());
  return units > 7 ? (size_t)(units - 7) * 4 : 0;
}

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
  // The server refuses more than one request carries, and Xlib's default
  // handler would end the process: such a text leaves the cut buffer alone.
  if ((size_t)latin1.length() <= maxPropertyBytes())
    XStoreBytes(display(), reinterpret_cast<const char*>(latin1.data()), latin1.length());
  else
    vlogWindow.status("Cut buffer 0 left alone: %d bytes are more than one request carries", latin1.length());
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
  converting_ = selection;
  convertingTarget_ = target;
  const plat::Time deadline = plat::getMonoTime() + (plat::Time)waitMs * plat::kTicksPerMilli;
  XEvent ev;
  for (;;) {
    const plat::Time left = std::max<plat::Time>(deadline - plat::getMonoTime(), 0);
    if (!waitForWindowEvent(SelectionNotify, (int)((left + plat::kTicksPerMilli - 1) / plat::kTicksPerMilli), &ev))
      break;
    // Other clients can send notifications too.
    if (handleSelectionNotify(ev.xselection))
      return true;
  }
  converting_ = None;
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

void selectionText(bool latin1, const unsigned char* data, int n, plat::MBuf<char>& out, bool wipe)
{
  if (latin1) {
    plat::MBuf<unsigned char> utf8 = plat::latin1ToUtf8Buf(n, data);
    utf8.setSecure(wipe);
    storeText(out, reinterpret_cast<const char*>(utf8.data()), utf8.length());
  } else {
    const char* s = reinterpret_cast<const char*>(data);
    plat::String clean = plat::utf8Sanitise(s, s + n, -1);
    storeText(out, clean.get(), (int)strlen(clean.get()));
    if (wipe)
      plat::secureZero(const_cast<char*>(clean.get()), strlen(clean.get()));
  }
}

void TXWindow::selectionReceived(const XSelectionEvent*, PropertyData* data)
{
  received_.clear();
  if (!data || !data->valid() || data->format != 8)
    return;
  if (data->actualType == XA_STRING || data->actualType == xa::UTF8_STRING())
    tx::selectionText(data->actualType == XA_STRING, data->data, (int)data->items, received_, wipe_);
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

bool TXWindow::handleSelectionNotify(const XSelectionEvent& ev)
{
  // Only the answer to the conversion this window asked for, in the
  // property it named (None: refused).
  if (converting_ == None || ev.requestor != win_ || ev.selection != converting_ || ev.target != convertingTarget_ ||
      (ev.property != None && ev.property != xa::SELECTION_STRING()))
    return false;
  converting_ = None;
  if (ev.property == None) {
    selectionReceived(&ev, nullptr);
    return true;
  }
  PropertyData data(win_, ev.property, 0, true, kMaxSelectionBytes / 4);
  if (data.valid() && data.actualType == xa::INCR()) {
    vlogWindow.status("Ignoring large selection - replacing with empty string");
    incrProperty_ = ev.property;
    incrBytes_ = 0;
    selectionReceived(&ev, nullptr);
    return true;
  }
  if (data.bytesAfter) {
    // Deleting with the read only happens when all was read.
    XDeleteProperty(display(), win_, ev.property);
    vlogWindow.status("Ignoring selection of more than %d bytes", kMaxSelectionBytes);
    selectionReceived(&ev, nullptr);
    return true;
  }
  selectionReceived(&ev, &data);
  if (wipe_ && data.data && data.format == 8)
    plat::secureZero(data.data, data.items);
  return true;
}

void TXWindow::readIncrChunk()
{
  const long left = kMaxSelectionBytes - incrBytes_;
  PropertyData chunk(win_, incrProperty_, 0, true, left / 4);
  if (!chunk.valid())
    return;
  if (chunk.bytesAfter) {
    vlogWindow.status("Abandoning a selection transfer of more than %d bytes", kMaxSelectionBytes);
    incrProperty_ = None;
    return;
  }
  incrBytes_ += (long)chunk.items * (chunk.format / 8);
  if (chunk.items == 0)
    incrProperty_ = None;
}

} // namespace tx
