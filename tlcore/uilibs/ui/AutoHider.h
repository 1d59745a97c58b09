// Panels that slide in from one edge of their parent and out again,
// leaving a strip visible, animated by a timer. AutoHider does the motion
// for any positioned object; TXAutoHider applies it to a TXWindow
// reparented into another window: the panel shows when the pointer enters
// it and hides when the pointer leaves it or moves elsewhere in the parent.
//
// The hider borrows its target, callback and windows. Loop thread only.
#pragma once

#include <optional>

#include "plat/Time.h"
#include "plat/Timer.h"
#include "rfb/Rect.h"
#include "tx/TXEvents.h"
#include "tx/TXWindow.h"

namespace ui {

class AutoHider : public plat::Timer::Callback {
public:
  enum Side { kTop = 0, kBottom = 1, kLeft = 2, kRight = 3 };
  static constexpr int kDefaultDuration = 300;

  // What the hider moves.
  class Target {
  public:
    virtual ~Target() = default;
    virtual void setPosition(const rfb::Point& position) = 0;
    virtual rfb::Point size() = 0;
    virtual rfb::Point parentSize() = 0;
    virtual bool isFlipped() = 0;
  };

  class Callback {
  public:
    // starting: true when an animation starts, false when it ends.
    virtual void animation(bool starting, bool showing, AutoHider* hider) = 0;
    virtual ~Callback() = default;
  };

  AutoHider(Target* target, int side, int strip, Callback* callback);

  // Negative duration: the default. 0 jumps there at once.
  void setShown(bool show, int durationMs = -1);
  // Shows at once, then hides (default duration) after ms.
  void showFor(int ms);
  void updatePosition();

  // Pixels the panel moves between shown and hidden (at least 1).
  int travel();
  double hiddenFraction() const { return fraction_; }
  bool showing() const { return showing_; }
  bool hidePending() const { return hideTimer_.isStarted(); }
  int stepInterval() const { return animTimer_.getInterval(); }
  void setCallback(Callback* callback) { callback_ = callback; }

  bool timerExpired(plat::Timer* timer) override;

private:
  void tell(bool starting);

  plat::Timer animTimer_;
  plat::Timer hideTimer_;
  Target* target_;
  Callback* callback_;
  int side_;
  int strip_;
  double fraction_ = 0.0;
  plat::Time lastStep_ = 0;
  int duration_ = kDefaultDuration;
  bool showing_ = true;
};

class TXAutoHider : public AutoHider, public AutoHider::Target, public tx::TXEventHandler {
public:
  TXAutoHider(tx::TXWindow* panel, int side, int strip, Callback* callback);
  ~TXAutoHider() override;

  // Reparents the panel into parent (the root when null). A parent
  // destroyed since counts as none.
  void setParent(tx::TXWindow* parent);
  tx::TXWindow* parent();

  void setPosition(const rfb::Point& position) override;
  rfb::Point size() override;
  rfb::Point parentSize() override;
  bool isFlipped() override { return false; }
  bool handleEvent(XEvent* ev) override;

private:
  tx::TXWindow* panel_;
  tx::TXWindow* parent_ = nullptr;
  std::optional<plat::DestroyGuard> parentAlive_;
  rfb::Point position_;
};

} // namespace ui
