#include "wvw/WButton.h"

#include "rfb/PixDraw.h"
#include "wvw/WStyle.h"

namespace wvw {

const uint8_t kLeftArrowBits[8] = {0x04, 0x0c, 0x1c, 0x3c, 0x3c, 0x1c, 0x0c, 0x04};
const uint8_t kUpArrowBits[8] = {0x00, 0x00, 0x18, 0x3c, 0x7e, 0xff, 0x00, 0x00};
const uint8_t kRightArrowBits[8] = {0x20, 0x30, 0x38, 0x3c, 0x3c, 0x38, 0x30, 0x20};
const uint8_t kDownArrowBits[8] = {0x00, 0x00, 0xff, 0x7e, 0x3c, 0x18, 0x00, 0x00};

namespace {

constexpr uint32_t kReturn = 0xFF0D;
constexpr uint32_t kSpace = 0x20;

} // namespace

// --- WButton ---------------------------------------------------------------------

WButton::WButton() : WLayout(PointerRouting::ToSelf)
{
  propagateEnabled_ = true;
}

bool WButton::setPressed(bool pressed)
{
  if (pressed == pressed_)
    return false;
  pressed_ = pressed;
  valueChanged(this);
  return true;
}

bool WButton::key(uint32_t keysym, bool down, Widget* source)
{
  if (source == this && down && (keysym == kReturn || keysym == kSpace)) {
    plat::DestroyGuard guard(liveness_);
    if (activated(this) || guard.destroyed())
      return true;
  }
  return WLayout::key(keysym, down, source);
}

bool WButton::buttonDown(int button, Widget* source)
{
  if (source == this && button == 0 && !pressed_) {
    plat::DestroyGuard guard(liveness_);
    setPressed(true);
    if (guard.destroyed())
      return true;
  }
  return WLayout::buttonDown(button, source);
}

bool WButton::buttonUp(int button, Widget* source)
{
  if (source == this && button == 0 && pressed_) {
    plat::DestroyGuard guard(liveness_);
    setPressed(false);
    if (guard.destroyed())
      return true;
    const rfb::Point& p = getPointerPos();
    if (p.x >= 0 && p.y >= 0 && p.x < width() && p.y < height()) {
      if (activated(this) || guard.destroyed())
        return true;
    }
  }
  return WLayout::buttonUp(button, source);
}

bool WButton::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this && getButtonMask() && !pressed_) {
    plat::DestroyGuard guard(liveness_);
    setPressed(true);
    if (guard.destroyed())
      return true;
  }
  return WLayout::pointerMoved(position, source);
}

// --- WBevelButton ---------------------------------------------------------------------

void WBevelButton::setContent(Widget* content)
{
  if (content_)
    removeChild(content_);
  content_ = content;
  if (content)
    addChildRect(content, contentRect(), nullptr);
}

void WBevelButton::childDestroyed(Widget* child)
{
  if (child == content_)
    content_ = nullptr;
}

bool WBevelButton::valueChanged(Widget* source)
{
  if (source == this)
    repaint();
  return WButton::valueChanged(source);
}

bool WBevelButton::focusChanged(bool backward, Widget* source)
{
  if (source == this)
    repaint();
  return WButton::focusChanged(backward, source);
}

bool WBevelButton::resized(Widget* source)
{
  if (source == this && content_)
    setChildRect(content_, contentRect());
  return WButton::resized(source);
}

rfb::Point WBevelButton::preferredSize()
{
  if (!content_)
    return rfb::Point(2 * kInset, 2 * kInset);
  return content_->preferredSize().translate(rfb::Point(2 * kInset, 2 * kInset));
}

void WBevelButton::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const plat::Colour& top = !isEnabled() ? s->bevelLight : isPressed() ? s->buttonFace : s->bevelLight;
  const plat::Colour& bottom = !isEnabled() ? s->bevelLight : isPressed() ? s->buttonPressed : s->buttonFace;
  const int t[3] = {top.r, top.g, top.b}, b[3] = {bottom.r, bottom.g, bottom.b};
  rfb::fillVerticalGradient(pb, rfb::Rect(2, 2, width() - 2, height() - 2), t, b);
  WButton::paint(pb);
  const rfb::Rect all(0, 0, width(), height());
  drawBevel(pb, all, isPressed() ? Bevel::Sunken : Bevel::Raised);
  drawFocusRing(pb, all);
}

// --- WIcon ------------------------------------------------------------------------------

bool WIcon::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return Widget::enabledChanged(source);
}

void WIcon::paint(rfb::WritablePixelBuffer& pb)
{
  if (!bits_ || bitmapSize_.x <= 0 || bitmapSize_.y <= 0)
    return;
  const WStyle* s = getStyle();
  const rfb::Point at((width() - bitmapSize_.x) / 2, (height() - bitmapSize_.y) / 2);
  const rfb::Rect r(at, at.translate(bitmapSize_));
  rfb::drawBitmap(pb, r, pixel(pb, isEnabled() ? s->contentText : s->disabledText), bits_, (bitmapSize_.x + 7) / 8,
                  0);
}

// --- WIconButton --------------------------------------------------------------------------

WIconButton::WIconButton(const uint8_t* bits, const rfb::Point& size) : icon_(bits, size)
{
  setContent(&icon_);
}

} // namespace wvw
