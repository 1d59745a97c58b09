// Tunnels through an HTTP proxy with the CONNECT method.
//
// http::ConnectReply reads one reply of the proxy from the (non-blocking)
// proxy connection: the head, then the body when it declares a length. It
// also says whether the connection can carry a second request, which a 407
// on a closing connection, an HTTP/1.0 answer without keep-alive or a body
// of unknown length rule out.
//
// http::HttpConnectConnector answers one 407 challenge with Basic proxy
// authorisation: on the same connection when the proxy keeps it open, else
// over a new one. The base class owns the proxy connection, the time-out and
// the error path; credentials live only in wiped buffers and never reach a
// log. Loop thread only.
#pragma once

#include <memory>

#include "http/HttpHeaderParser.h"
#include "io/ProxyTcpConnector.h"
#include "rdr/BufferedInStream.h"
#include "rdr/StateMachine.h"

namespace http {

class ConnectReply {
public:
  static constexpr unsigned kMaxBody = 1000000;

  explicit ConnectReply(rdr::InStream* in);

  // Each lets rdr::BlockException pass while data is missing and may be
  // called again once more has come. readHead throws HttpParseException;
  // readBody throws "Bad Content-Length header (%s)".
  void readHead();
  void readBody();

  int getStatus() const { return parser_.getStatus(); }
  const char* getHeader(const char* name) const { return parser_.getHeader(name); }
  // False when the proxy will close the connection after this reply or
  // its end cannot be found without the connection closing.
  bool keepsConnection() const;

private:
  rdr::InStream* in_;
  HttpResponseHeaderParser parser_;
  rdr::ByteReader body_;
  bool bodyDone_ = false;
};

// The proxy connectors' way to tunnel through an HTTP proxy
// (io::HttpTunnelMaker): a new connector that opens its own connection.
std::unique_ptr<io::ProxyTcpConnector> newHttpConnectConnector(const char* host, int port,
                                                               const char* proxy,
                                                               io::ProxyPasswdPrompt* prompt);

// True when a token of the comma-separated value equals token (any case).
bool headerHasToken(const char* value, const char* token);

class HttpConnectConnector : public io::ProxyTcpConnector, public io::ProxyPasswdPrompt::Callback {
public:
  HttpConnectConnector(const char* host, int port, const char* proxy, io::IoPtr existing,
                       io::ProxyPasswdPrompt* prompt);
  ~HttpConnectConnector() override;

  void passwordEntered(const char* user, const char* password) override;

protected:
  void sendFirst() override;
  bool step() override;

private:
  bool stateStartResponse();
  bool stateReadHeader();
  bool stateHandle407();
  bool stateReadBody();

  plat::SecureString authHeader_;
  std::unique_ptr<ConnectReply> reply_;
  rdr::StateMachine<HttpConnectConnector> machine_;
  bool sentCredentials_ = false;
  bool asking_ = false;
};

} // namespace http
