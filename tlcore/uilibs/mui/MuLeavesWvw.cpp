#include "mui/MuLeavesWvw.h"

#include <limits.h>
#include <stdint.h>

#include <algorithm>

#include "mui/MuLayout.h"
#include "plat/Colour.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "tlutil/ScaledPixelBuffer.h"

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

plat::Colour elementBackground(const MuElement* e, plat::Colour fallback)
{
  const plat::Markup::Style& s = e->effectiveStyle();
  return plat::getColor(s.background.get(), fallback);
}

void fillRgb(rfb::WritablePixelBuffer& pb, const rfb::Rect& r, const plat::Colour& c)
{
  const int rgb[3] = {c.r, c.g, c.b};
  rfb::fillRect(pb, r, pb.format.pixelFromRGB(rgb, pb.colourMap));
}

rfb::Rect whole(const wvw::Widget& w)
{
  return rfb::Rect(0, 0, w.width(), w.height());
}

} // namespace

// --- Image widget -----------------------------------------------------------

void WImageWvw::setNamed(const char* name, const rfb::Point& size)
{
  owned_.reset();
  named_ = name ? tlutil::NamedImagePixelBuffer::get(name, size) : plat::SharedHandle<tlutil::NamedImagePixelBuffer>();
  image_ = named_.get();
  repaint();
}

void WImageWvw::setBuffer(std::unique_ptr<rfb::PixelBuffer> image)
{
  named_ = plat::SharedHandle<tlutil::NamedImagePixelBuffer>();
  owned_ = std::move(image);
  image_ = owned_.get();
  repaint();
}

rfb::Point WImageWvw::preferredSize()
{
  return image_ ? rfb::Point(image_->rect.width(), image_->rect.height()) : rfb::Point();
}

void WImageWvw::paint(rfb::WritablePixelBuffer& pb)
{
  if (!image_ || image_->rect.isEmpty())
    return;
  const int iw = image_->rect.width(), ih = image_->rect.height();
  const rfb::Point at((width() - iw) / 2, (height() - ih) / 2);
  const rfb::Rect r(std::max(at.x, 0), std::max(at.y, 0), std::min(at.x + iw, width()), std::min(at.y + ih, height()));
  if (r.isEmpty())
    return;
  rfb::blendImage(*image_, image_->rect.topLeft.translate(rfb::Point(r.topLeft.x - at.x, r.topLeft.y - at.y)), pb, r,
                  isEnabled() ? rfb::blendOver : rfb::blendGreyOver);
}

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

// --- Choice -----------------------------------------------------------------

MuChoiceWvw::MuChoiceWvw(MuContainer* parent, const char* name, const char* label, uint32_t flags)
  : MuChoice(parent, name, label),
    choice_("", flags & kEditable ? wvw::WChoice::Editable::Yes : wvw::WChoice::Editable::No, 255),
    flags_(flags)
{
  choice_.label().setText(label ? label : "");
  choice_.label().stripMnemonic();
  choice_.setSpacing(Mui::metric(Mui::kLabelGap));
  choice_.setInputHandler(this);
  choice_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &choice_));
}

MuChoiceWvw::~MuChoiceWvw()
{
  setCommon(nullptr);
}

void MuChoiceWvw::select(int index)
{
  {
    Setting s(setting_);
    choice_.choice().selectItem(index);
  }
  choice_.choice().selectAll();
}

int MuChoiceWvw::selectedIndex() const
{
  const char* text = const_cast<wvw::WLabelChoice&>(choice_).choice().getText();
  for (const auto& [id, label] : labels_) {
    if (label == (text ? text : ""))
      return id;
  }
  return -1;
}

void MuChoiceWvw::setText(const char* text)
{
  {
    Setting s(setting_);
    choice_.choice().setText(text);
  }
  choice_.choice().selectAll();
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

plat::String MuChoiceWvw::text() const
{
  return plat::String(const_cast<wvw::WLabelChoice&>(choice_).choice().getText());
}

void MuChoiceWvw::insertItem(int index, const char* text)
{
  std::string shown;
  for (const char* p = text ? text : ""; *p; p++)
    shown.append(*p == '&' ? "&&" : std::string(1, *p));
  labels_[index] = text ? text : "";
  choice_.choice().setItem(index, shown.c_str());
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

void MuChoiceWvw::removeItem(int index)
{
  labels_.erase(index);
  choice_.choice().removeItem(index);
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

void MuChoiceWvw::clearItems()
{
  labels_.clear();
  choice_.choice().clearItems();
  choice_.choice().setCompletions(flags_ & kAutocomplete);
}

plat::DString MuChoiceWvw::getItems() const
{
  std::vector<std::string> lines;
  const_cast<wvw::WLabelChoice&>(choice_).choice().listItems(lines);
  plat::DString s;
  for (const std::string& line : lines)
    s.appendf("%s\n", line.c_str());
  return s;
}

bool MuChoiceWvw::valueChanged(wvw::Widget* source)
{
  if (source != &choice_.choice() && source != &choice_.choice().entry())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

// --- Edit -------------------------------------------------------------------

MuEditWvw::MuEditWvw(MuContainer* parent, const char* name, const char* label, uint32_t type, int option)
  : MuEdit(parent, name, label, type, option), edit_("", 8192)
{
  edit_.label().setText(label ? label : "");
  edit_.label().stripMnemonic();
  edit_.setSpacing(Mui::metric(Mui::kLabelGap));
  edit_.setInputHandler(this);
  edit_.setStyle(&wstyle_);
  entryStyle_ = wstyle_;
  edit_.edit().setStyle(&entryStyle_);
  edit_.edit().setFilter(this);
  if (type == kPassword) {
    edit_.edit().setPassword(true);
    edit_.edit().repaint();
  }
  setCommon(std::make_unique<MuCommonWvw>(this, &edit_));
}

MuEditWvw::~MuEditWvw()
{
  setCommon(nullptr);
}

void MuEditWvw::setText(const char* text)
{
  Setting s(setting_);
  edit_.edit().setText(text ? text : "", wvw::WEdit::Caret::AtEnd);
}

plat::String MuEditWvw::getText() const
{
  return plat::String(isSecret() ? "" : const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

plat::SecureString MuEditWvw::getSecret() const
{
  return plat::SecureString(const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

void MuEditWvw::setSensitive(bool sensitive)
{
  MuEdit::setSensitive(sensitive);
  edit_.edit().setSensitive(sensitive);
}

void MuEditWvw::setHint(const char* hint)
{
  if (plat::strCmpNull(hint_.get(), hint) == 0)
    return;
  hint_ = plat::String(hint);
  edit_.edit().setPlaceholder(hint);
}

void MuEditWvw::setSelection(int start, int length)
{
  wvw::WEdit& e = edit_.edit();
  if (start < 0)
    e.setSelection(e.getCaret(), e.getCaret());
  else
    e.setSelection(start, length < 0 ? -1 : start + length);
}

int MuEditWvw::getSelection(int* length) const
{
  wvw::WEdit& e = const_cast<wvw::WLabelEdit&>(edit_).edit();
  if (length)
    *length = e.selectionEnd() - e.selectionStart();
  return e.selectionStart();
}

void MuEditWvw::setFocus()
{
  MuEdit::setFocus();
  edit_.edit().setSelection(0, -1);
}

void MuEditWvw::styleChanged()
{
  entryStyle_.contentBg = elementBackground(this, plat::Colour{255, 255, 255});
  edit_.edit().repaint();
}

bool MuEditWvw::valueChanged(wvw::Widget* source)
{
  if (source != &edit_.edit())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

bool MuEditWvw::filter(wvw::WEdit*, const char* candidate, uint32_t)
{
  return setting_ || !filter_ || filter_->accept(this, candidate);
}

// --- Image ------------------------------------------------------------------

MuImageWvw::MuImageWvw(MuContainer* parent, const char* name, const char* imageName, const Size& size)
  : MuImage(parent, name, imageName, size)
{
  image_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &image_));
  if (imageName)
    image_.setNamed(imageName, size);
}

MuImageWvw::~MuImageWvw()
{
  setCommon(nullptr);
}

void MuImageWvw::setImage(const char* name, const Size& size)
{
  MuImage::setImage(name, size);
  image_.setNamed(name, size);
}

void MuImageWvw::setImageBuffer(std::unique_ptr<rfb::PixelBuffer> image)
{
  MuImage::setImageBuffer(nullptr);
  image_.setBuffer(std::move(image));
}

Size MuImageWvw::imageSize() const
{
  rfb::PixelBuffer* image = image_.image();
  return image ? Size(image->rect.width(), image->rect.height()) : Size();
}

// --- Line -------------------------------------------------------------------

void WLineWvw::paint(rfb::WritablePixelBuffer& pb)
{
  if (!etched_) {
    const plat::Colour c = plat::getColorWithFallback(element_->effectiveStyle().color.get(), "contentText");
    fillRgb(pb, whole(*this), c);
    return;
  }
  const wvw::WStyle* s = getStyle();
  const rfb::Rect first = horizontal_ ? rfb::Rect(0, 0, width(), 1) : rfb::Rect(0, 0, 1, height());
  const rfb::Rect second = horizontal_ ? rfb::Rect(0, 1, width(), 2) : rfb::Rect(1, 0, 2, height());
  fillRgb(pb, first, s->bevelFrame);
  fillRgb(pb, second, s->bevelLight);
}

MuLineWvw::MuLineWvw(MuContainer* parent, const char* name, bool horizontal, bool etched, int thickness)
  : MuLine(parent, name, horizontal, etched, thickness), line_(horizontal, etched, this)
{
  line_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &line_));
}

MuLineWvw::~MuLineWvw()
{
  setCommon(nullptr);
}

// --- Slider -----------------------------------------------------------------

MuSliderWvw::MuSliderWvw(MuContainer* parent, const char* name, uint32_t direction)
  : MuSlider(parent, name, direction), slider_(direction != kVertical)
{
  slider_.setInputHandler(this);
  slider_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &slider_));
}

MuSliderWvw::~MuSliderWvw()
{
  setCommon(nullptr);
}

void MuSliderWvw::setRange(int minimum, int maximum)
{
  Setting s(setting_);
  min_ = minimum;
  const int r = (int)std::max<int64_t>(0, std::min<int64_t>(INT_MAX, (int64_t)maximum - minimum));
  slider_.setRange(vertical() ? rfb::Point(0, r) : rfb::Point(r, 0));
}

int MuSliderWvw::maximum() const
{
  return min_ + range();
}

void MuSliderWvw::setValue(int value)
{
  Setting s(setting_);
  // Positions count from the start; values outside the range stop at its ends.
  const int64_t from = vertical() ? (int64_t)maximum() - value : (int64_t)value - min_;
  const int at = (int)std::max<int64_t>(0, std::min<int64_t>(range(), from));
  slider_.setValue(vertical() ? rfb::Point(0, at) : rfb::Point(at, 0));
}

int MuSliderWvw::value() const
{
  return vertical() ? maximum() - position() : min_ + position();
}

bool MuSliderWvw::valueChanged(wvw::Widget* source)
{
  if (source != &slider_)
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

// --- Static text ------------------------------------------------------------

MuStaticWvw::MuStaticWvw(MuContainer* parent, const char* name, const char* text, uint32_t type)
  : MuStatic(parent, name, text, type), text_(nullptr, "")
{
  text_.setAlignment(wvw::WLabel::kStart, wvw::WLabel::kStart);
  if (type == kSelectable)
    text_.setSelectable(true);
  if (type == kHeading)
    ensureStyle().weight = plat::Markup::Style::kBold;
  text_.setMargin(0);
  text_.setTransparent(!debugLayout);
  text_.setInputHandler(this);
  text_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &text_));
  rebuild();
}

MuStaticWvw::~MuStaticWvw()
{
  setCommon(nullptr);
}

plat::DString MuStaticWvw::markup(int width) const
{
  plat::String shown(getLabel() ? getLabel() : "");
  const plat::Markup::Style& style = effectiveStyle();
  if (singleLine_ && width > 0) {
    tlutil::FontSpec spec;
    spec.size = style.size;
    spec.weight = style.weight;
    int w = width;
    plat::String cut = tlutil::Font::forStyle(spec)->ellipsize(w, shown.get());
    if (cut.get())
      shown = std::move(cut);
  }
  plat::DString out;
  plat::Markup::appendDivStart(out, type_ == kCenteredText ? 1 : type_ == kRightText ? 2 : 0, nullptr);
  plat::Markup::appendStyledText(out, shown.get(), style);
  out.append("</div>");
  return out;
}

void MuStaticWvw::rebuild()
{
  builtWidth_ = text_.width();
  text_.setWrap(!singleLine_);
  const plat::DString m = markup(builtWidth_);
  if (plat::strCmpNull(m.get(), text_.getText()) == 0)
    return;
  text_.setText(m.get());
  naturalWidth_ = -1;
  heightFor_ = rfb::Point(-1, 0);
}

void MuStaticWvw::setText(const char* text, bool bold, bool singleLine)
{
  MuStatic::setText(text ? text : "", bold, singleLine);
  rebuild();
}

void MuStaticWvw::setSize(const Size& size)
{
  MuStatic::setSize(size);
  if (singleLine_ && size.x != builtWidth_)
    rebuild();
}

bool MuStaticWvw::resized(wvw::Widget* source)
{
  // Only a single line is cut to the width.
  if (source == &text_ && singleLine_ && text_.width() != builtWidth_)
    rebuild();
  return false;
}

void MuStaticWvw::styleChanged()
{
  naturalWidth_ = -1;
  heightFor_ = rfb::Point(-1, 0);
  rebuild();
}

int MuStaticWvw::preferredWidth(int) const
{
  if (naturalWidth_ < 0 && !singleLine_)
    naturalWidth_ = const_cast<wvw::WRichText&>(text_).preferredWidth(-1);
  if (naturalWidth_ < 0) {
    wvw::WRichText measure(nullptr, markup(0).get());
    measure.setMargin(0);
    measure.setWrap(false);
    measure.setStyle(&wstyle_);
    naturalWidth_ = measure.preferredSize().x;
  }
  return naturalWidth_;
}

int MuStaticWvw::preferredHeight(int width) const
{
  if (heightFor_.x != width || width < 0)
    heightFor_ = rfb::Point(width, MuStatic::preferredHeight(width));
  return heightFor_.y;
}

// --- Marked-up text ---------------------------------------------------------

MuTextWvw::MuTextWvw(MuContainer* parent, const char* name, const char* markup,
                     plat::Markup::LinkCallback* linkCallback, uint32_t flag)
  : MuText(parent, name, markup, linkCallback, flag), text_(this, markup ? markup : "")
{
  text_.setAlignment(wvw::WLabel::kStart, wvw::WLabel::kStart);
  text_.setSelectable(flag != 0);
  text_.setMargin(0);
  text_.setTransparent(true);
  text_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &text_));
}

MuTextWvw::~MuTextWvw()
{
  setCommon(nullptr);
}

void MuTextWvw::setMarkup(const char* markup)
{
  MuText::setMarkup(markup);
  text_.setText(markup ? markup : "");
}

void MuTextWvw::styleChanged()
{
  const plat::Markup::Style& s = effectiveStyle();
  text_.setTransparent(!s.background.get());
  wvw::WStyle::fromSpec(wstyle_, s);
  text_.setText(markup() ? markup() : "");
}

bool MuTextWvw::linkActivated(const char* href)
{
  return linkCallback_ && linkCallback_->linkActivated(href);
}

// --- Superbox ---------------------------------------------------------------

MuSuperboxWvw::MuSuperboxWvw(MuContainer* parent, const char* name, const char* label, KeyHandler* keyHandler,
                             int popupHeight)
  : MuSuperbox(parent, name, label, keyHandler, popupHeight), edit_("", 255)
{
  edit_.label().setText(label ? label : "");
  edit_.label().stripMnemonic();
  edit_.setSpacing(Mui::metric(Mui::kLabelGap));
  edit_.setInputHandler(this);
  edit_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &edit_));
}

MuSuperboxWvw::~MuSuperboxWvw()
{
  setCommon(nullptr);
}

plat::String MuSuperboxWvw::getText() const
{
  return plat::String(const_cast<wvw::WLabelEdit&>(edit_).edit().getText());
}

void MuSuperboxWvw::setText(const char* text)
{
  Setting s(setting_);
  edit_.edit().setText(text ? text : "", wvw::WEdit::Caret::AtEnd);
  edit_.edit().setSelection(0, -1);
}

void MuSuperboxWvw::setHint(const char* hint)
{
  if (plat::strCmpNull(hint_.get(), hint) == 0)
    return;
  hint_ = plat::String(hint);
  edit_.edit().setPlaceholder(hint);
}

rfb::Rect MuSuperboxWvw::fieldRect() const
{
  wvw::WLabelEdit& e = const_cast<wvw::WLabelEdit&>(edit_);
  return e.getChildRect(&e.edit());
}

bool MuSuperboxWvw::key(uint32_t keysym, bool down, wvw::Widget* source)
{
  return source == &edit_.edit() && down && onKey(keysym);
}

bool MuSuperboxWvw::valueChanged(wvw::Widget* source)
{
  if (source != &edit_.edit())
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

} // namespace mui
