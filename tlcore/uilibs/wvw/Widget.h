// The widget base and the interfaces through which widgets are hosted.
//
// A widget is a rectangle that paints itself into a pixel buffer and lives
// in a tree. Input flows down from the hosting window (pointerEvent,
// keyEvent); notifications flow up through two handler chains: each is
// offered to the widget's own handler, then to its container's, and so on
// up to the host; the first that answers true ends it. Damage flows up as
// regions through WParent::childInvalidated.
//
// Ownership: a widget never owns its handlers, style or mouse callback, and
// containers do not own their children. A widget destroyed while it sits in
// a layout unlinks itself quietly; a handler may destroy the widget (or a
// layout above it) from any notification: each dispatcher checks its
// liveness token before touching itself again. Loop thread only.
#pragma once

#include <stdint.h>

#include "plat/Colour.h"
#include "plat/ConfigParameter.h"
#include "plat/LivenessToken.h"
#include "plat/MBuf.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "rfb/PixBuffer.h"
#include "rfb/Region.h"
#include "tlutil/MouseCallback.h"
#include "wvw/Forward.h"

namespace tlutil {

// A drag payload: its type name.
class DragDropData {
public:
  explicit DragDropData(const char* type) : type_(type) {}
  virtual ~DragDropData();
  const char* getType() const { return type_.get(); }

private:
  plat::String type_;
};

} // namespace tlutil

namespace wvw {

// The longest time between two clicks of a double click.
extern plat::IntParameter doubleClickTime;

// Notifications, each false ("not handled") by default.
class WInputHandler {
public:
  virtual ~WInputHandler();
  virtual bool key(uint32_t keysym, bool down, Widget* source);
  virtual bool focusChanged(bool backward, Widget* source);
  virtual bool activated(Widget* source);
  virtual bool valueChanged(Widget* source);
  virtual bool visibilityChanged(Widget* source);
  virtual bool attached(Widget* source);
  virtual bool detached(Widget* source);
  virtual bool enabledChanged(Widget* source);
  virtual bool resized(Widget* source);
  virtual bool paste(Widget* source);
  virtual bool copy(Widget* source);
};

class WMouseInputHandler {
public:
  virtual ~WMouseInputHandler();
  virtual bool moved(const rfb::Point& position, Widget* source);
  virtual bool buttonDown(int button, Widget* source);
  virtual bool buttonUp(int button, Widget* source);
  virtual bool left(Widget* source);
};

// What a container offers its children.
class WParent {
public:
  virtual ~WParent();
  // region is in the child's coordinates.
  virtual void childInvalidated(Widget* child, const rfb::Region& region) = 0;
  virtual void bell() = 0;
  virtual void setFocus(Widget* child) = 0;
  virtual bool isChildFocused(Widget* child) = 0;
  // False when the focus cannot move.
  virtual bool focusNext() = 0;
  virtual bool focusPrevious() = 0;
  virtual bool isKeyDown(uint32_t keysym) = 0;
  // Never null ("" when empty).
  virtual plat::String getClipboardText() = 0;
  virtual void setClipboardText(const char* text) = 0;
  // The tree's popup host and, through offset, this container's origin in
  // root coordinates.
  virtual WRoot* getRoot(rfb::Point* offset) = 0;
  virtual void showRect(Widget* child, const rfb::Rect& rect) = 0;
  virtual void startDrag(WDragDropData* data, rfb::PixelBuffer* image) = 0;
};

// The popup host of a widget tree (one per display).
class WRoot {
public:
  virtual ~WRoot();
  virtual rfb::Rect screenArea() = 0;
  virtual void showPopup(Widget* widget, bool show, bool grab, const rfb::Point& position) = 0;
  virtual void popupPointerEvent(Widget* widget, const rfb::Point& position, uint32_t buttonMask) = 0;
};

class WDragDropData : public tlutil::DragDropData {
public:
  explicit WDragDropData(const char* type) : DragDropData(type) {}
  ~WDragDropData() override;
  // Copies the bytes and the flag into out; returns the flag.
  virtual bool getData(WDragDropData& out) const;
  virtual void setData(int length, const uint8_t* bytes);
  virtual bool hasData() const { return data_.length() > 0; }
  // Sensitive bytes are wiped before they are freed.
  void setSensitive(bool sensitive);
  bool isSensitive() const { return sensitive_; }
  const plat::MBuf<uint8_t>& data() const { return data_; }

private:
  plat::MBuf<uint8_t> data_;
  bool sensitive_ = false;
};

class Widget : public WInputHandler, public WMouseInputHandler, public plat::Timer::Callback {
public:
  // Added to parentLayout (at 0,0, last) when given.
  explicit Widget(WLayout* parentLayout = nullptr);
  ~Widget() override;
  Widget(const Widget&) = delete;
  Widget& operator=(const Widget&) = delete;

  // --- Notifications: own handler, then the container's ---
  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool activated(Widget* source) override;
  bool valueChanged(Widget* source) override;
  bool visibilityChanged(Widget* source) override;
  bool attached(Widget* source) override;
  bool detached(Widget* source) override;
  bool enabledChanged(Widget* source) override;
  bool resized(Widget* source) override;
  bool paste(Widget* source) override;
  bool copy(Widget* source) override;

  virtual void styleChanged();
  virtual void setTooltip(const char* text);
  virtual const char* getTooltip() { return tooltip_.get(); }

  // --- The tree ---
  virtual void attach(WParent* parent, WInputHandler* parentInputHandler, WMouseInputHandler* parentMouseHandler);
  virtual void detach();
  bool isAttached() const { return parent_ != nullptr; }
  WParent* getParent() const { return parent_; }
  WLayout* getParentLayout() const { return parentLayout_; }

  // --- Input from the container ---
  virtual void pointerEvent(const rfb::Point& position, uint32_t buttonMask);
  virtual void pointerLeave();
  virtual void keyEvent(uint32_t keysym, bool down);

  // --- Drag and drop ---
  virtual bool canDropInTree(WDragDropData* data) { return canDrop(data); }
  virtual bool canDrop(WDragDropData*) { return false; }
  virtual bool dragOver(WDragDropData*, const rfb::Point&) { return false; }
  virtual void dragEnded() {}
  virtual void drop(WDragDropData*, const rfb::Point&) {}

  // --- Painting and damage ---
  // The buffer's origin is the widget's top-left corner.
  virtual void paint(rfb::WritablePixelBuffer& pb) = 0;
  virtual void repaint();
  virtual void invalidate(const rfb::Region& region);
  virtual void bell();

  // --- Size, visibility, focus ---
  virtual void setSize(const rfb::Point& size);
  const rfb::Point& getSize() const { return size_; }
  int width() const { return size_.x; }
  int height() const { return size_.y; }
  virtual rfb::Point preferredSize() = 0;
  // The width for a given height and the height for a given width.
  virtual int preferredWidth(int /*height*/) { return preferredSize().x; }
  virtual int preferredHeight(int /*width*/) { return preferredSize().y; }
  virtual void setVisible(bool visible);
  bool isVisible() const { return visible_; }
  virtual bool wantsFocus() { return visible_ && enabled_; }
  virtual void setEnabled(bool enabled);
  bool isEnabled() const { return enabled_; }
  virtual void setInputHandler(WInputHandler* handler) { inputHandler_ = handler; }
  virtual void setMouseHandler(WMouseInputHandler* handler) { mouseHandler_ = handler; }
  void setMouseCallback(tlutil::MouseCallback* callback) { mouseCallback_ = callback; }

  // --- Pointer notifications: the mouse callback, then the handlers ---
  virtual bool pointerMoved(const rfb::Point& position, Widget* source);
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  virtual bool pointerLeft(Widget* source);
  bool moved(const rfb::Point& position, Widget* source) override { return pointerMoved(position, source); }
  bool left(Widget* source) override { return pointerLeft(source); }

  virtual bool isKeyDown(uint32_t keysym);
  bool timerExpired(plat::Timer* timer) override;

  // --- Non-virtual helpers ---
  void setStyle(const WStyle* style);
  const WStyle* getStyle() const;
  void setPosition(const rfb::Point& position);
  rfb::Point getPosition() const;
  bool hasFocus();
  void setFocus();
  WRoot* getRoot(rfb::Point* offset);
  rfb::Point translateTo(const rfb::Point& point, Widget* other);
  bool isControlDown() { return isKeyDown(0xFFE3) || isKeyDown(0xFFE4); }
  bool isShiftDown() { return isKeyDown(0xFFE1) || isKeyDown(0xFFE2); }
  bool isAltDown() { return isKeyDown(0xFFE9) || isKeyDown(0xFFEA); }
  const rfb::Point& getPointerPos() const { return pointerPos_; }
  // Marked first thing in the destructor: a DestroyGuard on it tells a
  // dispatcher or a host that the widget is gone.
  const plat::LivenessToken& livenessToken() const { return liveness_; }
  uint32_t getButtonMask() const { return buttonMask_; }

  // --- Drawing in the style's colours ---
  rfb::Pixel pixel(const rfb::PixelBuffer& pb, const plat::Colour& c) const;
  enum class Bevel { Sunken, Raised };
  enum class Shape { Square, Circular };
  void drawBevel(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, Bevel bevel, Shape shape = Shape::Square) const;
  // The focus ring every widget that draws its own uses: r's outline with
  // corners of the given radius (0: square) in the mark colour, when the
  // widget has the focus. Whether it drew.
  bool drawFocusRing(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, int radius = 3);
  static rfb::Rect outsetRect(const rfb::Rect& r, int n)
  {
    return rfb::Rect(r.topLeft.x - n, r.topLeft.y - n, r.bottomRight.x + n, r.bottomRight.y + n);
  }

  // (0,0)-size clamped to 16 bits; empty when the size is.
  static rfb::Region sizeRegion(const rfb::Point& size);

protected:
  friend class WLayout;

  // Offers a notification to the own handler, then the container's. True
  // when taken, or when a handler destroyed this widget.
  template <typename Fn> bool offer(Fn fn)
  {
    plat::DestroyGuard guard(liveness_);
    if (inputHandler_ && fn(inputHandler_))
      return true;
    if (guard.destroyed())
      return true;
    return parentInputHandler_ && fn(parentInputHandler_);
  }
  // The mouse callback (while attached); true when it took the event.
  bool sendMouseEvent(uint32_t kind, const rfb::Point& position);

  plat::LivenessToken liveness_;

private:
  WParent* parent_ = nullptr;
  WInputHandler* parentInputHandler_ = nullptr;
  WInputHandler* inputHandler_ = nullptr;
  WMouseInputHandler* parentMouseHandler_ = nullptr;
  WMouseInputHandler* mouseHandler_ = nullptr;
  bool visible_ = true;
  bool enabled_ = true;
  rfb::Point size_;
  rfb::Point pointerPos_;
  uint32_t buttonMask_ = 0;
  const WStyle* style_ = nullptr;
  WLayout* parentLayout_ = nullptr;
  plat::String tooltip_;
  tlutil::MouseCallback* mouseCallback_ = nullptr;
  rfb::Point clickRef_;
  plat::Timer clickTimer_;
};

} // namespace wvw
