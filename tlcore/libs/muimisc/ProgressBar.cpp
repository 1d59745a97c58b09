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

} // namespace muimisc
