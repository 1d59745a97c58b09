#include "tlOrbSetup/AdminHelper.h"

#include <signal.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <vector>

#include "io/LogDestIpc.h"
#include "loc/Localize.h"
#include "os/AppLoop.h"
#include "os/LaunchPipe.h"
#include "os/LaunchProcess.h"
#include "os/UnixIo.h"
#include "os/dirs.h"
#include "os/paths.h"
#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "product/init.h"
#include "rdr/BufferedInStream.h"
#include "rdr/Exception.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"
#include "rdr/InStream.h"
#include "score/Mode.h"
#include "smisc/CtrlCommsClientHelper.h"
#include "tlOrbSetup/AdminHelperMsgs.h"
#include "tlOrbSetup/CloudCredentials.h"
#include "tlutil/ConfigStore.h"

namespace tlOrbSetup {

namespace am = adminmsg;

namespace {

plat::LogSrc vlog("AdminHelper");

constexpr const char* kServerApp = "tlzarnserver-x11";

// Reads the open message through to its end and returns its size on the
// wire (frame headers, name and body), then rewinds to the body's start.
// While the message is incomplete this throws BlockException, unless what
// has come already passes limit: then it returns at once with a size over
// limit and leaves the rest to be skipped.
int64_t wireSize(rdr::FramedInStream& in, const char* name, int64_t limit)
{
  rdr::InStream* wire = in.getUnderlying();
  // The first frame's header, the name's length byte and the name.
  const int64_t head = 2 + 1 + (int64_t)strlen(name);
  const int64_t start = wire->pos();
  while (!in.atEnd()) { // atEnd brings the wire position up to date
    if (head + wire->pos() - start > limit)
      return head + wire->pos() - start;
    if (in.nUnread() == 0)
      in.check(true, 1);
    in.consume(in.nUnread());
  }
  int64_t size = head + wire->pos() - start;
  in.rewind();
  return size;
}

} // namespace

AdminHelper::AdminHelper(io::IoPtr connection)
    : outputTimer_(this),
      toolWait_({[this](int pid) { toolBusy(pid); },
                 [this](const std::vector<plat::String>& args) { launchCmd(args); },
                 [this] { toolStillBusy(); }})
{
  if (auto* sock = dynamic_cast<os::UnixIo*>(connection.get())) {
    try {
      requester_ = sock->getPeerEuid();
    } catch (plat::Exception& e) {
      vlog.error("Cannot tell the wizard's user: %s", e.str());
    }
  }
  channel_ = std::make_unique<io::MsgIpc>(this, "AdminHelper");
  channel_->setMaxMsgSize(am::kMaxMsgSize);
  channel_->addReader(am::kRunCmd, this);
  channel_->addReader(am::kRunCmdCancel, this);
  channel_->addReader(am::kSvrSettings, this);
  plat::LogDestIpc::get()->setIpc(channel_.get());
  channel_->ioAccept(am::withChannelBuffers(std::move(connection)));
  rdr::FramedOutStream& out = channel_->writeMsg(am::kHaveCloudCredsSvr);
  am::writeHaveCloudCredsSvr(out, hasCloudCredentials(kServerApp, true));
  out.endMsg(true);
}

AdminHelper::~AdminHelper()
{
  plat::LogDestIpc::get()->setIpc(nullptr);
  outputTimer_.stop();
  dropOutput();
  // A package tool is left to finish rather than cut off mid-install: this
  // waits for it.
  procMon_.reset();
  copies_.reset();
  channel_.reset();
}

void AdminHelper::closed(io::MsgIpc*)
{
  os::AppLoop::exit(0);
}

void AdminHelper::writable(io::MsgIpc*)
{
  if (!outputHeld_)
    return;
  outputHeld_ = false;
  if (runCmdIo_.get()) {
    // What is buffered already goes first, on the next pass.
    runCmdIo_.get()->setHandler(this, true);
    runCmdIo_.get()->markReadable();
  }
}

bool AdminHelper::holdOutput()
{
  if (channel_->bytesBuffered() < kMaxBacklog)
    return false;
  outputHeld_ = true;
  runCmdIo_.get()->setHandler(this, false);
  return true;
}

bool AdminHelper::readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc*)
{
  try {
    // The whole message is here and within the channel's limit before any
    // of it is acted on; a larger one is skipped as it arrives.
    if (wireSize(in, name, am::kMaxMsgSize) > am::kMaxMsgSize)
      throw plat::ExceptionFmt("message larger than %d bytes", am::kMaxMsgSize);
    vlog.log(100, "read message %s", name);
    if (strcmp(name, am::kRunCmd) == 0)
      runCmd(in);
    else if (strcmp(name, am::kRunCmdCancel) == 0)
      cancelCmd();
    else if (strcmp(name, am::kSvrSettings) == 0)
      svrSettings(in);
  } catch (rdr::BlockException&) {
    throw; // read again once the whole message is here
  } catch (plat::Exception& e) {
    vlog.error("Error in %s: %s", name, e.str());
  }
  return true;
}

void AdminHelper::runCmd(rdr::InStream& in)
{
  std::vector<am::FileDigest> files;
  std::vector<plat::String> args = am::readRunCmd(in, &files);
  if (running())
    throw plat::Exception("A command is already running");
  pendingFiles_ = std::move(files);
  toolWait_.start(args);
}

void AdminHelper::launchCmd(const std::vector<plat::String>& args)
{
  try {
    startCmd(args, pendingFiles_);
  } catch (plat::Exception& e) {
    vlog.error("Error running cmd: %s", e.str());
    procMon_.reset();
    runCmdIo_.reset();
    copies_.reset();
    sendCmdFailure(e);
  }
}

void AdminHelper::sendCmdFailure(const plat::Exception& e)
{
  rdr::FramedOutStream& out = channel_->writeMsg(am::kRunCmdResult);
  am::writeRunCmdResult(out, e);
  out.endMsg(true);
}

void AdminHelper::toolBusy(int pid)
{
  vlog.status("Package tool lock held by %d; waiting", pid);
  plat::String text = loc::formatArgs(LOC_TR_RAW("tlOrbSetup_pkgtool_busy_wait_fmt"),
                                      pkgToolLockWait.getValue());
  text = plat::format("%s\n", text.get());
  rdr::FramedOutStream& out = channel_->writeMsg(am::kRunCmdOutput);
  am::writeRunCmdOutput(out, (const uint8_t*)text.get(), text.length());
  out.endMsg(true);
}

void AdminHelper::toolStillBusy()
{
  am::RemoteError busy(LOC_TR("tlOrbSetup_pkgtool_busy"), "PkgToolBusy");
  vlog.error("Error running cmd: %s", busy.str());
  sendCmdFailure(busy);
}

void AdminHelper::startCmd(std::vector<plat::String> args, const std::vector<am::FileDigest>& files)
{
#ifdef TL_TEST_HOOKS
  if (effects_) {
    effects_->runCmd(args);
    return;
  }
#endif
  if (!files.empty()) {
    if (requester_ < 0)
      throw plat::Exception("Cannot tell which user asked for the command's files");
    copies_ = std::make_unique<SessionFileCopies>((uid_t)requester_, os::getUserDir());
    for (const am::FileDigest& f : files)
      args[f.arg] = copies_->copy(args[f.arg].str(), f.sha256);
  }
  os::LaunchProcess::Cfg cfg;
  cfg.args = args;
  os::LaunchProcess launcher(cfg);
  // A pipe as large as a read: the command's writes cost less than on a
  // socket, and it runs ahead of the helper by up to a whole read.
  io::IoPtr output = launcher.startWithOutputPipe({1, 2}, am::kMaxMsgSize);
  procMon_ = launcher.makeMonitor(this);
  // Large reads: fewer loop passes per megabyte of output.
  runCmdIo_.reset(am::withLargeInput(output.release()));
  runCmdIo_.get()->setHandler(this);
}

void AdminHelper::dataAvailable(io::Io* io)
{
  PLAT_ASSERT(io == runCmdIo_.get());
  rdr::InStream& in = *io->in();
  auto* buffered = dynamic_cast<rdr::BufferedInStream*>(&in);
  // What is available now goes out as messages of at most 4,096 bytes, in
  // one flush.
  bool sent = false;
  bool drained = false;
  for (;;) {
    if (holdOutput())
      break;
    bool ended = false;
    try {
      // Only an empty buffer is refilled: a refill first moves the unread
      // bytes to the buffer's start. A refill that left room took all there
      // was: asking again would only be told to wait.
      if (in.nUnread() == 0) {
        if (drained || !in.check(false, 1))
          break;
        drained = buffered && in.nUnread() < buffered->getBufSize();
      }
    } catch (rdr::BlockException&) {
      break;
    } catch (plat::Exception& e) {
      // The end of the output (or an error reading it).
      if (!dynamic_cast<rdr::EndOfStream*>(&e))
        vlog.error("Reading command output: %s", e.str());
      ended = true;
    }
    if (ended) {
      if (sent)
        channel_->flush();
      dropOutput();
      finishIfDone();
      return;
    }
    int n = std::min(in.nUnread(), am::kMaxOutputChunk);
    am::sendRunCmdOutput(*channel_, in.getPtr(), n);
    sent = true;
    in.consume(n);
    in.setCheckpoint(); // sent: never read again
  }
  if (sent)
    channel_->flush();
}

void AdminHelper::closed(io::Io* io)
{
  vlog.log(100, "ioShutdown");
  PLAT_ASSERT(io == runCmdIo_.get());
  runCmdIo_.release();
  finishIfDone();
}

void AdminHelper::dropOutput()
{
  outputHeld_ = false;
  if (runCmdIo_.get())
    runCmdIo_.get()->setHandler(nullptr);
  runCmdIo_.reset();
}

void AdminHelper::processExited(os::ProcessMonitor*, int exitCode)
{
  procMon_.reset();
  exited_ = true;
  exitCode_ = exitCode;
  if (runCmdIo_.get()) {
    // Output may still be on its way; a daemon that keeps it open does not
    // hold the result back for long.
    outputTimer_.start(kOutputGraceMs);
    runCmdIo_.get()->markReadable();
    return;
  }
  finishIfDone();
}

bool AdminHelper::timerExpired(plat::Timer*)
{
  // Output the wizard has yet to take is not a daemon's open pipe.
  if (outputHeld_)
    return true;
  if (runCmdIo_.get()) {
    vlog.status("Command output still open after exit; not waiting longer");
    dropOutput();
  }
  finishIfDone();
  return false;
}

void AdminHelper::finishIfDone()
{
  if (!exited_ || runCmdIo_.get())
    return;
  exited_ = false;
  outputTimer_.stop();
  copies_.reset();
  rdr::FramedOutStream& out = channel_->writeMsg(am::kRunCmdResult);
  am::writeRunCmdResult(out, exitCode_);
  out.endMsg(true);
}

void AdminHelper::cancelCmd()
{
#ifdef TL_TEST_HOOKS
  if (effects_)
    effects_->cancelCmd();
#endif
  toolWait_.cancel();
  if (!running())
    return;
  dropOutput();
  outputTimer_.stop();
  exited_ = false;
  if (procMon_) {
    procMon_->kill(SIGTERM);
    int pid = procMon_->release();
    if (pid > 0)
      os::PidManager::handOver(pid);
    procMon_.reset();
  }
  copies_.reset();
}

void AdminHelper::svrSettings(rdr::InStream& in)
{
  plat::CaseInsensitiveStringMap values;
  am::readSvrSettings(in, values);
  for (const auto& kv : values)
    vlog.log(100, "Set '%s'='%s'", kv.first.get(),
             plat::isSecretName(kv.first.get()) ? plat::kHiddenValue : kv.second.get());
  rdr::FramedOutStream* reply = nullptr;
  try {
    applySettings(values);
    reply = &channel_->writeMsg(am::kSvrSettingsResult);
    am::writeSvrSettingsResult(*reply, nullptr);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("Failed to apply changes: %s", e.formatDisplay(text));
    reply = &channel_->writeMsg(am::kSvrSettingsResult);
    am::writeSvrSettingsResult(*reply, &e);
  }
  reply->endMsg(true);
}

void AdminHelper::applySettings(const plat::CaseInsensitiveStringMap& values)
{
#ifdef TL_TEST_HOOKS
  if (effects_) {
    effects_->svrSettings(values);
    return;
  }
#endif
  plat::String path = tlutil::getConfigFilePath(kServerApp);
  tlutil::writeConfigValues(path.get(), values);
  plat::String pipe = os::makeNamedPipePath("CtrlComms", "zarnservice", kServerApp, 0, 0);
  uid_t root = 0;
  os::parseUid(root, "0");
  smisc::CtrlCommsClientHelper server(pipe.get(), root);
  server.reload();
}

int adminHelperMain(int argc, char** argv)
{
  product::initAppInfo(argc > 0 ? argv[0] : nullptr, "tlzarnconnectsetup_helper",
                       "tlOrbSetup_setupapp_name_r");
  product::initProfileDirs();
  product::initTranslationDirs();
  product::installVersionInfoUpdater(nullptr);
  plat::LogDestIpc::get();
  product::initLogging("*:ipc:200", nullptr, nullptr, true);
  score::setCurrentMode(score::kModeService);
  if (geteuid() != 0)
    throw plat::AssertionFail("geteuid() == 0", __FILE__, __LINE__);
  try {
    char** cursor = argv + 2;
    os::LaunchedProcessPipe::Args pipeArgs;
    io::IoPtr connection = os::LaunchedProcessPipe::connect(pipeArgs, cursor, 0);
    plat::Configuration::global().parseCmdLine(cursor, nullptr);
    auto loop = std::make_unique<os::AppLoop>();
    auto helper = std::make_unique<AdminHelper>(std::move(connection));
    int status = loop->run();
    helper.reset();
    loop.reset();
    return status;
  } catch (plat::Exception& e) {
    vlog.error("Exception: %s", e.str());
    return 1;
  }
}

} // namespace tlOrbSetup
