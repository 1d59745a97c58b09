#include "ui/AutoHider.h"

#include <algorithm>

#include "plat/Exception.h"
#include "tx/TXUtil.h"

namespace ui {

AutoHider::AutoHider(Target* target, int side, int strip, Callback* callback)
  : animTimer_(this), hideTimer_(this), target_(target), callback_(callback), side_(side), strip_(strip)
{
}

int AutoHider::travel()
{
  const rfb::Point s = target_->size();
  return std::max((side_ == kLeft || side_ == kRight ? s.x : s.y) - strip_, 1);
}

void AutoHider::tell(bool starting)
{
  if (callback_)
    callback_->animation(starting, showing_, this);
}

void AutoHider::setShown(bool show, int durationMs)
{
  showing_ = show;
  duration_ = durationMs < 0 ? kDefaultDuration : durationMs;
  hideTimer_.stop();
  tell(true);
  if (duration_ > 0) {
    animTimer_.start(std::max(20, duration_ / travel()));
    lastStep_ = plat::getMonoTime();
    return;
  }
  animTimer_.stop();
  fraction_ = show ? 0.0 : 1.0;
  updatePosition();
  tell(false);
}

void AutoHider::showFor(int ms)
{
  setShown(true, 0);
  hideTimer_.start(ms);
}

void AutoHider::updatePosition()
{
  const rfb::Point size = target_->size(), parent = target_->parentSize();
  const int offset = (int)(travel() * fraction_);
  rfb::Point p;
  if (side_ == kLeft || side_ == kRight) {
    p.y = std::max((parent.y - size.y) / 2, 0);
    p.x = side_ == kRight ? parent.x - size.x + offset : -offset;
  } else {
    p.x = std::max((parent.x - size.x) / 2, 0);
    const bool bottom = (side_ == kBottom) != target_->isFlipped();
    p.y = bottom ? parent.y - size.y + offset : -offset;
  }
  target_->setPosition(p);
}

bool AutoHider::timerExpired(plat::Timer* timer)
{
  if (timer == &hideTimer_) {
    setShown(false);
    return false;
  }
  const plat::Time now = plat::getMonoTime();
  const long long elapsed = (now - lastStep_) / plat::kTicksPerMilli;
  lastStep_ += elapsed * plat::kTicksPerMilli;
  const double step = (double)elapsed / std::max(duration_, 1);
  fraction_ = std::min(1.0, std::max(0.0, fraction_ + (showing_ ? -step : step)));
  updatePosition();
  if (fraction_ == (showing_ ? 0.0 : 1.0)) {
    tell(false);
    return false;
  }
  return true;
}

// --- On X windows --------------------------------------------------------------------------

TXAutoHider::TXAutoHider(tx::TXWindow* panel, int side, int strip, Callback* callback)
  : AutoHider(this, side, strip, callback), panel_(panel)
{
  PLAT_ASSERT(panel);
  panel_->addEventHandler(this, true);
  panel_->addEventMask(EnterWindowMask | LeaveWindowMask);
}

TXAutoHider::~TXAutoHider()
{
  panel_->addEventHandler(this, false);
  if (parent())
    parent_->addEventHandler(this, false);
}

tx::TXWindow* TXAutoHider::parent()
{
  if (parent_ && parentAlive_->destroyed()) {
    parent_ = nullptr;
    parentAlive_.reset();
  }
  return parent_;
}

void TXAutoHider::setParent(tx::TXWindow* parent)
{
  if (parent == this->parent())
    return;
  if (parent_)
    parent_->addEventHandler(this, false);
  parent_ = parent;
  parentAlive_.reset();
  panel_->reparent(parent, 0, 0);
  if (parent) {
    parentAlive_.emplace(parent->liveness());
    parent->addEventHandler(this, true);
    parent->addEventMask(EnterWindowMask | LeaveWindowMask);
  }
  updatePosition();
}

void TXAutoHider::setPosition(const rfb::Point& position)
{
  position_ = position;
  XMoveWindow(tx::display(), panel_->window(), position.x, position.y);
}

rfb::Point TXAutoHider::size() { return rfb::Point(panel_->width(), panel_->height()); }

rfb::Point TXAutoHider::parentSize()
{
  return parent() ? rfb::Point(parent_->width(), parent_->height()) : rfb::Point();
}

bool TXAutoHider::handleEvent(XEvent* ev)
{
  if (!parent() || (ev->type != EnterNotify && ev->type != LeaveNotify))
    return false;
  const XCrossingEvent& c = ev->xcrossing;
  if (c.window == panel_->window()) {
    if (ev->type == EnterNotify) {
      setShown(true);
    } else {
      const int x = c.x + position_.x, y = c.y + position_.y;
      if (!(x >= 0 && x < parent_->width() && y >= 0 && y < parent_->height()))
        setShown(false);
    }
  } else if (c.window == parent_->window() && ev->type == EnterNotify) {
    if (c.subwindow != panel_->window() && !hidePending())
      setShown(false);
  }
  return false;
}

} // namespace ui

