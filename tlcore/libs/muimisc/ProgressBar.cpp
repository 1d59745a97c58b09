#include "muimisc/ProgressBar.h"

#include "mui/Mui.h"

namespace muimisc {

ProgressBarFactory progressBarFactory = nullptr;

ProgressBar* ProgressBar::create(mui::MuContainer* parent, const char* name)
{
  return mui::createChild<ProgressBar>(progressBarFactory, "progressBarFactory", parent, name);
}

ProgressBar::ProgressBar(mui::MuContainer* parent, const char* name) : mui::MuElement(parent, name, nullptr) {}

const char* ProgressBar::typeName() const
{
  return "progressBar";
}

void ProgressBar::setSize(const mui::Size& size)
{
  MuElement::setSize(size);
  updateFilled();
}

int ProgressBar::preferredWidth(int) const
{
  return mui::Mui::scale(8);
}

int ProgressBar::preferredHeight(int) const
{
  return mui::Mui::scale(8);
}

plat::DString ProgressBar::getItems() const
{
  return plat::DString::format("%d%%", (int)(value_ * 100 / 65535.0f));
}

void ProgressBar::setValue(uint16_t value)
{
  value_ = value;
  updateFilled();
}

void ProgressBar::updateFilled()
{
  const mui::Size size = getSize();
  const int filled = filledFor(size.x);
  if (filled == filled_)
    return;
  filled_ = filled;
  invalidate(rfb::Rect(0, 0, size.x, size.y));
}

} // namespace muimisc
