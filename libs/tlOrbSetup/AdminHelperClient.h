// The wizard's side of the admin helper: starts the elevated helper once,
// keeps the channel to it, sends "RunCmd" and "SvrSettings" for its users
// and routes the answers back.
//
// Loop thread only. The callbacks are borrowed. One request per slot: a slot
// is cleared before its callback is called, so a callback may start the next
// request from inside result(). When the helper dies, both slots are cleared
// without being called and the owner hears helperLaunchFailed. The
// destructor calls nothing.
#pragma once

#include <memory>
#include <vector>

#include "io/FdManager.h"
#include "io/MsgIpc.h"
#include "os/LaunchWithPipe.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "tlOrbSetup/AdminHelperMsgs.h"
#include "tlutil/ConfigFile.h"

namespace tlOrbSetup {

class AdminHelperClient : public os::LaunchWithPipeCallback,
                          public io::MsgIpc::Callback,
                          public io::MsgIpc::Reader {
public:
  class Callback {
  public:
    virtual void helperLaunched() = 0;
    // An empty error when the helper did not come up or went away.
    virtual void helperLaunchFailed(const plat::Exception& error) = 0;
    virtual ~Callback() = default;
  };
  class RunCmdCallback {
  public:
    // An empty error when status is the command's exit code.
    virtual void result(int status, const plat::Exception& error) = 0;
    virtual void output(int length, const char* bytes) = 0;
    virtual ~RunCmdCallback() = default;
  };
  class SvrSettingsCallback {
  public:
    // An empty error means success.
    virtual void result(const plat::Exception& error) = 0;
    virtual ~SvrSettingsCallback() = default;
  };

  explicit AdminHelperClient(Callback* callback);
  ~AdminHelperClient() override;
  AdminHelperClient(const AdminHelperClient&) = delete;
  AdminHelperClient& operator=(const AdminHelperClient&) = delete;

  // Starts the helper elevated; helperLaunched or helperLaunchFailed follows.
  void launch();
  // args: the program's absolute path, then its arguments. A second request
  // before the first's result is a fatal assertion. Without a connected
  // helper the result is a failure, on the next pass. Each of files names an
  // argument that is a session file: the command gets the helper's private
  // copy of it, and fails to start unless the copy has the given digest.
  void runCmd(const std::vector<plat::String>& args, RunCmdCallback* callback,
              const std::vector<adminmsg::FileDigest>& files = {});
  // Throws, sending nothing, when the values break the channel's limits.
  // password: the encoded device password, sent as "Password".
  void svrSettings(const plat::CaseInsensitiveStringMap& values, SvrSettingsCallback* callback,
                   const plat::SecureString* password = nullptr);
  // Forgets the running command's callback (its answers are dropped) and,
  // when the helper is connected, sends "RunCmdCancel".
  void cancelRunCmd();
  bool haveCloudCredsSvr() const { return haveCloudCredsSvr_; }
#ifdef TL_TEST_HOOKS
  // Test hook: the executable started as the helper (null: this one).
  static void setProgramForTest(const char* path);
#endif

  // os::LaunchWithPipeCallback
  void launched(io::IoPtr io) override;
  // io::MsgIpc::Reader
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override;
  // io::MsgIpc::Callback
  void closed(io::MsgIpc* channel) override;

private:
  void died();

  Callback* callback_;
  std::unique_ptr<io::MsgIpc> channel_;
  std::unique_ptr<os::LaunchWithPipe> pendingLaunch_;
  RunCmdCallback* runCmdCb_ = nullptr;
  SvrSettingsCallback* svrSettingsCb_ = nullptr;
  bool haveCloudCredsSvr_ = false;
  io::DeferredCall notConnected_;
};

} // namespace tlOrbSetup
