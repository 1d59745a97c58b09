#include "muimisc/ClearTextPassword.h"

#include "loc/Localize.h"
#include "mui/MuButtons.h"
#include "mui/MuDialog.h"
#include "mui/MuEntries.h"
#include "mui/MuLayout.h"

namespace muimisc {

using mui::MuButton;
using mui::MuEdit;
using mui::MuLayout;

namespace {

// Custom buttons that show only an image, without a minimum size or inner
// margin, centred.
constexpr uint32_t kCompact = 8;

} // namespace

ClearTextPassword::ClearTextPassword(mui::MuContainer* parent, const char* name, const char* label,
                                     bool withClipboardButton)
{
  layout_ = MuLayout::create(parent, name, MuLayout::kHorizontal);
  hidden_ = MuEdit::create(layout_, "hidden", label, MuEdit::kPassword, 0);
  clear_ = MuEdit::create(layout_, "clear", label, MuEdit::kText, 0);
  clear_->setSensitive(true);
  eye_ = MuButton::create(layout_, "clearObsBtn", nullptr, MuButton::kCustom, kCompact, MuButton::kCentre);
  if (withClipboardButton)
    copy_ = MuButton::create(layout_, "clipboardBtn", nullptr, MuButton::kCustom, kCompact, MuButton::kCentre);
  observed_ = layout_;
  observed_->addObserver(this, true);
  layout_->setChildLayout(hidden_, MuLayout::kStretch, 1);
  layout_->setChildLayout(clear_, MuLayout::kStretch, 1);
  clear_->setShown(false);
  if (copy_) {
    setButtonImage(copy_, "copyToClipboard");
    copy_->setTooltip(LOC_TR("muimisc_cleartextpassword_clipboard_tip"));
  }
  refreshEyeImage();
}

ClearTextPassword::~ClearTextPassword()
{
  observed_->addObserver(this, false);
}

void ClearTextPassword::setHint(const char* text)
{
  hidden_->setHint(text);
  clear_->setHint(text);
}

void ClearTextPassword::setSizes(int labelRule, int widgetRule)
{
  hidden_->setLabelWidth(labelRule, widgetRule);
  clear_->setLabelWidth(labelRule, widgetRule);
}

void ClearTextPassword::setEnabled(bool enabled)
{
  hidden_->setEnabled(enabled);
  clear_->setEnabled(enabled);
  eye_->setEnabled(enabled);
}

bool ClearTextPassword::isClearTextShown() const
{
  return clear_->isShown();
}

MuEdit* ClearTextPassword::visibleEdit() const
{
  return isClearTextShown() ? clear_ : hidden_;
}

plat::SecureString ClearTextPassword::getText() const
{
  return visibleEdit()->getSecret();
}

void ClearTextPassword::setText(const char* text)
{
  visibleEdit()->setText(text);
}

void ClearTextPassword::setButtonImage(MuButton* button, const char* image)
{
  const int side = hidden_->preferredHeight(hidden_->getSize().x);
  button->setImage(image, mui::Size(side, side), 0, false);
}

void ClearTextPassword::refreshEyeImage()
{
  setButtonImage(eye_, isClearTextShown() ? "eyeOpen" : "eyeClosed");
}

void ClearTextPassword::swapEdits(bool showClear)
{
  const plat::SecureString text = getText();
  MuEdit* left = visibleEdit();
  hidden_->setShown(!showClear);
  clear_->setShown(showClear);
  refreshEyeImage();
  visibleEdit()->setText(text.str());
  if (left != visibleEdit())
    left->setText("");
  layout_->relayout();
}

void ClearTextPassword::setShowClearText(bool show)
{
  swapEdits(show);
}

void ClearTextPassword::event(mui::MuElement* source, uint32_t code)
{
  if (code != kActivated)
    return;
  if (copy_ && source == copy_) {
    setButtonImage(copy_, "copiedToClipboard");
    layout_->relayout();
    if (auto* dialog = dynamic_cast<mui::MuDialog*>(layout_->getDialog()))
      dialog->copySecretToClipboard(getText().str());
  } else if (source == eye_) {
    int length = 0;
    const int start = visibleEdit()->getSelection(&length);
    swapEdits(!isClearTextShown());
    MuEdit* shown = visibleEdit();
    shown->setFocus();
    shown->setSelection(start, length);
  }
}

} // namespace muimisc
