// What a wizard page needs from the window that holds it: the deck it lives
// in, the objects it works with, and the next step after each outcome. The
// wizard's dialog (SetupDlg) is the one host.
//
// The host owns its pages and everything it hands them; a page borrows the
// host for its whole life and never deletes what it gets. An outcome may
// retire the calling page (see Page.h). Loop thread only.
#pragma once

namespace mui {
class MuDialog;
class MuPager;
}
namespace plat {
class Exception;
}
namespace hostedremoteaccess {
class CapsClient;
}

namespace tlOrbSetup {

class AdminHelperClient;
class PkgOrb;

class PageHost {
public:
  // --- Where the pages are shown ---
  // The page deck; the dialog, owner of the pages' message boxes.
  virtual mui::MuPager* deck() const = 0;
  virtual mui::MuDialog* dialog() const = 0;
  virtual void raiseAndActivate() = 0;

  // --- What they work with ---
  virtual AdminHelperClient& helper() = 0;
  // Null before a download starts.
  virtual PkgOrb* pkg() const = 0;
  virtual bool installFlag() const = 0;
  // Throws "No cloud configuration" without one.
  virtual hostedremoteaccess::CapsClient* getCapsClient() = 0;

  // --- Their outcomes: the host shows the next page ---
  virtual void startDownload(bool installFlag) = 0;
  virtual void downloadDone(const plat::Exception& result) = 0;
  virtual void installDone(const char* error, const char* output) = 0;
  virtual void launch() = 0;
  virtual void retry() = 0;
  virtual void signInChosen(bool signUp) = 0;
  virtual void signInEnded(bool timedOut) = 0;
  virtual void tokensApplied(const plat::Exception& result) = 0;
  // The error road; detail may be null.
  virtual void showError(const char* text, const char* detail) = 0;

protected:
  ~PageHost() = default;
};

} // namespace tlOrbSetup
