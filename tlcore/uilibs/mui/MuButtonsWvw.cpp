#include "mui/MuButtonsWvw.h"

#include <algorithm>

#include "plat/Colour.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "tlutil/ScaledPixelBuffer.h"
#include "wvw/WRichText.h"

namespace mui {

namespace {

int px(int units)
{
  return Mui::scale(units);
}

plat::Colour elementColour(const MuElement* e, plat::Colour fallback)
{
  const plat::Markup::Style& s = e->effectiveStyle();
  return plat::getColor(s.color.get(), fallback);
}

rfb::Rect whole(const wvw::Widget& w)
{
  return rfb::Rect(0, 0, w.width(), w.height());
}

} // namespace

// --- Button -----------------------------------------------------------------

MuButtonWvw::MuButtonWvw(MuContainer* parent, const char* name, const char* label, uint32_t type,
                         uint32_t styleFlags, uint32_t alignment)
  : MuButton(parent, name, label, type, styleFlags, alignment),
    custom_(this, wvw::WLayout::PointerRouting::ToSelf),
    label_(""),
    arrow_(wvw::WArrow::kDown)
{
  if (type != kCustom)
    label_.setMargin(0);
  label_.setTransparent(true);
  label_.setWrap(false);
  if (type == kHyperlink) {
    wstyle_.contentText = wvw::WRichText::kLinkColour;
    label_.setUnderline(true);
  }
  if (type != kCustom)
    custom_.addChild(&images_[0], nullptr);
  custom_.addChild(&label_, nullptr);
  if (styleFlags & kDropArrow) {
    arrow_.setMargin(0);
    custom_.addChild(&arrow_, nullptr);
  }
  custom_.setInputHandler(this);
  custom_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &custom_));
  setLabel(label);
}

MuButtonWvw::~MuButtonWvw()
{
  setCommon(nullptr);
}

void MuButtonWvw::setLabel(const char* label)
{
  MuButton::setLabel(label);
  label_.setText(label ? label : "");
  label_.stripMnemonic();
  layOut();
}

void MuButtonWvw::setImage(const char* name, const Size& size, int state, bool keepName)
{
  MuButton::setImage(name, size, state, keepName);
  if (state < 0 || state > 2)
    return;
  images_[state].setNamed(name, size);
  layOut();
}

void MuButtonWvw::setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image, int state)
{
  if (state < 0 || state > 2)
    return;
  images_[state].setBuffer(std::move(image));
  layOut();
}

void MuButtonWvw::setImageSizes(const Size& topLeft, const Size& bottomRight)
{
  MuButton::setImageSizes(topLeft, bottomRight);
  layOut();
}

void MuButtonWvw::stateChanged()
{
  const bool enabled = flags() == 0;
  if (type_ != kCustom)
    images_[0].setEnabled(enabled);
  label_.setEnabled(enabled);
  arrow_.setEnabled(enabled);
  custom_.repaint();
}

void MuButtonWvw::styleChanged()
{
  const plat::Markup::Style& s = effectiveStyle();
  tlutil::FontSpec spec;
  spec.size = s.size;
  spec.weight = s.weight;
  wstyle_.font = tlutil::Font::forStyle(spec);
  if (type_ != kHyperlink)
    wstyle_.contentText = elementColour(this, MuiWvw::instance().getStyle().contentText);
  custom_.styleChanged();
  layOut();
}

rfb::PixelBuffer* MuButtonWvw::currentImage() const
{
  rfb::PixelBuffer* image = images_[0].image();
  if ((pointer_ & (kHover | kPressed)) && images_[1].image())
    image = images_[1].image();
  if ((pointer_ & kPressed) && images_[2].image())
    image = images_[2].image();
  return image;
}

void MuButtonWvw::setPointer(uint32_t state)
{
  if (state == pointer_)
    return;
  rfb::PixelBuffer* before = currentImage();
  pointer_ = state;
  if (type_ == kHyperlink) {
    wstyle_.contentText = pointer_ ? wvw::WRichText::kActiveLinkColour : wvw::WRichText::kLinkColour;
    custom_.styleChanged();
  }
  if (type_ != kCustom || currentImage() != before)
    custom_.repaint();
}

bool MuButtonWvw::mouseEvent(const tlutil::MouseEvent& event)
{
  if (flags() != 0)
    return MuButton::mouseEvent(event);
  const bool inside = rfb::Rect(0, 0, custom_.width(), custom_.height()).contains(event.position);
  switch (event.kind) {
  case tlutil::MouseEvent::kPress:
    setPointer(pointer_ | kPressed);
    return true;
  case tlutil::MouseEvent::kClick:
    setPointer(pointer_ & ~kPressed);
    if (inside)
      notify(this, kActivated);
    return true;
  case tlutil::MouseEvent::kMotion:
    setPointer(inside ? pointer_ | kHover : pointer_ & ~kHover);
    return MuButton::mouseEvent(event);
  case tlutil::MouseEvent::kLeft:
    setPointer(pointer_ & ~kHover);
    return MuButton::mouseEvent(event);
  default:
    return MuButton::mouseEvent(event);
  }
}

bool MuButtonWvw::key(uint32_t keysym, bool down, wvw::Widget* source)
{
  if (source != &custom_ || !down || (keysym != 0xFF0D && keysym != 0x20) || flags() != 0)
    return false;
  notify(this, kActivated);
  return true;
}

bool MuButtonWvw::focusChanged(bool, wvw::Widget* source)
{
  if (source == &custom_)
    custom_.repaint();
  return false;
}

bool MuButtonWvw::resized(wvw::Widget* source)
{
  if (source != &custom_)
    return false;
  layOut();
  return true;
}

bool MuButtonWvw::wantsFocus(wvw::WCustom* widget)
{
  return !(styleFlags_ & kNoFocus) && widget->isVisible() && widget->isEnabled();
}

rfb::Point MuButtonWvw::contentSize()
{
  const rfb::Point icon = images_[0].preferredSize();
  const bool hasIcon = icon.x != 0 || icon.y != 0;
  const bool hasLabel = label_.getText() && *label_.getText();
  const rfb::Point text = hasLabel ? label_.preferredSize() : rfb::Point();
  const int gap = px(12);
  int w = hasIcon && hasLabel ? icon.x + gap + text.x : hasIcon ? icon.x : text.x;
  int h = std::max(icon.y, text.y);
  if (styleFlags_ & kDropArrow) {
    w = (w ? w + gap : 0) + px(14);
    h = std::max(h, px(14));
  }
  return rfb::Point(w, h);
}

void MuButtonWvw::layOut()
{
  const int width = custom_.width(), height = custom_.height();
  if (type_ == kCustom) {
    custom_.setChildRect(&label_, rfb::Rect(insetTopLeft_.x, insetTopLeft_.y, width - insetBottomRight_.x,
                                            height - insetBottomRight_.y));
    custom_.repaint();
    return;
  }
  const rfb::Point content = contentSize();
  const int p = type_ == kNormal && !(styleFlags_ & kCompact) ? px(8) : 0;
  int x = alignment_ == kCentre ? (width - content.x) / 2 : alignment_ == kRight ? width - p - content.x : p;
  const int y = (height - content.y) / 2;
  const int gap = px(12);
  const rfb::Point icon = images_[0].preferredSize();
  if (icon.x || icon.y) {
    custom_.setChildRect(&images_[0], rfb::Rect(x, y, x + icon.x, y + content.y));
    x += icon.x + gap;
  } else {
    custom_.setChildRect(&images_[0], rfb::Rect());
  }
  if (label_.getText() && *label_.getText()) {
    const int w = label_.preferredSize().x;
    custom_.setChildRect(&label_, rfb::Rect(x, y, x + w, y + content.y));
    x += w + gap;
  } else {
    custom_.setChildRect(&label_, rfb::Rect());
  }
  if (styleFlags_ & kDropArrow)
    custom_.setChildRect(&arrow_, rfb::Rect(x, y, x + px(14), y + content.y));
  custom_.repaint();
}

rfb::Point MuButtonWvw::preferredSize(wvw::WCustom*)
{
  if (type_ == kCustom) {
    const rfb::Point text = label_.preferredSize();
    const rfb::Point image = images_[0].preferredSize();
    return rfb::Point(std::max(text.x + insetTopLeft_.x + insetBottomRight_.x, image.x),
                      std::max(text.y + insetTopLeft_.y + insetBottomRight_.y, image.y));
  }
  rfb::Point size = contentSize();
  if (type_ == kNormal && !(styleFlags_ & kCompact)) {
    size = size.translate(rfb::Point(px(16), px(16)));
    if (label_.getText() && *label_.getText()) {
      size.x = std::max(size.x, Mui::metric(Mui::kButtonWidth));
      size.y = std::max(size.y, Mui::metric(Mui::kButtonHeight));
    }
  }
  return size;
}

void MuButtonWvw::paint(wvw::WCustom* widget, rfb::WritablePixelBuffer& pb)
{
  const rfb::Rect all = whole(*widget);
  if (type_ == kCustom) {
    if (rfb::PixelBuffer* image = currentImage()) {
      const int insets[4] = {insetTopLeft_.x, insetTopLeft_.y, insetBottomRight_.x, insetBottomRight_.y};
      tlutil::drawNineSlice(insets, image, &pb, all);
    }
  } else if (type_ == kNormal && !(styleFlags_ & kCompact) && (!(styleFlags_ & kFaceOnHover) || (pointer_ & kHover))) {
    const bool down = (pointer_ & kHover) && (pointer_ & kPressed);
    const bool disabled = !widget->isEnabled();
    const plat::Colour top = disabled ? wstyle_.bevelLight : down ? wstyle_.buttonFace : wstyle_.bevelLight;
    const plat::Colour bottom = disabled ? wstyle_.bevelLight : down ? wstyle_.buttonPressed : wstyle_.buttonFace;
    const int t[3] = {top.r, top.g, top.b}, b[3] = {bottom.r, bottom.g, bottom.b};
    rfb::fillVerticalGradient(pb, wvw::Widget::outsetRect(all, -2), t, b);
    widget->drawBevel(pb, all, down ? wvw::Widget::Bevel::Sunken : wvw::Widget::Bevel::Raised);
  }
  widget->WLayout::paint(pb);
  widget->drawFocusRing(pb, wvw::Widget::outsetRect(all, -3), type_ == kCustom ? 0 : 3);
}

// --- Check ------------------------------------------------------------------

MuCheckWvw::MuCheckWvw(MuContainer* parent, const char* name, const char* label, uint32_t type,
                       MuCheck* radioPeer, const char* styleName)
  : MuCheck(parent, name, label, type, radioPeer),
    box_(std::make_unique<wvw::WLabelCheckBox>(
        "", styleName ? styleName : type == kRadio ? "WCheck_dot" : "WCheck_check", wvw::WCheckBox::kOff))
{
  box_->label().setText(label ? label : "");
  box_->label().stripMnemonic();
  box_->setWidgetFirst(true);
  box_->setSpacing(Mui::metric(Mui::kLabelGap));
  box_->setSizes(-1, 0);
  box_->setInputHandler(this);
  box_->setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, box_.get()));
}

MuCheckWvw::~MuCheckWvw()
{
  setCommon(nullptr);
}

void MuCheckWvw::setLabel(const char* label)
{
  MuCheck::setLabel(label);
  box_->setLabelText(label ? label : "");
  box_->label().stripMnemonic();
}

void MuCheckWvw::setChecked(bool checked)
{
  Setting s(setting_);
  box_->checkBox().setState(checked ? wvw::WCheckBox::kOn : wvw::WCheckBox::kOff);
}

bool MuCheckWvw::isChecked() const
{
  return box_->checkBox().getState() == wvw::WCheckBox::kOn;
}

void MuCheckWvw::setIndeterminate()
{
  box_->checkBox().setState(wvw::WCheckBox::kIndeterminate);
}

bool MuCheckWvw::isIndeterminate() const
{
  return box_->checkBox().getState() == wvw::WCheckBox::kIndeterminate;
}

bool MuCheckWvw::valueChanged(wvw::Widget* source)
{
  if (source != &box_->checkBox())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

} // namespace mui
