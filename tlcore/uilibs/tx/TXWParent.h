// Widget trees in X windows.
//
// TXWParent hosts one widget tree in a TXWindow: it is the tree's WParent,
// its key and pointer source, clipboard, tooltip host and drag surface,
// and it turns the tree's damage into drawing through an off-screen
// TXImage (the back buffer), flushed at most once per 10 ms. The window
// has no background, so the server never clears it before a repaint.
// TXWRoot is the process's WRoot: it shows popup widgets (menus, choice
// lists, tooltips) in override-redirect TXWParents and closes them all on
// a click outside. TXDragDrop is the drag feedback each TXWParent keeps.
//
// A TXWParent borrows its content (the tree is owned by whoever built it)
// and owns the back buffer, its timers and its tooltip. The content is
// attached exactly while the window is mapped. A content handler may
// destroy the window from any notification. Loop thread only, after
// openDisplay.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "plat/LivenessToken.h"
#include "plat/Timer.h"
#include "rfb/Region.h"
#include "tx/TXEvents.h"
#include "tx/TXImage.h"
#include "tx/TXWindow.h"
#include "wvw/WTooltip.h"
#include "wvw/Widget.h"

namespace tx {

class TXWParent;

// The drag in progress on one window: its data (borrowed), whether the
// content allows a drop where the pointer is, and the drag image.
class TXDragDrop {
public:
  TXDragDrop() = default;
  ~TXDragDrop();
  TXDragDrop(const TXDragDrop&) = delete;
  TXDragDrop& operator=(const TXDragDrop&) = delete;

  void startDrag(wvw::WDragDropData* data, TXWParent* window, rfb::PixelBuffer* image);
  bool active() const { return data_ != nullptr; }
  // True when the drag took the event (pointer release and motion).
  bool handleEvent(TXWParent* window, XEvent* ev);

private:
  void reset(TXWParent* window);

  wvw::WDragDropData* data_ = nullptr;
  bool dropAllowed_ = false;
  Cursor allowed_ = None;
  Cursor refused_ = None;
  std::unique_ptr<TXImage> image_;
};

class TXWParent : public TXWindow,
                  public wvw::WParent,
                  public TXEventHandler,
                  public wvw::WInputHandler,
                  public plat::Timer::Callback,
                  public wvw::WMouseInputHandler {
public:
  static constexpr int kRedrawMs = 10;
  // A window's first frames go through a back buffer of at most kBandRows
  // rows in process memory, a band at a time (a fresh window-sized one
  // would fault in every page first); kBandedMs after its first put the
  // back buffer becomes window-sized, in shared memory when MIT-SHM allows.
  static constexpr int kBandRows = 128;
  static constexpr int kBandedMs = 200;
  static constexpr int kTooltipMs = 500;

  // A 1x1 window; a child of parent's window when one is given. Without
  // content it stays unmapped.
  TXWParent(wvw::Widget* content, TXWindow* parent, bool overrideRedirect);
  ~TXWParent() override;

  // --- The hosted tree ---
  // Null unmaps the window. The tree attaches when the window is mapped.
  void setChild(wvw::Widget* content);
  wvw::Widget* child() const { return content_; }
  // Maps (managed windows already shown are raised and activated) or
  // unmaps.
  virtual void setVisible(bool visible);
  void resizeToContent();
  // Damage waiting for the redraw timer, in content coordinates.
  const rfb::Region& damage() const { return damage_; }
  // Paints and puts the damage now rather than when the timer fires.
  void flushDamage();
  TXImage* backBuffer() const { return backBuffer_.get(); }

  // --- Tooltips ---
  virtual void showTooltipLater(const rfb::Point& position, wvw::Widget* widget);
  virtual void hideTooltip();
  virtual void hideTooltipFor(wvw::Widget* widget);
  wvw::WTooltip& tooltip() { return tooltip_; }

  // --- wvw::WParent ---
  void childInvalidated(wvw::Widget* child, const rfb::Region& region) override;
  void bell() override;
  void setFocus(wvw::Widget*) override {}
  using TXWindow::setFocus;
  bool isChildFocused(wvw::Widget* child) override { return child && child == content_; }
  bool focusNext() override { return false; }
  bool focusPrevious() override { return false; }
  bool isKeyDown(uint32_t keysym) override;
  plat::String getClipboardText() override;
  void setClipboardText(const char* text) override;
  wvw::WRoot* getRoot(rfb::Point* origin) override;
  void showRect(wvw::Widget*, const rfb::Rect&) override {}
  void startDrag(wvw::WDragDropData* data, rfb::PixelBuffer* image) override;

  // --- Events and timers ---
  bool handleEvent(XEvent* ev) override;
  bool timerExpired(plat::Timer* timer) override;

  // --- As the content's parent handlers ---
  bool moved(const rfb::Point& position, wvw::Widget* source) override;
  bool left(wvw::Widget* source) override;
  bool detached(wvw::Widget* source) override;
  using wvw::WInputHandler::focusChanged;
  using wvw::WInputHandler::resized;

  // --- Process-wide ---
  // _NET_WM_ICON data from the named image at 16 and 48 pixels, for every
  // later managed window; nothing changes unless both sizes load.
  static void setDefaultIcon(const char* imageName);
  // Restarts the redraw timer of every window with damage left (after a
  // nested timer manager went with the timers scheduled in it).
  static void restartPendingRedraws();

protected:
  void resized() override;
  using TXWindow::focusChanged;

  // Attaches or detaches the content to follow the map state.
  void updateAttachment();
  // Paints r of the content into the back buffer and puts it on the window.
  void paintAndPut(const rfb::Rect& r);
  // Band-sized or window-sized, as banded_ says.
  std::unique_ptr<TXImage> makeBackBuffer();

  plat::LivenessToken liveness_;

private:
  friend class TXDragDrop;

  void keyEvent(XKeyEvent* ev);
  void sendKey(uint32_t keysym, bool down);
  void expose(XEvent* ev);
  void showTooltip();

  std::unique_ptr<TXImage> backBuffer_;
  // The back buffer is still band-sized.
  bool banded_ = true;
  wvw::Widget* content_ = nullptr;
  bool attached_ = false;
  // Keycode to the keysym reported when it went down.
  std::multimap<unsigned, uint32_t> keysDown_;
  rfb::Region damage_;
  plat::Timer redrawTimer_;
  plat::Timer bandTimer_;
  plat::Timer tooltipTimer_;
  wvw::WTooltip tooltip_;
  rfb::Point tooltipPos_;
  wvw::Widget* tooltipWidget_ = nullptr;
  std::unique_ptr<plat::DestroyGuard> tooltipGuard_;
  TXDragDrop drag_;
};

// The popup host of every widget tree of the process.
class TXWRoot : public wvw::WRoot, public TXEventHandler {
public:
  static TXWRoot* instance();

  rfb::Rect screenArea() override;
  void showPopup(wvw::Widget* widget, bool show, bool grab, const rfb::Point& position) override;
  void popupPointerEvent(wvw::Widget*, const rfb::Point&, uint32_t) override {}
  bool handleEvent(XEvent* ev) override;

  // The window showing widget, or null.
  TXWParent* popupWindow(wvw::Widget* widget) const;
  size_t popupCount() const { return popups_.size(); }
  // Destroys every popup window.
  void closeAll();

  TXWRoot() = default;
  ~TXWRoot() override;

private:
  std::vector<std::unique_ptr<TXWParent>> popups_;
};

} // namespace tx
