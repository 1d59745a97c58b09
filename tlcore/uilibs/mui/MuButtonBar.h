// The standard row of dialog buttons (OK, Cancel, Yes, No, ...) with
// translated labels, in a fixed order at the right of the row, and the
// choice of the dialog's default (Return) and cancel (Escape) buttons.
//
// Built for a dialog, the row is a footer frame stacked at the bottom of it;
// for any other container, a horizontal layout inside it. The elements
// belong to the tree; the bar destroys its frame or layout, with every
// button, when it goes, and unregisters its buttons from the dialog first.
// Custom buttons go before the standard ones, each new one before the
// previous. Loop thread only.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <functional>
#include <map>

#include "mui/Forward.h"

namespace mui {

class MuButtonBar {
public:
  enum Bits : uint32_t {
    kOk = 1,
    kCancel = 2,
    kApply = 4,
    kYes = 8,
    kNo = 16,
    kBack = 32,
    kNext = 64,
    kContinue = 128,
    kSave = 256,
    kOpen = 512,
    kCustom = 4096,
  };

  // buttons: standard bits only.
  MuButtonBar(MuContainer* element, uint32_t buttons, bool chooseDefaults);
  ~MuButtonBar();
  MuButtonBar(const MuButtonBar&) = delete;
  MuButtonBar& operator=(const MuButtonBar&) = delete;

  // Replaces every button, custom ones too.
  void setButtons(uint32_t buttons, bool chooseDefaults);
  MuButton* addCustomButton(const char* name, const char* label);
  // The bit of a button of this bar, else 0.
  uint32_t bitOf(const MuElement* element) const;
  // The first button with that bit; for kCustom the first custom button of
  // that name (null: an unnamed one).
  MuButton* find(uint32_t bit, const char* name = nullptr) const;
  void setEnabled(bool enabled);
  // The first of bits (kCustom: an unnamed custom button) that has a
  // button becomes the dialog's default (0) or cancel (1) button.
  void setDialogButton(int which, std::initializer_list<uint32_t> bits);

  MuLayout* layout() const { return layout_; }
  MuFrame* frame() const { return frame_; }

private:
  MuButton* addButton(uint32_t bit, const char* name, const char* label);
  void chooseDefaults();
  // Clears the dialog's default and cancel when they are ours.
  void unregisterButtons();

  MuContainer* element_;
  MuFrame* frame_ = nullptr;
  MuLayout* layout_ = nullptr;
  MuSpacer* leadingSpacer_ = nullptr;
  MuElement* insertBefore_ = nullptr;
  MuSpacer* navigationSpacer_ = nullptr;
  std::map<MuElement*, uint32_t, std::less<>> bits_;
};

} // namespace mui
