#include "tlOrbSetup/AdminHelperClient.h"

#include <string.h>

#include "io/LogDestIpc.h"
#include "os/program.h"
#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"
#include "tlOrbSetup/AdminHelperMsgs.h"

namespace tlOrbSetup {

namespace am = adminmsg;

namespace {

plat::LogSrc vlog("AdminHelperClient");
plat::LogSrcViaIpc adminLog("Admin");
// Hidden: extra words for the helper's command line.
plat::StringParameter adminArgs("_AdminArgs", "Extra arguments of the admin helper", "",
                                plat::ParamLevel::kAdvanced);

#ifdef TL_TEST_HOOKS
plat::String programForTest;
#endif

plat::String helperProgram()
{
#ifdef TL_TEST_HOOKS
  if (!programForTest.isNull())
    return programForTest;
#endif
  return os::getProgramFile(nullptr, os::kMustExist);
}

} // namespace

#ifdef TL_TEST_HOOKS
void AdminHelperClient::setProgramForTest(const char* path)
{
  programForTest = path ? plat::String(path) : plat::String();
}
#endif

AdminHelperClient::AdminHelperClient(Callback* callback)
    : callback_(callback), notConnected_([this] {
        RunCmdCallback* cb = runCmdCb_;
        runCmdCb_ = nullptr;
        if (cb)
          cb->result(0, am::RemoteError("Admin helper not running", "NotConnected"));
      })
{
  channel_ = std::make_unique<io::MsgIpc>(this, "AdminHelperClient");
  channel_->setMaxMsgSize(am::kMaxMsgSize);
  channel_->addReader(am::kRunCmdResult, this);
  channel_->addReader(am::kRunCmdOutput, this);
  channel_->addReader(am::kSvrSettingsResult, this);
  channel_->addReader(am::kHaveCloudCredsSvr, this);
}

AdminHelperClient::~AdminHelperClient()
{
  pendingLaunch_.reset();
  adminLog.setIpc(channel_.get(), false);
  channel_.reset();
}

void AdminHelperClient::launch()
{
  if (pendingLaunch_ || channel_->isConnected()) {
    vlog.log(30, "already %s", pendingLaunch_ ? "launching" : "launched");
    if (!pendingLaunch_)
      callback_->helperLaunched();
    return;
  }
  vlog.log(30, "Starting helper");
  try {
    os::LaunchProcess::Cfg cfg;
    cfg.args.push_back(helperProgram());
    cfg.args.push_back(plat::String("-helper"));
    cfg.elevate = true;
    if (*adminArgs.getValue())
      plat::splitCmdLine(cfg.extraArgs, adminArgs.getValue());
    plat::ConfigParameter* locale = plat::Configuration::global().find("Locale");
    plat::String localeValue = locale ? locale->getValueStr() : plat::String("");
    cfg.extraArgs.push_back(plat::format("-Locale=%s", localeValue.get()));
    pendingLaunch_ = std::make_unique<os::LaunchWithPipe>(cfg);
    pendingLaunch_->launch(this);
  } catch (plat::Exception& e) {
    pendingLaunch_.reset();
    char text[plat::Exception::kMessageSize];
    vlog.error("launch error: %s", e.formatDisplay(text));
    callback_->helperLaunchFailed(e);
  }
}

void AdminHelperClient::launched(io::IoPtr io)
{
  pendingLaunch_.reset();
  if (!io.get()) {
    vlog.log(100, "NOT launched");
    callback_->helperLaunchFailed(am::RemoteError());
    return;
  }
  vlog.log(100, "launched");
  channel_->ioAccept(am::withChannelBuffers(std::move(io)));
  try {
    adminLog.setIpc(channel_.get(), true, -1);
  } catch (plat::Exception& e) {
    // The program started but is gone already (not the helper, or it died).
    vlog.error("Helper not reachable: %s", e.str());
    adminLog.setIpc(channel_.get(), false);
    channel_->close(false);
    callback_->helperLaunchFailed(am::RemoteError());
    return;
  }
  callback_->helperLaunched();
}

void AdminHelperClient::closed(io::MsgIpc*)
{
  died();
}

void AdminHelperClient::died()
{
  vlog.error("Helper process died");
  // A relaunch starts clean; the requests of the dead helper get no answer.
  runCmdCb_ = nullptr;
  svrSettingsCb_ = nullptr;
  callback_->helperLaunchFailed(am::RemoteError());
}

void AdminHelperClient::runCmd(const std::vector<plat::String>& args, RunCmdCallback* callback,
                               const std::vector<am::FileDigest>& files)
{
  PLAT_ASSERT(!runCmdCb_);
  if (!channel_->isConnected()) {
    // Nobody would answer: the failure comes on the next pass.
    runCmdCb_ = callback;
    notConnected_.post();
    return;
  }
  rdr::FramedOutStream& out = channel_->writeMsg(am::kRunCmd);
  am::writeRunCmd(out, args, files);
  out.endMsg(true);
  runCmdCb_ = callback;
}

void AdminHelperClient::cancelRunCmd()
{
  runCmdCb_ = nullptr;
  notConnected_.cancel();
  if (!channel_->isConnected())
    return;
  try {
    channel_->writeMsg(am::kRunCmdCancel).endMsg(true);
  } catch (plat::Exception& e) {
    // A helper that is gone has nothing left to cancel.
    vlog.error("RunCmdCancel not sent: %s", e.str());
  }
}

void AdminHelperClient::svrSettings(const plat::CaseInsensitiveStringMap& values,
                                    SvrSettingsCallback* callback, const plat::SecureString* password)
{
  PLAT_ASSERT(!svrSettingsCb_);
  rdr::FramedOutStream& out = channel_->writeMsg(am::kSvrSettings);
  am::writeSvrSettings(out, values, password);
  out.endMsg(true);
  svrSettingsCb_ = callback;
}

bool AdminHelperClient::readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc*)
{
  if (strcmp(name, am::kRunCmdResult) == 0) {
    am::RunCmdResult r = am::readRunCmdResult(in);
    RunCmdCallback* cb = runCmdCb_;
    runCmdCb_ = nullptr;
    if (cb)
      cb->result(r.ok ? r.status : 0, r.error);
  } else if (strcmp(name, am::kRunCmdOutput) == 0) {
    uint8_t buf[am::kMaxOutputChunk];
    int n = 0;
    const uint8_t* bytes = am::readRunCmdOutput(in, buf, &n);
    if (runCmdCb_)
      runCmdCb_->output(n, (const char*)bytes);
  } else if (strcmp(name, am::kSvrSettingsResult) == 0) {
    am::RemoteError error = am::readSvrSettingsResult(in);
    SvrSettingsCallback* cb = svrSettingsCb_;
    svrSettingsCb_ = nullptr;
    if (cb)
      cb->result(error);
  } else if (strcmp(name, am::kHaveCloudCredsSvr) == 0) {
    haveCloudCredsSvr_ = am::readHaveCloudCredsSvr(in);
  }
  return true;
}

} // namespace tlOrbSetup
