// The product package as the wizard handles it: the downloaded package file
// is saved and checked, installed through the admin helper with the
// distribution's package tool, followed by the product's post-install step;
// then the sign-in tickets are redeemed one application at a time for the
// product's tokens. Abstract: the product generation's subclass (PkgOrb)
// launches the product, starts its service and applies each token.
//
// Loop thread only. The helper client and every phase callback are
// borrowed; the callback of a phase is kept until the same phase starts
// again. Each phase ends in exactly one done call (with the exceptions the
// subclass documents), never from inside the call that started the phase.
// An error with empty message and type, or a null error text, is success.
//
// The download is one GET through the borrowed HTTP client; a new download
// replaces (aborts) the one in progress, and the finished one is released
// once its body is saved.
//
// Tickets are redeemed one at a time by a hosted::TicketRedeemer over the
// capabilities client the wizard made from the cloud configuration, or
// through any other RedeemerStarter; a starter answers through
// ticketRedeemed or ticketRedeemFailed, never from inside the start.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "crypto/Sha.h"
#include "hostedremoteaccess/TicketRedeemer.h"
#include "io/FdManager.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "tlOrbSetup/AdminHelperClient.h"
#include "tlOrbSetup/Download.h"

namespace plat {
class JsonObject;
class LogSrc;
} // namespace plat

namespace tlOrbSetup {

class Pkg : public Download::Callback,
            public AdminHelperClient::RunCmdCallback,
            public hostedremoteaccess::TicketRedeemer::Callback {
public:
  class DownloadCallback {
  public:
    // total 0 or below when unknown; (1, 1) when the body is complete.
    virtual void progress(Pkg* pkg, int64_t received, int64_t total) = 0;
    virtual void done(Pkg* pkg, const plat::Exception& error) = 0;
    virtual ~DownloadCallback() = default;
  };
  class InstallCallback {
  public:
    // Null error text on success.
    virtual void done(Pkg* pkg, const char* error) = 0;
    // The install command's output as it arrives.
    virtual void output(Pkg* pkg, int length, const char* bytes) = 0;
    virtual ~InstallCallback() = default;
  };
  class ApplyTokenCallback {
  public:
    virtual void done(Pkg* pkg, const plat::Exception& error) = 0;
    virtual ~ApplyTokenCallback() = default;
  };

  // Application name -> ticket (a null ticket counts as none).
  using TicketMap = std::map<plat::String, plat::SecureString, plat::StringLess>;
  // One ticket's redemption in progress; destroying it cancels it.
  class Redeemer {
  public:
    virtual ~Redeemer() = default;
  };
  // Starts redeeming ticket for pkg; throws plat::Exception when it cannot.
  using RedeemerStarter = std::function<std::unique_ptr<Redeemer>(Pkg& pkg, const char* ticket)>;

  // The helper and the HTTP client are borrowed (without a client the
  // download fails).
  Pkg(AdminHelperClient* helper, http::HttpClient* client, const char* uri, const char* name);
  ~Pkg() override;
  Pkg(const Pkg&) = delete;
  Pkg& operator=(const Pkg&) = delete;

  // --- Download phase ---------------------------------------------------------
  // Downloads the package URI: progress every second while it runs, then
  // packageReceived's steps. A URI without a file name fails before the GET.
  void startDownload(DownloadCallback* callback);
  // The package's body has arrived: progress (1, 1), then it is saved in the
  // session directory under the URI's file name, the install command is
  // checked (an error box when there is none), and done follows.
  void packageReceived(DownloadCallback* callback, size_t length, const void* body);

  // --- Install phase ---------------------------------------------------------
  // installFlag is stored, not consulted.
  void install(InstallCallback* callback, bool installFlag);

  // --- Token phase -----------------------------------------------------------
  // Each ticket redeemed by a TicketRedeemer over caps (borrowed; without
  // one the first ticket fails).
  void applyTokens(ApplyTokenCallback* callback, hostedremoteaccess::CapsClient* caps,
                   const TicketMap& tickets);
  void applyTokens(ApplyTokenCallback* callback, RedeemerStarter starter, const TicketMap& tickets);
  // The redeemer's answers: a reply object with string members "type" and
  // "value", or the failure.
  void ticketRedeemed(const plat::JsonObject& reply) override;
  void ticketRedeemFailed(const plat::Exception& error) override;

  // Starts the installed product; throws plat::Exception.
  virtual void launch() = 0;

  const char* name() const { return name_.str(); }
  const char* uri() const { return uri_.str(); }
  // The saved package file; null until one is saved.
  const char* file() const { return file_.get(); }
  // What install was last given; nothing here depends on it.
  bool installFlag() const { return installFlag_; }

  // Download::Callback: the package download.
  bool acceptStatus(http::HttpRequest* request, int status) override;
  void requestComplete(http::HttpRequest* request) override;
  void requestFailed(http::HttpRequest* request, plat::Exception* error) override;
  void progress(http::HttpRequest* request, int64_t received, int64_t total) override;
  void bodyReceived(http::HttpRequest* request, int length, const unsigned char* bytes) override;

  // AdminHelperClient::RunCmdCallback: the install command.
  void result(int status, const plat::Exception& error) override;
  void output(int length, const char* bytes) override;

protected:
  // Throws (after an error box) when no install command fits the file.
  virtual void checkInstallCommand();
  // The first program directory that holds fileName; null when none does.
  virtual plat::String findProgram(const char* displayName, const char* fileName);
  virtual void doInstall();
  // True when the subclass started an asynchronous step that reports to
  // installCb itself.
  virtual bool startService();
  // A token of kind has been stored in tokens_.
  virtual void applyToken(const char* kind) = 0;
  // The ticket of the last application has been redeemed and applied.
  virtual void allTicketsRedeemed() {}

  // Logs each line of a command's output as its own message.
  static void logLines(plat::LogSrc& log, int length, const char* bytes);
  // Ends the phase now (from a callback) or on the next pass (from the call
  // that started it). The token phase ends once; later calls do nothing.
  void installDone(const char* error);
  void tokensDone(const plat::Exception& error);
  void tokensDoneLater(const plat::Exception& error);

  AdminHelperClient* helper_;
  std::vector<plat::String> programDirs_;
  std::vector<plat::String> installArgs_;
  std::vector<plat::String> apps_;
  std::vector<plat::String> tokenKinds_;
  std::map<plat::String, plat::SecureString, plat::StringLess> tokens_;
  DownloadCallback* downloadCb_ = nullptr;
  InstallCallback* installCb_ = nullptr;
  ApplyTokenCallback* applyTokenCb_ = nullptr;

private:
  void downloadDone(http::HttpRequest* request);
  void saveReceived(size_t length, const void* body);
  void downloadFailed(const plat::Exception& error);
  void retireDownload();
  void postInstall(const char* error);
  void redeemNextTicket();
  void retireRedeemer();

  plat::String name_;
  plat::String file_;
  // The SHA-256 of the body as received, which the helper checks its copy
  // of file_ against before installing it; taken as the body arrives.
  adminmsg::FileDigest fileDigest_;
  crypto::Sha bodyDigest_{256, false};
  http::HttpClient* client_;
  plat::String uri_;
  std::unique_ptr<Download> download_;
  TicketMap tickets_;
  RedeemerStarter starter_;
  std::unique_ptr<Redeemer> redeemer_;
  size_t cursor_ = 0;
  // Until the token phase's one done call.
  bool tokenPhaseOpen_ = false;
  bool installFlag_ = false;
  // Failures found inside the call that started a phase.
  plat::Exception pendingDownloadError_{""};
  plat::String pendingInstallError_;
  plat::Exception pendingTokenError_{""};
  io::DeferredCall downloadLater_;
  io::DeferredCall installLater_;
  io::DeferredCall tokensLater_;
};

} // namespace tlOrbSetup
