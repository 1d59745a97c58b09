// A TCP connection through a SOCKS 5 proxy: the client side of RFC 1928
// with the user name and password method of RFC 1929.
//
// Without credentials or a prompt the greeting offers no authentication
// only; a proxy that refuses it gets one more connection whose greeting
// offers user name and password too. Credentials are wiped once sent. Owned
// by its creator; loop thread only (see io::ProxyTcpConnector).
#pragma once

#include "io/ProxyTcpConnector.h"
#include "rdr/StateMachine.h"

#include "rdr/Forward.h"

namespace io {

class Socks5Connector : public ProxyTcpConnector, public ProxyPasswdPrompt::Callback {
public:
  Socks5Connector(const char* host, int port, const char* proxy, IoPtr existing,
                  ProxyPasswdPrompt* prompt);
  // Cancels an outstanding prompt.
  ~Socks5Connector() override;

  void passwordEntered(const char* user, const char* password) override;

  // Reads a whole CONNECT reply (version, code, reserved byte, bound
  // address of any type, port) from is. Returns the reply code; throws
  // io::ProxyError "BadProtocol" (via) for a malformed reply and
  // rdr::BlockException / rdr::EndOfStream when bytes are missing.
  static int parseConnectReply(rdr::InStream& is, const char* via);

protected:
  void sendFirst() override;
  bool step() override;

private:
  bool ReadMethodReply();
  bool WaitForPrompt();
  bool SendUserPass();
  bool ReadAuthReply();
  bool SendConnectRequest();
  bool ReadConnectReply();

  // Restarts once with a greeting that offers user name and password.
  bool retryWithUserPass();

  rdr::StateMachine<Socks5Connector> state_;
  bool offeredUserPass_ = false;
  bool retried_ = false;
  bool promptOpen_ = false;
};

} // namespace io
