#include "wvw/WSmallControls.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "rfb/PixDraw.h"
#include "wvw/WStyle.h"

namespace wvw {

// --- WArrow ----------------------------------------------------------------------------

void WArrow::setMargin(int margin)
{
  if (margin == margin_)
    return;
  margin_ = margin;
  repaint();
}

bool WArrow::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return Widget::enabledChanged(source);
}

void WArrow::paint(rfb::WritablePixelBuffer& pb)
{
  const int side = std::min(width(), height());
  const int l = side - 2 * margin_;
  const int lines = l - l / 2;
  if (l <= 0 || lines <= 0)
    return;
  const int left = (width() - side) / 2 + margin_;
  const int top = (height() - side) / 2 + margin_;
  const WStyle* s = getStyle();
  const rfb::Pixel p = pixel(pb, isEnabled() ? s->contentText : s->disabledText);
  for (int i = 0; i < lines; i++) {
    // Line i runs across the square, i pixels in from each end.
    const int from = i, to = l - i;
    switch (direction_) {
    case kDown:
      rfb::fillRect(pb, rfb::Rect(left + from, top + l / 4 + i, left + to, top + l / 4 + i + 1), p);
      break;
    case kUp: {
      const int y = top + l - (l / 4 + 1) - i;
      rfb::fillRect(pb, rfb::Rect(left + from, y, left + to, y + 1), p);
      break;
    }
    case kLeft: {
      const int x = left + l - (l / 4 + 1) - i;
      rfb::fillRect(pb, rfb::Rect(x, top + from, x + 1, top + to), p);
      break;
    }
    case kRight:
      rfb::fillRect(pb, rfb::Rect(left + l / 4 + i, top + from, left + l / 4 + i + 1, top + to), p);
      break;
    default:
      return;
    }
  }
}

// --- WCanvas ---------------------------------------------------------------------------

void WCanvas::paint(rfb::WritablePixelBuffer& pb)
{
  rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, getStyle()->bg));
  WLayout::paint(pb);
}

// --- WCheckBox -------------------------------------------------------------------------

const uint8_t WCheckBox::kCheckBits[8] = {0x02, 0x06, 0x8E, 0xDC, 0xF8, 0x70, 0x20, 0x00};
const uint8_t WCheckBox::kDotBits[8] = {0x00, 0x00, 0x18, 0x3C, 0x3C, 0x18, 0x00, 0x00};

WCheckBox::WCheckBox(const char* styleName, uint32_t state) : state_(state)
{
  const std::string name = styleName ? styleName : "";
  if (name == "WCheck_check") {
    glyph_ = kCheckBits;
  } else if (name == "WCheck_dot") {
    glyph_ = kDotBits;
    radio_ = true;
  } else {
    offImage_ = tlutil::NamedImagePixelBuffer::get(("off-" + name).c_str());
    onImage_ = tlutil::NamedImagePixelBuffer::get(("on-" + name).c_str());
    indImage_ = tlutil::NamedImagePixelBuffer::get(("ind-" + name).c_str());
  }
}

WCheckBox::~WCheckBox() = default;

void WCheckBox::setState(uint32_t state)
{
  if (state == state_)
    return;
  state_ = state;
  plat::DestroyGuard guard(liveness_);
  repaint();
  if (!guard.destroyed())
    valueChanged(this);
}

bool WCheckBox::activated(Widget* source)
{
  if (source == this) {
    plat::DestroyGuard guard(liveness_);
    setState(state_ == kOn ? kOff : kOn);
    if (guard.destroyed())
      return true;
  }
  return WButton::activated(source);
}

bool WCheckBox::focusChanged(bool backward, Widget* source)
{
  if (source == this)
    repaint();
  return WButton::focusChanged(backward, source);
}

bool WCheckBox::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return WButton::enabledChanged(source);
}

void WCheckBox::paint(rfb::WritablePixelBuffer& pb)
{
  WButton::paint(pb);
  const WStyle* s = getStyle();
  if (!glyph_) {
    const auto& image = state_ == kOff ? offImage_ : state_ == kOn ? onImage_ : indImage_;
    if (image.get())
      rfb::blendImage(*image.get(), rfb::Point(0, 0), pb, rfb::Rect(0, 0, imageSize_.x, imageSize_.y));
    return;
  }
  const rfb::Point at((width() - kBox) / 2, (height() - kBox) / 2);
  const rfb::Rect box(at.x, at.y, at.x + kBox, at.y + kBox);
  rfb::fillRect(pb, box, pixel(pb, isEnabled() ? s->contentBg : s->disabledBg));
  drawBevel(pb, outsetRect(box, 2), Bevel::Raised, radio_ ? Shape::Circular : Shape::Square);
  drawFocusRing(pb, outsetRect(box, 2), radio_ ? 8 : 3);
  if (state_ == kOff)
    return;
  const uint8_t* bits = state_ == kOn ? glyph_ : kDotBits;
  const rfb::Rect glyph(at.x + 1, at.y + 1, at.x + 9, at.y + 9);
  rfb::drawBitmap(pb, glyph, pixel(pb, isEnabled() ? s->contentText : s->disabledText), bits, 1, 0);
}

// --- WCustom ---------------------------------------------------------------------------

WCustom::Callback::~Callback() = default;
WCustom::DragSource::~DragSource() = default;
WCustom::DragListener::~DragListener() = default;

WCustom::WCustom(Callback* callback, PointerRouting routing, DragSource* dragSource, WParent* dragParent)
  : WLayout(routing), callback_(callback), dragSource_(dragSource), dragParent_(dragParent)
{
}

WCustom::~WCustom() = default;

void WCustom::setDragSource(const char* typeName, const char* const* acceptedTypes, DragListener* listener)
{
  drag_.reset(new Drag);
  drag_->typeName = typeName;
  drag_->acceptedTypes = acceptedTypes;
  drag_->listener = listener;
}

bool WCustom::buttonDown(int button, Widget* source)
{
  if (drag_ && dragSource_ && source == this && button == 0) {
    plat::DestroyGuard guard(liveness_);
    drag_->pressed = dragSource_->canStartDrag(this, getPointerPos());
    if (guard.destroyed())
      return true;
    if (drag_->pressed)
      drag_->threshold.start(getPointerPos());
  }
  return WLayout::buttonDown(button, source);
}

bool WCustom::buttonUp(int button, Widget* source)
{
  if (drag_ && source == this && button == 0)
    drag_->pressed = false;
  return WLayout::buttonUp(button, source);
}

bool WCustom::pointerMoved(const rfb::Point& position, Widget* source)
{
  if (drag_ && drag_->pressed && source == this && getButtonMask() == 1 && drag_->threshold.exceeded(position)) {
    drag_->pressed = false;
    plat::DestroyGuard guard(liveness_);
    WDragDropData data(drag_->typeName);
    dragSource_->fillDragData(this, data);
    if (guard.destroyed())
      return true;
    rfb::ManagedPixelBuffer image(rfb::rgb888Format(), rfb::Rect());
    if (drag_->listener)
      drag_->listener->drawDragImage(this, data, image);
    if (guard.destroyed())
      return true;
    if (dragParent_)
      dragParent_->startDrag(&data, &image);
    if (guard.destroyed())
      return true;
  }
  return WLayout::pointerMoved(position, source);
}

bool WCustom::canDrop(WDragDropData* data)
{
  if (!drag_ || !drag_->acceptedTypes || !data)
    return false;
  for (const char* const* t = drag_->acceptedTypes; *t; t++) {
    if (strcmp(*t, data->getType()) == 0)
      return true;
  }
  return false;
}

bool WCustom::dragOver(WDragDropData* data, const rfb::Point& position)
{
  if (!canDrop(data) || !dragSource_)
    return WLayout::dragOver(data, position);
  return dragSource_->canDropAt(this, data, position);
}

void WCustom::dragEnded()
{
  if (drag_)
    drag_->pressed = false;
  WLayout::dragEnded();
}

// --- WImage ----------------------------------------------------------------------------

WImage::WImage(const char* name, int flags)
{
  if (name)
    setImage(name, flags);
}

WImage::~WImage() = default;

bool WImage::setImage(const char* name, int /*flags: the loader picks the variant itself*/)
{
  if (!name) {
    handle_ = plat::SharedHandle<tlutil::NamedImagePixelBuffer>();
    image_ = nullptr;
    repaint();
    return true;
  }
  handle_ = tlutil::NamedImagePixelBuffer::get(name);
  image_ = handle_.get();
  const rfb::Point size(image_->rect.width(), image_->rect.height());
  if (width() == 0 && height() == 0)
    setSize(size);
  repaint();
  return size.x > 0 && size.y > 0;
}

void WImage::setAlignment(int hAlign, int vAlign)
{
  hAlign_ = hAlign;
  vAlign_ = vAlign;
  repaint();
}

void WImage::setTile(bool tile)
{
  tile_ = tile;
  repaint();
}

rfb::Point WImage::preferredSize()
{
  return image_ ? rfb::Point(image_->rect.width(), image_->rect.height()) : rfb::Point();
}

bool WImage::enabledChanged(Widget* source)
{
  if (source == this)
    repaint();
  return Widget::enabledChanged(source);
}

void WImage::paint(rfb::WritablePixelBuffer& pb)
{
  if (!image_)
    return;
  const int iw = image_->rect.width(), ih = image_->rect.height();
  if (iw <= 0 || ih <= 0)
    return;
  // The image at (x, y), cut at the widget's far edges.
  auto clipped = [&](int x, int y) {
    return rfb::Rect(x, y, std::min(x + iw, width()), std::min(y + ih, height()));
  };
  const rfb::BlendFunc blend = isEnabled() ? rfb::blendOver : rfb::blendGreyOver;
  if (!tile_) {
    const rfb::Point at((width() - iw) * hAlign_ / 2, (height() - ih) * vAlign_ / 2);
    rfb::blendImage(*image_, image_->rect.topLeft, pb, clipped(at.x, at.y), blend);
    return;
  }
  for (int y = 0; y < height(); y += ih) {
    for (int x = 0; x < width(); x += iw)
      rfb::blendImage(*image_, image_->rect.topLeft, pb, clipped(x, y), blend);
  }
}

} // namespace wvw
