#include "wvw/WLabelWidget.h"

#include <algorithm>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "rfb/PixDraw.h"
#include "tlutil/Font.h"
#include "wvw/WStyle.h"

namespace wvw {

namespace {
plat::LogSrc vlog("WLabelWidget");
}

// --- WLabelWidget ----------------------------------------------------------------------

WLabelWidget::WLabelWidget(const char* text, int labelRule, int widgetRule)
  : WLayout(PointerRouting::ToChildren), label_(text, WLabel::kStart), labelRule_(labelRule), widgetRule_(widgetRule)
{
  label_.setMargin(0);
  label_.setTransparent(true);
  addChild(&label_, nullptr);
}

bool WLabelWidget::hasLabel() const
{
  return label_.getText() && *label_.getText();
}

void WLabelWidget::childDestroyed(Widget* child)
{
  if (child == widget_)
    widget_ = nullptr;
}

void WLabelWidget::setWidgetFirst(bool widgetFirst)
{
  widgetFirst_ = widgetFirst;
  resized(this);
}

void WLabelWidget::setWidget(Widget* widget)
{
  if (widget_)
    removeChild(widget_);
  widget_ = widget;
  if (widget)
    addChild(widget, nullptr);
  resized(this);
}

void WLabelWidget::setLabelText(const char* text)
{
  label_.setText(text);
  resized(this);
}

void WLabelWidget::setSizes(int labelRule, int widgetRule)
{
  labelRule_ = labelRule;
  widgetRule_ = widgetRule;
  resized(this);
}

void WLabelWidget::setSpacing(int spacing)
{
  spacing_ = spacing;
  resized(this);
}

void WLabelWidget::setVAlign(int vAlign)
{
  vAlign_ = vAlign;
  resized(this);
}

int WLabelWidget::spacingFor() const
{
  return (widgetFirst_ ? widgetRule_ : labelRule_) > 0 ? 0 : spacing_;
}

int WLabelWidget::ruleWidth(Widget* w, int rule, int height) const
{
  if (rule > 0)
    return rule;
  if (rule == 0 && w)
    return w->preferredWidth(height);
  return 0;
}

WLabelWidget::Geometry WLabelWidget::layout(int width, int height)
{
  Geometry g;
  if (!hasLabel()) {
    g.widget = rfb::Rect(0, 0, width, height);
    return g;
  }
  Widget* first = widgetFirst_ ? widget_ : static_cast<Widget*>(&label_);
  Widget* second = widgetFirst_ ? static_cast<Widget*>(&label_) : widget_;
  const int r1 = widgetFirst_ ? widgetRule_ : labelRule_, r2 = widgetFirst_ ? labelRule_ : widgetRule_;
  const int spacing = spacingFor();
  int w1 = ruleWidth(first, r1, height), w2 = ruleWidth(second, r2, height);
  const int weights = (r1 < 0 ? -r1 : 0) + (r2 < 0 ? -r2 : 0);
  if (weights) {
    const int left = width - spacing - w1 - w2;
    if (r1 < 0)
      w1 = left * -r1 / weights;
    if (r2 < 0)
      w2 = left * -r2 / weights;
  }
  if (r1 == 0 && r2 == 0 && w1 + w2 + 2 * spacing > width)
    w1 = width - spacing - w2;
  rfb::Rect a(0, 0, w1, height), b(w1 + spacing, 0, w1 + spacing + w2, height);
  g.label = widgetFirst_ ? b : a;
  g.widget = widgetFirst_ ? a : b;
  if (!widget_)
    return g;
  const int ww = g.widget.width();
  const int wh = std::min(std::max(widget_->preferredHeight(ww), getStyle()->font->lineHeight), height);
  const int taller = std::max(label_.preferredHeight(g.label.width()), wh);
  int dy = 0;
  switch (vAlign_) {
  case 0:
    dy = height - taller > 0 ? (height - taller) / 2 : 0;
    break;
  case 1:
    dy = (height - wh) / 2;
    break;
  case 2:
    dy = (height - wh) - (height - taller) / 2;
    break;
  default:
    vlog.error("Unexpected vertical alignment: %u", (unsigned)vAlign_);
    PLAT_FAIL("false");
  }
  g.widget = rfb::Rect(g.widget.topLeft.x, dy, g.widget.topLeft.x + ww, dy + wh);
  return g;
}

bool WLabelWidget::resized(Widget* source)
{
  if (source == this) {
    const Geometry g = layout(width(), height());
    setChildRect(&label_, g.label);
    if (widget_)
      setChildRect(widget_, g.widget);
  }
  return WLayout::resized(source);
}

bool WLabelWidget::enabledChanged(Widget* source)
{
  if (source == this) {
    label_.setEnabled(isEnabled());
    if (widget_)
      widget_->setEnabled(isEnabled());
  }
  return WLayout::enabledChanged(source);
}

int WLabelWidget::preferredOf(bool width, int other)
{
  if (!hasLabel())
    return widget_ ? (width ? widget_->preferredWidth(other) : widget_->preferredHeight(other)) : 0;
  if (width) {
    const int w1 = labelRule_ > 0 ? labelRule_ : label_.preferredWidth(other);
    const int w2 = widgetRule_ > 0 ? widgetRule_ : widget_ ? widget_->preferredWidth(other) : 0;
    return w1 + w2 + spacingFor();
  }
  const Geometry g = layout(other, 1 << 20);
  return std::max(label_.preferredHeight(g.label.width()), widget_ ? widget_->preferredHeight(g.widget.width()) : 0);
}

rfb::Point WLabelWidget::preferredSize()
{
  if (!hasLabel())
    return widget_ ? widget_->preferredSize() : rfb::Point();
  const rfb::Point l = label_.preferredSize(), w = widget_ ? widget_->preferredSize() : rfb::Point();
  const int lw = labelRule_ > 0 ? labelRule_ : l.x, ww = widgetRule_ > 0 ? widgetRule_ : w.x;
  return rfb::Point(lw + ww + spacingFor(), std::max(l.y, w.y));
}

int WLabelWidget::preferredWidth(int height)
{
  return preferredOf(true, height);
}

int WLabelWidget::preferredHeight(int width)
{
  return preferredOf(false, width);
}

// --- The three forms ---------------------------------------------------------------------

WLabelCheckBox::WLabelCheckBox(const char* text, const char* styleName, uint32_t state)
  : WLabelWidget(text, 0, -1), checkBox_(styleName, state)
{
  setVAlign(0);
  setWidget(&checkBox_);
}

bool WLabelCheckBox::buttonDown(int button, Widget* source)
{
  if (source == &label() && button == 0) {
    checkBox_.setFocus();
    return true;
  }
  return WLabelWidget::buttonDown(button, source);
}

bool WLabelCheckBox::buttonUp(int button, Widget* source)
{
  if (source == &label() && button == 0) {
    const rfb::Point& p = label().getPointerPos();
    if (p.x >= 0 && p.y >= 0 && p.x < label().width() && p.y < label().height())
      checkBox_.activated(&checkBox_);
    return true;
  }
  return WLabelWidget::buttonUp(button, source);
}

WLabelChoice::WLabelChoice(const char* text, WChoice::Editable editable, int maxLength)
  : WLabelWidget(text, 0, -1), choice_(this, editable, maxLength)
{
  setWidget(&choice_);
}

WLabelEdit::WLabelEdit(const char* text, int maxLength) : WLabelWidget(text, 0, -1), edit_(maxLength)
{
  setWidget(&edit_);
}

// --- WPanel ------------------------------------------------------------------------------

WPanel::WPanel(const char* title)
  : WLayout(PointerRouting::ToChildren), content_(PointerRouting::ToChildren), title_(title, WLabel::kStart)
{
  title_.setSize(title_.preferredSize());
  titleHalf_ = title_.height() / 2;
  addChild(&title_, nullptr);
  addChild(&content_, nullptr);
}

rfb::Point WPanel::preferredSize()
{
  const rfb::Point c = content_.preferredSize();
  return rfb::Point(std::max(title_.width(), c.x) + 2 * inset_, c.y + title_.height() + 2 * inset_);
}

bool WPanel::resized(Widget* source)
{
  if (source == this) {
    setChildPosition(&title_, rfb::Point(10, 0));
    // Inside the frame: the insets on both sides.
    const int top = title_.height() + inset_;
    setChildRect(&content_, rfb::Rect(inset_, top, width() - inset_, top + content_.preferredSize().y));
  }
  return WLayout::resized(source);
}

void WPanel::setEnabled(bool enabled)
{
  title_.setEnabled(enabled);
  WLayout::setEnabled(enabled);
}

void WPanel::paint(rfb::WritablePixelBuffer& pb)
{
  const WStyle* s = getStyle();
  const rfb::Rect r(0, titleHalf_, width(), height());
  rfb::drawRoundedRect(pb, outsetRect(r, -1), 2, pixel(pb, s->bevelLight));
  rfb::drawRoundedRect(pb, r, 3, pixel(pb, s->bevelFrame));
  WLayout::paint(pb);
}

} // namespace wvw
