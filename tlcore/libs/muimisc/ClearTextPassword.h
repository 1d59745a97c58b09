// A password entry whose text an eye button reveals and hides again, with
// an optional button that copies the text to the clipboard. Two edits share
// one horizontal layout: "hidden" (a password edit) and "clear" (a text
// edit); exactly one of them is shown and holds the text, the other is
// empty. Both keep it in storage that is wiped when replaced.
//
// Ownership: the control is an observer, not an element; the elements it
// makes belong to the parent container and outlive it. Its destructor
// removes only its own observer registration. Loop thread only.
#pragma once

#include "mui/MuElement.h"
#include "plat/String.h"

namespace mui {
class MuButton;
class MuContainer;
class MuEdit;
class MuLayout;
} // namespace mui

namespace muimisc {

class ClearTextPassword : public mui::MuObserver {
public:
  // Makes the layout called name in parent and its elements, the copy
  // button only when withClipboardButton is set.
  ClearTextPassword(mui::MuContainer* parent, const char* name, const char* label, bool withClipboardButton);
  ~ClearTextPassword() override;
  ClearTextPassword(const ClearTextPassword&) = delete;
  ClearTextPassword& operator=(const ClearTextPassword&) = delete;

  // The same hint on both edits.
  void setHint(const char* text);
  // Passed to both edits' label widths.
  void setSizes(int labelRule, int widgetRule);
  // The edits and the eye button; the layout and the copy button keep
  // their state.
  void setEnabled(bool enabled);
  // Moves the text into the edit that the new state shows.
  void setShowClearText(bool show);
  // The eye image for the current state at the current edit height.
  void refreshEyeImage();

  // The text of the edit shown.
  plat::SecureString getText() const;
  void setText(const char* text);
  bool isClearTextShown() const;
  mui::MuLayout* layout() const { return layout_; }
  mui::MuEdit* hiddenEdit() const { return hidden_; }
  mui::MuEdit* clearEdit() const { return clear_; }
  mui::MuButton* eyeButton() const { return eye_; }
  // Null without the copy button.
  mui::MuButton* copyButton() const { return copy_; }

  void event(mui::MuElement* source, uint32_t code) override;

private:
  mui::MuEdit* visibleEdit() const;
  // Square, as tall as the hidden edit wants to be.
  void setButtonImage(mui::MuButton* button, const char* image);
  // Shows one edit, hides the other and moves the text across.
  void swapEdits(bool showClear);

  mui::MuLayout* layout_;
  mui::MuEdit* hidden_;
  mui::MuEdit* clear_;
  mui::MuButton* eye_;
  mui::MuButton* copy_ = nullptr;
  mui::MuElement* observed_;
};

} // namespace muimisc
