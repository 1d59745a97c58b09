// The sign-in road after installation: the choice between signing up and
// signing in, the wait for the browser's callback (with a time-out), and
// the page that checks the callback URI and has the package redeem its
// tickets. Each reports to the wizard dialog. Loop thread only.
#pragma once

#include <stdint.h>

#include "io/Endpoint.h"
#include "io/FdManager.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "tlOrbSetup/Page.h"
#include "tlOrbSetup/Pkg.h"

namespace mui {
class MuSpinner;
}

namespace tlOrbSetup {

// --- Rules ------------------------------------------------------------------------

// The state value of this process: 11 URL-safe base64 characters of 8
// random bytes, made on first use and never changed.
const plat::String& signingInState();
// The portal's sign-up or sign-in address with "state" and "version".
plat::String signInAddress(bool signUp);
// The wait for `_SignInTimeoutSecs` seconds, held below 2^31 ms.
int signInTimeoutMs(int secs);
// The callback's parameters, checked against state: the host part must be
// "install", "state" must equal state, "server" and "viewer" must have
// values. Throws "Bad URI endpoint", "Bad signingInState", "Missing param"
// or the URI parser's errors.
io::UriParams checkCallbackUri(const char* uri, const char* state);

class SignInChoosePage : public Page {
public:
  SignInChoosePage(PageHost* dlg, bool timedOut);
  void fillTexts() override;
  void activated(mui::MuElement* source, uint32_t code) override;

  bool timedOut() const { return timedOut_; }

private:
  // A row "trial" or "signIn": a bold tag and the page button "btn".
  struct SignInOption {
    void setup(mui::MuLayout* parent, const char* name, PageButton::Kind kind);
    mui::MuLayout* row = nullptr;
    mui::MuText* tag = nullptr;
    PageButton btn;
  };

  bool timedOut_;
  mui::MuText* text_;
  SignInOption trial_, signIn_;
};

class SigningInPage : public Page, public plat::Timer::Callback {
public:
  // Opens the browser and starts the wait.
  SigningInPage(PageHost* dlg, bool signUp);
  ~SigningInPage() override;
  void fillTexts() override;
  void activated(mui::MuElement* source, uint32_t code) override;
  bool timerExpired(plat::Timer* timer) override;

  // Ends the wait without a report (the callback has arrived).
  void stopWaiting() { timer_.stop(); }
  const plat::Timer& timer() const { return timer_; }

private:
  mui::MuText* text1_;
  mui::MuText* text2_;
  mui::MuButton* goBack_;
  plat::Timer timer_;
};

class ApplyTokenPage : public Page, public Pkg::ApplyTokenCallback {
public:
  // Raises the window and checks the URI; throws as checkCallbackUri.
  ApplyTokenPage(PageHost* dlg, const char* uri);
  ~ApplyTokenPage() override;
  // Has the package redeem the tickets; once the page is selected.
  void start();
  void fillTexts() override;
  // Pkg::ApplyTokenCallback
  void done(Pkg* pkg, const plat::Exception& result) override;

  const io::UriParams& params() const { return params_; }

private:
  void report();

  mui::MuText* text_;
  std::unique_ptr<mui::MuSpinner> spinner_;
  plat::Exception result_{""};
  io::UriParams params_;
  io::DeferredCall reportLater_;
};

} // namespace tlOrbSetup
