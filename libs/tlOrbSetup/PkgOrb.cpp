#include "tlOrbSetup/PkgOrb.h"

#include <string.h>

#include "loc/Localize.h"
#include "os/LaunchProcess.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/File.h"
#include "plat/Log.h"
#include "plat/Regex.h"
#include "tlOrbSetup/EngineUi.h"
#include "tlOrbSetup/SessionDir.h"

namespace tlOrbSetup {

namespace {

plat::LogSrc vlog("PkgOrb");

#ifdef TL_TEST_HOOKS
std::vector<plat::String> displayManagerDirsForTest;
#endif

std::vector<plat::String> displayManagerDirs()
{
#ifdef TL_TEST_HOOKS
  if (!displayManagerDirsForTest.empty())
    return displayManagerDirsForTest;
#endif
  std::vector<plat::String> dirs;
  dirs.emplace_back("/etc/gdm3");
  dirs.emplace_back("/etc/gdm");
  return dirs;
}

// Whether the file has Wayland's disabling line commented out; a read
// error counts as no.
bool hasCommentedWaylandLine(const char* path)
{
  std::unique_ptr<plat::Regex> re = plat::Regex::create("^#\\s*WaylandEnable\\s*=\\s*false", 0);
  try {
    plat::FilePtr file(path, plat::FilePtr::kRead);
    plat::DString line;
    while (file.readLine(line)) {
      if (re->search(line.get()))
        return true;
      line.clear();
    }
  } catch (plat::Exception& e) {
    vlog.info("Reading %s: %s", path, e.str());
  }
  return false;
}

bool isError(const plat::Exception& e)
{
  return *e.str() || *e.getType();
}

} // namespace

#ifdef TL_TEST_HOOKS
void PkgOrb::setDisplayManagerDirsForTest(std::vector<plat::String> dirs)
{
  displayManagerDirsForTest = std::move(dirs);
}
#endif

plat::String shellQuoteWords(const std::vector<plat::String>& words)
{
  plat::DString out;
  for (const plat::String& w : words) {
    if (out.length())
      out.append(" ");
    out.append("'");
    out.appendReplacing(w.str(), "'", "'\\''");
    out.append("'");
  }
  return out.takeString();
}

PkgOrb::PkgOrb(AdminHelperClient* helper, http::HttpClient* client)
    : Pkg(helper, client, plat::Configuration::global().getStringParam("_OrbUri").getValue(),
          "Tessaly Daziziz")
{
  apps_.emplace_back("viewer");
  apps_.emplace_back("server");
  tokenKinds_.emplace_back("viewer-session");
  tokenKinds_.emplace_back("server-join");
}

PkgOrb::~PkgOrb() = default;

void PkgOrb::launch()
{
  plat::String exe = findProgram("Tessaly Daziziz", "tlzarnconnect");
  if (exe.isNull())
    throw plat::Exception("No executable found");
  std::vector<plat::String> args;
  args.push_back(exe);
  auto token = tokens_.find(plat::String("viewer-session"));
  if (token != tokens_.end()) {
    args.push_back(plat::String("-signInToken"));
    args.push_back(
        writeSessionFile("vwrToken", (size_t)token->second.length(), token->second.str()));
  }
  os::launchDetached(args);
}

bool PkgOrb::startService()
{
  plat::String exe = findProgram(nullptr, "tlzarnservice");
  if (exe.isNull())
    throw plat::Exception("No service exe found");
  helper_->runCmd({exe, plat::String("start"), plat::String("tlzarnserver-x11-serviced")},
                  &serviceHelper_);
  return true;
}

void PkgOrb::applyToken(const char* kind)
{
  auto token = tokens_.find(plat::String(kind));
  if (strcmp(kind, "server-join") != 0 || token == tokens_.end())
    return;
  vlog.status("Applying join token");
  plat::String exe = findProgram("Tessaly Daziziz", "tlzarnserver-x11");
  if (exe.isNull())
    throw plat::Exception("No server exe found");
  serverTokenFile_ =
      writeSessionFile("svrToken", (size_t)token->second.length(), token->second.str());
  vlog.status("Joining server to cloud");
  joinStarted_ = true;
  // The server reads the helper's copy of the token, as written here.
  helper_->runCmd({exe, plat::String("-service"), plat::String("-joincloud"), serverTokenFile_},
                  &joinHelper_,
                  {adminmsg::fileDigest(3, (size_t)token->second.length(), token->second.str())});
}

void PkgOrb::allTicketsRedeemed()
{
  // Without a join nothing would end the phase.
  if (!joinStarted_)
    tokensDone(plat::Exception("Bad ticket redeem type"));
}

void PkgOrb::RunCmdHelper::result(int status, const plat::Exception& error)
{
  pkg_->runCmdHelperResult(this, status, error);
}

void PkgOrb::RunCmdHelper::output(int length, const char* bytes)
{
  logLines(vlog, length, bytes);
}

void PkgOrb::runCmdHelperResult(RunCmdHelper* helper, int status, const plat::Exception& error)
{
  bool failed = isError(error);
  if (failed) {
    char text[plat::Exception::kMessageSize];
    vlog.error("RunCmd failed: %s", error.formatDisplay(text));
  } else {
    vlog.info("RunCmd exit status %d", status);
  }
  plat::String statusText;
  if (!failed && status != 0)
    statusText = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_linux_errorcode_fmt"), status);

  if (helper == &joinHelper_) {
    joinStarted_ = false;
    // The token file stays after a failed join.
    if (failed) {
      tokensDone(error);
    } else if (status != 0) {
      tokensDone(plat::Exception(statusText.str()));
    } else {
      (void)plat::tryFileRemove(serverTokenFile_.str());
      serverTokenFile_ = plat::String();
      tokensDone(plat::Exception(""));
    }
    return;
  }
  if (failed) {
    installDone(error.str());
  } else if (status != 0) {
    installDone(statusText.str());
  } else if (helper == &serviceHelper_) {
    checkWayland();
  } else {
    checkForGNOME();
    installDone(nullptr);
  }
}

void PkgOrb::checkWayland()
{
  plat::String conf;
  for (const plat::String& dir : displayManagerDirs()) {
    plat::String path = plat::joinPath(dir.str(), "custom.conf", false);
    if (plat::pathExists(path.str())) {
      conf = path;
      break;
    }
  }
  bool counts = !conf.isNull() && hasCommentedWaylandLine(conf.str());
  vlog.info("Wayland conf %s", counts ? conf.str() : "<null>");
  if (counts) {
    plat::String text =
        loc::formatArgs(LOC_TR_RAW("tlOrbSetup_linux_disable_wayland_fmt"), conf.str());
    if (EngineUi::get().messageBox(text.str(), EngineUi::kIconQuestion | EngineUi::kButtonsYesNo,
                                   EngineUi::TextKind::kPlain)) {
      vlog.info("Disabling Wayland");
      std::vector<plat::String> sed;
      sed.emplace_back("sed");
      sed.emplace_back("-i.bak");
      sed.emplace_back("s/^#\\s*WaylandEnable\\s*=.*/WaylandEnable=false/");
      sed.push_back(conf);
      helper_->runCmd({plat::String("/bin/sh"), plat::String("-c"), shellQuoteWords(sed)},
                      &fixHelper_);
      return;
    }
  }
  checkForGNOME();
  installDone(nullptr);
}

void PkgOrb::checkForGNOME()
{
  int kind = EngineUi::get().detectDesktopKind();
  vlog.info("Desktop environment detected is %d", kind);
  if (kind == 8 || kind == 9)
    EngineUi::get().messageBox(LOC_TR("tlOrbSetup_gnome_shell_icon_notifications_html"),
                               EngineUi::kButtonsOk, EngineUi::TextKind::kMarkup);
}

} // namespace tlOrbSetup
