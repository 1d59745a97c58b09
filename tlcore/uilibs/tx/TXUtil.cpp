#include "tx/TXUtil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "os/env.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "tx/TXContext.h"
#include "tx/TXEvents.h"
#include "tx/TXFontOpen.h"
#include "tx/TXWindow.h"

namespace tx {

plat::BoolParameter owncmap("owncmap",
                            "Use a private colormap rather than the default one, to prevent other "
                            "applications of being starved of colors.",
                            false);
plat::BoolParameter xsync("xsync", "Enable X synchronization for debugging", false);
plat::IntParameter wmDecorationWidth("WMDecorationWidth",
                                     "Width of window manager decoration around a window", 6,
                                     plat::ParamLevel::kBasic, nullptr, 0, 2147483647);
plat::IntParameter wmDecorationHeight("WMDecorationHeight",
                                      "Height of window manager decoration around a window", 24,
                                      plat::ParamLevel::kBasic, nullptr, 0, 2147483647);
plat::IntParameter
    colorCubeSize("ColorCubeSize",
                  "Size of NxNxN color cube to allocate for colormapped displays (2 to 6)", 4,
                  plat::ParamLevel::kBasic, nullptr, 2, 6);
plat::BoolParameter debugEvents("_DebugEvents", "", false);
plat::BoolParameter noGrab("_NoGrab", "", false);

static plat::LogSrc vlogCatcher("ErrorCatcher");

DisplayContext& ctx()
{
  // Never freed: see TXContext.h.
  static DisplayContext* c = new DisplayContext;
  return *c;
}

// --- The connection ---------------------------------------------------------------

namespace {

// Xlib keeps what it has interned: asking for all of the layer's atoms in
// one round trip lets each getter's own first XInternAtom answer at once
// (and Xlib's own, when a top-level window gets its properties).
void warmAtomCache(Display* dpy)
{
#define TX_ATOM_NAME(fn, name) const_cast<char*>(name),
  char* names[] = {TX_ATOMS(TX_ATOM_NAME) const_cast<char*>("WM_LOCALE_NAME")};
#undef TX_ATOM_NAME
  Atom atoms[sizeof names / sizeof *names];
  XInternAtoms(dpy, names, (int)(sizeof names / sizeof *names), False, atoms);
}

} // namespace

void openDisplay(const char* name)
{
  DisplayContext& c = ctx();
  if (c.dpy)
    return;
  if (name && *name)
    os::setEnv("DISPLAY", name);
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    os::setEnv("XAUTHLOCALHOSTNAME", "localhost");
    dpy = XOpenDisplay(nullptr);
    if (!dpy)
      throw plat::Exception(1, "unable to open display \"%s\"", XDisplayName(nullptr));
  }
  c.dpy = dpy;
  if (xsync)
    XSynchronize(dpy, True);
  int screen = DefaultScreen(dpy);
  c.root = RootWindow(dpy, screen);
  c.cmap = owncmap ? XCreateColormap(dpy, c.root, DefaultVisual(dpy, screen), AllocNone)
                   : DefaultColormap(dpy, screen);
  warmAtomCache(dpy);

  static const unsigned short levels[kGreyCount] = {0x0000, 0xBBBB, 0xEEEE, 0x5555, 0x8888, 0xFFFF};
  XColor greys[kGreyCount];
  for (int i = 0; i < kGreyCount; i++) {
    greys[i].red = greys[i].green = greys[i].blue = levels[i];
    greys[i].flags = DoRed | DoGreen | DoBlue;
  }
  allocColours(greys, kGreyCount);
  for (int i = 0; i < kGreyCount; i++)
    c.greys[i] = greys[i].pixel;

  c.gc = XCreateGC(dpy, c.root, 0, nullptr);
  XSetForeground(dpy, c.gc, c.greys[kGrey0000]);
  XSetBackground(dpy, c.gc, c.greys[kGreyBBBB]);

  registerCutBufferTracker();
  unsigned char map[8];
  c.pointerButtons = std::min(XGetPointerMapping(dpy, map, 8), 8);
}

namespace {

class FontLater : public plat::Timer::Callback {
public:
  bool timerExpired(plat::Timer*) override
  {
    finishOpenDisplay();
    return false;
  }
};

} // namespace

void imagePut()
{
  DisplayContext& c = ctx();
  if (c.font || c.fontTimer)
    return;
  static FontLater later;
  c.fontTimer = std::make_unique<plat::Timer>(&later);
  if (plat::TimerManager::current())
    c.fontTimer->start(kCoreFontDelayMs);
  else
    finishOpenDisplay();
}

void finishOpenDisplay()
{
  DisplayContext& c = ctx();
  if (!c.dpy || c.font)
    return;
  if (c.fontTimer)
    c.fontTimer->stop();
  c.font = loadCoreFont(c.dpy, "-*-helvetica-medium-r-*-*-12-*-*-*-*-*-*-*");
  if (!c.font)
    c.font = XLoadQueryFont(c.dpy, "fixed");
  if (!c.font) {
    fputs("Failed to load any font\n", stderr);
    exit(1);
  }
  XSetFont(c.dpy, c.gc, c.font->fid);
}

Display* display() { return ctx().dpy; }
Window rootWindow() { return ctx().root; }
Colormap colormap() { return ctx().cmap; }
unsigned long greyPixel(Grey grey) { return ctx().greys[grey]; }
GC defaultGC() { return ctx().gc; }
XFontStruct* defaultFont()
{
  finishOpenDisplay();
  return ctx().font;
}
int pointerButtons() { return ctx().pointerButtons; }
Time lastServerTime() { return ctx().lastServerTime; }

// --- Colours ----------------------------------------------------------------------------

namespace {

// On a TrueColor visual whose channels keep as many bits as the server
// keeps per value, the server's answer to XAllocColor is known without
// asking: each value cut to its channel's bits, spread back over 16 bits.
// False (nothing set) on any other visual.
bool trueColourPixels(Display* dpy, XColor* colours, int count)
{
  const Visual* v = DefaultVisual(dpy, DefaultScreen(dpy));
  const unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
  if (v->c_class != TrueColor)
    return false;
  for (unsigned long m : masks)
    if (!m || __builtin_popcountl(m) != v->bits_per_rgb || v->bits_per_rgb > 16)
      return false;
  for (int i = 0; i < count; i++) {
    unsigned short* values[3] = {&colours[i].red, &colours[i].green, &colours[i].blue};
    unsigned long pixel = 0;
    for (int c = 0; c < 3; c++) {
      const int bits = __builtin_popcountl(masks[c]);
      const unsigned long value = *values[c] >> (16 - bits);
      pixel |= value << __builtin_ctzl(masks[c]);
      *values[c] = (unsigned short)(value * 65535 / ((1ul << bits) - 1));
    }
    colours[i].pixel = pixel;
  }
  return true;
}

} // namespace

void allocColours(XColor* colours, int count)
{
  Display* dpy = display();
  Colormap cmap = colormap();
  if (trueColourPixels(dpy, colours, count))
    return;
  std::vector<int> failed;
  for (int i = 0; i < count; i++)
    if (!XAllocColor(dpy, cmap, &colours[i]))
      failed.push_back(i);
  if (failed.empty())
    return;

  const int n = DefaultVisual(dpy, DefaultScreen(dpy))->map_entries;
  std::vector<XColor> cells(n);
  for (int i = 0; i < n; i++) {
    cells[i].pixel = (unsigned long)i;
    cells[i].flags = DoRed | DoGreen | DoBlue;
  }
  XQueryColors(dpy, cmap, cells.data(), n);
  // A cell is ours to use when allocating its own colour gives that cell.
  std::vector<char> ours(n), used(n);
  for (int i = n - 1; i >= 0; i--) {
    XColor c = cells[i];
    if (!XAllocColor(dpy, cmap, &c))
      continue;
    if (c.pixel == (unsigned long)i)
      ours[i] = 1;
    else
      XFreeColors(dpy, cmap, &c.pixel, 1, 0);
  }
  for (int f : failed) {
    XColor& want = colours[f];
    int best = -1;
    long long bestDist = std::numeric_limits<long long>::max();
    for (int i = 0; i < n; i++) {
      if (!ours[i])
        continue;
      long long dr = ((int)want.red - (int)cells[i].red) / 2, dg = ((int)want.green - (int)cells[i].green) / 2,
                db = ((int)want.blue - (int)cells[i].blue) / 2;
      long long dist = dr * dr + dg * dg + db * db;
      if (dist < bestDist) {
        bestDist = dist;
        best = i;
      }
    }
    want.pixel = best < 0 ? 0 : (unsigned long)best;
    if (best >= 0) {
      used[best] = 1;
      want.red = cells[best].red;
      want.green = cells[best].green;
      want.blue = cells[best].blue;
    }
  }
  std::vector<unsigned long> unused;
  for (int i = 0; i < n; i++)
    if (ours[i] && !used[i])
      unused.push_back((unsigned long)i);
  if (!unused.empty())
    XFreeColors(dpy, cmap, unused.data(), (int)unused.size(), 0);
}

rfb::Point getWMDecorationSize() { return rfb::Point(wmDecorationWidth, wmDecorationHeight); }

static bool allDigits(const char* s, const char* end)
{
  if (s == end)
    return false;
  for (; s < end; s++)
    if (*s < '0' || *s > '9')
      return false;
  return true;
}

int parseDisplayNumber(const char* name, int def)
{
  const char* colon = name ? strchr(name, ':') : nullptr;
  if (!colon)
    return def;
  const char* start = colon + 1;
  const char* dot = strchr(start, '.');
  const char* end = dot ? dot : start + strlen(start);
  if (!allDigits(start, end) || end - start > 9)
    return def;
  return atoi(start);
}

int displayNumber()
{
  if (!display())
    return -1;
  return parseDisplayNumber(DisplayString(display()), -1);
}

int getPixmapFormat(int depth, int* scanlinePad)
{
  int n = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display(), &n);
  int bpp = 0;
  for (int i = 0; i < n; i++) {
    if (formats[i].depth == depth) {
      bpp = formats[i].bits_per_pixel;
      if (scanlinePad)
        *scanlinePad = formats[i].scanline_pad;
      break;
    }
  }
  if (formats)
    XFree(formats);
  if (bpp < 1 || bpp > 32 || bpp % 8)
    throw plat::Exception("Error: couldn't find suitable pixmap format");
  return bpp;
}

rfb::PixelFormat nativePixelFormat(Visual* visual, int depth)
{
  rfb::PixelFormat pf;
  pf.bpp = (uint8_t)getPixmapFormat(depth, nullptr);
  pf.depth = (uint8_t)depth;
  pf.bigEndian = ImageByteOrder(display()) == MSBFirst;
  pf.trueColour = visual->c_class == TrueColor || visual->c_class == DirectColor;
  if (pf.trueColour) {
    auto channel = [](unsigned long mask, uint16_t* max, uint8_t* shift) {
      *shift = mask ? (uint8_t)__builtin_ctzl(mask) : 255;
      *max = mask ? (uint16_t)(mask >> *shift) : 0;
    };
    channel(visual->red_mask, &pf.redMax, &pf.redShift);
    channel(visual->green_mask, &pf.greenMax, &pf.greenShift);
    channel(visual->blue_mask, &pf.blueMax, &pf.blueShift);
    pf.alphaMax = 0;
    pf.alphaShift = 0;
  } else {
    if (depth != 8 || pf.bpp != 8)
      throw plat::Exception(1, "Unsupported palettized visual depth %d", depth);
    pf.redMax = pf.greenMax = pf.blueMax = pf.alphaMax = 0;
    pf.redShift = pf.greenShift = pf.blueShift = pf.alphaShift = 0;
  }
  return pf;
}

int imageStride(int width, int bpp, int pad)
{
  const int unit = pad / std::gcd(pad, bpp);
  return (width + unit - 1) / unit * unit;
}

rfb::Point getPointerPosition()
{
  Window rootRet, child;
  int rx, ry, wx, wy;
  unsigned int mask;
  if (!XQueryPointer(display(), rootWindow(), &rootRet, &child, &rx, &ry, &wx, &wy, &mask))
    return rfb::Point(-1, -1);
  return rfb::Point(rx, ry);
}

GC createGC(Drawable drawable)
{
  XGCValues values;
  values.subwindow_mode = IncludeInferiors;
  values.graphics_exposures = False;
  return XCreateGC(display(), drawable, GCSubwindowMode | GCGraphicsExposures, &values);
}

Time getServerTime()
{
  DisplayContext& c = ctx();
  if (!c.timeWindow)
    c.timeWindow = new TXWindow(1, 1, nullptr, 0, false, true);
  Window w = c.timeWindow->window();
  XChangeProperty(c.dpy, w, xa::TIMESTAMP(), XA_CARDINAL, 32, PropModeAppend, nullptr, 0);
  XSync(c.dpy, False);
  XEvent ev;
  bool gotTime = XCheckTypedWindowEvent(c.dpy, w, PropertyNotify, &ev);
  PLAT_ASSERT(gotTime);
  return ev.xproperty.time;
}

// --- Atoms -----------------------------------------------------------------------------

const char* atomName(Atom atom)
{
  DisplayContext& c = ctx();
  auto it = c.atomNames.find(atom);
  if (it != c.atomNames.end())
    return it->second.c_str();
  std::string name;
  {
    ErrorCatcher catcher;
    char* n = XGetAtomName(c.dpy, atom);
    if (n) {
      name = n;
      XFree(n);
    }
  }
  return c.atomNames.emplace(atom, name).first->second.c_str();
}

namespace xa {
#define TX_DEFINE_ATOM(fn, name)                                                                   \
  Atom fn()                                                                                        \
  {                                                                                                \
    static Atom a = XInternAtom(display(), name, False);                                           \
    return a;                                                                                      \
  }
TX_ATOMS(TX_DEFINE_ATOM)
#undef TX_DEFINE_ATOM
} // namespace xa

// --- Properties and messages --------------------------------------------------------------

bool firstCardinal(Atom actualType, int format, unsigned long items, const unsigned char* data, Atom type,
                   unsigned long* value)
{
  if (actualType == None || (type && actualType != type) || format != 32 || items < 1 || !data)
    return false;
  *value = (unsigned long)reinterpret_cast<const long*>(data)[0];
  return true;
}

bool getCardinalProperty(Window window, Atom property, Atom type, unsigned long* value)
{
  PropertyData prop(window, property, type, false);
  return prop.valid() && firstCardinal(prop.actualType, prop.format, prop.items, prop.data, type, value);
}

PropertyData::PropertyData(Window window, Atom property, Atom type, bool deleteIt, long maxLength)
{
  int status = XGetWindowProperty(display(), window, property, 0, maxLength, deleteIt ? True : False,
                                  AnyPropertyType, &actualType, &format, &items, &bytesAfter, &data);
  valid_ = status == Success && actualType != None && (type == 0 || actualType == type);
}

PropertyData::~PropertyData()
{
  if (data)
    XFree(data);
}

void setProperty(Window window, Atom property, Atom type, int format, const void* data, int count)
{
  XChangeProperty(display(), window, property, type, format, PropModeReplace,
                  static_cast<const unsigned char*>(data), count);
}

void sendEvent(Window destination, long mask, Window window, Atom messageType, long l0, long l1, long l2, long l3,
               long l4)
{
  XEvent ev;
  memset(&ev, 0, sizeof(ev));
  ev.xclient.type = ClientMessage;
  ev.xclient.send_event = True;
  ev.xclient.display = display();
  ev.xclient.window = window;
  ev.xclient.message_type = messageType;
  ev.xclient.format = 32;
  long l[5] = {l0, l1, l2, l3, l4};
  for (int i = 0; i < 5; i++)
    ev.xclient.data.l[i] = l[i];
  XSendEvent(display(), destination, False, mask, &ev);
}

void sendClientMessage(Window window, Atom messageType, long l0, long l1, long l2, long l3, long l4)
{
  sendEvent(rootWindow(), SubstructureRedirectMask | SubstructureNotifyMask, window, messageType, l0, l1, l2, l3,
            l4);
}

// --- Window trees ------------------------------------------------------------------------

EnumWindowsCallback::~EnumWindowsCallback() = default;

static std::vector<Window> childrenOf(Window w)
{
  Window rootRet, parent;
  Window* children = nullptr;
  unsigned int n = 0;
  std::vector<Window> out;
  if (XQueryTree(display(), w, &rootRet, &parent, &children, &n) && children)
    out.assign(children, children + n);
  if (children)
    XFree(children);
  return out;
}

// Depth first, each subtree before the next sibling, children in the order
// XQueryTree lists them (bottom of the stack first) or reversed. visit (w,
// &descend) answers false to stop. Another client's tree may be deep or
// wide: the walk keeps its own stack, visits at most kMaxWalkWindows windows
// and never holds more ids than it could still visit.
template <typename Visit> static bool walkTree(Window top, bool topmostFirst, Visit visit)
{
  std::vector<Window> todo; // the next one last
  bool cut = false;
  auto push = [&](Window w, int budget) {
    std::vector<Window> children = childrenOf(w);
    if (topmostFirst)
      todo.insert(todo.end(), children.begin(), children.end());
    else
      todo.insert(todo.end(), children.rbegin(), children.rend());
    if ((int)todo.size() > budget) {
      todo.erase(todo.begin(), todo.end() - budget);
      cut = true;
    }
  };
  push(top, kMaxWalkWindows);
  for (int visited = 1; !todo.empty(); visited++) {
    const Window w = todo.back();
    todo.pop_back();
    bool descend = false;
    if (!visit(w, &descend))
      return false;
    if (descend)
      push(w, kMaxWalkWindows - visited);
  }
  return !cut;
}

bool enumWindows(EnumWindowsCallback* callback, Window window, bool recursive)
{
  ErrorCatcher catcher;
  return walkTree(window ? window : rootWindow(), false, [&](Window w, bool* descend) {
    *descend = recursive;
    return callback->window(w);
  });
}

void sortByStacking(std::vector<Window>& windows)
{
  std::vector<Window> wanted = windows, found;
  ErrorCatcher catcher;
  walkTree(rootWindow(), true, [&](Window w, bool* descend) {
    auto at = std::find(wanted.begin(), wanted.end(), w);
    if (at != wanted.end()) {
      found.push_back(w);
      wanted.erase(at);
    }
    XWindowAttributes attrs;
    *descend = !wanted.empty() && XGetWindowAttributes(display(), w, &attrs) && attrs.map_state == IsViewable;
    return !wanted.empty();
  });
  windows = found;
}

// --- X errors --------------------------------------------------------------------------------

XErrorException::XErrorException(int code, const char* text) : code_(code)
{
  setType("XError");
  char msg[kMessageSize] = "";
  plat::strCat(msg, sizeof(msg), text);
  if (msg[0])
    plat::strCat(msg, sizeof(msg), ": ");
  size_t len = strlen(msg);
  if (display())
    XGetErrorText(display(), code, msg + len, (int)(sizeof(msg) - len));
  char tail[16];
  snprintf(tail, sizeof(tail), " (%d)", code);
  plat::strCat(msg, sizeof(msg), tail);
  setMessage(msg);
}

void syncIfPending()
{
  Display* dpy = display();
  if (dpy && NextRequest(dpy) - 1 > LastKnownRequestProcessed(dpy))
    XSync(dpy, False);
}

ErrorCatcher::ErrorCatcher(int level) : level_(level)
{
  syncIfPending();
  previous_ = ctx().catcher;
  ctx().catcher = this;
  previousHandler_ = XSetErrorHandler(handler);
}

ErrorCatcher::~ErrorCatcher()
{
  ErrorCatcher* curr = ctx().catcher;
  PLAT_ASSERT(curr == this);
  if (syncOnExit_)
    syncIfPending();
  ctx().catcher = previous_;
  XSetErrorHandler(previousHandler_);
}

int ErrorCatcher::handler(Display*, XErrorEvent* ev)
{
  ErrorCatcher* c = ctx().catcher;
  if (!c)
    return 0;
  c->code_ = ev->error_code;
  XErrorException e(ev->error_code, "X Error");
  vlogCatcher.log(c->level_, "%s", e.str());
  return 0;
}

void ErrorCatcher::check(const char* text, bool syncOnExit)
{
  syncIfPending();
  syncOnExit_ = syncOnExit;
  if (code_)
    throw XErrorException(code_, text);
}

// --- Shared memory ----------------------------------------------------------------------------

void shmAttach(XShmSegmentInfo* info, int shmid, char* address)
{
  info->shmid = shmid;
  info->shmaddr = address;
  info->readOnly = False;
  ErrorCatcher catcher;
  XShmAttach(display(), info);
  catcher.check("XShmAttach failed");
}

void shmDetach(XShmSegmentInfo* info)
{
  XShmDetach(display(), info);
  XSync(display(), False);
}

Pixmap shmCreatePixmap(XShmSegmentInfo* info, int width, int height, int depth)
{
  if (XShmPixmapFormat(display()) != ZPixmap)
    throw plat::Exception("XShmPixmapFormat != ZPixmap");
  return XShmCreatePixmap(display(), rootWindow(), info->shmaddr, info, (unsigned)width, (unsigned)height,
                          (unsigned)depth);
}

XImage* shmCreateImage(Visual* visual, int depth, XShmSegmentInfo* info, int width, int height)
{
  return XShmCreateImage(display(), visual, (unsigned)depth, ZPixmap, info->shmaddr, info, (unsigned)width,
                         (unsigned)height);
}

} // namespace tx
