// A synchronous client of the running server's control pipe "CtrlComms":
// it connects, makes sure the peer runs as the expected user, then sends
// commands ("reload" after the settings changed, for one) and reads the
// replies that carry the server's configuration and connections.
//
// Every exchange blocks the calling (loop) thread, the connect and each
// read for at most 5,000 ms. The pipe's folder must be the server user's
// or root's and private. The client owns its channel and connection; one
// thread only.
#pragma once

#include <stdint.h>

#include <array>
#include <memory>
#include <vector>

#include "io/MsgIpc.h"
#include "plat/String.h"
#include "rdr/Forward.h"
#include "tlutil/ConfigFile.h"

namespace smisc {

// One connection as the server reports it: six short strings whose meaning
// the server defines, in its order.
struct ConnectionInfo {
  std::array<plat::String, 6> fields;
};

class CtrlCommsClientHelper : public io::MsgIpc::Reader {
public:
  static constexpr int kTimeoutMs = 5000;

  // Connects to the pipe and checks that its peer runs as expectedUid.
  // Throws what os::checkNamedPipeDir or connecting throws ("connect"
  // ETIMEDOUT when the server's queue stays full), "namedPipeCredCheck: uid
  // mismatch", or the time-out of waitFor.
  CtrlCommsClientHelper(const char* pipePath, uint32_t expectedUid);
  // The server of the current mode (score/Mode.h): the service's pipe and
  // root, else the caller's own. Any failure is thrown as "Contacting ZARN
  // Server failed: %s".
  CtrlCommsClientHelper();
  ~CtrlCommsClientHelper() override;

  // --- Commands (each sent and flushed at once)
  void showStatus();
  void showStatusDialog();
  void reload();
  void stop();
  void disconnClient(const char* first, const char* second);
  void getConfig(const char* name);
  // Lines as a configuration file has them (tlutil/ConfigFile.h).
  void setConfig(const plat::CaseInsensitiveStringMap& values);
  void getConnections();

  // Reads messages until one named name has been handled; throws
  // plat::TimedOut "Timed out waiting for response from ZARN Server" when
  // the server stays silent.
  void waitFor(const char* name);

  // Filled by "getConfigReply" and "getConnectionsReply".
  const plat::CaseInsensitiveStringMap& config() const { return config_; }
  const std::vector<ConnectionInfo>& connections() const { return connections_; }

  // --- Reply bodies (the whole body in in)
  static void readConfigReply(rdr::InStream& in, plat::CaseInsensitiveStringMap& out);
  static void readConnectionsReply(rdr::InStream& in, std::vector<ConnectionInfo>& out);

#ifdef TL_TEST_HOOKS
  // Test hook: the time-out instead of kTimeoutMs (0 or below restores it).
  static void setTimeoutForTest(int ms);
#endif

private:
  void connect(const char* pipePath, uint32_t expectedUid);
  void verifyChannel();
  void sendEmpty(const char* name);

  // io::MsgIpc::Reader
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* ipc) override;

  plat::CaseInsensitiveStringMap config_;
  std::vector<ConnectionInfo> connections_;
  std::unique_ptr<io::MsgIpc> channel_;
  uint32_t expectedUid_ = 0;
  bool gotValidCreds_ = false;
};

} // namespace smisc
