#include "tx/TXWindow.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "os/AppInfo.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"
#include "plat/utf8.h"
#include "tx/TXContext.h"
#include "tx/TXEvents.h"
#include "tx/TXUtil.h"

namespace tx {

extern plat::BoolParameter noGrab;

plat::LogSrc vlogWindow("TXWindow");

static constexpr int kMaxSize = 32767;

static int clampSize(int v) { return std::max(1, std::min(v, kMaxSize)); }

TXDeleteWindowCallback::~TXDeleteWindowCallback() = default;

// --- Creation and destruction ------------------------------------------------------

TXWindow::TXWindow(int width, int height, TXWindow* parent, int borderWidth, bool overrideRedirect, bool createNow)
  : width_(clampSize(width)), height_(clampSize(height)), overrideRedirect_(overrideRedirect)
{
  memset(&sizeHints_, 0, sizeof(sizeHints_));
  memset(&wmHints_, 0, sizeof(wmHints_));
  if (createNow)
    createWindow(parent, borderWidth, greyPixel(kGreyBBBB), colormap(), 0, nullptr);
}

void TXWindow::createWindow(TXWindow* parent, int borderWidth, unsigned long background, Colormap cmap, int depth,
                            Visual* visual)
{
  PLAT_ASSERT(!win_);
  XSetWindowAttributes attrs;
  attrs.background_pixel = background;
  attrs.border_pixel = 0;
  attrs.override_redirect = overrideRedirect_ ? True : False;
  attrs.colormap = cmap;
  win_ = XCreateWindow(display(), parent ? parent->win_ : rootWindow(), 0, 0, (unsigned)width_, (unsigned)height_,
                       (unsigned)borderWidth, depth ? depth : CopyFromParent, InputOutput,
                       visual ? visual : CopyFromParent,
                       CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWColormap, &attrs);
  if (parent) {
    XMapWindow(display(), win_);
    mapped_ = everMapped_ = true;
  }
  linkParent(parent);
  addEventMask(FocusChangeMask | PropertyChangeMask);
  ctx().windows[win_] = this;
}

void TXWindow::linkParent(TXWindow* parent)
{
  if (parent_)
    parent_->children_.erase(std::find(parent_->children_.begin(), parent_->children_.end(), this));
  parent_ = parent;
  if (parent)
    parent->children_.push_back(this);
}

void TXWindow::reparent(TXWindow* parent, int x, int y)
{
  linkParent(parent);
  XReparentWindow(display(), win_, parent ? parent->win_ : rootWindow(), x, y);
}

TXWindow::~TXWindow()
{
  alive_.markDestroyed();
  DisplayContext& c = ctx();
  if (wantPointerGrab_ || wantKeyboardGrab_) {
    wantPointerGrab_ = wantKeyboardGrab_ = false;
    c.grabList.erase(std::remove(c.grabList.begin(), c.grabList.end(), this), c.grabList.end());
    recomputeGrabs();
  }
  c.modalList.erase(std::remove(c.modalList.begin(), c.modalList.end(), this), c.modalList.end());
  for (auto it = c.selectionOwners.begin(); it != c.selectionOwners.end();)
    it = it->second == this ? c.selectionOwners.erase(it) : std::next(it);
  // Destroying our X window would destroy theirs under them.
  while (!children_.empty()) {
    children_.back()->unmap();
    children_.back()->reparent(nullptr, 0, 0);
  }
  linkParent(nullptr);
  if (win_) {
    c.windows.erase(win_);
    XDestroyWindow(display(), win_);
  }
  offered_.clear();
  received_.clear();
}

// --- Window-manager properties ---------------------------------------------------------

static const char* applicationClass()
{
  std::string& cls = ctx().appClass;
  if (cls.empty()) {
    plat::String company(os::AppInfo::getCompanyName(true));
    company.toLower();
    cls = std::string(company.get()) + "-" + os::AppInfo::getAppName(true);
  }
  return cls.c_str();
}

void TXWindow::setWMProperties(const char* name, TXDeleteWindowCallback* callback, const char* className)
{
  managed_ = true;
  if (overrideRedirect_)
    setOverrideRedirect(false);
  memset(&wmHints_, 0, sizeof(wmHints_));
  wmHints_.flags = InputHint | StateHint;
  wmHints_.input = True;
  wmHints_.initial_state = NormalState;
  XClassHint classHint;
  std::string instance(name ? name : "");
  std::string cls(className ? className : applicationClass());
  classHint.res_name = &instance[0];
  classHint.res_class = &cls[0];
  XSetWMProperties(display(), win_, nullptr, nullptr, nullptr, 0, &sizeHints_, &wmHints_, &classHint);
  setName(name);
  Atom protocols[2] = {xa::WM_TAKE_FOCUS(), xa::WM_DELETE_WINDOW()};
  deleteCallback_ = callback;
  XSetWMProtocols(display(), win_, protocols, callback ? 2 : 1);
  addEventMask(StructureNotifyMask);
  long pid = getpid();
  setProperty(win_, xa::NET_WM_PID(), XA_CARDINAL, 32, &pid, 1);
  const std::vector<long>& icon = ctx().defaultIcon;
  if (!icon.empty())
    setProperty(win_, xa::NET_WM_ICON(), XA_CARDINAL, 32, icon.data(), (int)icon.size());
}

void TXWindow::setName(const char* name)
{
  if (!name)
    name = "";
  // Titles are set again with every retitle; an unchanged one costs nothing.
  if (nameSet_ && name_ == name)
    return;
  name_ = name;
  nameSet_ = true;
  plat::String latin1;
  plat::utf8ToLatin1(latin1, name, -1, nullptr);
  XStoreName(display(), win_, latin1.get());
  XSetIconName(display(), win_, latin1.get());
  int len = (int)strlen(name);
  setProperty(win_, xa::NET_WM_NAME(), xa::UTF8_STRING(), 8, name, len);
  setProperty(win_, xa::NET_WM_ICON_NAME(), xa::UTF8_STRING(), 8, name, len);
}

void TXWindow::setSizeHints() { XSetWMNormalHints(display(), win_, &sizeHints_); }

void TXWindow::setMinSize(int w, int h)
{
  sizeHints_.flags &= ~PMinSize;
  if (w && h) {
    sizeHints_.flags |= PMinSize;
    sizeHints_.min_width = w;
    sizeHints_.min_height = h;
  }
  setSizeHints();
}

void TXWindow::setMaxSize(int w, int h)
{
  sizeHints_.flags &= ~PMaxSize;
  if (w && h) {
    sizeHints_.flags |= PMaxSize;
    sizeHints_.max_width = w;
    sizeHints_.max_height = h;
  }
  setSizeHints();
}

void TXWindow::setFixedSize(bool fixed)
{
  fixedSize_ = fixed;
  if (fixed) {
    sizeHints_.flags |= PMinSize | PMaxSize;
    sizeHints_.min_width = sizeHints_.max_width = width_;
    sizeHints_.min_height = sizeHints_.max_height = height_;
  } else {
    sizeHints_.flags &= ~(PMinSize | PMaxSize);
  }
  setSizeHints();
}

void TXWindow::setInitialState(bool iconic)
{
  wmHints_.flags |= StateHint;
  wmHints_.initial_state = iconic ? IconicState : NormalState;
  writeWMHints();
}

void TXWindow::setUrgent(bool urgent)
{
  if (urgent)
    wmHints_.flags |= XUrgencyHint;
  else
    wmHints_.flags &= ~XUrgencyHint;
  writeWMHints();
}

void TXWindow::setInputHint(bool input)
{
  wmHints_.flags |= InputHint;
  wmHints_.input = input ? True : False;
  writeWMHints();
}

// Written whole from the window's own copy: the property is ours, and
// reading it back first would cost a round trip each time.
void TXWindow::writeWMHints() { XSetWMHints(display(), win_, &wmHints_); }

void TXWindow::setTransientFor(Window window)
{
  if (window == transientFor_)
    return;
  transientFor_ = window;
  if (!window)
    XDeleteProperty(display(), win_, XA_WM_TRANSIENT_FOR);
  else
    XSetTransientForHint(display(), win_, window);
}

void TXWindow::setMotifWmHints(const long values[5])
{
  setProperty(win_, xa::MOTIF_WM_HINTS(), xa::MOTIF_WM_HINTS(), 32, values, 5);
}

void TXWindow::changeNetWmState(int action, Atom atom1, Atom atom2)
{
  if (mapped_)
    sendClientMessage(win_, xa::NET_WM_STATE(), action, (long)atom1, (long)atom2);
}

bool TXWindow::isHidden(bool* hidden)
{
  PropertyData state(win_, xa::NET_WM_STATE(), XA_ATOM, false);
  if (state.valid() && state.format == 32) {
    *hidden = false;
    for (unsigned long i = 0; i < state.items; i++)
      *hidden |= (Atom)state.longs()[i] == xa::NET_WM_STATE_HIDDEN();
    return true;
  }
  unsigned long wmState;
  if (getCardinalProperty(win_, xa::WM_STATE(), xa::WM_STATE(), &wmState)) {
    *hidden = wmState != NormalState;
    return true;
  }
  return false;
}

// --- Events -------------------------------------------------------------------------------

void TXWindow::addEventMask(long bits)
{
  eventMask_ |= bits;
  XSelectInput(display(), win_, eventMask_);
}

void TXWindow::removeEventMask(long bits)
{
  eventMask_ &= ~bits;
  XSelectInput(display(), win_, eventMask_);
}

void TXWindow::addEventHandler(TXEventHandler* handler, bool add)
{
  handlers_.erase(std::remove(handlers_.begin(), handlers_.end(), handler), handlers_.end());
  for (std::vector<TXEventHandler*>* d : deliveries_)
    d->erase(std::remove(d->begin(), d->end(), handler), d->end());
  if (add)
    handlers_.push_back(handler);
}

void TXWindow::deliver(XEvent* ev)
{
  if (isDeleteWindow(ev) && deleteCallback_) {
    deleteCallback_->deleteWindow(this);
    return;
  }
  plat::DestroyGuard guard(alive_);
  switch (ev->type) {
  case FocusIn:
  case FocusOut:
    focused_ = ev->type == FocusIn;
    focusChanged();
    break;
  case MapNotify:
  case UnmapNotify:
    if (ev->xmap.window == win_) {
      mapped_ = ev->type == MapNotify;
      if (std::find(ctx().grabList.begin(), ctx().grabList.end(), this) != ctx().grabList.end())
        recomputeGrabs();
      mapChanged();
    }
    break;
  case ConfigureNotify:
    if (ev->xconfigure.window == win_) {
      const int w = width_, h = height_;
      for (XEvent later;; *ev = later) {
        // Sizes come from the server's own events (a window manager's
        // synthetic ones are for the position, and any client can send one).
        if (!ev->xconfigure.send_event)
          serverSize(ev->xconfigure.width, ev->xconfigure.height);
        if (!XCheckTypedWindowEvent(display(), win_, ConfigureNotify, &later))
          break;
      }
      configured();
      if ((w != width_ || h != height_) && !guard.destroyed())
        resized();
    }
    break;
  case PropertyNotify:
    if (incrProperty_ != None && ev->xproperty.atom == incrProperty_ && ev->xproperty.state == PropertyNewValue)
      readIncrChunk();
    break;
  case SelectionClear: {
    ownedSelections_.erase(ev->xselectionclear.selection);
    auto owner = ctx().selectionOwners.find(ev->xselectionclear.selection);
    if (owner != ctx().selectionOwners.end() && owner->second == this)
      ctx().selectionOwners.erase(owner);
    break;
  }
  case SelectionRequest:
    handleSelectionRequest(ev->xselectionrequest);
    break;
  case SelectionNotify:
    handleSelectionNotify(ev->xselection);
    break;
  case ClientMessage:
    if (mapped_ && ev->xclient.message_type == xa::WM_PROTOCOLS() &&
        (Atom)ev->xclient.data.l[0] == xa::WM_TAKE_FOCUS())
      takeFocus((Time)ev->xclient.data.l[1]);
    break;
  default:
    break;
  }
  if (guard.destroyed())
    return;

  std::vector<TXEventHandler*> pending = handlers_;
  deliveries_.push_back(&pending);
  while (!pending.empty()) {
    TXEventHandler* h = pending.back();
    pending.pop_back();
    if (h->handleEvent(ev) || guard.destroyed())
      break;
  }
  if (!guard.destroyed())
    deliveries_.erase(std::find(deliveries_.begin(), deliveries_.end(), &pending));
}

// --- Geometry -------------------------------------------------------------------------------

void TXWindow::setPosition(const rfb::Point& pos, bool move)
{
  sizeHints_.flags |= USPosition;
  sizeHints_.x = pos.x;
  sizeHints_.y = pos.y;
  setSizeHints();
  if (move)
    XMoveWindow(display(), win_, pos.x, pos.y);
}

void TXWindow::centreOnScreen()
{
  Display* dpy = display();
  int sw = DisplayWidth(dpy, DefaultScreen(dpy)), sh = DisplayHeight(dpy, DefaultScreen(dpy));
  setPosition(rfb::Point((sw - width_ - 10) / 2, (sh - height_ - 30) / 2));
}

void TXWindow::setGeometry(const char* geometry, const rfb::Rect& def)
{
  char defText[64];
  snprintf(defText, sizeof(defText), "%dx%d+%d+%d", def.width(), def.height(), def.topLeft.x, def.topLeft.y);
  int x = 0, y = 0, w = 0, h = 0, gravity = NorthWestGravity;
  XWMGeometry(display(), DefaultScreen(display()), geometry && *geometry ? geometry : nullptr, defText, 0,
              &sizeHints_, &x, &y, &w, &h, &gravity);
  sizeHints_.flags |= USPosition | PWinGravity;
  sizeHints_.x = x;
  sizeHints_.y = y;
  sizeHints_.win_gravity = gravity;
  setSizeHints();
  XMoveWindow(display(), win_, x, y);
  resize(w, h);
}

rfb::Point TXWindow::getRootOrigin()
{
  Window child;
  int x = 0, y = 0;
  XTranslateCoordinates(display(), win_, rootWindow(), 0, 0, &x, &y, &child);
  return rfb::Point(x, y);
}

void TXWindow::setSize(int w, int h)
{
  width_ = clampSize(w);
  height_ = clampSize(h);
}

void TXWindow::serverSize(int w, int h)
{
  const rfb::Point size(w, h);
  auto it = std::find(asked_.begin(), asked_.end(), size);
  if (it == asked_.end()) {
    // Imposed (by a window manager or another client).
    asked_.clear();
    setSize(w, h);
    return;
  }
  const bool latest = it + 1 == asked_.end();
  asked_.erase(asked_.begin(), it + 1);
  if (latest)
    setSize(w, h);
}

void TXWindow::resize(int w, int h)
{
  w = clampSize(w);
  h = clampSize(h);
  // A window manager may have resized a window once mapped: its size is
  // learnt first.
  if (everMapped_) {
    XSync(display(), False);
    XEvent ev;
    while (XCheckTypedWindowEvent(display(), win_, ConfigureNotify, &ev))
      if (!ev.xconfigure.send_event)
        serverSize(ev.xconfigure.width, ev.xconfigure.height);
  }
  if (w == width_ && h == height_)
    return;
  if (fixedSize_) {
    sizeHints_.flags &= ~(PMinSize | PMaxSize);
    setSizeHints();
  }
  XResizeWindow(display(), win_, (unsigned)w, (unsigned)h);
  if (asked_.size() == kMaxAsked)
    asked_.erase(asked_.begin());
  asked_.push_back(rfb::Point(w, h));
  width_ = w;
  height_ = h;
  plat::DestroyGuard guard(alive_);
  resized();
  if (fixedSize_ && !guard.destroyed())
    setFixedSize(true);
}

// --- Mapping, stacking and focus --------------------------------------------------------------

void TXWindow::map()
{
  XMapWindow(display(), win_);
  mapped_ = everMapped_ = true;
}

void TXWindow::unmap()
{
  XUnmapWindow(display(), win_);
  DisplayContext& c = ctx();
  c.modalList.erase(std::remove(c.modalList.begin(), c.modalList.end(), this), c.modalList.end());
  // A window never mapped has nothing to withdraw from a window manager.
  if (managed_ && !overrideRedirect_ && everMapped_) {
    XEvent ev;
    memset(&ev, 0, sizeof(ev));
    ev.xunmap.type = UnmapNotify;
    ev.xunmap.event = rootWindow();
    ev.xunmap.window = win_;
    ev.xunmap.from_configure = False;
    XSendEvent(display(), rootWindow(), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XSync(display(), False);
  }
  mapped_ = false;
  if (std::find(c.grabList.begin(), c.grabList.end(), this) != c.grabList.end())
    recomputeGrabs();
}

void TXWindow::remap()
{
  unmap();
  setInitialState(false);
  map();
}

void TXWindow::iconify()
{
  if (mapped_) {
    sendClientMessage(win_, xa::WM_CHANGE_STATE(), IconicState);
  } else {
    setInitialState(true);
    map();
  }
}

void TXWindow::setOverrideRedirect(bool overrideRedirect)
{
  overrideRedirect_ = overrideRedirect;
  XSetWindowAttributes attrs;
  attrs.override_redirect = overrideRedirect ? True : False;
  XChangeWindowAttributes(display(), win_, CWOverrideRedirect, &attrs);
}

void TXWindow::raiseAndActivate()
{
  XRaiseWindow(display(), win_);
  sendClientMessage(win_, xa::NET_ACTIVE_WINDOW(), 1, 0);
}

void TXWindow::restack(int stackMode)
{
  XWindowChanges changes;
  changes.stack_mode = stackMode;
  XConfigureWindow(display(), win_, CWStackMode, &changes);
}

void TXWindow::setFocus(Time time)
{
  if (!mapped_)
    return;
  ErrorCatcher catcher;
  XSetInputFocus(display(), win_, RevertToParent, time);
}

Window TXWindow::getActiveWindow()
{
  PropertyData active(rootWindow(), xa::NET_ACTIVE_WINDOW(), XA_WINDOW, false);
  if (!active.valid() || active.format != 32 || active.items < 1)
    return 0;
  return (Window)active.longs()[0];
}

void TXWindow::setDefaultIconData(const std::vector<long>& data) { ctx().defaultIcon = data; }

// --- Grabs and modality ----------------------------------------------------------------------

void TXWindow::setGrab(bool pointer, bool keyboard, Cursor cursor, bool keyboardOwnerEvents)
{
  DisplayContext& c = ctx();
  c.grabList.erase(std::remove(c.grabList.begin(), c.grabList.end(), this), c.grabList.end());
  wantPointerGrab_ = pointer;
  wantKeyboardGrab_ = keyboard;
  grabCursor_ = cursor;
  keyboardOwnerEvents_ = keyboardOwnerEvents;
  if (pointer || keyboard)
    c.grabList.push_back(this);
  recomputeGrabs();
}

void TXWindow::pushModal() { ctx().modalList.push_back(this); }

void recomputeGrabs()
{
  DisplayContext& c = ctx();
  TXWindow* pointer = nullptr;
  TXWindow* keyboard = nullptr;
  for (auto it = c.grabList.rbegin(); it != c.grabList.rend(); ++it) {
    if (!(*it)->isMapped())
      continue;
    if (!pointer && (*it)->wantsPointerGrab())
      pointer = *it;
    if (!keyboard && (*it)->wantsKeyboardGrab())
      keyboard = *it;
  }
  if (pointer != c.pointerOwner) {
    if (c.pointerOwner)
      XUngrabPointer(c.dpy, CurrentTime);
    c.pointerOwner = pointer;
    if (pointer && !noGrab) {
      int status = XGrabPointer(c.dpy, pointer->window(), True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                GrabModeAsync, GrabModeAsync, None, pointer->grabCursor_, CurrentTime);
      if (status != GrabSuccess)
        vlogWindow.status("XGrabPointer failed: %d", status);
    }
  }
  if (keyboard != c.keyboardOwner) {
    if (c.keyboardOwner)
      XUngrabKeyboard(c.dpy, CurrentTime);
    c.keyboardOwner = keyboard;
    if (keyboard && !noGrab) {
      int status = XGrabKeyboard(c.dpy, keyboard->window(), keyboard->keyboardOwnerEvents_ ? True : False,
                                 GrabModeAsync, GrabModeAsync, CurrentTime);
      if (status != GrabSuccess)
        vlogWindow.status("XGrabKeyboard failed: %d", status);
    }
  }
}

// --- Drawing ----------------------------------------------------------------------------------

void TXWindow::drawBevel(GC gc, int x, int y, int w, int h, int b, unsigned long fill, unsigned long light,
                         unsigned long dark)
{
  Display* dpy = display();
  if (w > 2 * b && h > 2 * b) {
    XSetForeground(dpy, gc, fill);
    XFillRectangle(dpy, win_, gc, x + b, y + b, (unsigned)(w - 2 * b), (unsigned)(h - 2 * b));
  }
  XSetForeground(dpy, gc, light);
  XFillRectangle(dpy, win_, gc, x, y, (unsigned)w, (unsigned)b);
  XFillRectangle(dpy, win_, gc, x, y, (unsigned)b, (unsigned)h);
  XSetForeground(dpy, gc, dark);
  for (int i = 0; i < b; i++) {
    if (w > i)
      XFillRectangle(dpy, win_, gc, x + i, y + h - 1 - i, (unsigned)(w - i), 1);
    if (h - 1 - i > 0)
      XFillRectangle(dpy, win_, gc, x + w - 1 - i, y + i + 1, 1, (unsigned)(h - 1 - i));
  }
}

// --- Window-manager queries --------------------------------------------------------------------

Window wmCheckWindow()
{
  unsigned long check = 0, self = 0;
  if (!getCardinalProperty(rootWindow(), xa::NET_SUPPORTING_WM_CHECK(), XA_WINDOW, &check) || !check)
    return 0;
  ErrorCatcher catcher;
  if (!getCardinalProperty((Window)check, xa::NET_SUPPORTING_WM_CHECK(), XA_WINDOW, &self) || self != check)
    return 0;
  return (Window)check;
}

bool wmRunning()
{
  if (wmCheckWindow())
    return true;
  XWindowAttributes attrs;
  return XGetWindowAttributes(display(), rootWindow(), &attrs) &&
         (attrs.all_event_masks & SubstructureRedirectMask);
}

bool wmSupports(Atom atom)
{
  if (!wmRunning())
    return false;
  PropertyData supported(rootWindow(), xa::NET_SUPPORTED(), XA_ATOM, false);
  if (!supported.valid() || supported.format != 32)
    return false;
  for (unsigned long i = 0; i < supported.items; i++)
    if ((Atom)supported.longs()[i] == atom)
      return true;
  return false;
}

rfb::Rect getWorkArea()
{
  Display* dpy = display();
  rfb::Rect screen(0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy)));
  unsigned long desktop = 0;
  if (!getCardinalProperty(rootWindow(), xa::NET_CURRENT_DESKTOP(), XA_CARDINAL, &desktop))
    desktop = 0;
  PropertyData area(rootWindow(), xa::NET_WORKAREA(), XA_CARDINAL, false);
  if (!area.valid() || area.format != 32 || desktop >= 0x10000 || area.items < 4 * (desktop + 1))
    return screen;
  const long* a = area.longs() + 4 * desktop;
  return rfb::Rect((int)a[0], (int)a[1], (int)(a[0] + a[2]), (int)(a[1] + a[3]));
}

bool isWMChangeEvent(const XEvent* ev)
{
  if (ev->type != PropertyNotify || ev->xproperty.window != rootWindow())
    return false;
  Atom a = ev->xproperty.atom;
  return a == xa::NET_SUPPORTED() || a == xa::NET_SUPPORTING_WM_CHECK() || a == xa::MIT_PRIORITY_COLORS() ||
         a == XInternAtom(display(), "RESOURCE_MANAGER", False) || a == xa::MOTIF_WM_INFO();
}

} // namespace tx
