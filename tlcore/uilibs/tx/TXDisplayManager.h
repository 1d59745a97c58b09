// Puts the X connection's descriptor in the loop's select set, so that a
// select pass returns when X data arrives; the loop itself reads and
// dispatches the events (the descriptor stays Xlib's: nothing is read
// here). Opens the display on construction. Loop thread only.
#pragma once

#include <X11/Xlib.h>

#include "io/Io.h"
#include "tx/TXEvents.h"

namespace io {
class FdIo;
}

namespace tx {

class TXDisplayManager : public io::IoHandler {
public:
  // Throws plat::Exception when the display cannot be opened.
  explicit TXDisplayManager(const char* displayName);
  ~TXDisplayManager() override;
  TXDisplayManager(const TXDisplayManager&) = delete;
  TXDisplayManager& operator=(const TXDisplayManager&) = delete;

  void dataAvailable(io::Io*) override {}
  void writable(io::Io*) override {}
  void closed(io::Io*) override {}

private:
  io::FdIo* io_;
};

// Tells its callback when one foreign window is destroyed.
class WindowWatcher : public TXEventHandler {
public:
  class Callback {
  public:
    virtual ~Callback() = default;
    virtual void windowDestroyed(Window window) = 0;
  };

  explicit WindowWatcher(Callback* callback) : callback_(callback) {}
  ~WindowWatcher() override { stop(); }

  // Stops watching the previous window; 0 watches none. False when the
  // window is gone before its events are selected (no destruction will be
  // reported then), which is not an error.
  bool watch(Window window);
  void stop() { watch(0); }
  Window watched() const { return window_; }

  bool handleEvent(XEvent* ev) override;

private:
  Callback* callback_;
  Window window_ = 0;
};

} // namespace tx
