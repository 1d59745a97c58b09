// The slider kind: a value on a range, laid out horizontally or
// vertically. A leaf kind (MuLeaves.h) built through its factory by the
// bound back-end, which holds the value and the range, and owned by its
// parent from its create operation on. Loop thread only.
#pragma once

#include <stdint.h>

#include "mui/MuElement.h"

namespace mui {

class MuSlider : public MuElement {
public:
  static MuSlider* create(MuContainer* parent, const char* name, uint32_t direction);
  const char* typeName() const override;
  plat::DString getState() const override;
  // "click" N (N required, clamped to the range; shown in its tree): changed.
  bool doAction(const char* action, const char* argument) override;

  virtual void setValue(int value) = 0;
  virtual int value() const = 0;
  virtual void setRange(int minimum, int maximum) = 0;
  virtual int minimum() const = 0;
  virtual int maximum() const = 0;

protected:
  MuSlider(MuContainer* parent, const char* name, uint32_t direction);
  uint32_t direction_;
};

} // namespace mui
