// A flat horizontal bar filled in proportion to a 16-bit value: an element
// kind added outside the core set, built through its own factory by the
// bound back-end and owned by its parent container. Loop thread only.
#pragma once

#include "mui/MuElement.h"

namespace muimisc {

class ProgressBar : public mui::MuElement {
public:
  static ProgressBar* create(mui::MuContainer* parent, const char* name);
  const char* typeName() const override;

protected:
  ProgressBar(mui::MuContainer* parent, const char* name);
};

// Null until the program's entry binds it, as the UI model's factories.
using ProgressBarFactory = ProgressBar* (*)(mui::MuContainer* parent, const char* name);
extern ProgressBarFactory progressBarFactory;

} // namespace muimisc
