#include "mui/MuButtonBar.h"

#include "loc/Localize.h"
#include "mui/MuButtons.h"
#include "mui/MuContainerKinds.h"
#include "mui/MuDialog.h"
#include "mui/MuLayout.h"
#include "mui/MuSmallKinds.h"
#include "mui/Mui.h"
#include "plat/Exception.h"

namespace mui {

namespace {

struct Standard {
  uint32_t bit;
  const char* name;
  const char* labelKey;
};

// In the order they appear after the navigation buttons and the gap.
const Standard kAfterGap[] = {
    {MuButtonBar::kApply, "apply", "ui_button_apply"}, {MuButtonBar::kCancel, "cancel", "ui_button_cancel"},
    {MuButtonBar::kNo, "no", "ui_button_no"},          {MuButtonBar::kSave, "save", "ui_button_save"},
    {MuButtonBar::kOpen, "open", "ui_button_open"},    {MuButtonBar::kOk, "ok", "ui_button_ok"},
    {MuButtonBar::kYes, "yes", "ui_button_yes"},       {MuButtonBar::kContinue, "continue", "ui_button_continue"},
};
const Standard kNavigation[] = {
    {MuButtonBar::kBack, "back", "ui_button_back"},
    {MuButtonBar::kNext, "next", "ui_button_next"},
};

MuDialog* dialogOf(MuElement* element)
{
  return dynamic_cast<MuDialog*>(element->getDialog());
}

} // namespace

MuButtonBar::MuButtonBar(MuContainer* element, uint32_t buttons, bool chooseDefaults) : element_(element)
{
  PLAT_ASSERT_TEXT(!(buttons & kCustom), "!(buttons & Custom)");
  if (MuDialog* dialog = dynamic_cast<MuDialog*>(element); dialog && element->getDialog() == element) {
    frame_ = MuFrame::create(dialog, "buttons", nullptr, MuFrame::kFooter);
    dialog->setPanelKind(frame_, MuDialog::kBottom);
    layout_ = MuLayout::create(frame_, "layout", MuLayout::kHorizontal);
  } else {
    layout_ = MuLayout::create(element, "buttons", MuLayout::kHorizontal);
  }
  setButtons(buttons, chooseDefaults);
}

MuButtonBar::~MuButtonBar()
{
  unregisterButtons();
  if (frame_)
    element_->removeChild(frame_);
  else
    element_->removeChild(layout_);
}

void MuButtonBar::unregisterButtons()
{
  MuDialog* dialog = dialogOf(element_);
  if (!dialog)
    return;
  for (int which : {MuDialog::kDefaultButton, MuDialog::kCancelButton}) {
    if (bits_.count(dialog->button(which)))
      dialog->setButton(which, nullptr);
  }
}

void MuButtonBar::setButtons(uint32_t buttons, bool choose)
{
  unregisterButtons();
  layout_->destroyChildren();
  bits_.clear();
  navigationSpacer_ = nullptr;
  leadingSpacer_ = MuSpacer::create(layout_, 0, 0);
  layout_->setChildLayout(leadingSpacer_, MuLayout::kStretch, 1);
  insertBefore_ = leadingSpacer_;
  for (const Standard& b : kNavigation) {
    if (buttons & b.bit)
      addButton(b.bit, b.name, LOC_TR(b.labelKey));
  }
  if (buttons & (kCancel | kBack | kNext)) {
    navigationSpacer_ = MuSpacer::create(layout_, 0, 0);
    layout_->setChildLayout(navigationSpacer_, MuLayout::kFixed, Mui::metric(Mui::kSpacing));
  }
  for (const Standard& b : kAfterGap) {
    if (buttons & b.bit)
      addButton(b.bit, b.name, LOC_TR(b.labelKey));
  }
  if (choose)
    chooseDefaults();
}

MuButton* MuButtonBar::addButton(uint32_t bit, const char* name, const char* label)
{
  MuButton* button = MuButton::create(layout_, name, label, MuButton::kNormal, 0, MuButton::kCentre);
  bits_[button] = bit;
  return button;
}

MuButton* MuButtonBar::addCustomButton(const char* name, const char* label)
{
  MuButton* button = addButton(kCustom, name, label);
  layout_->moveChild(button, MuLayout::kBefore, insertBefore_);
  insertBefore_ = button;
  return button;
}

uint32_t MuButtonBar::bitOf(const MuElement* element) const
{
  if (!element || element->getParent() != layout_)
    return 0;
  auto i = bits_.find(element);
  return i == bits_.end() ? 0 : i->second;
}

MuButton* MuButtonBar::find(uint32_t bit, const char* name) const
{
  if (!bit)
    return nullptr;
  for (int i = 0; i < layout_->childCount(); i++) {
    MuElement* child = layout_->getChild(i);
    if (bitOf(child) != bit)
      continue;
    if (bit != kCustom || plat::strCmpNull(child->getName(), name) == 0)
      return static_cast<MuButton*>(child);
  }
  return nullptr;
}

void MuButtonBar::setEnabled(bool enabled)
{
  for (const auto& [button, bit] : bits_)
    button->setEnabled(enabled);
}

void MuButtonBar::setDialogButton(int which, std::initializer_list<uint32_t> bits)
{
  MuDialog* dialog = dialogOf(element_);
  if (!dialog)
    return;
  for (uint32_t bit : bits) {
    if (bit == 0)
      break;
    if (MuButton* button = find(bit)) {
      dialog->setButton(which, button);
      return;
    }
  }
}

void MuButtonBar::chooseDefaults()
{
  setDialogButton(MuDialog::kDefaultButton, {kOk, kYes, kContinue, kNext, kSave, kOpen});
  setDialogButton(MuDialog::kCancelButton, {kCancel, kNo});
}

} // namespace mui
