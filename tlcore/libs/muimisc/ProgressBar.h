// A flat horizontal bar filled in proportion to a 16-bit value: an element
// kind added outside the core set, built through its own factory by the
// bound back-end and owned by its parent container. The model keeps the
// value and the filled length and repaints only when that length changes;
// the back-end paints. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "mui/MuElement.h"

namespace muimisc {

class ProgressBar : public mui::MuElement {
public:
  static const uint16_t kComplete = 65535;

  static ProgressBar* create(mui::MuContainer* parent, const char* name);
  const char* typeName() const override;
  // The filled length follows the new width.
  void setSize(const mui::Size& size) override;
  // Both 8 units: a layout stretches the bar.
  int preferredWidth(int height) const override;
  int preferredHeight(int width) const override;
  // The value in whole percent, as "49%".
  plat::DString getItems() const override;

  void setValue(uint16_t value);
  uint16_t value() const { return value_; }
  // In pixels: value * width / 65535.
  int filled() const { return filled_; }
  const char* fillColour() const { return fillColour_.get(); }
  const char* backgroundColour() const { return backgroundColour_.get(); }

protected:
  ProgressBar(mui::MuContainer* parent, const char* name);

private:
  int filledFor(int width) const { return (int)((int64_t)value_ * width / kComplete); }
  // Repaints the whole bar when the filled length changed.
  void updateFilled();

  int filled_ = 0;
  uint16_t value_ = 0;
  plat::String fillColour_{"#288cf4"};
  plat::String backgroundColour_{"#d0d0d0"};
};

// Null until the program's entry binds it, as the UI model's factories.
using ProgressBarFactory = std::unique_ptr<ProgressBar> (*)(mui::MuContainer* parent, const char* name);
extern ProgressBarFactory progressBarFactory;

} // namespace muimisc
