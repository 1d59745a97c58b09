// The widget back-end of the slider kind: a discrete slider widget that it
// owns, whose positions count from the start of the range; a vertical one
// has the maximum at the top. Loop thread only.
#pragma once

#include <stdint.h>

#include "mui/MuLeafWvw.h"
#include "mui/MuSlider.h"
#include "wvw/WSlider.h"

namespace mui {

class MuSliderWvw : public MuSlider, public LeafWvw {
public:
  enum Direction : uint32_t { kHorizontal = 0, kVertical = 1 };
  MuSliderWvw(MuContainer* parent, const char* name, uint32_t direction);
  ~MuSliderWvw() override;

  void setValue(int value) override;
  int value() const override;
  void setRange(int minimum, int maximum) override;
  int minimum() const override { return min_; }
  int maximum() const override;
  bool valueChanged(wvw::Widget* source) override;

  wvw::WDiscreteSlider& widget() { return slider_; }

private:
  bool vertical() const { return direction_ == kVertical; }
  int range() const { return vertical() ? slider_.getRange().y : slider_.getRange().x; }
  int position() const { return vertical() ? slider_.getValue().y : slider_.getValue().x; }

  wvw::WDiscreteSlider slider_;
  int min_ = 0;
};

} // namespace mui
