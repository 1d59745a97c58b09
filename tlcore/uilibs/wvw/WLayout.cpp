#include "wvw/WLayout.h"

#include "plat/Exception.h"

namespace wvw {

namespace {

[[noreturn]] void unknownChild(int line)
{
  PLAT_FAIL_AT("i != ws.end()", __FILE__, line);
}

} // namespace

WLayout::WLayout(PointerRouting routing) : pointerToChildren_(routing == PointerRouting::ToChildren) {}

WLayout::~WLayout()
{
  liveness_.markDestroyed();
  // The children leave through a real detach, but their notifications stop
  // short of this half-destroyed layout.
  std::vector<Widget*> attached(attachedChildren_.begin(), attachedChildren_.end());
  for (Widget* w : attached) {
    if (!attachedChildren_.erase(w))
      continue;
    w->parentInputHandler_ = nullptr;
    w->parentMouseHandler_ = nullptr;
    w->detach();
  }
  for (const Child& c : children_)
    c.widget->parentLayout_ = nullptr;
  children_.clear();
  focusedChild_ = grabChild_ = nullptr;
}

int WLayout::indexOf(Widget* child) const
{
  for (size_t i = 0; i < children_.size(); i++) {
    if (children_[i].widget == child)
      return (int)i;
  }
  return -1;
}

rfb::Region WLayout::childArea(const Child& c) const
{
  const rfb::Point& s = c.widget->getSize();
  const int64_t x2 = (int64_t)c.position.x + s.x, y2 = (int64_t)c.position.y + s.y;
  auto clamp = [](int64_t v) { return (int)std::max<int64_t>(-32768, std::min<int64_t>(32767, v)); };
  return rfb::Region(rfb::Rect(clamp(c.position.x), clamp(c.position.y), clamp(x2), clamp(y2)));
}

// --- Children ---------------------------------------------------------------------

void WLayout::addChild(Widget* child, Widget* sibling)
{
  insertChild(child, rfb::Point(0, 0), sibling);
}

void WLayout::insertChild(Widget* child, const rfb::Point& position, Widget* sibling)
{
  if (indexOf(child) >= 0)
    return;
  const int at = sibling ? indexOf(sibling) : -1;
  if (at < 0)
    children_.push_back(Child{child, position});
  else
    children_.insert(children_.begin() + at, Child{child, position});
  child->parentLayout_ = this;
  if (isAttached() && attachedChildren_.insert(child).second)
    child->attach(this, this, this);
}

void WLayout::addChildRect(Widget* child, const rfb::Rect& rect, Widget* sibling)
{
  plat::DestroyGuard guard(child->liveness_);
  insertChild(child, rect.topLeft, sibling);
  if (!guard.destroyed())
    child->setSize(rfb::Point(rect.width(), rect.height()));
}

void WLayout::removeChild(Widget* child)
{
  plat::DestroyGuard guard(liveness_);
  if (child && child == focusedChild_) {
    if (!focusNext() && !guard.destroyed() && !isFocusedChild(nullptr)) {
      focusedChild_ = nullptr;
      child->focusChanged(true, child);
    }
    if (guard.destroyed())
      return;
  }
  rfb::Region area;
  if (!unlink(child, area))
    return;
  child->parentLayout_ = nullptr;
  if (attachedChildren_.erase(child)) {
    child->detach();
    if (!guard.destroyed())
      invalidate(area);
  }
}

void WLayout::unlinkDestroyed(Widget* child)
{
  rfb::Region area;
  if (!unlink(child, area))
    return;
  childDestroyed(child);
  if (attachedChildren_.erase(child))
    invalidate(area);
}

bool WLayout::unlink(Widget* child, rfb::Region& area)
{
  if (child == focusedChild_)
    focusedChild_ = nullptr;
  if (child == grabChild_)
    grabChild_ = nullptr;
  const int i = indexOf(child);
  if (i < 0)
    return false;
  area = childArea(children_[i]);
  children_.erase(children_.begin() + i);
  return true;
}

void WLayout::setChildPosition(Widget* child, const rfb::Point& position)
{
  const int i = indexOf(child);
  if (i < 0)
    unknownChild(__LINE__);
  if (children_[i].position == position)
    return;
  rfb::Region area = childArea(children_[i]);
  children_[i].position = position;
  area.assignUnion(childArea(children_[i]));
  invalidate(area);
}

void WLayout::setChildRect(Widget* child, const rfb::Rect& rect)
{
  plat::DestroyGuard guard(child->liveness_);
  setChildPosition(child, rect.topLeft);
  if (!guard.destroyed())
    child->setSize(rfb::Point(rect.width(), rect.height()));
}

rfb::Point WLayout::getChildPosition(Widget* child)
{
  const int i = indexOf(child);
  if (i < 0)
    unknownChild(__LINE__);
  return children_[i].position;
}

rfb::Rect WLayout::getChildRect(Widget* child)
{
  const rfb::Point p = getChildPosition(child);
  return rfb::Rect(p, p.translate(child->getSize()));
}

// --- Focus chain --------------------------------------------------------------------

void WLayout::setFocusChild(Widget* child, bool backward)
{
  if (isFocusedChild(child))
    return;
  if (child && !child->wantsFocus())
    return;
  plat::DestroyGuard guard(liveness_);
  Widget* previous = focusedChild_;
  // Set before the parent is asked, so that gaining the focus does not
  // first hand it to another child.
  focusedChild_ = child;
  if (child && getParent()) {
    getParent()->setFocus(this);
    if (guard.destroyed())
      return;
  }
  if (previous && previous != child) {
    previous->focusChanged(backward, previous);
    // The handler may have moved the focus on, or destroyed the child.
    if (guard.destroyed() || focusedChild_ != child)
      return;
  }
  if (child)
    child->focusChanged(backward, child);
}

bool WLayout::focusNext()
{
  return moveFocus(false);
}

bool WLayout::focusPrevious()
{
  return moveFocus(true);
}

bool WLayout::moveFocus(bool backward)
{
  const int start = indexOf(focusedChild_);
  if (!focusedChild_ || start < 0)
    return false;
  plat::DestroyGuard guard(liveness_);
  const int n = (int)children_.size();
  int i = start;
  for (;;) {
    i += backward ? -1 : 1;
    if (i < 0 || i >= n) {
      // At the end of the list the focus may leave this layout.
      WParent* p = getParent();
      if (p && (backward ? p->focusPrevious() : p->focusNext()))
        return true;
      if (guard.destroyed())
        return true;
      i = backward ? n - 1 : 0;
    }
    if (i == start)
      break;
    Widget* w = children_[i].widget;
    if (w->wantsFocus()) {
      setFocusChild(w, backward);
      return true;
    }
  }
  Widget* self = children_[start].widget;
  if (self->wantsFocus())
    return false;
  focusedChild_ = nullptr;
  self->focusChanged(backward, self);
  return true;
}

bool WLayout::focusChanged(bool backward, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == this) {
    if (hasFocus()) {
      if (focusedChild_ && !focusedChild_->wantsFocus())
        focusNext();
      if (!guard.destroyed() && !focusedChild_) {
        const int n = (int)children_.size();
        for (int k = 0; k < n; k++) {
          Widget* w = children_[backward ? n - 1 - k : k].widget;
          if (w->wantsFocus()) {
            setFocusChild(w, backward);
            break;
          }
        }
      }
    } else if (focusedChild_) {
      Widget* w = focusedChild_;
      focusedChild_ = nullptr;
      w->focusChanged(backward, w);
    }
    if (guard.destroyed())
      return true;
  }
  return Widget::focusChanged(backward, source);
}

// --- Requests passed up ----------------------------------------------------------------

void WLayout::childInvalidated(Widget* child, const rfb::Region& region)
{
  if (!isAttached())
    return;
  const int i = indexOf(child);
  if (i < 0)
    return;
  rfb::Region r(region);
  r.translate(children_[i].position);
  invalidate(r);
}

void WLayout::bell()
{
  if (getParent())
    getParent()->bell();
}

bool WLayout::isKeyDown(uint32_t keysym)
{
  return getParent() && getParent()->isKeyDown(keysym);
}

plat::String WLayout::getClipboardText()
{
  return getParent() ? getParent()->getClipboardText() : plat::String("");
}

void WLayout::setClipboardText(const char* text)
{
  if (getParent())
    getParent()->setClipboardText(text);
}

void WLayout::showChildRect(Widget* child, const rfb::Rect& rect)
{
  if (!getParent())
    return;
  getParent()->showRect(this, rect.translate(getChildPosition(child)));
}

// --- Widget overrides ----------------------------------------------------------------------

void WLayout::styleChanged()
{
  for (size_t i = 0; i < children_.size(); i++)
    children_[i].widget->styleChanged();
  repaint();
}

void WLayout::attach(WParent* parent, WInputHandler* parentInputHandler, WMouseInputHandler* parentMouseHandler)
{
  plat::DestroyGuard guard(liveness_);
  Widget::attach(parent, parentInputHandler, parentMouseHandler);
  for (size_t i = 0; i < children_.size() && !guard.destroyed() && isAttached(); i++) {
    Widget* w = children_[i].widget;
    if (attachedChildren_.insert(w).second)
      w->attach(this, this, this);
  }
}

void WLayout::detach()
{
  plat::DestroyGuard guard(liveness_);
  while (!attachedChildren_.empty()) {
    Widget* w = *attachedChildren_.begin();
    attachedChildren_.erase(attachedChildren_.begin());
    w->detach();
    if (guard.destroyed())
      return;
  }
  Widget::detach();
}

void WLayout::pointerEvent(const rfb::Point& position, uint32_t buttonMask)
{
  if (!pointerToChildren_) {
    Widget::pointerEvent(position, buttonMask);
    return;
  }
  Widget* previous = this;
  Widget* target = this;
  rfb::Point targetPos;
  bool previousFound = false, targetFound = false;
  const rfb::Point last = getPointerPos();
  for (int i = (int)children_.size() - 1; i >= 0 && !(previousFound && targetFound); i--) {
    const Child& c = children_[i];
    if (!c.widget->isVisible() || (buttonMask && !c.widget->isEnabled()))
      continue;
    const rfb::Rect r(c.position, c.position.translate(c.widget->getSize()));
    if (!previousFound && r.contains(last)) {
      previous = c.widget;
      previousFound = true;
    }
    if (!targetFound && r.contains(position)) {
      target = c.widget;
      targetPos = c.position;
      targetFound = true;
    }
  }
  plat::DestroyGuard guard(liveness_);
  Widget* grab = grabChild_;
  if (previous != target && (!grab || grab == previous)) {
    if (previous == this)
      Widget::pointerLeave();
    else
      previous->pointerLeave();
    if (guard.destroyed())
      return;
  }
  if (grab && grab != this) {
    // The grab is cleared when its child leaves, so it is still a child.
    const int i = indexOf(grab);
    if (i >= 0)
      grab->pointerEvent(position.translate(children_[i].position.negate()), buttonMask);
  } else if (!grab && target != this) {
    target->pointerEvent(position.translate(targetPos.negate()), buttonMask);
  } else {
    Widget::pointerEvent(position, buttonMask);
  }
  if (guard.destroyed())
    return;
  if (!buttonMask)
    grabChild_ = nullptr;
  else if (!grab && (target == this || indexOf(target) >= 0)) // the target may be gone
    grabChild_ = target;
  pointerPos_ = position;
  buttonMask_ = buttonMask;
}

void WLayout::pointerLeave()
{
  if (pointerToChildren_) {
    plat::DestroyGuard guard(liveness_);
    for (int i = (int)children_.size() - 1; i >= 0; i--) {
      const Child& c = children_[i];
      if (!c.widget->isEnabled())
        continue;
      if (rfb::Rect(c.position, c.position.translate(c.widget->getSize())).contains(getPointerPos())) {
        c.widget->pointerLeave();
        if (guard.destroyed())
          return;
        break;
      }
    }
  }
  pointerLeft(this);
}

bool WLayout::canDropInTree(WDragDropData* data)
{
  if (canDrop(data))
    return true;
  for (const Child& c : children_) {
    if (c.widget->canDropInTree(data))
      return true;
  }
  return false;
}

bool WLayout::dragOver(WDragDropData* data, const rfb::Point& position)
{
  if (!rfb::Rect(0, 0, width(), height()).contains(position))
    return false;
  for (int i = (int)children_.size() - 1; i >= 0; i--) {
    const Child& c = children_[i];
    if (c.widget->dragOver(data, position.translate(c.position.negate())))
      return true;
  }
  return false;
}

void WLayout::dragEnded()
{
  for (size_t i = 0; i < children_.size(); i++)
    children_[i].widget->dragEnded();
}

void WLayout::drop(WDragDropData* data, const rfb::Point& position)
{
  for (int i = (int)children_.size() - 1; i >= 0; i--) {
    if (i >= (int)children_.size())
      continue;
    const Child c = children_[i];
    if (rfb::Rect(c.position, c.position.translate(c.widget->getSize())).contains(position))
      c.widget->drop(data, position.translate(c.position.negate()));
  }
}

void WLayout::keyEvent(uint32_t keysym, bool down)
{
  if (focusedChild_)
    focusedChild_->keyEvent(keysym, down);
  else
    Widget::keyEvent(keysym, down);
}

void WLayout::paint(rfb::WritablePixelBuffer& pb)
{
  for (const Child& c : children_) {
    if (!c.widget->isVisible())
      continue;
    const rfb::Rect r(c.position, c.position.translate(c.widget->getSize()));
    if (r.intersect(pb.rect).isEmpty())
      continue;
    rfb::FullFramePixelBuffer sub(pb, r);
    c.widget->paint(sub);
  }
}

rfb::Point WLayout::preferredSize()
{
  rfb::Rect all;
  for (const Child& c : children_)
    all = all.unionBoundary(rfb::Rect(c.position, c.position.translate(c.widget->getSize())));
  return rfb::Point(all.bottomRight.x + rightPadding_, all.bottomRight.y + bottomPadding_);
}

bool WLayout::wantsFocus()
{
  if (!isEnabled() || !isVisible())
    return false;
  for (const Child& c : children_) {
    if (c.widget->wantsFocus())
      return true;
  }
  return false;
}

void WLayout::setEnabled(bool enabled)
{
  // Even when unchanged: a child may have been set on its own.
  plat::DestroyGuard guard(liveness_);
  if (propagateEnabled_) {
    for (size_t i = 0; i < children_.size() && !guard.destroyed(); i++)
      children_[i].widget->setEnabled(enabled);
  }
  if (guard.destroyed())
    return;
  repaint();
  Widget::setEnabled(enabled);
}

} // namespace wvw
