#include "mui/MuSlider.h"

#include <string.h>

#include <algorithm>

#include "mui/Mui.h"

namespace mui {

// --- Slider -----------------------------------------------------------------

MuSlider* MuSlider::create(MuContainer* parent, const char* name, uint32_t direction)
{
  return createChild<MuSlider>(muSliderFactory, "muSliderFactory", parent, name, direction);
}

MuSlider::MuSlider(MuContainer* parent, const char* name, uint32_t direction)
  : MuElement(parent, name, nullptr), direction_(direction)
{
}

const char* MuSlider::typeName() const
{
  return "slider";
}

plat::DString MuSlider::getState() const
{
  plat::DString s = MuElement::getState();
  s.appendf("element Slider\nvalue %d\nmin %d\nmax %d\n", value(), minimum(), maximum());
  return s;
}

bool MuSlider::doAction(const char* action, const char* argument)
{
  int n = 0;
  if (strcmp(action, "click") != 0 || !intArgument(argument, &n) || flags() != 0 || !isShownInTree())
    return false;
  setValue(std::min(std::max(n, minimum()), maximum()));
  notify(this, kChanged);
  return true;
}

} // namespace mui
