// The edit context menu's callback: what labels and edit fields do when
// an entry of their context menu is chosen.
#pragma once

namespace wvw {

class WEditMenu {
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
};

} // namespace wvw
