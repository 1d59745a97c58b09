// Which desktop environment or window manager runs on the display, and
// the desktop bus address of its session, told from the X windows on the
// screen (their WM_CLASS and the environment of the process that owns
// them). The answer is kept current: a window-manager property change
// brings five detections a second apart, the window manager's exit two;
// each change is logged and told to the owner.
//
// Owned by whoever needs the answer; borrows its callback. Loop thread
// only.
#pragma once

#include <memory>

#include "plat/String.h"
#include "plat/Timer.h"
#include "tx/TXDisplayManager.h"
#include "tx/TXUtil.h"

namespace ui {

class DesktopEnvironment : public plat::Timer::Callback,
                           public tx::EnumWindowsCallback,
                           public tx::WindowWatcher::Callback,
                           public tx::TXEventHandler {
public:
  enum Kind {
    kNone, kTwm, kCde, kMwm, kEnlightenment, kFvwm, kXfce, kLxde, kGnomeClassic, kGnomeShell,
    kMate, kCinnamon, kUnity, kUnity2d, kKdeClassic, kKdePlasma, kKindCount
  };

  class Callback {
  public:
    // Read kind() and dbusAddress().
    virtual void desktopChanged() = 0;
    virtual ~Callback() = default;
  };

  // Starts detecting when a display is open.
  explicit DesktopEnvironment(Callback* callback);
  ~DesktopEnvironment() override;

  int kind() const { return kind_; }
  // Null for a kind above 15.
  static const char* kindName(int kind);
  const char* kindName() const { return kindName(kind_); }
  const char* dbusAddress() const { return dbus_.get(); }
  // count detections, the first at once, then one a second.
  void redetect(int count);
  // The kind a WM_CLASS value (n bytes as read) names by its instance part,
  // the text up to the first NUL; kNone for none.
  static int kindOfClass(const char* data, size_t n);

  bool timerExpired(plat::Timer* timer) override;
  bool window(Window w) override;
  void windowDestroyed(Window w) override;
  bool handleEvent(XEvent* ev) override;

private:
  void detect();

  Callback* callback_;
  plat::Timer timer_;
  int countdown_ = 0;
  bool reportPending_ = true;
  tx::WindowWatcher watcher_;
  int kind_ = kNone;
  plat::String dbus_;
};

} // namespace ui
