#include "wvw/WScroll.h"

#include <algorithm>

#include "rfb/PixDraw.h"

namespace wvw {

// --- WScrollbar ------------------------------------------------------------------------

WScrollbar::WScrollbar(bool horizontal, int step)
    : WLayout(PointerRouting::ToChildren), slider_(horizontal), horizontal_(horizontal), step_(step),
      lessButton_(horizontal ? kLeftArrowBits : kUpArrowBits), moreButton_(horizontal ? kRightArrowBits : kDownArrowBits),
      repeatTimer_(this)
{
  addChild(&lessButton_, nullptr);
  addChild(&slider_, nullptr);
  addChild(&moreButton_, nullptr);
}

WScrollbar::~WScrollbar()
{
  repeatTimer_.stop();
}

int WScrollbar::value() const
{
  return horizontal_ ? slider_.getValue().x : slider_.getValue().y;
}

int WScrollbar::range() const
{
  return horizontal_ ? slider_.getRange().x : slider_.getRange().y;
}

void WScrollbar::setValue(int value)
{
  slider_.setValue(horizontal_ ? rfb::Point(value, 0) : rfb::Point(0, value));
}

void WScrollbar::setRange(int range, int page)
{
  plat::DestroyGuard guard(liveness_);
  slider_.setPage(horizontal_ ? rfb::Point(page, 1) : rfb::Point(1, page));
  if (!guard.destroyed())
    slider_.setRange(horizontal_ ? rfb::Point(range, 0) : rfb::Point(0, range));
}

void WScrollbar::stepBy(int delta)
{
  setValue((int)std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, (int64_t)value() + delta)));
}

bool WScrollbar::activated(Widget* source)
{
  if (source == &moreButton_ || source == &lessButton_) {
    plat::DestroyGuard guard(liveness_);
    stepBy(source == &moreButton_ ? step_ : -step_);
    if (guard.destroyed())
      return true;
  }
  return WLayout::activated(source);
}

bool WScrollbar::valueChanged(Widget* source)
{
  if (source == &moreButton_ || source == &lessButton_)
    repeatTimer_.start(kFirstRepeat);
  return WLayout::valueChanged(source);
}

bool WScrollbar::timerExpired(plat::Timer* timer)
{
  if (timer != &repeatTimer_)
    return WLayout::timerExpired(timer);
  const bool more = moreButton_.isPressed(), less = lessButton_.isPressed();
  if (!more && !less)
    return false;
  const int next = std::max(kFastestRepeat, repeatTimer_.getInterval() * 4 / 5);
  plat::DestroyGuard guard(liveness_);
  stepBy(more ? step_ : -step_);
  if (!guard.destroyed())
    repeatTimer_.start(next);
  return false;
}

bool WScrollbar::resized(Widget* source)
{
  if (source == this) {
    const int w = width(), h = height();
    const int t = horizontal_ ? h : w;
    setChildRect(&lessButton_, rfb::Rect(0, 0, t, t));
    setChildRect(&slider_, horizontal_ ? rfb::Rect(t, 0, w - t, h) : rfb::Rect(0, t, w, h - t));
    setChildRect(&moreButton_, rfb::Rect(w - t, h - t, w, h));
  }
  return WLayout::resized(source);
}

void WScrollbar::paint(rfb::WritablePixelBuffer& pb)
{
  const int grey[4] = {kGrey, kGrey, kGrey, 255};
  rfb::fillRect(pb, rfb::Rect(0, 0, width(), height()), rfb::pixelFromRGBA(pb.format, grey, pb.colourMap));
  WLayout::paint(pb);
}

// --- WScrollView -----------------------------------------------------------------------

void WScrollView::Viewport::childDestroyed(Widget* child)
{
  if (child == view_->content_)
    view_->content_ = nullptr;
}

WScrollView::WScrollView(int step)
    : WLayout(PointerRouting::ToChildren), viewport_(this), hBar_(true, step), vBar_(false, step)
{
  hBar_.setSize(rfb::Point(0, kBarThickness));
  vBar_.setSize(rfb::Point(kBarThickness, 0));
  hBar_.setVisible(false);
  vBar_.setVisible(false);
  addChild(&viewport_, nullptr);
  addChild(&hBar_, nullptr);
  addChild(&vBar_, nullptr);
}

WScrollView::~WScrollView()
{
  if (content_)
    viewport_.removeChild(content_);
}

void WScrollView::setContent(Widget* content)
{
  if (content_)
    viewport_.removeChild(content_);
  content_ = content;
  if (content)
    viewport_.addChild(content, nullptr);
  relayout();
}

void WScrollView::relayout()
{
  if (!content_)
    return;
  const int W = width(), H = height();
  const rfb::Point c = content_->getSize();
  const int hb = hBar_.height(), vb = vBar_.width();
  bool hShown = W < c.x, vShown = H < c.y;
  hShown = W - (vShown ? vb : 0) < c.x;
  vShown = H - (hShown ? hb : 0) < c.y;
  const int vw = W - (vShown ? vb : 0), vh = H - (hShown ? hb : 0);
  plat::DestroyGuard guard(liveness_);
  if (hShown)
    setChildRect(&hBar_, rfb::Rect(0, H - hb, vw, H));
  if (vShown)
    setChildRect(&vBar_, rfb::Rect(W - vb, 0, W, vh));
  hBar_.setVisible(hShown);
  vBar_.setVisible(vShown);
  setChildRect(&viewport_, rfb::Rect(0, 0, vw, vh));
  vBar_.setRange(c.y - vh, vh);
  hBar_.setRange(c.x - vw, vw);
  if (!guard.destroyed())
    placeContent();
}

void WScrollView::placeContent()
{
  if (content_)
    viewport_.setChildPosition(content_, rfb::Point(-hBar_.value(), -vBar_.value()));
}

bool WScrollView::attached(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == this)
    relayout();
  return guard.destroyed() || WLayout::attached(source);
}

bool WScrollView::resized(Widget* source)
{
  plat::DestroyGuard guard(liveness_);
  if (source == this || (source && source == content_))
    relayout();
  return guard.destroyed() || WLayout::resized(source);
}

bool WScrollView::valueChanged(Widget* source)
{
  if (source == &hBar_.slider() || source == &vBar_.slider())
    placeContent();
  return WLayout::valueChanged(source);
}

bool WScrollView::buttonDown(int button, Widget* source)
{
  if (button == 3 || button == 4) {
    const int64_t delta = 3 * (int64_t)vBar_.step();
    vBar_.setValue((int)std::max<int64_t>(0, std::min<int64_t>(vBar_.range(), vBar_.value() + (button == 3 ? -delta : delta))));
    return true;
  }
  return WLayout::buttonDown(button, source);
}

void WScrollView::showChildRect(Widget* child, const rfb::Rect& rect)
{
  if (child != &viewport_) {
    WLayout::showChildRect(child, rect);
    return;
  }
  const int vw = viewport_.width(), vh = viewport_.height();
  const rfb::Rect& r = rect;
  if (r.topLeft.x >= 0 && r.topLeft.y >= 0 && r.bottomRight.x <= vw && r.bottomRight.y <= vh)
    return;
  auto axis = [](int lo, int hi, int cur, int page) -> int {
    const int64_t v = std::min<int64_t>((int64_t)lo + cur, std::max<int64_t>(cur, (int64_t)hi + cur - page));
    return (int)std::max<int64_t>(0, std::min<int64_t>(INT32_MAX, v));
  };
  const int h = hBar_.value(), v = vBar_.value();
  plat::DestroyGuard guard(liveness_);
  hBar_.setValue(axis(r.topLeft.x, r.bottomRight.x, h, vw));
  if (!guard.destroyed())
    vBar_.setValue(axis(r.topLeft.y, r.bottomRight.y, v, vh));
}

} // namespace wvw
