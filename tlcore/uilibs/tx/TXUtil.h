// The process's one X connection and the resources every window, image and
// selection of the layer shares: root, colormap, the six greys, one GC with
// one font, the pointer-button count and the cached atoms; property and
// client-message helpers; and ErrorCatcher, which turns X protocol errors
// inside its scope into exceptions.
//
// openDisplay opens the connection once; it is never closed while the
// process runs, and everything cached here lives until exit. Loop thread
// only. The accessors below read one display context; until openDisplay
// succeeds display() is null and the other accessors must not be used.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <vector>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/MBuf.h"
#include "rfb/PixelFormat.h"
#include "rfb/Rect.h"

namespace tx {

// --- The connection ----------------------------------------------------------

// Opens the display when none is open. A non-empty name is put in DISPLAY
// first. Throws plat::Exception "unable to open display ..." when no server
// answers (after one retry with XAUTHLOCALHOSTNAME=localhost).
void openDisplay(const char* name);
// Completes what openDisplay leaves for later: the core font, opened and
// queried here; exits with "Failed to load any font" when neither it nor
// "fixed" loads. Its lookup can hold the server up for milliseconds, which
// the first frame (and a compositor showing it) should not wait behind, so
// this runs kCoreFontDelayMs after the first image put on a thread with
// timers (at once without), or earlier when the font is asked for.
void finishOpenDisplay();
constexpr int kCoreFontDelayMs = 200;

Display* display();
Window rootWindow();
Colormap colormap();

// The greys allocated at open, in this order (16-bit components).
enum Grey { kGrey0000, kGreyBBBB, kGreyEEEE, kGrey5555, kGrey8888, kGreyFFFF, kGreyCount };
unsigned long greyPixel(Grey grey);
// Foreground the 0x0000 grey, background the 0xBBBB grey, the loaded font.
GC defaultGC();
XFontStruct* defaultFont();
int pointerButtons();
// Time of the last PropertyNotify of CUT_BUFFER0 seen on the root.
Time lastServerTime();

// --- Colours, formats and geometry ---------------------------------------------

// Read-only cells for every entry; a colour the map cannot hold takes the
// nearest cell this process can share (cells borrowed for the search and
// not chosen are freed again). On a TrueColor visual with as many bits a
// channel as the server keeps, the pixels are computed without a request.
void allocColours(XColor* colours, int count);
rfb::Point getWMDecorationSize();
// The display number of the open display, -1 when none is open.
int displayNumber();
// The number in a "host:display.screen" name; def when that part is not
// all decimal digits.
int parseDisplayNumber(const char* name, int def);
// Bits per pixel of the first pixmap format of that depth; throws when it
// is not a multiple of 8 in 1..32.
int getPixmapFormat(int depth, int* scanlinePad);
rfb::PixelFormat nativePixelFormat(Visual* visual, int depth);
// The smallest pixel count >= width whose row of bpp-bit pixels fills whole
// pad-bit scanline units.
int imageStride(int width, int bpp, int pad);
rfb::Point getPointerPosition();
GC createGC(Drawable drawable);

// The server's current time, from a property change on a hidden window.
Time getServerTime();

// --- Atoms -----------------------------------------------------------------------

// The atom's name, cached for the process.
const char* atomName(Atom atom);

// One getter per atom, interned on first use (the leading '_' of the
// _NET_ and _MOTIF_ names is dropped from the function's name).
namespace xa {
#define TX_ATOMS(X)                                                                                \
  X(WM_PROTOCOLS, "WM_PROTOCOLS")                                                                  \
  X(WM_DELETE_WINDOW, "WM_DELETE_WINDOW")                                                          \
  X(WM_TAKE_FOCUS, "WM_TAKE_FOCUS")                                                                \
  X(WM_CHANGE_STATE, "WM_CHANGE_STATE")                                                            \
  X(WM_STATE, "WM_STATE")                                                                          \
  X(TIMESTAMP, "TIMESTAMP")                                                                        \
  X(TARGETS, "TARGETS")                                                                            \
  X(SELECTION_STRING, "SELECTION_STRING")                                                          \
  X(CLIPBOARD, "CLIPBOARD")                                                                        \
  X(INCR, "INCR")                                                                                  \
  X(UTF8_STRING, "UTF8_STRING")                                                                    \
  X(NET_WM_NAME, "_NET_WM_NAME")                                                                   \
  X(NET_WM_ICON, "_NET_WM_ICON")                                                                   \
  X(NET_WM_ICON_NAME, "_NET_WM_ICON_NAME")                                                         \
  X(NET_WM_PID, "_NET_WM_PID")                                                                     \
  X(NET_WM_STATE, "_NET_WM_STATE")                                                                 \
  X(NET_WM_STATE_ABOVE, "_NET_WM_STATE_ABOVE")                                                     \
  X(NET_WM_STATE_HIDDEN, "_NET_WM_STATE_HIDDEN")                                                   \
  X(NET_WM_STATE_FULLSCREEN, "_NET_WM_STATE_FULLSCREEN")                                           \
  X(NET_WM_MOVERESIZE, "_NET_WM_MOVERESIZE")                                                       \
  X(NET_ACTIVE_WINDOW, "_NET_ACTIVE_WINDOW")                                                       \
  X(NET_CURRENT_DESKTOP, "_NET_CURRENT_DESKTOP")                                                   \
  X(NET_SUPPORTING_WM_CHECK, "_NET_SUPPORTING_WM_CHECK")                                           \
  X(NET_SUPPORTED, "_NET_SUPPORTED")                                                               \
  X(NET_WORKAREA, "_NET_WORKAREA")                                                                 \
  X(MOTIF_WM_HINTS, "_MOTIF_WM_HINTS")                                                             \
  X(MIT_PRIORITY_COLORS, "_MIT_PRIORITY_COLORS")                                                   \
  X(MOTIF_WM_INFO, "_MOTIF_WM_INFO")
#define TX_DECLARE_ATOM(fn, name) Atom fn();
TX_ATOMS(TX_DECLARE_ATOM)
#undef TX_DECLARE_ATOM
} // namespace xa

// --- Properties and messages -------------------------------------------------------

// The first 32-bit item of a property of that type (any type when 0); false
// when it cannot be read, has another type or format, or is empty.
bool getCardinalProperty(Window window, Atom property, Atom type, unsigned long* value);
// The same on what a read gave (format-32 items are longs, as Xlib hands
// them out).
bool firstCardinal(Atom actualType, int format, unsigned long items, const unsigned char* data, Atom type,
                   unsigned long* value);

// One XGetWindowProperty result (at most 0x10000 32-bit units unless a
// length is given), freed when this goes.
class PropertyData {
public:
  PropertyData(Window window, Atom property, Atom type, bool deleteIt, long maxLength = 0x10000);
  ~PropertyData();
  PropertyData(const PropertyData&) = delete;
  PropertyData& operator=(const PropertyData&) = delete;

  // The read succeeded and the type matched (or none was asked for).
  bool valid() const { return valid_; }
  unsigned char* data = nullptr;
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long bytesAfter = 0;
  // Items of format 32, which Xlib hands out as longs.
  const long* longs() const { return reinterpret_cast<const long*>(data); }

private:
  bool valid_ = false;
};

// The text of n bytes of a received selection into out, with a NUL after
// it: Latin-1 data (STRING) converted to UTF-8, UTF-8 data (UTF8_STRING)
// with U+FFFD for invalid sequences; the text ends at the first NUL.
// Copies made on the way are wiped when wipe is set.
void selectionText(bool latin1, const unsigned char* data, int n, plat::MBuf<char>& out, bool wipe);

// XChangeProperty, mode Replace; format-32 data are longs.
void setProperty(Window window, Atom property, Atom type, int format, const void* data, int count);
// A window-manager request: to the root, SubstructureRedirect |
// SubstructureNotify.
void sendClientMessage(Window window, Atom messageType, long l0, long l1 = 0, long l2 = 0, long l3 = 0,
                       long l4 = 0);
void sendEvent(Window destination, long mask, Window window, Atom messageType, long l0, long l1 = 0,
               long l2 = 0, long l3 = 0, long l4 = 0);

// --- Window trees -------------------------------------------------------------------

class EnumWindowsCallback {
public:
  virtual ~EnumWindowsCallback();
  // False stops the walk.
  virtual bool window(Window w) = 0;
};
// The most windows one walk visits: trees belong to other clients, and
// each visit costs a round trip.
constexpr int kMaxWalkWindows = 2048;
// Children of window (the root when 0), bottom of the stack first, each
// subtree before the next sibling when recursive. True when neither the
// callback nor the bound stopped it.
bool enumWindows(EnumWindowsCallback* callback, Window window, bool recursive);
// The windows that exist, topmost first (those the bounded walk reaches).
void sortByStacking(std::vector<Window>& windows);

// --- X errors ------------------------------------------------------------------------

class XErrorException : public plat::Exception {
public:
  // "<text>: <server's text for code> (<code>)"; no ": " for an empty text.
  XErrorException(int code, const char* text);
  int getCode() const { return code_; }

private:
  int code_;
};

// Catches X protocol errors of the requests made while it lives. Catchers
// nest; only the innermost may be destroyed. Errors are logged under
// "ErrorCatcher" at the given level.
class ErrorCatcher {
public:
  explicit ErrorCatcher(int level = plat::LogSrc::kInfo);
  ~ErrorCatcher();
  ErrorCatcher(const ErrorCatcher&) = delete;
  ErrorCatcher& operator=(const ErrorCatcher&) = delete;

  // Syncs, then throws XErrorException(code, text) when an error was seen.
  void check(const char* text, bool syncOnExit = true);
  int errorCode() const { return code_; }

private:
  static int handler(Display* dpy, XErrorEvent* ev);

  ErrorCatcher* previous_;
  XErrorHandler previousHandler_;
  int code_ = 0;
  int level_;
  bool syncOnExit_ = true;
};

// Syncs when requests were sent since the last reply or error.
void syncIfPending();

// --- Shared memory (MIT-SHM) ----------------------------------------------------------

// Fills info and attaches the segment read-write; throws XErrorException
// "XShmAttach failed" when the server refuses it.
void shmAttach(XShmSegmentInfo* info, int shmid, char* address);
// Detaches and syncs, so the segment may go afterwards.
void shmDetach(XShmSegmentInfo* info);
// Throws plat::Exception unless the server's shared pixmaps are ZPixmap.
Pixmap shmCreatePixmap(XShmSegmentInfo* info, int width, int height, int depth);
XImage* shmCreateImage(Visual* visual, int depth, XShmSegmentInfo* info, int width, int height);

} // namespace tx
