// The single-instance channel "SetupComms": the running wizard listens on a
// per-user named pipe; a second start sends "fg" (raise the wizard) and the
// "-uri" forwarder sends "uri" with the browser's sign-in callback.
//
// On every accepted connection the server first writes the version word
// (u32 big-endian kVersion), then both sides speak io::MsgIpc. Only the
// newest connection is served: a new one replaces the one before without
// notice. A message's whole body is read before the window is raised or the
// URI handed over.
//
// Ownership: the server borrows the wizard window and owns its listener and
// channel; the client owns its channel and connection. Both run on the
// thread of their process's loop; the client blocks that thread for at most
// kTimeoutMs from its connect to the version word.
#pragma once

#include <stdint.h>

#include <memory>

#include "io/MsgIpc.h"
#include "plat/String.h"
#include "tlOrbSetup/FrontEnd.h"

namespace os {
class NamedPipeListener;
}

namespace tlOrbSetup {

constexpr uint32_t kSetupCommsVersion = 0x5E7CBC03;
// Longest URI the wizard takes, in bytes.
constexpr int kMaxSetupCommsUri = 8192;

// The pipe's path: the per-user temporary directory, the application name,
// "." and "SetupComms".
plat::String setupCommsPath();

// The "-uri" mode, with the whole command line: hands the URI to the
// running wizard; its exit status.
int uriHandlerMain(int argc, char** argv);

class SetupComms : public io::IoAcceptor, private io::MsgIpc::Reader {
public:
  // Listens on setupCommsPath(); throws plat::SystemException "name already
  // bound" when a live server holds it.
  explicit SetupComms(FrontEnd::Window& window);
  ~SetupComms() override;
  SetupComms(const SetupComms&) = delete;
  SetupComms& operator=(const SetupComms&) = delete;

  const char* getPath() const;

  // A connection whose version word cannot be written is dropped and
  // logged; the wizard goes on.
  void ioAccept(io::IoPtr io) override;

private:
  bool readMsg(const char* name, rdr::FramedInStream& in, io::MsgIpc* channel) override;

  FrontEnd::Window& window_;
  std::unique_ptr<os::NamedPipeListener> listener_;
  io::MsgIpc channel_;
};

class SetupCommsClient {
public:
  static constexpr int kTimeoutMs = 10000;

  // Connects, reads the version word and checks that the server runs as
  // this process's effective user, all within kTimeoutMs. Throws
  // plat::Exception: what connecting throws ("connect" ETIMEDOUT when the
  // server's queue stays full), plat::TimedOut, "SetupComms version
  // mismatch %x instead of %x", "namedPipeCredCheck: uid mismatch".
  explicit SetupCommsClient(const char* path = nullptr);
  ~SetupCommsClient();
  SetupCommsClient(const SetupCommsClient&) = delete;
  SetupCommsClient& operator=(const SetupCommsClient&) = delete;

  // Sends one message and flushes: "fg" with an empty body (body null) or
  // "uri" with body as a string.
  void send(const char* name, const char* body);
  // Closes the connection (the destructor does it too).
  void close();
#ifdef TL_TEST_HOOKS
  // Test hook: the time-out instead of kTimeoutMs (0 or below restores it).
  static void setTimeoutForTest(int ms);
#endif

private:
  std::unique_ptr<io::MsgIpc> channel_;
};

} // namespace tlOrbSetup
