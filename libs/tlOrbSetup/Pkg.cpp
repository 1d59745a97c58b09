#include "tlOrbSetup/Pkg.h"

#include <string.h>

#include "loc/Localize.h"
#include "plat/ConfigParameter.h"
#include "plat/File.h"
#include "plat/Json.h"
#include "plat/Log.h"
#include "tlOrbSetup/EngineUi.h"
#include "tlOrbSetup/InstallCommand.h"
#include "tlOrbSetup/SessionDir.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("Pkg");

plat::BoolParameter noInstall("_NoInstall", "Only print the install command", false,
                              plat::ParamLevel::kAdvanced);

bool isError(const plat::Exception& e)
{
  return *e.str() || *e.getType();
}

} // namespace

void Pkg::logLines(plat::LogSrc& log, int length, const char* bytes)
{
  const char* end = bytes + length;
  while (bytes < end) {
    const char* nl = static_cast<const char*>(memchr(bytes, '\n', (size_t)(end - bytes)));
    const char* stop = nl ? nl : end;
    log.info("%.*s", (int)(stop - bytes), bytes);
    bytes = nl ? nl + 1 : end;
  }
}

Pkg::Pkg(AdminHelperClient* helper, http::HttpClient* client, const char* uri, const char* name)
    : helper_(helper), name_(name), client_(client), uri_(uri),
      downloadLater_([this] { downloadFailed(pendingDownloadError_); }),
      installLater_([this] { installDone(pendingInstallError_.str()); }),
      tokensLater_([this] { tokensDone(pendingTokenError_); })
{
  programDirs_.push_back(plat::format("/usr/lib/%s", "tlzarnconnect"));
}

Pkg::~Pkg() = default;

// --- Download ----------------------------------------------------------------

void Pkg::startDownload(DownloadCallback* callback)
{
  vlog.status("Downloading %s from %s", name_.str(), uri_.str());
  downloadCb_ = callback;
  downloadLater_.cancel();
  download_.reset();
  bodyDigest_.start();
  try {
    // Where the body would go is known before anything is fetched.
    packageFileName(uri_.str());
    if (!client_)
      throw plat::Exception("No HTTP client");
    download_ = std::make_unique<Download>(this, client_, uri_.str());
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Error starting download: %s", e.formatDisplay(text));
    pendingDownloadError_ = e;
    downloadLater_.post();
  }
}

bool Pkg::acceptStatus(http::HttpRequest*, int status)
{
  return status == 200;
}

void Pkg::requestComplete(http::HttpRequest* request)
{
  downloadDone(request);
}

void Pkg::requestFailed(http::HttpRequest*, plat::Exception* error)
{
  char text[plat::Exception::kMessageSize];
  vlog.error("HTTP error: %s", error->formatDisplay(text));
  retireDownload();
  downloadFailed(*error);
}

void Pkg::progress(http::HttpRequest*, int64_t received, int64_t total)
{
  if (downloadCb_)
    downloadCb_->progress(this, received, total);
}

void Pkg::bodyReceived(http::HttpRequest*, int length, const unsigned char* bytes)
{
  bodyDigest_.update(length, bytes);
}

void Pkg::downloadDone(http::HttpRequest* request)
{
  // The body outlives the request, which goes once this call has returned.
  http::SharedBytes body = request->getResponseBody();
  retireDownload();
  fileDigest_ = adminmsg::FileDigest();
  bodyDigest_.final(fileDigest_.sha256, adminmsg::kSha256Size);
  saveReceived(body->length(), body->data());
}

void Pkg::downloadFailed(const plat::Exception& error)
{
  if (downloadCb_)
    downloadCb_->done(this, error);
}

void Pkg::retireDownload()
{
  // Called from inside the download's own callback.
  io::FdManager* manager = io::FdManager::current();
  if (manager && download_)
    manager->deleteLater(std::move(download_));
  download_.reset();
}

void Pkg::packageReceived(DownloadCallback* callback, size_t length, const void* body)
{
  downloadCb_ = callback;
  fileDigest_ = adminmsg::fileDigest(0, length, body);
  saveReceived(length, body);
}

void Pkg::saveReceived(size_t length, const void* body)
{
  downloadCb_->progress(this, 1, 1);
  try {
    plat::String name = packageFileName(uri_.str());
    file_ = writeSessionFile(name.str(), length, body);
    checkInstallCommand();
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Error getting file: %s", e.formatDisplay(text));
    downloadCb_->done(this, e);
    return;
  }
  downloadCb_->done(this, plat::Exception(""));
}

void Pkg::checkInstallCommand()
{
  if (!installCommandFor(file_.str()).empty())
    return;
  const char* text = LOC_TR("tlOrbSetup_error_no_install_cmd");
  EngineUi::get().messageBox(text, EngineUi::kIconError | EngineUi::kButtonsOk,
                             EngineUi::TextKind::kPlain);
  throw plat::Exception(text);
}

// --- Install -----------------------------------------------------------------

void Pkg::install(InstallCallback* callback, bool installFlag)
{
  vlog.status("Installing %s from %s", name_.str(), file_.str());
  installCb_ = callback;
  installFlag_ = installFlag;
  try {
    doInstall();
  } catch (plat::Exception& e) {
    vlog.error("doInstall failed: %s", e.str());
    pendingInstallError_ = plat::String(e.str());
    installLater_.post();
  }
}

void Pkg::doInstall()
{
  std::vector<plat::String> args = installCommandFor(file_.str());
  if (args.empty())
    throw plat::Exception("No suitable install command found");
  // Root installs its own copy of the file, with the bytes received.
  std::vector<adminmsg::FileDigest> files;
  for (size_t i = 1; i < args.size(); i++) {
    if (args[i] == file_) {
      files.push_back(fileDigest_);
      files.back().arg = (int)i;
    }
  }
  for (const plat::String& a : installArgs_)
    args.push_back(a);
  // A dry run only prints the command: it reads no file.
  if (noInstall.getValue()) {
    args.insert(args.begin(), plat::String("/bin/echo"));
    files.clear();
  }
  helper_->runCmd(args, this, files);
}

void Pkg::result(int status, const plat::Exception& error)
{
  if (isError(error)) {
    char text[plat::Exception::kMessageSize];
    vlog.error("install pkg error: %s", error.formatDisplay(text));
    postInstall(error.str());
    return;
  }
  vlog.status("Install %s done, rc %d", name_.str(), status);
  if (status != 0) {
    plat::String text = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_install_errorcode_fmt"), status);
    postInstall(text.str());
  } else {
    postInstall(nullptr);
  }
}

void Pkg::output(int length, const char* bytes)
{
  logLines(vlog, length, bytes);
  if (installCb_)
    installCb_->output(this, length, bytes);
}

void Pkg::postInstall(const char* error)
{
  if (error) {
    installDone(error);
    return;
  }
  // A dry run installed nothing to start.
  if (noInstall.getValue()) {
    installDone(nullptr);
    return;
  }
  try {
    if (!startService())
      installDone(nullptr);
  } catch (plat::Exception& e) {
    vlog.error("postInstall failed: %s", e.str());
    installDone(e.str());
  }
}

void Pkg::installDone(const char* error)
{
  installLater_.cancel();
  if (installCb_)
    installCb_->done(this, error);
}

plat::String Pkg::findProgram(const char*, const char* fileName)
{
  return plat::findFileInDirs(programDirs_, fileName);
}

bool Pkg::startService()
{
  return false;
}

// --- Tokens ------------------------------------------------------------------

namespace {

// The hosted redeemer of one ticket, answering the package.
class CapsRedeemer : public Pkg::Redeemer {
public:
  CapsRedeemer(hostedremoteaccess::CapsClient* caps, Pkg& pkg) : redeemer(caps, &pkg) {}
  hostedremoteaccess::TicketRedeemer redeemer;
};

} // namespace

void Pkg::applyTokens(ApplyTokenCallback* callback, hostedremoteaccess::CapsClient* caps,
                      const TicketMap& tickets)
{
  applyTokens(
      callback,
      [caps](Pkg& pkg, const char* ticket) {
        if (!caps)
          throw plat::Exception("No capabilities client");
        auto r = std::make_unique<CapsRedeemer>(caps, pkg);
        r->redeemer.redeem(ticket);
        return std::unique_ptr<Redeemer>(std::move(r));
      },
      tickets);
}

void Pkg::applyTokens(ApplyTokenCallback* callback, RedeemerStarter starter,
                      const TicketMap& tickets)
{
  vlog.status("Getting token for %s", name_.str());
  applyTokenCb_ = callback;
  starter_ = std::move(starter);
  tickets_ = tickets;
  tokens_.clear();
  tokenPhaseOpen_ = true;
  cursor_ = 0;
  redeemNextTicket();
}

void Pkg::redeemNextTicket()
{
  if (cursor_ >= apps_.size())
    return;
  const plat::String& app = apps_[cursor_];
  try {
    auto it = tickets_.find(app);
    if (it == tickets_.end() || it->second.isNull())
      throw plat::ExceptionFmt("No ticket for %s", app.str());
    retireRedeemer();
    cursor_++;
    redeemer_ = starter_(*this, it->second.str());
  } catch (plat::Exception& e) {
    cursor_++;
    char text[plat::Exception::kMessageSize];
    vlog.error("Error starting ticket redeem: %s", e.formatDisplay(text));
    tokensDoneLater(e);
  }
}

void Pkg::ticketRedeemed(const plat::JsonObject& reply)
{
  plat::JsonPtr<plat::JsonValue> type = reply.tryGet("type");
  plat::JsonPtr<plat::JsonValue> value = reply.tryGet("value");
  if (!type || !value || type->kind() != plat::JsonValue::kString ||
      value->kind() != plat::JsonValue::kString) {
    vlog.error("Ticket redeem reply without type and value");
    tokensDone(plat::Exception("Bad ticket redeem type"));
    return;
  }
  const plat::String& kind = type->asString();
  const plat::String& token = value->asString();
  bool accepted = false;
  for (const plat::String& k : tokenKinds_)
    accepted = accepted || k == kind;
  // A kind already held would start its step a second time.
  if (!accepted || tokens_.count(kind)) {
    vlog.error("Unexpected ticket redeem type: %s", kind.str());
    tokensDone(plat::Exception("Bad ticket redeem type"));
    return;
  }
  tokens_[kind] = plat::SecureString(token.str());
  vlog.status("Got %s token (%d bytes)", kind.str(), token.length());
  try {
    applyToken(kind.str());
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Error applying token: %s", e.formatDisplay(text));
    tokensDone(e);
    return;
  }
  if (cursor_ >= apps_.size())
    allTicketsRedeemed();
  else
    redeemNextTicket();
}

void Pkg::ticketRedeemFailed(const plat::Exception& error)
{
  char text[plat::Exception::kMessageSize];
  vlog.error("Error redeeming ticket: %s", error.formatDisplay(text));
  tokensDone(error);
}

void Pkg::retireRedeemer()
{
  // It may be the redeemer whose answer is being handled.
  io::FdManager* manager = io::FdManager::current();
  if (manager && redeemer_)
    manager->deleteLater(std::move(redeemer_));
  redeemer_.reset();
}

void Pkg::tokensDone(const plat::Exception& error)
{
  tokensLater_.cancel();
  if (!tokenPhaseOpen_)
    return;
  tokenPhaseOpen_ = false;
  if (applyTokenCb_)
    applyTokenCb_->done(this, error);
}

void Pkg::tokensDoneLater(const plat::Exception& error)
{
  pendingTokenError_ = error;
  tokensLater_.post();
}

} // namespace tlOrbSetup
