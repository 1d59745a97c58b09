// The modal message box: a status icon, a message with an optional detail,
// a row of standard buttons, and an answer true or false.
//
// flags: bits 0-3 the button set (0 OK, 1 OK and Cancel, 4 Yes and No,
// others none and no close function), bits 4-7 the icon (0x10 error, 0x20
// question, 0x30 warning, other non-zero info), bits 8-11 make the second
// button the default. The box is modal: with strongModal, showing it runs
// the window back-end's modal loop, so run() returns once the box is
// answered; without, the window only keeps input from other windows and
// run() returns at once. Yes and OK answer true, the other buttons false;
// closing the window answers false when there is a Cancel button, true when
// there is only OK.
//
// The box owns its dialog and its button bar and is owned by its caller;
// run() may be called again. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "mui/Forward.h"
#include "mui/MuDialog.h"

namespace plat {
namespace Markup {
class LinkCallback;
}
} // namespace plat

namespace mui {

class MuMessageBox : public MuObserver {
public:
  enum Buttons : uint32_t { kOk = 0, kOkCancel = 1, kYesNo = 4, kButtonsMask = 0xf };
  enum Icon : uint32_t { kError = 0x10, kQuestion = 0x20, kWarning = 0x30, kInfo = 0x40, kIconMask = 0xf0 };
  static const uint32_t kSecondDefault = 0x100;
  // The message scrolls vertically inside the box (see setFixedSize).
  static const uint32_t kScrollText = 0x1000;

  // The title follows the application's display name; the message is
  // plain text, the detail markup.
  MuMessageBox(MuDialog* owner, const char* text, uint32_t flags, const char* title, const char* detail,
               bool strongModal, MuDialog::WindowHandle ownerWindow);
  ~MuMessageBox() override;

  // Shows (or hides) the box; the answer.
  bool run(bool show = true);
  // The message as markup.
  void setText(const char* markup);
  // Sizes the dialog; with kScrollText the message's view is held to what
  // the size leaves beside the rest, so the buttons stay inside.
  void setFixedSize(const Size& size);
  void setLinkCallback(plat::Markup::LinkCallback* callback);

  MuDialog* dialog() const { return dialog_.get(); }
  MuButtonBar* buttonBar() const { return bar_.get(); }
  // The image name of the icon bits of flags, or null for none.
  static const char* statusIconName(uint32_t flags);

  void activated(MuElement* element, uint32_t code) override;
  void dialogClosed(MuElement* dialog) override;

private:
  std::unique_ptr<MuDialog> dialog_;
  MuLayout* main_ = nullptr;
  MuScroll* scroll_ = nullptr;
  MuText* message_ = nullptr;
  std::unique_ptr<MuButtonBar> bar_;
  bool result_ = false;
};

} // namespace mui
