#include "wvw/Widget.h"

#include <algorithm>

#include "plat/Exception.h"
#include "rfb/Keysym.h"
#include "rfb/PixDraw.h"
#include "wvw/WLayout.h"
#include "wvw/WStyle.h"

namespace tlutil {
DragDropData::~DragDropData() = default;
} // namespace tlutil

namespace wvw {

plat::IntParameter
    doubleClickTime("DoubleClickTime",
                    "Maximum time in milliseconds between two mouse button clicks to count as a "
                    "double click",
                    500, plat::ParamLevel::kBasic, nullptr, 0, 2147483647);

// --- Interfaces ----------------------------------------------------------------------

WInputHandler::~WInputHandler() = default;
bool WInputHandler::key(uint32_t, bool, Widget*) { return false; }
bool WInputHandler::focusChanged(bool, Widget*) { return false; }
bool WInputHandler::activated(Widget*) { return false; }
bool WInputHandler::valueChanged(Widget*) { return false; }
bool WInputHandler::visibilityChanged(Widget*) { return false; }
bool WInputHandler::attached(Widget*) { return false; }
bool WInputHandler::detached(Widget*) { return false; }
bool WInputHandler::enabledChanged(Widget*) { return false; }
bool WInputHandler::resized(Widget*) { return false; }
bool WInputHandler::paste(Widget*) { return false; }
bool WInputHandler::copy(Widget*) { return false; }

WMouseInputHandler::~WMouseInputHandler() = default;
bool WMouseInputHandler::moved(const rfb::Point&, Widget*) { return false; }
bool WMouseInputHandler::buttonDown(int, Widget*) { return false; }
bool WMouseInputHandler::buttonUp(int, Widget*) { return false; }
bool WMouseInputHandler::left(Widget*) { return false; }

WParent::~WParent() = default;
WRoot::~WRoot() = default;

WDragDropData::~WDragDropData() = default;

bool WDragDropData::getData(WDragDropData& out) const
{
  out.setSensitive(sensitive_);
  out.data_.assign(data_);
  return sensitive_;
}

void WDragDropData::setData(int length, const uint8_t* bytes)
{
  data_.assign(bytes, length);
}

void WDragDropData::setSensitive(bool sensitive)
{
  sensitive_ = sensitive;
  data_.setSecure(sensitive);
}

// --- Widget --------------------------------------------------------------------------

Widget::Widget(WLayout* parentLayout) : clickTimer_(this)
{
  if (parentLayout)
    parentLayout->addChild(this, nullptr);
}

Widget::~Widget()
{
  liveness_.markDestroyed();
  if (parentLayout_)
    parentLayout_->unlinkDestroyed(this);
}

bool Widget::key(uint32_t keysym, bool down, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (offer([&](WInputHandler* h) { return h->key(keysym, down, source); }))
    return true;
  if (source != this || !down)
    return false;
  switch (keysym) {
  case 0x43:
  case 0x63:
  case 0x56:
  case 0x76: {
    if (!isControlDown())
      return false;
    const bool copying = keysym == 0x43 || keysym == 0x63;
    if (!(copying ? copy(this) : paste(this)) && !guard.destroyed())
      bell();
    return true;
  }
  case 0xFF09:
    if (parent_) {
      if (isShiftDown())
        parent_->focusPrevious();
      else
        parent_->focusNext();
    }
    return true;
  case 0xFF52:
    if (parent_)
      parent_->focusPrevious();
    return true;
  case 0xFF54:
    if (parent_)
      parent_->focusNext();
    return true;
  default:
    return false;
  }
}

bool Widget::focusChanged(bool backward, Widget* source)
{
  return offer([&](WInputHandler* h) { return h->focusChanged(backward, source); });
}
bool Widget::activated(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->activated(source); });
}
bool Widget::valueChanged(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->valueChanged(source); });
}
bool Widget::visibilityChanged(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->visibilityChanged(source); });
}
bool Widget::attached(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->attached(source); });
}
bool Widget::detached(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->detached(source); });
}
bool Widget::enabledChanged(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->enabledChanged(source); });
}
bool Widget::resized(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->resized(source); });
}
bool Widget::paste(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->paste(source); });
}
bool Widget::copy(Widget* source)
{
  return offer([&](WInputHandler* h) { return h->copy(source); });
}

void Widget::styleChanged()
{
  repaint();
}

void Widget::setTooltip(const char* text)
{
  if (plat::strCmpNull(text, tooltip_.get()) == 0 && (text == nullptr) == tooltip_.isNull())
    return;
  tooltip_ = plat::String(text);
}

void Widget::attach(WParent* parent, WInputHandler* parentInputHandler, WMouseInputHandler* parentMouseHandler)
{
  PLAT_ASSERT_TEXT(!parent_, "!parent");
  parent_ = parent;
  parentInputHandler_ = parentInputHandler;
  parentMouseHandler_ = parentMouseHandler;
  plat::DestroyGuard guard(liveness_);
  repaint();
  if (!guard.destroyed())
    attached(this);
}

void Widget::detach()
{
  parent_ = nullptr;
  plat::DestroyGuard guard(liveness_);
  detached(this);
  if (guard.destroyed())
    return;
  parentInputHandler_ = nullptr;
  parentMouseHandler_ = nullptr;
}

void Widget::pointerEvent(const rfb::Point& position, uint32_t buttonMask)
{
  plat::DestroyGuard guard(liveness_);
  if (position != pointerPos_) {
    pointerPos_ = position;
    pointerMoved(position, this);
    if (guard.destroyed())
      return;
  }
  if (buttonMask == buttonMask_)
    return;
  const uint32_t old = buttonMask_;
  buttonMask_ = buttonMask;
  for (int i = 0; i < 8; i++) {
    const uint32_t bit = 1u << i;
    if ((old ^ buttonMask) & bit) {
      if (buttonMask & bit)
        buttonDown(i, this);
      else
        buttonUp(i, this);
      if (guard.destroyed())
        return;
    }
  }
}

void Widget::pointerLeave()
{
  pointerLeft(this);
}

void Widget::keyEvent(uint32_t keysym, bool down)
{
  key(rfb::normaliseKeysym(keysym), down, this);
}

void Widget::repaint()
{
  invalidate(sizeRegion(size_));
}

void Widget::invalidate(const rfb::Region& region)
{
  if (parent_ && visible_)
    parent_->childInvalidated(this, region);
}

void Widget::bell()
{
  if (parent_ && visible_)
    parent_->bell();
}

rfb::Region Widget::sizeRegion(const rfb::Point& size)
{
  if (size.x < 1 || size.y < 1)
    return rfb::Region();
  return rfb::Region(rfb::Rect(0, 0, std::min(size.x, 32767), std::min(size.y, 32767)));
}

void Widget::setSize(const rfb::Point& size)
{
  if (size == size_)
    return;
  const bool oldEmpty = size_.x < 1 || size_.y < 1;
  const bool newEmpty = size.x < 1 || size.y < 1;
  rfb::Point area = oldEmpty ? size : newEmpty ? size_ : rfb::Point(std::max(size.x, size_.x), std::max(size.y, size_.y));
  size_ = size;
  plat::DestroyGuard guard(liveness_);
  invalidate(sizeRegion(area));
  if (!guard.destroyed())
    resized(this);
}

void Widget::setVisible(bool visible)
{
  if (visible == visible_)
    return;
  plat::DestroyGuard guard(liveness_);
  // The area is invalidated while it is still shown, so hiding uncovers it.
  if (!visible)
    repaint();
  visible_ = visible;
  if (visible)
    repaint();
  if (guard.destroyed())
    return;
  if (!visible && parent_ && parent_->isChildFocused(this))
    parent_->focusNext();
  if (!guard.destroyed())
    visibilityChanged(this);
}

void Widget::setEnabled(bool enabled)
{
  if (enabled == enabled_)
    return;
  enabled_ = enabled;
  plat::DestroyGuard guard(liveness_);
  if (!enabled && parent_ && parent_->isChildFocused(this))
    parent_->focusNext();
  if (!guard.destroyed())
    enabledChanged(this);
}

bool Widget::sendMouseEvent(uint32_t kind, const rfb::Point& position)
{
  if (!mouseCallback_ || !parent_)
    return false;
  tlutil::MouseEvent e;
  e.kind = kind;
  e.position = position;
  e.widget = this;
  return mouseCallback_->mouseEvent(e);
}

bool Widget::pointerMoved(const rfb::Point& position, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  clickRef_ = pointerPos_;
  if (sendMouseEvent(tlutil::MouseEvent::kMotion, pointerPos_) || guard.destroyed())
    return true;
  if (mouseHandler_ && mouseHandler_->moved(position, source))
    return true;
  if (guard.destroyed())
    return true;
  return parentMouseHandler_ && parentMouseHandler_->moved(position, source);
}

bool Widget::buttonDown(int button, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (button == 0 && source == this && parent_ && wantsFocus()) {
    parent_->setFocus(this);
    if (guard.destroyed())
      return true;
  }
  if (button == 0 && (sendMouseEvent(tlutil::MouseEvent::kPress, pointerPos_) || guard.destroyed()))
    return true;
  if (mouseHandler_ && mouseHandler_->buttonDown(button, source))
    return true;
  if (guard.destroyed())
    return true;
  return parentMouseHandler_ && parentMouseHandler_->buttonDown(button, source);
}

bool Widget::buttonUp(int button, Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  const bool wasRunning = clickTimer_.isStarted();
  clickTimer_.stop();
  if (mouseCallback_ && parent_) {
    if (button == 2 || (button == 0 && isControlDown())) {
      sendMouseEvent(tlutil::MouseEvent::kContext, pointerPos_);
    } else if (button == 0) {
      rfb::Point offset;
      getRoot(&offset);
      const rfb::Point rootPos = offset.translate(pointerPos_);
      const rfb::Point previous = clickRef_;
      clickRef_ = rootPos;
      if (wasRunning && rootPos == previous) {
        sendMouseEvent(tlutil::MouseEvent::kDoubleClick, pointerPos_);
        if (!guard.destroyed())
          sendMouseEvent(tlutil::MouseEvent::kClick, pointerPos_);
      } else {
        clickTimer_.start(doubleClickTime);
        sendMouseEvent(tlutil::MouseEvent::kClick, pointerPos_);
      }
    }
    if (guard.destroyed())
      return true;
  }
  // The callback's answer is ignored: the handlers always see a release.
  if (mouseHandler_ && mouseHandler_->buttonUp(button, source))
    return true;
  if (guard.destroyed())
    return true;
  return parentMouseHandler_ && parentMouseHandler_->buttonUp(button, source);
}

bool Widget::pointerLeft(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (sendMouseEvent(tlutil::MouseEvent::kLeft, pointerPos_) || guard.destroyed())
    return true;
  if (mouseHandler_ && mouseHandler_->left(source))
    return true;
  if (guard.destroyed())
    return true;
  return parentMouseHandler_ && parentMouseHandler_->left(source);
}

bool Widget::isKeyDown(uint32_t keysym)
{
  return parent_ && parent_->isKeyDown(keysym);
}

bool Widget::timerExpired(plat::Timer* timer)
{
  if (timer == &clickTimer_ && mouseCallback_)
    sendMouseEvent(tlutil::MouseEvent::kClickTimeout, clickRef_);
  return false;
}

void Widget::setStyle(const WStyle* style)
{
  style_ = style;
  styleChanged();
}

const WStyle* Widget::getStyle() const
{
  for (const Widget* w = this; w; w = w->parentLayout_) {
    if (w->style_)
      return w->style_;
  }
  return &WStyle::getDefault();
}

void Widget::setPosition(const rfb::Point& position)
{
  PLAT_ASSERT_TEXT(parentLayout_, "parentLayout");
  parentLayout_->setChildPosition(this, position);
}

rfb::Point Widget::getPosition() const
{
  PLAT_ASSERT_TEXT(parentLayout_, "parentLayout");
  return parentLayout_->getChildPosition(const_cast<Widget*>(this));
}

bool Widget::hasFocus()
{
  return parent_ && parent_->isChildFocused(this);
}

void Widget::setFocus()
{
  if (parent_)
    parent_->setFocus(this);
}

WRoot* Widget::getRoot(rfb::Point* offset)
{
  if (parentLayout_) {
    WRoot* root = parentLayout_->Widget::getRoot(offset);
    if (offset)
      *offset = offset->translate(parentLayout_->getChildPosition(this));
    return root;
  }
  PLAT_ASSERT_TEXT(parent_, "parent");
  return parent_->getRoot(offset);
}

rfb::Point Widget::translateTo(const rfb::Point& point, Widget* other)
{
  rfb::Point mine, theirs;
  WRoot* myRoot = getRoot(&mine);
  WRoot* theirRoot = other->getRoot(&theirs);
  PLAT_ASSERT(myRoot && myRoot == theirRoot);
  return point.translate(mine).translate(theirs.negate());
}

rfb::Pixel Widget::pixel(const rfb::PixelBuffer& pb, const plat::Colour& c) const
{
  const int rgb[3] = {c.r, c.g, c.b};
  return pb.format.pixelFromRGB(rgb, pb.colourMap);
}

void Widget::drawBevel(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, Bevel bevel, Shape shape) const
{
  const WStyle* s = getStyle();
  const bool raised = bevel == Bevel::Raised;
  const rfb::Pixel outer = pixel(pb, raised ? s->bevelFrame : s->bevelLight);
  const rfb::Pixel inner = pixel(pb, raised ? s->bevelLight : s->bevelFrame);
  const int radius = shape == Shape::Circular ? r.width() / 2 : 3;
  rfb::drawRoundedRect(pb, r, radius, outer);
  rfb::drawRoundedRect(pb, outsetRect(r, -1), radius - 1, inner);
}

bool Widget::drawFocusRing(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, int radius)
{
  if (!hasFocus())
    return false;
  const rfb::Pixel p = pixel(pb, getStyle()->mark);
  if (radius > 0)
    rfb::drawRoundedRect(pb, r, radius, p);
  else
    rfb::drawRectBorder(pb, r, p, 1);
  return true;
}

} // namespace wvw
