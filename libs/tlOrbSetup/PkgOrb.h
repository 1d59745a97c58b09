// The product package of this generation: the viewer and the server are
// its applications ("viewer-session" and "server-join" tokens). After the
// install command it starts the server's service, offers to disable
// Wayland in the display manager's "custom.conf" and tells a GNOME user
// about tray icons; the server token joins the server to the cloud account
// (the server program run as root by the admin helper); launch starts the
// viewer with the viewer token.
//
// Loop thread only. Tokens reach the programs as owner-only files in the
// installer session directory, never on a command line. The token phase
// ends after the join, or with "Bad ticket redeem type" when the last
// ticket brought no server token.
#pragma once

#include <vector>

#include "tlOrbSetup/Pkg.h"

namespace tlOrbSetup {

class PkgOrb : public Pkg {
public:
  // The package URI is `_OrbUri`'s current value.
  PkgOrb(AdminHelperClient* helper, http::HttpClient* client);
  ~PkgOrb() override;

  // Starts the viewer detached; throws "No executable found".
  void launch() override;

#ifdef TL_TEST_HOOKS
  // Test hook: the directories searched for "custom.conf" (empty: "/etc/gdm3"
  // and "/etc/gdm").
  static void setDisplayManagerDirsForTest(std::vector<plat::String> dirs);
#endif

protected:
  bool startService() override;
  void applyToken(const char* kind) override;
  void allTicketsRedeemed() override;

private:
  // Routes one command's answers back; which helper tells which command.
  class RunCmdHelper : public AdminHelperClient::RunCmdCallback {
  public:
    explicit RunCmdHelper(PkgOrb* pkg) : pkg_(pkg) {}
    void result(int status, const plat::Exception& error) override;
    void output(int length, const char* bytes) override;

  private:
    PkgOrb* pkg_;
  };

  void runCmdHelperResult(RunCmdHelper* helper, int status, const plat::Exception& error);
  void checkWayland();
  void checkForGNOME();

  RunCmdHelper joinHelper_{this};
  RunCmdHelper serviceHelper_{this};
  RunCmdHelper fixHelper_{this};
  plat::String serverTokenFile_;
  bool joinStarted_ = false;
};

// Words for "/bin/sh -c": each in single quotes (a quote inside written as
// '\''), separated by one space.
plat::String shellQuoteWords(const std::vector<plat::String>& words);

} // namespace tlOrbSetup
