// The container of the widget set: children at absolute positions.
//
// A layout implements WParent for its children: it paints them (no
// background of its own), routes pointer input to the topmost child under
// the pointer (a child that receives a press keeps the pointer until every
// button is up), keeps the keyboard focus chain and passes damage, bells,
// clipboard and key-state requests up. It never arranges or owns its
// children: whoever builds it positions and sizes them, and owns them.
// Destroying a layout detaches its children and clears their link to it;
// a child destroyed first unlinks itself quietly. Loop thread only.
#pragma once

#include <set>
#include <vector>

#include "wvw/Widget.h"

namespace wvw {

// Children reach the root through their parent layout, never through the
// WParent interface: a layout answers null there.
class WLayoutParent : public WParent {
public:
  WRoot* getRoot(rfb::Point*) override { return nullptr; }
  void startDrag(WDragDropData*, rfb::PixelBuffer*) override {}
};

class WLayout : public Widget, public WLayoutParent {
public:
  enum class PointerRouting { ToSelf, ToChildren };

  explicit WLayout(PointerRouting routing);
  ~WLayout() override;

  using Widget::getRoot;
  using Widget::setFocus;

  // --- Children (painting order: later ones on top) ---
  struct Child {
    Widget* widget;
    rfb::Point position;
  };
  // Before sibling; a null or unknown sibling appends.
  virtual void addChild(Widget* child, Widget* sibling);
  virtual void insertChild(Widget* child, const rfb::Point& position, Widget* sibling);
  virtual void addChildRect(Widget* child, const rfb::Rect& rect, Widget* sibling);
  virtual void removeChild(Widget* child);
  virtual void setChildPosition(Widget* child, const rfb::Point& position);
  virtual void setChildRect(Widget* child, const rfb::Rect& rect);
  virtual rfb::Point getChildPosition(Widget* child);
  virtual rfb::Rect getChildRect(Widget* child);
  const std::vector<Child>& children() const { return children_; }

  // --- Focus chain ---
  virtual void setFocusChild(Widget* child) { setFocusChild(child, false); }
  virtual bool isFocusedChild(Widget* child) { return hasFocus() && focusedChild_ == child; }
  Widget* getFocusedChild() const { return focusedChild_; }
  Widget* getGrabChild() const { return grabChild_; }

  // --- WParent ---
  void childInvalidated(Widget* child, const rfb::Region& region) override;
  void bell() override;
  void setFocus(Widget* child) override { setFocusChild(child); }
  bool isChildFocused(Widget* child) override { return isFocusedChild(child); }
  bool focusNext() override;
  bool focusPrevious() override;
  bool isKeyDown(uint32_t keysym) override;
  plat::String getClipboardText() override;
  void setClipboardText(const char* text) override;
  void showRect(Widget* child, const rfb::Rect& rect) override { showChildRect(child, rect); }
  virtual void showChildRect(Widget* child, const rfb::Rect& rect);

  // --- Widget ---
  bool focusChanged(bool backward, Widget* source) override;
  void styleChanged() override;
  void attach(WParent* parent, WInputHandler* parentInputHandler, WMouseInputHandler* parentMouseHandler) override;
  void detach() override;
  void pointerEvent(const rfb::Point& position, uint32_t buttonMask) override;
  void pointerLeave() override;
  bool canDropInTree(WDragDropData* data) override;
  bool dragOver(WDragDropData* data, const rfb::Point& position) override;
  void dragEnded() override;
  void drop(WDragDropData* data, const rfb::Point& position) override;
  void keyEvent(uint32_t keysym, bool down) override;
  void paint(rfb::WritablePixelBuffer& pb) override;
  rfb::Point preferredSize() override;
  bool wantsFocus() override;
  void setEnabled(bool enabled) override;

protected:
  friend class Widget;

  void setFocusChild(Widget* child, bool backward);
  // Called when a child unlinked itself on destruction.
  virtual void childDestroyed(Widget*) {}

  int rightPadding_ = 0;
  int bottomPadding_ = 0;
  bool pointerToChildren_;
  bool propagateEnabled_ = false;

private:
  int indexOf(Widget* child) const;
  // The next or previous child that wants the focus, wrapping around
  // unless the focus leaves through the parent.
  bool moveFocus(bool backward);
  void unlinkDestroyed(Widget* child);
  // Clears the focus and the grab held by the child and drops its node;
  // false for an unknown child, else area is what it covered.
  bool unlink(Widget* child, rfb::Region& area);
  // The child's rectangle as a region (clamped to 16 bits).
  rfb::Region childArea(const Child& c) const;

  Widget* focusedChild_ = nullptr;
  Widget* grabChild_ = nullptr;
  std::vector<Child> children_;
  std::set<Widget*> attachedChildren_;
};

} // namespace wvw
