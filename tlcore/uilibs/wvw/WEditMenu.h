// The edit context menu of edit fields and selectable labels: Copy, Paste
// and Select All, the entries chosen by a bit mask. Choosing an entry
// calls the callback's menuAction and hides the menu; the callback may
// destroy the owner (and with it this menu) from there.
#pragma once

#include <memory>

#include "plat/LivenessToken.h"
#include "wvw/Widget.h"

namespace wvw {

class WEditMenu : public WInputHandler {
public:
  class Callback {
  public:
    // The chosen entry's number.
    static constexpr int kCopy = 1;
    static constexpr int kPaste = 2;
    static constexpr int kSelectAll = 4;

    virtual void menuAction(int action) = 0;
    virtual ~Callback() = default;
  };

  // entries: kCopy | kPaste | kSelectAll; callback is borrowed.
  WEditMenu(Callback* callback, int entries);
  ~WEditMenu() override;

  // At position relative to widget.
  void popup(bool show, const rfb::Point& position, Widget* widget);
  WRootMenu& menu() { return *menu_; }
  // Null for an absent entry.
  WMenuItem* item(int action) const;

  bool activated(Widget* source) override;

private:
  Callback* callback_;
  std::unique_ptr<WRootMenu> menu_;
  std::unique_ptr<WMenuItem> copy_, paste_, selectAll_;
  plat::LivenessToken liveness_;
};

} // namespace wvw
