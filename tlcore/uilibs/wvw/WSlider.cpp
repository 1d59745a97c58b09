#include "wvw/WSlider.h"

#include <algorithm>

#include "rfb/PixDraw.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {

constexpr uint32_t kLeft = 0xFF51, kUp = 0xFF52, kRight = 0xFF53, kDown = 0xFF54;

int clampTo(int64_t v, int hi)
{
  return (int)std::max<int64_t>(0, std::min<int64_t>(v, hi));
}

void gradient(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, int top, int bottom)
{
  const int t[3] = {top, top, top}, b[3] = {bottom, bottom, bottom};
  rfb::fillVerticalGradient(pb, r, t, b);
}

} // namespace

// --- WSlider2D -------------------------------------------------------------------------

WSlider2D::WSlider2D()
{
  setPage(rfb::Point(1, 1));
}

int64_t WSlider2D::mulDivRound(int64_t a, int64_t b, int64_t c)
{
  const int64_t n = a * b;
  return n >= 0 ? (2 * n + c) / (2 * c) : -((-2 * n + c) / (2 * c));
}

void WSlider2D::computeThumb()
{
  auto axis = [](int size, int page, int range) {
    const int64_t t = mulDivRound(page, size, (int64_t)range + page);
    return (int)std::max<int64_t>(kMinThumb, std::min<int64_t>(size, t));
  };
  thumbSize_ = rfb::Point(axis(width(), page_.x, range_.x), axis(height(), page_.y, range_.y));
}

rfb::Point WSlider2D::thumbPosition() const
{
  auto axis = [](int size, int thumb, int value, int range) {
    return range == 0 ? 0 : (int)mulDivRound((int64_t)size - thumb, value, range);
  };
  return rfb::Point(axis(width(), thumbSize_.x, value_.x, range_.x),
                    axis(height(), thumbSize_.y, value_.y, range_.y));
}

void WSlider2D::setValue(const rfb::Point& value)
{
  const rfb::Point v(clampTo(value.x, range_.x), clampTo(value.y, range_.y));
  if (v == value_)
    return;
  value_ = v;
  valueChanged(this);
}

void WSlider2D::setRange(const rfb::Point& range)
{
  range_ = rfb::Point(std::max(range.x, 0), std::max(range.y, 0));
  plat::DestroyGuard guard(liveness_);
  setPage(page_);
  if (!guard.destroyed())
    setValue(value_);
}

void WSlider2D::setPage(const rfb::Point& page)
{
  page_ = rfb::Point(std::max(page.x, 1), std::max(page.y, 1));
  computeThumb();
  repaint();
}

bool WSlider2D::valueChanged(Widget* source)
{
  if (source == this) {
    plat::DestroyGuard guard(liveness_);
    repaint();
    if (guard.destroyed())
      return true;
  }
  return Widget::valueChanged(source);
}

bool WSlider2D::resized(Widget* source)
{
  if (source == this)
    computeThumb();
  return Widget::resized(source);
}

bool WSlider2D::buttonDown(int button, Widget* source)
{
  if (source == this && button == 0) {
    const rfb::Point p = getPointerPos();
    const rfb::Point at = thumbPosition();
    const rfb::Rect thumb(at, at.translate(thumbSize_));
    plat::DestroyGuard guard(liveness_);
    if (thumb.contains(p)) {
      dragOffset_ = p.translate(at.negate());
      dragging_ = true;
      repaint();
    } else {
      auto step = [](int pointer, int near, int far, int value, int page) -> int64_t {
        if (pointer >= far)
          return (int64_t)value + page;
        if (pointer < near)
          return (int64_t)value - page;
        return value;
      };
      const rfb::Point far = thumb.bottomRight;
      setValue(rfb::Point(clampTo(step(p.x, at.x, far.x, value_.x, page_.x), range_.x),
                          clampTo(step(p.y, at.y, far.y, value_.y, page_.y), range_.y)));
    }
    if (guard.destroyed())
      return true;
  }
  return Widget::buttonDown(button, source);
}

bool WSlider2D::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (source == this && dragging_) {
    auto axis = [](int pointer, int offset, int size, int thumb, int range) -> int {
      if (size <= thumb)
        return 0;
      return clampTo(mulDivRound((int64_t)pointer - offset, range, (int64_t)size - thumb), range);
    };
    plat::DestroyGuard guard(liveness_);
    setValue(rfb::Point(axis(position.x, dragOffset_.x, width(), thumbSize_.x, range_.x),
                        axis(position.y, dragOffset_.y, height(), thumbSize_.y, range_.y)));
    if (guard.destroyed())
      return true;
  }
  return Widget::pointerMoved(position, source);
}

bool WSlider2D::buttonUp(int button, Widget* source)
{
  if (source == this && button == 0) {
    dragging_ = false;
    plat::DestroyGuard guard(liveness_);
    repaint();
    if (guard.destroyed())
      return true;
  }
  return Widget::buttonUp(button, source);
}

void WSlider2D::paint(rfb::WritablePixelBuffer& pb)
{
  const rfb::Point at = thumbPosition();
  const rfb::Rect thumb(at, at.translate(thumbSize_));
  if (dragging_)
    gradient(pb, outsetRect(thumb, -2), kGreyDark, kGreyDragged);
  else
    gradient(pb, outsetRect(thumb, -2), kGreyLight, kGreyDark);
  drawBevel(pb, thumb, dragging_ ? Bevel::Raised : Bevel::Sunken);
}

// --- WSlider ---------------------------------------------------------------------------

WSlider::WSlider(bool horizontal) : horizontal_(horizontal)
{
  setPage(horizontal ? rfb::Point(1, 0) : rfb::Point(0, 1));
}

// --- WDiscreteSlider -------------------------------------------------------------------

bool WDiscreteSlider::key(uint32_t keysym, bool down, Widget* source)
{
  if (source == this && down) {
    int delta = 0;
    if (horizontal_)
      delta = keysym == kLeft ? -1 : keysym == kRight ? 1 : 0;
    else
      delta = keysym == kUp ? -1 : keysym == kDown ? 1 : 0;
    if (delta) {
      const rfb::Point v = getValue();
      setValue(horizontal_ ? rfb::Point(v.x + delta, v.y) : rfb::Point(v.x, v.y + delta));
      return true;
    }
  }
  return WSlider::key(keysym, down, source);
}

bool WDiscreteSlider::focusChanged(bool backward, Widget* source)
{
  if (source == this)
    repaint();
  return WSlider::focusChanged(backward, source);
}

bool WDiscreteSlider::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return WSlider::enabledChanged(source);
}

int WDiscreteSlider::thumbOffset(int value) const
{
  const int range = horizontal_ ? getRange().x : getRange().y;
  const int length = horizontal_ ? width() : height();
  return range == 0 ? 0 : (int)mulDivRound(value, (int64_t)length - kThumbLength, range);
}

void WDiscreteSlider::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const int c = std::min(height(), 20);
  const int length = horizontal_ ? width() : height();
  // Rectangles are built along the axis (a) and across it (b).
  auto rect = [this](int a0, int b0, int a1, int b1) {
    return horizontal_ ? rfb::Rect(a0, b0, a1, b1) : rfb::Rect(b0, a0, b1, a1);
  };
  const int across = (c - kGroove) / 2;
  const rfb::Rect groove = rect(0, across, length, across + kGroove);
  if (isEnabled())
    rfb::fillRect(pb, outsetRect(groove, -1), pixel(pb, s->contentBg));
  drawBevel(pb, groove, Bevel::Raised);

  const int value = horizontal_ ? getValue().x : getValue().y;
  const int range = horizontal_ ? getRange().x : getRange().y;
  const int at = thumbOffset(value);
  const rfb::Rect thumb = rect(at, 0, at + kThumbLength, c);
  const rfb::Rect face = outsetRect(thumb, -2);
  if (!isEnabled())
    rfb::fillRect(pb, face, pixel(pb, plat::Colour{kGreyDragged, kGreyDragged, kGreyDragged}));
  else if (isDragging())
    gradient(pb, face, kGreyDark, kGreyDragged);
  else
    gradient(pb, face, kGreyLight, kGreyDark);
  drawBevel(pb, thumb, isDragging() ? Bevel::Sunken : Bevel::Raised);
  drawFocusRing(pb, thumb);

  const rfb::Pixel tick = pixel(pb, s->bevelFrame);
  if (range >= length) { // ticks closer than a pixel: a solid band
    rfb::fillRect(pb, rect(0, c + 2, length, c + 8), tick);
    return;
  }
  for (int v = 0; v <= range; v++) {
    const int a = thumbOffset(v) + kThumbLength / 2;
    rfb::fillRect(pb, rect(a, c + 2, a + 1, c + 8), tick);
  }
}

} // namespace wvw
