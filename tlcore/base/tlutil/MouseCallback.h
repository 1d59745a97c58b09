// The pointer gestures a control reports to whoever listens above it (the
// UI model's elements): the event record and the listener interface. The
// widget set fills them in; its listener is not owned by the widget.
#pragma once

#include <stdint.h>

#include "rfb/Rect.h"

namespace wvw {
class Widget;
}

namespace tlutil {

// A pointer gesture: its kind and the position relative to the widget that
// received it.
struct MouseEvent {
  enum Kind : uint32_t {
    kPress = 0,
    kClick = 1,
    kDoubleClick = 2,
    kClickTimeout = 3,
    kMotion = 4,
    kLeft = 5,
    kContext = 6,
  };
  uint32_t kind = 0;
  rfb::Point position;
  // The widget that received it; opaque to everything below the widget set.
  wvw::Widget* widget = nullptr;
};

class MouseCallback {
public:
  // True when the event was consumed.
  virtual bool mouseEvent(const MouseEvent& event) = 0;
  virtual ~MouseCallback() = default;
};

} // namespace tlutil
