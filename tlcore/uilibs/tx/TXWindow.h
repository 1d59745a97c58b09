// One X window owned by the program: a top-level window managed by the
// window manager, an override-redirect popup, or a child of another
// TXWindow. It wraps creation and destruction, the ICCCM and EWMH
// properties and requests, geometry, mapping, focus, the layer's grab and
// modal lists, the window's share of the selection protocol, and the
// delivery of the events the dispatcher (TXEvents.h) routes to it.
//
// The object owns its X window (destroyed with it) and the text it offers
// as a selection; event handlers and the delete-window callback are
// borrowed. Subclasses (widget-hosting windows, dialogs) override the
// notification hooks. A handler may destroy the window while it is being
// delivered an event: delivery stops there. Loop thread only, after
// openDisplay.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <map>
#include <string>
#include <vector>

#include "plat/LivenessToken.h"
#include "plat/MBuf.h"
#include "rfb/Rect.h"
#include "tx/Forward.h"

namespace tx {

class TXDeleteWindowCallback {
public:
  virtual ~TXDeleteWindowCallback();
  // The window manager asks to close the window.
  virtual void deleteWindow(TXWindow* window) = 0;
};

class TXWindow {
public:
  // Sizes are clamped to 1..32767. With createNow the X window is made at
  // once (the 0xBBBB grey as background, the layer's colormap); otherwise
  // the owner calls createWindow.
  TXWindow(int width, int height, TXWindow* parent = nullptr, int borderWidth = 0, bool overrideRedirect = false,
           bool createNow = true);
  virtual ~TXWindow();
  TXWindow(const TXWindow&) = delete;
  TXWindow& operator=(const TXWindow&) = delete;

  // Depth and visual 0 copy them from the parent. A child window is mapped
  // at once. Creating twice is fatal.
  void createWindow(TXWindow* parent, int borderWidth, unsigned long background, Colormap cmap, int depth,
                    Visual* visual);
  // Moves the X window into parent's (the root when null) at x, y. Child
  // windows still there when their parent goes move to the root, unmapped,
  // so that their ids stay valid.
  void reparent(TXWindow* parent, int x, int y);
  // Lets a borrower tell that the object was destroyed.
  const plat::LivenessToken& liveness() const { return alive_; }

  Window window() const { return win_; }
  int width() const { return width_; }
  int height() const { return height_; }
  bool isMapped() const { return mapped_; }
  bool hasFocus() const { return focused_; }
  bool isOverrideRedirect() const { return overrideRedirect_; }
  bool hasWMProperties() const { return managed_; }

  // --- Window-manager properties ---
  // Makes the window a managed top-level: hints, WM_CLASS (instance name,
  // class text or the application class), name, protocols, pid, icon.
  void setWMProperties(const char* name, TXDeleteWindowCallback* callback, const char* className = nullptr);
  // UTF-8; WM_NAME and WM_ICON_NAME get its Latin-1 form.
  void setName(const char* name);
  void setMinSize(int w, int h);
  void setMaxSize(int w, int h);
  // Min and max size both the current size, or neither.
  void setFixedSize(bool fixed);
  void setInitialState(bool iconic);
  void setTransientFor(Window window);
  void setUrgent(bool urgent);
  void setInputHint(bool input);
  void setMotifWmHints(const long values[5]);
  // action 0 remove, 1 add, 2 toggle.
  void changeNetWmState(int action, Atom atom1, Atom atom2 = 0);
  // Whether the state could be read; hidden from _NET_WM_STATE or WM_STATE.
  bool isHidden(bool* hidden);

  // --- Events ---
  void addEventMask(long bits);
  void removeEventMask(long bits);
  // Handlers run most recent first; the first answering true ends the
  // delivery. Adding again moves a handler to the front.
  void addEventHandler(TXEventHandler* handler, bool add);

  // --- Geometry ---
  void setPosition(const rfb::Point& pos, bool move = true);
  void centreOnScreen();
  // An X geometry text ("WxH+X+Y", any part) over the default rectangle.
  void setGeometry(const char* geometry, const rfb::Rect& def);
  rfb::Point getRootOrigin();
  void resize(int w, int h);

  // --- Mapping, stacking and focus ---
  void map();
  void unmap();
  void remap();
  void iconify();
  void setOverrideRedirect(bool overrideRedirect);
  void raiseAndActivate();
  void restack(int stackMode);
  void setFocus(Time time);

  // --- Grabs and modality ---
  // The latest mapped window asking for a grab holds it; input to other
  // windows of the process goes to it.
  void setGrab(bool pointer, bool keyboard, Cursor cursor = None, bool keyboardOwnerEvents = true);
  bool wantsPointerGrab() const { return wantPointerGrab_; }
  bool wantsKeyboardGrab() const { return wantKeyboardGrab_; }
  // Input to the process's other windows is dropped while this is the
  // latest modal window (until it is unmapped or destroyed).
  void pushModal();

  // --- Selections ---
  // The most bytes one received selection may hold; an INCR transfer
  // (whose chunks are consumed, not kept) is followed up to as many.
  static constexpr int kMaxSelectionBytes = 1 << 20;
  // Offers text (UTF-8, length bytes; null offers nothing) as PRIMARY and
  // CLIPBOARD and stores its Latin-1 form in cut buffer 0.
  void ownSelection(int length, const char* text, Time time);
  void acquireSelection(Atom selection, Time time);
  // The selection's text: our own offer when a window of ours owns it,
  // else the owner's answer (UTF8_STRING, then STRING, 1 s each). Null when
  // nothing came. Never changes what this window offers.
  const char* getSelection(Atom selection);
  bool requestConversion(Atom selection, Atom target, int waitMs);
  // Takes the window's next event of that type, waiting at most waitMs;
  // other events stay queued.
  bool waitForWindowEvent(int type, int waitMs, XEvent* ev);
  const char* selectionText() const { return offered_.length() ? offered_.data() : nullptr; }
  const char* receivedText() const { return received_.length() ? received_.data() : nullptr; }
  // Texts held by this window are wiped whenever they are replaced or freed.
  void setWipeSelectionText(bool wipe);
  bool incrPending() const { return incrProperty_ != None; }

  // --- Drawing ---
  void drawBevel(GC gc, int x, int y, int w, int h, int b, unsigned long fill, unsigned long light,
                 unsigned long dark);

  // --- Process-wide ---
  // The root's _NET_ACTIVE_WINDOW, or 0.
  static Window getActiveWindow();
  // _NET_WM_ICON data (width, height, ARGB pixels, ...) for every later
  // setWMProperties; empty for none.
  static void setDefaultIconData(const std::vector<long>& data);

protected:
  // --- Hooks for subclasses ---
  virtual void resized() {}
  virtual void configured() {}
  virtual void mapChanged() {}
  virtual void focusChanged() {}
  virtual void takeFocus(Time) {}
  virtual void selectionReceived(const XSelectionEvent* ev, PropertyData* data);
  virtual bool convertSelection(Window requestor, Atom selection, Atom property, Atom target);

  void setSize(int w, int h);

private:
  friend void dispatchEvent(XEvent* ev);
  friend void recomputeGrabs();
  // The dispatcher's delivery to this window.
  void deliver(XEvent* ev);
  void handleSelectionRequest(const XSelectionRequestEvent& req);
  // False for a notification of nothing this window asked for.
  bool handleSelectionNotify(const XSelectionEvent& ev);
  void readIncrChunk();
  // A size from the server's ConfigureNotify (see asked_).
  void serverSize(int w, int h);
  void setSizeHints();
  void writeWMHints();
  void releaseSelections();
  void linkParent(TXWindow* parent);

  plat::LivenessToken alive_;
  Window win_ = 0;
  // The TXWindow whose X window holds ours, and those ours holds.
  TXWindow* parent_ = nullptr;
  std::vector<TXWindow*> children_;
  int width_;
  int height_;
  std::vector<TXEventHandler*> handlers_;
  std::vector<std::vector<TXEventHandler*>*> deliveries_;
  TXDeleteWindowCallback* deleteCallback_ = nullptr;
  long eventMask_ = 0;
  XSizeHints sizeHints_;
  // The name as last written, and the WM hints: they are ours to keep.
  std::string name_;
  bool nameSet_ = false;
  XWMHints wmHints_;
  std::map<Atom, Time> ownedSelections_;
  bool managed_ = false;
  bool mapped_ = false;
  // Until the first map no window manager has seen the window, and its
  // size is the one last asked for.
  bool everMapped_ = false;
  // Sizes asked of the server and not yet seen in its ConfigureNotify,
  // oldest first: a window manager answers redirected requests late, and
  // a size already asked past is not taken.
  static constexpr size_t kMaxAsked = 8;
  std::vector<rfb::Point> asked_;
  bool focused_ = false;
  bool overrideRedirect_;
  bool fixedSize_ = false;
  Atom incrProperty_ = None;
  long incrBytes_ = 0;
  // The conversion requested and not yet answered (None: none).
  Atom converting_ = None;
  Atom convertingTarget_ = None;
  Window transientFor_ = 0;
  // UTF-8 and a NUL: what this window offers, and what it last received.
  plat::MBuf<char> offered_;
  plat::MBuf<char> received_;
  bool wipe_ = false;
  bool wantPointerGrab_ = false;
  bool wantKeyboardGrab_ = false;
  bool keyboardOwnerEvents_ = true;
  Cursor grabCursor_ = None;
};

// --- Window-manager queries ---
// The window manager's check window, or 0.
Window wmCheckWindow();
bool wmRunning();
bool wmSupports(Atom atom);
// The current desktop's work area, else the whole screen.
rfb::Rect getWorkArea();
// A root property change that may mean another window manager.
bool isWMChangeEvent(const XEvent* ev);

} // namespace tx
