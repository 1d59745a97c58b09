#include "tx/TXEvents.h"

#include <stdio.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>

#include "plat/ConfigParameter.h"
#include "tx/TXContext.h"
#include "tx/TXUtil.h"
#include "tx/TXWindow.h"

namespace tx {

extern plat::BoolParameter debugEvents;

TXEventHandler::~TXEventHandler() = default;

namespace {

const char* const kEventNames[] = {
  "Error",         "Reply",          "KeyPress",         "KeyRelease",     "ButtonPress",      "ButtonRelease",
  "MotionNotify",  "EnterNotify",    "LeaveNotify",      "FocusIn",        "FocusOut",         "KeymapNotify",
  "Expose",        "GraphicsExpose", "NoExpose",         "VisibilityNotify", "CreateNotify",   "DestroyNotify",
  "UnmapNotify",   "MapNotify",      "MapRequest",       "ReparentNotify", "ConfigureNotify",  "ConfigureRequest",
  "GravityNotify", "ResizeRequest",  "CirculateNotify",  "CirculateRequest", "PropertyNotify", "SelectionClear",
  "SelectionRequest", "SelectionNotify", "ColormapNotify", "ClientMessage", "MappingNotify",
};

void traceEvent(const XEvent* ev)
{
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  char when[32];
  size_t n = strftime(when, sizeof(when), "%H:%M:%S", &tm);
  snprintf(when + n, sizeof(when) - n, ".%03d", (int)(tv.tv_usec / 1000));
  char type[16];
  const char* name = type;
  if (ev->type >= 0 && ev->type <= 34)
    name = kEventNames[ev->type];
  else
    snprintf(type, sizeof(type), "%d", ev->type);
  char detail[64] = "";
  if (ev->type >= ButtonPress && ev->type <= LeaveNotify)
    snprintf(detail, sizeof(detail), "%d,%d", ev->xbutton.x, ev->xbutton.y);
  else if (ev->type == Expose)
    snprintf(detail, sizeof(detail), "%d,%d to %d,%d", ev->xexpose.x, ev->xexpose.y,
             ev->xexpose.x + ev->xexpose.width, ev->xexpose.y + ev->xexpose.height);
  else if (ev->type == ConfigureNotify)
    snprintf(detail, sizeof(detail), "%d,%d to %d,%d", ev->xconfigure.x, ev->xconfigure.y,
             ev->xconfigure.x + ev->xconfigure.width, ev->xconfigure.y + ev->xconfigure.height);
  fprintf(stderr, "%s %s window %lx %s\n", when, name, ev->xany.window, detail);
}

// Types 4 to 8 share the layout of a key event up to x and y.
bool buttonHeld(const XEvent* ev)
{
  return ev->xmotion.state & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

// The most recent mapped window in the grab list asking for that grab.
TXWindow* grabOwner(bool pointer)
{
  const std::vector<TXWindow*>& list = ctx().grabList;
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if ((pointer ? (*it)->wantsPointerGrab() : (*it)->wantsKeyboardGrab()) && (*it)->isMapped())
      return *it;
  return nullptr;
}

void redirect(XEvent* ev, TXWindow* to)
{
  Window child;
  int ox = 0, oy = 0;
  XTranslateCoordinates(display(), to->window(), rootWindow(), 0, 0, &ox, &oy, &child);
  // Key, button and motion events place window, x, y, x_root and y_root
  // alike.
  ev->xkey.window = to->window();
  ev->xkey.x = ev->xkey.x_root - ox;
  ev->xkey.y = ev->xkey.y_root - oy;
}

class CutBufferEventHandler : public TXEventHandler {
public:
  bool handleEvent(XEvent* ev) override
  {
    if (ev->type == PropertyNotify && ev->xproperty.atom == XA_CUT_BUFFER0)
      ctx().lastServerTime = ev->xproperty.time;
    return false;
  }
};

} // namespace

// --- Listeners -------------------------------------------------------------------

void addGlobalHandler(TXEventHandler* handler, bool add)
{
  DisplayContext& c = ctx();
  if (add) {
    c.globalHandlers.push_back(handler);
    return;
  }
  c.globalHandlers.erase(std::remove(c.globalHandlers.begin(), c.globalHandlers.end(), handler),
                         c.globalHandlers.end());
  for (InProgress<TXEventHandler*>* d : c.globalDispatches)
    d->pending.erase(std::remove(d->pending.begin(), d->pending.end(), handler), d->pending.end());
}

void addRootHandler(TXEventHandler* handler, bool add, long mask)
{
  DisplayContext& c = ctx();
  if (add) {
    c.rootHandlers[handler] = mask;
  } else {
    c.rootHandlers.erase(handler);
    for (std::set<TXEventHandler*>* d : c.rootDispatches)
      d->erase(handler);
  }
  long all = 0;
  for (const auto& h : c.rootHandlers)
    all |= h.second;
  XSelectInput(c.dpy, c.root, all);
}

void registerCutBufferTracker()
{
  static CutBufferEventHandler tracker;
  addRootHandler(&tracker, true, PropertyChangeMask);
}

bool isDeleteWindow(const XEvent* ev)
{
  return ev->type == ClientMessage && ev->xclient.message_type == xa::WM_PROTOCOLS() &&
         (Atom)ev->xclient.data.l[0] == xa::WM_DELETE_WINDOW();
}

bool haveFocus() { return ctx().focus; }

// --- The pump --------------------------------------------------------------------

void processEvents()
{
  Display* dpy = display();
  while (XPending(dpy)) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    dispatchEvent(&ev);
  }
}

void dispatchEvent(XEvent* ev)
{
  DisplayContext& c = ctx();
  if (debugEvents)
    traceEvent(ev);
  if (ev->type == MappingNotify) {
    XRefreshKeyboardMapping(&ev->xmapping);
    if (ev->xmapping.request == MappingPointer) {
      unsigned char map[8];
      c.pointerButtons = std::min(XGetPointerMapping(c.dpy, map, 8), 8);
    }
  }
  if (ev->type == FocusIn)
    c.focus = true;
  else if (ev->type == FocusOut)
    c.focus = false;

  {
    InProgress<TXEventHandler*> copy{c.globalHandlers};
    c.globalDispatches.push_back(&copy);
    while (!copy.pending.empty()) {
      TXEventHandler* h = copy.pending.front();
      copy.pending.erase(copy.pending.begin());
      h->handleEvent(ev);
    }
    c.globalDispatches.erase(std::find(c.globalDispatches.begin(), c.globalDispatches.end(), &copy));
  }

  if (ev->xany.window == c.root) {
    std::set<TXEventHandler*> pending;
    for (const auto& h : c.rootHandlers)
      pending.insert(h.first);
    c.rootDispatches.push_back(&pending);
    while (!pending.empty()) {
      TXEventHandler* h = *pending.begin();
      pending.erase(pending.begin());
      h->handleEvent(ev);
    }
    c.rootDispatches.erase(std::find(c.rootDispatches.begin(), c.rootDispatches.end(), &pending));
    return;
  }

  auto found = c.windows.find(ev->xany.window);
  if (found == c.windows.end())
    return;
  TXWindow* w = found->second;
  TXWindow* modal = c.modalList.empty() ? nullptr : c.modalList.back();
  const bool pointer = ev->type == ButtonPress || ev->type == ButtonRelease ||
                       (ev->type == MotionNotify && buttonHeld(ev));
  const bool key = ev->type == KeyPress || ev->type == KeyRelease;
  if (pointer || key) {
    // A window with a grab request of its own (a popup) gets its input.
    if (!(pointer ? w->wantsPointerGrab() : w->wantsKeyboardGrab())) {
      if (TXWindow* g = grabOwner(pointer)) {
        redirect(ev, g);
        w = g;
      } else if (modal && modal != w) {
        return;
      }
    }
  } else if (isDeleteWindow(ev) && modal && modal != w && !w->wantsPointerGrab()) {
    return;
  }
  w->deliver(ev);
}

} // namespace tx
