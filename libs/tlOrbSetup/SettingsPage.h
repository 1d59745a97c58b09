// The settings page after sign-in: how access to this machine is checked
// (the product's device password or the system's login credentials), the
// device password with its confirmation, and the analytics and update
// options. Launch sends them to the elevated helper as the server's
// settings, records the analytics choice for the viewer and launches the
// product, also when the helper could not store them. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "plat/Markup.h"
#include "plat/String.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/Page.h"

namespace mui {
class MuInfoFrame;
class MuMessageBox;
} // namespace mui
namespace muimisc {
class ClearTextPassword;
}

namespace tlOrbSetup {

// Why a device password pair is refused: 0 (accepted) when the first has
// more than 5 bytes and both are equal; a null text counts as differing
// from any other.
enum class PasswordCheck { kOk, kTooShort, kMismatch };
PasswordCheck checkPasswords(const char* first, const char* second);

// The server's settings for the choices made (names compared without
// regard to case), and apart from them the encoded device password (null
// without the device password), which the helper message sends as
// "Password".
struct ServerSettings {
  plat::CaseInsensitiveStringMap values;
  plat::SecureString password;
};
ServerSettings serverSettings(bool deviceAuth, const char* password, bool analytics, bool updates);

class SettingsPage : public Page, public AdminHelperClient::SvrSettingsCallback {
public:
  explicit SettingsPage(PageHost* dlg);
  ~SettingsPage() override;
  void fillTexts() override;
  void updateAuthInfo();
  bool validatePassword();
  void changed(mui::MuElement* source, uint32_t code) override;
  void activated(mui::MuElement* source, uint32_t code) override;
  // AdminHelperClient::SvrSettingsCallback
  void result(const plat::Exception& error) override;

  bool pending() const { return pending_; }
  mui::MuMessageBox* errorBox() const { return box_.get(); }

private:
  bool isPasswordPart(mui::MuElement* source) const;
  void launch();
  // Sends the settings to the helper; the password fields are emptied.
  void sendSettings(bool device);

  plat::LinkCbOpenUrl openUrl_;
  mui::MuLayout* content_;
  mui::MuFrame* frame_;
  mui::MuText* text1_;
  mui::MuText* text2_;
  mui::MuLayout* authRow_;
  mui::MuCheck* zarnAuth_;
  mui::MuCheck* sysAuth_;
  std::unique_ptr<mui::MuInfoFrame> info_;
  mui::MuLayout* block_;
  mui::MuText* blockText_;
  mui::MuLayout* row1_;
  mui::MuLayout* row2_;
  std::unique_ptr<muimisc::ClearTextPassword> pwd1_;
  std::unique_ptr<muimisc::ClearTextPassword> pwd2_;
  std::unique_ptr<mui::MuInfoFrame> error_;
  mui::MuCheck* analytics_;
  mui::MuCheck* updates_;
  PageButton launch_;
  bool checking_ = false;
  // From the launch press until the helper's answer: further presses wait.
  bool pending_ = false;
  std::unique_ptr<mui::MuMessageBox> box_;
};

} // namespace tlOrbSetup
