// The push-button family: the press-and-release behaviour shared by every
// clickable widget, the bevelled button holding one content widget, the
// one-bit icon and the icon button.
//
// A button reports a click through its own `activated` notification and
// every change of its pressed look through `valueChanged`; owners install an
// input handler to hear them. A bevelled button's content is a child it
// does not own (the icon button owns its icon as a member). Loop thread only.
#pragma once

#include "wvw/WLayout.h"

namespace wvw {

// 8 x 8 arrows, one byte a row from the top.
extern const uint8_t kLeftArrowBits[8];
extern const uint8_t kUpArrowBits[8];
extern const uint8_t kRightArrowBits[8];
extern const uint8_t kDownArrowBits[8];

class WButton : public WLayout {
public:
  WButton();

  // True when the flag changed (valueChanged was sent).
  bool setPressed(bool pressed);
  bool isPressed() const { return pressed_; }

  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  bool wantsFocus() override { return isVisible() && isEnabled(); }

private:
  bool pressed_ = false;
};

class WBevelButton : public WButton {
public:
  // Inside the bevel: the content's inset on every side.
  static constexpr int kInset = 3;

  WBevelButton() = default;

  // Replaces the content (not owned; null for none).
  virtual void setContent(Widget* content);
  Widget* getContent() const { return content_; }

  bool valueChanged(Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool resized(Widget* source) override;
  rfb::Point preferredSize() override;
  void paint(rfb::WritablePixelBuffer& pb) override;

protected:
  void childDestroyed(Widget* child) override;

private:
  rfb::Rect contentRect() const { return rfb::Rect(kInset, kInset, width() - kInset, height() - kInset); }

  Widget* content_ = nullptr;
};

// A one-bit bitmap in the text colour: rows from the top, (width + 7) / 8
// bytes a row, the most significant bit leftmost.
class WIcon : public Widget {
public:
  // bits are borrowed and must outlive the icon.
  WIcon(const uint8_t* bits, const rfb::Point& size) : bits_(bits), bitmapSize_(size) {}

  rfb::Point preferredSize() override { return bitmapSize_; }
  bool wantsFocus() override { return false; }
  bool enabledChanged(Widget* source) override;
  void paint(rfb::WritablePixelBuffer& pb) override;

private:
  const uint8_t* bits_;
  rfb::Point bitmapSize_;
};

class WIconButton : public WBevelButton {
public:
  WIconButton(const uint8_t* bits, const rfb::Point& size);
  WIcon& icon() { return icon_; }

private:
  WIcon icon_;
};

} // namespace wvw
