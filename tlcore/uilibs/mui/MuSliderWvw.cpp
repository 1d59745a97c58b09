#include "mui/MuSliderWvw.h"

#include <limits.h>
#include <stdint.h>

#include <algorithm>

namespace mui {

// --- Slider -----------------------------------------------------------------

MuSliderWvw::MuSliderWvw(MuContainer* parent, const char* name, uint32_t direction)
  : MuSlider(parent, name, direction), slider_(direction != kVertical)
{
  slider_.setInputHandler(this);
  slider_.setStyle(&wstyle_);
  setCommon(std::make_unique<MuCommonWvw>(this, &slider_));
}

MuSliderWvw::~MuSliderWvw()
{
  setCommon(nullptr);
}

void MuSliderWvw::setRange(int minimum, int maximum)
{
  Setting s(setting_);
  min_ = minimum;
  const int r = (int)std::max<int64_t>(0, std::min<int64_t>(INT_MAX, (int64_t)maximum - minimum));
  slider_.setRange(vertical() ? rfb::Point(0, r) : rfb::Point(r, 0));
}

int MuSliderWvw::maximum() const
{
  return min_ + range();
}

void MuSliderWvw::setValue(int value)
{
  Setting s(setting_);
  // Positions count from the start; values outside the range stop at its ends.
  const int64_t from = vertical() ? (int64_t)maximum() - value : (int64_t)value - min_;
  const int at = (int)std::max<int64_t>(0, std::min<int64_t>(range(), from));
  slider_.setValue(vertical() ? rfb::Point(0, at) : rfb::Point(at, 0));
}

int MuSliderWvw::value() const
{
  return vertical() ? maximum() - position() : min_ + position();
}

bool MuSliderWvw::valueChanged(wvw::Widget* source)
{
  if (source != &slider_)
    return false;
  if (!setting_)
    notify(this, kChanged);
  return true;
}

} // namespace mui
