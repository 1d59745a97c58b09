#include "wvw/WTooltip.h"

#include "plat/Markup.h"
#include "rfb/PixDraw.h"

namespace wvw {

namespace {

plat::Colour helpBg()
{
  return plat::getColor("helpBg", plat::Colour());
}

} // namespace

WTooltip::WTooltip(int maxWidth, plat::Markup::LinkCallback* linkCallback)
    : WLayout(PointerRouting::ToChildren), maxWidth_(maxWidth), text_(linkCallback, nullptr),
      style_(WStyle::getDefault())
{
  style_.bg = helpBg();
  text_.setWrap(true);
  text_.setStyle(&style_);
  addChild(&text_, nullptr);
  refit();
}

WTooltip::~WTooltip()
{
  hide();
}

void WTooltip::setText(const char* text)
{
  plat::DString markup;
  plat::Markup::appendEscaped(markup, text);
  setMarkup(markup.get() ? markup.get() : "");
}

void WTooltip::setMarkup(const char* markup)
{
  text_.setText(markup);
  refit();
}

void WTooltip::setMaxWidth(int maxWidth)
{
  maxWidth_ = maxWidth;
  refit();
}

void WTooltip::refit()
{
  text_.setSize(rfb::Point(maxWidth_, text_.preferredHeight(maxWidth_)));
  text_.setSize(text_.preferredSize());
  setChildPosition(&text_, rfb::Point(2, 2));
  setSize(text_.getSize().translate(rfb::Point(4, 4)));
}

void WTooltip::showAt(const rfb::Point& point, Widget* widget)
{
  rfb::Point base;
  host_ = widget->getRoot(&base);
  rfb::Point at = base.translate(point);
  // Against the area's edges: it need not start at 0,0 (a second monitor).
  const rfb::Rect screen = host_->screenArea();
  if (at.x + width() > screen.bottomRight.x)
    at.x = base.x - width() - 2;
  if (at.y + height() > screen.bottomRight.y)
    at.y = base.y - height() - 2;
  host_->showPopup(this, true, false, at);
}

void WTooltip::hide()
{
  if (host_)
    host_->showPopup(this, false, false, rfb::Point(0, 0));
}

void WTooltip::paint(rfb::WritablePixelBuffer& pb)
{
  rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, helpBg()));
  WLayout::paint(pb);
  rfb::drawRectBorder(pb, rfb::Rect(0, 0, width(), height()), pixel(pb, getStyle()->mark), 1);
}

} // namespace wvw
