// The X layer's own message box: a centred modal dialog with an optional
// status icon, a message wrapped at 450 pixels and one or two buttons. It
// serves where the UI model's message box is not available, above all for
// showError, which the program's entry uses for an error that escaped
// start-up or the loop, opening the display itself when need be.
//
// The box owns its widgets. Loop thread only.
#pragma once

#include <memory>
#include <vector>

#include "tx/TXDialog.h"
#include "wvw/WLabel.h"

namespace tx {

class TXMsgBox : public TXDialog {
public:
  // Buttons (bits 0-2), icon (bits 4-7) and focus (bit 8).
  enum Flags : uint32_t {
    kOk = 0,
    kOkCancel = 1,
    kYesNo = 4,
    kButtonMask = 7,
    kIconError = 0x10,
    kIconQuestion = 0x20,
    kIconWarning = 0x30,
    kIconInfo = 0x40,
    kIconMask = 0xf0,
    kFocusLast = 0x100,
  };

  TXMsgBox(TXWindow* parent, const char* text, uint32_t flags, const char* title = nullptr);
  ~TXMsgBox() override;

  void setText(const char* text, int hAlign = wvw::WLabel::kCentre, int vAlign = wvw::WLabel::kCentre);
  // The index of the button pressed, -1 until one is.
  int chosen() const { return chosen_; }
  const std::vector<std::unique_ptr<wvw::WLabelButton>>& buttons() const { return buttons_; }
  wvw::WLabel& label() { return label_; }
  wvw::WImage* icon() const { return icon_.get(); }

  // Shows text in a box with the error icon and waits for OK. Never
  // throws: when no box can be shown the reason and the text are logged
  // and the reason goes to standard error.
  static void showError(const char* text);

  // The title every box of the process shows.
  static plat::String titleText(const char* title);

protected:
  virtual bool buttonActivated(wvw::Widget* widget);
  virtual void widgetAttached(wvw::Widget* widget);
  bool activated(wvw::Widget* source) override;
  bool attached(wvw::Widget* source) override;

private:
  void layout();

  int chosen_ = -1;
  wvw::WLabel label_;
  std::vector<std::unique_ptr<wvw::WLabelButton>> buttons_;
  uint32_t flags_;
  std::unique_ptr<wvw::WImage> icon_;
};

} // namespace tx
