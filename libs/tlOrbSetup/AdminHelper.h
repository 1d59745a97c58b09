// The elevated admin helper: the same executable started as root with
// "-helper". It serves the wizard's requests over the launch pipe (see
// AdminHelperMsgs.h): it runs commands (program path first, no shell) and
// streams their output back, and writes the server's settings and has the
// running server reload them. It ends when the wizard closes the channel.
// The command's output is read only while less than kMaxBacklog bytes wait
// for the wizard to take them; beyond that the command waits on its pipe.
// A command's arguments that name session files with a digest get private
// copies of those files instead (SessionFileCopies), checked against the
// user on the other end of the connection; the copies go with the command.
//
// Loop thread only. The helper owns its channel, the monitor of the running
// command and the connection that carries the command's output. A command
// counts as running until its result has been sent: the result waits for the
// end of the output (at most kOutputGraceMs after the exit). A package
// command first waits while another package tool holds its lock
// (PkgToolLock.h), saying so in its output; one still locked at the end of
// that wait fails unstarted. An incoming
// message is acted on only once it is complete and no larger than the
// channel's limit (adminmsg::kMaxMsgSize on the wire); a larger one is
// logged and skipped, answered with nothing.
#pragma once

#include <memory>
#include <vector>

#include "io/Io.h"
#include "io/MsgIpc.h"
#include "os/ProcessMonitor.h"
#include "plat/String.h"
#include "plat/Timer.h"
#include "tlOrbSetup/PkgToolLock.h"
#include "tlOrbSetup/AdminHelperMsgs.h"
#include "tlOrbSetup/SessionFileCopies.h"
#include "tlutil/ConfigFile.h"

namespace rdr {
class InStream;
}

namespace tlOrbSetup {

// The "-helper" mode, with the whole command line; its exit status.
int adminHelperMain(int argc, char** argv);

class AdminHelper : public io::MsgIpc::Callback,
                    public io::MsgIpc::Reader,
                    public os::ProcessMonitor::Callback,
                    public io::IoHandler,
                    private plat::Timer::Callback {
public:
  static constexpr int kOutputGraceMs = 2000;
  static constexpr int kMaxBacklog = 1 << 20;

  // Takes the connection to the wizard and sends "HaveCloudCredsSvr".
  explicit AdminHelper(io::IoPtr connection);
  ~AdminHelper() override;
  AdminHelper(const AdminHelper&) = delete;
  AdminHelper& operator=(const AdminHelper&) = delete;

  // io::MsgIpc::Callback
  void closed(io::MsgIpc* channel) override;
  // Output held back for the wizard goes on.
  void writable(io::MsgIpc* channel) override;
  // io::MsgIpc::Reader
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override;
  // os::ProcessMonitor::Callback
  void processExited(os::ProcessMonitor* monitor, int exitCode) override;
  // io::IoHandler, for the command's output
  void dataAvailable(io::Io* io) override;
  void writable(io::Io*) override {}
  void closed(io::Io* io) override;

#ifdef TL_TEST_HOOKS
  // Test hook: requests that passed the helper's checks are handed to
  // effects instead of being carried out (no command starts, no file is
  // written); the helper's answers still go out.
  class EffectsForTest {
  public:
    virtual void runCmd(const std::vector<plat::String>& args) = 0;
    virtual void cancelCmd() = 0;
    virtual void svrSettings(const plat::CaseInsensitiveStringMap& values) = 0;
    virtual ~EffectsForTest() = default;
  };
  void setEffectsForTest(EffectsForTest* effects) { effects_ = effects; }
#endif

private:
  // Each reads the whole body before acting on it.
  void runCmd(rdr::InStream& in);
  void cancelCmd();
  void svrSettings(rdr::InStream& in);
  // The effects: start the command; write the settings and have the server
  // reload them.
  void startCmd(std::vector<plat::String> args, const std::vector<adminmsg::FileDigest>& files);
  // Starts the command, or answers its failure to start.
  void launchCmd(const std::vector<plat::String>& args);
  void sendCmdFailure(const plat::Exception& e);
  // Another package tool's lock: the note in the output, the failure.
  void toolBusy(int pid);
  void toolStillBusy();
  void applySettings(const plat::CaseInsensitiveStringMap& values);

  bool running() const
  {
    return procMon_ || runCmdIo_.get() || exited_ || toolWait_.waiting();
  }
  // Sends the result once the command exited and its output ended.
  void finishIfDone();
  void dropOutput();
  // Stops reading the output while the wizard has kMaxBacklog bytes to take.
  bool holdOutput();
  bool timerExpired(plat::Timer* timer) override;

  std::unique_ptr<io::MsgIpc> channel_;
  std::unique_ptr<os::ProcessMonitor> procMon_;
  io::IoPtr runCmdIo_;
  // The wizard's user (-1: unknown, so no file is copied for it) and the
  // copies of the running command.
  int64_t requester_ = -1;
  std::unique_ptr<SessionFileCopies> copies_;
  // The session files of the command waiting for a package tool's lock.
  std::vector<adminmsg::FileDigest> pendingFiles_;
  // The exit seen, its result not yet sent.
  bool exited_ = false;
  int exitCode_ = 0;
  // Reading the output waits for the channel to drain.
  bool outputHeld_ = false;
  plat::Timer outputTimer_;
  PkgToolWait toolWait_;
#ifdef TL_TEST_HOOKS
  EffectsForTest* effects_ = nullptr;
#endif
};

} // namespace tlOrbSetup
