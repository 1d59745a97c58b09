// Sliders: a thumb over a two-dimensional range (the base of the sliders
// and the thumb of every scrollbar), the one-axis slider and the discrete
// slider with one tick per step.
//
// Values run 0..range per axis; page is the visible part of the whole and
// sets the thumb's size. The arithmetic is done in 64 bits, so large
// ranges cannot overflow. Setters called by the program send valueChanged
// like user input does (the scrollbars rely on it). Loop thread only.
#pragma once

#include "wvw/Widget.h"

namespace wvw {

class WSlider2D : public Widget {
public:
  // Greys of the thumb's face (fixed, not style colours).
  static constexpr int kGreyLight = 238;
  static constexpr int kGreyDark = 184;
  static constexpr int kGreyDragged = 216;
  static constexpr int kMinThumb = 8;

  WSlider2D();

  // Clamped to 0..range; valueChanged on a change.
  virtual void setValue(const rfb::Point& value);
  // Components below 1 become 0; the value is clamped into the new range.
  virtual void setRange(const rfb::Point& range);
  // Components at least 1; recomputes the thumb and repaints.
  virtual void setPage(const rfb::Point& page);
  const rfb::Point& getValue() const { return value_; }
  const rfb::Point& getRange() const { return range_; }
  const rfb::Point& getPage() const { return page_; }
  const rfb::Point& getThumbSize() const { return thumbSize_; }
  bool isDragging() const { return dragging_; }
  // The thumb's top-left corner.
  rfb::Point thumbPosition() const;

  bool valueChanged(Widget* source) override;
  bool resized(Widget* source) override;
  bool buttonDown(int button, Widget* source) override;
  bool buttonUp(int button, Widget* source) override;
  bool pointerMoved(const rfb::Point& position, Widget* source) override;
  rfb::Point preferredSize() override { return rfb::Point(1, 1); }
  bool wantsFocus() override { return false; }
  void paint(rfb::WritablePixelBuffer& pb) override;

  // round(a x b / c), halves away from zero, in 64 bits; c > 0.
  static int64_t mulDivRound(int64_t a, int64_t b, int64_t c);

private:
  void computeThumb();

  rfb::Point range_;
  rfb::Point value_;
  rfb::Point page_;
  rfb::Point thumbSize_;
  rfb::Point dragOffset_;
  bool dragging_ = false;
};

class WSlider : public WSlider2D {
public:
  explicit WSlider(bool horizontal);
  bool isHorizontal() const { return horizontal_; }

protected:
  int tickBase_ = 0;
  bool horizontal_;
};

class WDiscreteSlider : public WSlider {
public:
  static constexpr int kThumbLength = 11;
  static constexpr int kGroove = 6;

  explicit WDiscreteSlider(bool horizontal) : WSlider(horizontal) {}

  bool key(uint32_t keysym, bool down, Widget* source) override;
  bool focusChanged(bool backward, Widget* source) override;
  bool enabledChanged(Widget* source) override;
  rfb::Point preferredSize() override { return horizontal_ ? rfb::Point(10, 26) : rfb::Point(26, 10); }
  bool wantsFocus() override { return isEnabled() && isVisible(); }
  void paint(rfb::WritablePixelBuffer& pb) override;

  // Where the painted thumb starts along the axis for a value.
  int thumbOffset(int value) const;
};

} // namespace wvw
