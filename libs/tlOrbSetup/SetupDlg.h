// The wizard's one window and the switchboard of its pages.
//
// SetupDlg builds the "SetupDlg" dialog from UI-model elements (a header
// with the program icon and the language choice, then the page deck), and
// owns the HTTPS client, the hosted-services objects, the admin-helper
// client, the product package and one page object per page kind. Every
// page reports its outcome here and the dialog decides the next page.
//
// Reentrancy: a page or the package may report from inside a call the
// dialog made (a failure to start). The dialog therefore starts a page's
// operation only after the page is in its slot and selected, and pages and
// packages it leaves are retired and deleted on a later pass, never under
// a caller on the stack. Loop thread only; the UI model must be bound
// before construction.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "hosted/HostedClientContext.h"
#include "io/FdManager.h"
#include "mui/MuDialog.h"
#include "mui/MuElement.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/PageHost.h"
#include "ui/Menu.h"

namespace http {
class NativeHttpClient;
}
namespace hosted {
class HostedHttpSession;
}
namespace hostedremoteaccess {
class CapsClient;
}
namespace os {
class UrlSchemeRegistration;
}

namespace tlOrbSetup {

class Page;
class InitialPage;
class DownloadPage;
class InstallPage;
class SimpleLaunchPage;
class ErrorPage;
class SignInChoosePage;
class SigningInPage;
class ApplyTokenPage;
class SettingsPage;
class PkgOrb;

// --- Rules of the wizard, kept apart for their tests ---------------------------

// Tokens of text split at any of seps; runs of separators give no empty
// tokens.
std::vector<plat::String> splitTokens(const char* text, size_t length, const char* seps);
// The index in codes of the first of locales, each followed by its bare
// language when it names a country, that equals a code; 0 when none does.
int languageIndex(const std::vector<plat::String>& locales, const std::vector<plat::String>& codes);

// Where the wizard goes after a successful installation.
enum class AfterInstall { kSignInChoice, kSettings, kSimpleLaunch };
AfterInstall afterInstall(bool signInAvailable, bool forceSettings);

class SetupDlg : public mui::MuObserver,
                 public mui::MuDialog::CloseCallback,
                 public ui::Menu::ActionCallback,
                 public AdminHelperClient::Callback,
                 public plat::Timer::Callback,
                 public PageHost {
public:
  // Throws what the UI model or reading `_CertsPem` throws. The cloud
  // configuration (null: none) is what the capabilities client is made from.
  explicit SetupDlg(hosted::HostedClientContextPtr cloudConfig);
  ~SetupDlg() override;
  SetupDlg(const SetupDlg&) = delete;
  SetupDlg& operator=(const SetupDlg&) = delete;

  // --- Window ---
  // Removes a leftover installer directory, shows the dialog and focuses
  // the header.
  void show();
  // Logs, and keeps what it cannot remove.
  static void removeInstallerDir();
  void selectPage(Page* page);
  void retitle();

  // --- Page flow ---
  void startDownload(bool installFlag) override;
  void downloadDone(const plat::Exception& result) override;
  void installDone(const char* error, const char* output) override;
  void launch() override;
  void retry() override;
  // detail may be null.
  void showError(const char* text, const char* detail) override;
  bool signInAvailable() const;
  void signInChosen(bool signUp) override;
  // Acts only while the signing-in page is on show.
  void signInEnded(bool timedOut) override;
  // Only while the signing-in page is on show; throws "URI received when
  // not showing SigningInPage", or what the URI's check throws (the page
  // then keeps waiting).
  void handleUri(const char* uri);
  void tokensApplied(const plat::Exception& result) override;
  void showSettings();
  // Raises and activates the wizard's window, where the back-end has one.
  void raiseAndActivate() override;

  // --- What the pages use (PageHost) ---
  mui::MuDialog* dialog() const override { return dialog_.get(); }
  mui::MuPager* deck() const override { return deck_; }
  http::NativeHttpClient* httpsClient() const { return https_.get(); }
  AdminHelperClient& helper() override { return helper_; }
  PkgOrb* pkg() const override { return pkg_.get(); }
  bool installFlag() const override { return installFlag_; }
  hostedremoteaccess::CapsClient* getCapsClient() override;

  // --- For tests and the front end ---
  Page* currentPage() const { return current_; }
  InitialPage* initialPage() const { return initial_.get(); }
  DownloadPage* downloadPage() const { return download_.get(); }
  InstallPage* installPage() const { return install_.get(); }
  ErrorPage* errorPage() const { return error_.get(); }
  SimpleLaunchPage* simpleLaunchPage() const { return simpleLaunch_.get(); }
  SignInChoosePage* signInChoosePage() const { return signInChoose_.get(); }
  SigningInPage* signingInPage() const { return signingIn_.get(); }
  ApplyTokenPage* applyTokenPage() const { return applyToken_.get(); }
  SettingsPage* settingsPage() const { return settings_.get(); }
  bool schemeRegistered() const { return scheme_ != nullptr; }
  mui::MuChoice* languageChoice() const { return langs_; }
  const plat::Timer& exitTimer() const { return exitTimer_; }

  // mui::MuObserver
  void changed(mui::MuElement* source, uint32_t code) override;
  void dialogClosed(mui::MuElement* dialog) override;
  // mui::MuDialog::CloseCallback
  bool mayClose(mui::MuDialog* dialog) override;
  // ui::Menu::ActionCallback
  void action(ui::Menu::Item* item) override;
  // AdminHelperClient::Callback
  void helperLaunched() override;
  void helperLaunchFailed(const plat::Exception& error) override;
  // plat::Timer::Callback
  bool timerExpired(plat::Timer* timer) override;

private:
  void makeHttpsClient();
  void loadLanguages();
  // Replaces slot's page with page (the old one retired) and selects it.
  template <class P> P* showPage(std::unique_ptr<P>& slot, std::unique_ptr<P> page);
  template <class T> void retire(std::unique_ptr<T>& slot);
  void sweep();

  std::unique_ptr<http::NativeHttpClient> https_;
  hosted::HostedClientContextPtr hostedContext_;
  std::unique_ptr<hosted::HostedHttpSession> hostedSession_;
  std::unique_ptr<hostedremoteaccess::CapsClient> caps_;
  std::unique_ptr<mui::MuDialog> dialog_;
  std::vector<plat::String> langCodes_;
  std::vector<plat::String> langNames_;
  mui::MuFrame* header_ = nullptr;
  mui::MuLayout* headerLayout_ = nullptr;
  mui::MuImage* icon_ = nullptr;
  mui::MuSpacer* spacer_ = nullptr;
  mui::MuChoice* langs_ = nullptr;
  mui::MuPager* deck_ = nullptr;
  Page* current_ = nullptr;
  std::unique_ptr<InitialPage> initial_;
  std::unique_ptr<DownloadPage> download_;
  std::unique_ptr<InstallPage> install_;
  std::unique_ptr<SignInChoosePage> signInChoose_;
  std::unique_ptr<SigningInPage> signingIn_;
  std::unique_ptr<ApplyTokenPage> applyToken_;
  std::unique_ptr<SettingsPage> settings_;
  std::unique_ptr<SimpleLaunchPage> simpleLaunch_;
  std::unique_ptr<ErrorPage> error_;
  std::unique_ptr<os::UrlSchemeRegistration> scheme_;
  std::unique_ptr<PkgOrb> pkg_;
  AdminHelperClient helper_;
  plat::Timer exitTimer_;
  bool installFlag_ = false;
  // Left pages and packages, deleted on the next pass (packages first).
  std::vector<std::unique_ptr<PkgOrb>> retiredPkgs_;
  std::vector<std::unique_ptr<Page>> retiredPages_;
  io::DeferredCall sweepLater_;
};

} // namespace tlOrbSetup
