// Turns a plain connection set-up into a verified TLS one: an inner
// connector (TCP, or a proxy tunnel) finishes first, or an established
// connection is given; the connection is then wrapped in an SslIo and
// reported connected only once the handshake, the chain check and the
// verifier have passed. Any failure is reported as failed, with the error
// that ended the handshake.
//
// Ownership: owns the inner connector, the TLS connection under
// construction and the client identity; borrows the verifier and the trust
// manager. Destroying it in any state abandons the attempt and leaks
// nothing. Loop thread only.
#pragma once

#include <memory>

#include "io/Io.h"
#include "plat/String.h"
#include "ssl/SslEngine.h"

namespace ssl {

class SslConnector : public io::IoConnectorBase, public io::IoConnected, public io::IoHandler {
public:
  // Connect, then TLS. hostName (may be null) is copied.
  SslConnector(std::unique_ptr<io::IoConnector> inner, SslVerifier* verifier,
               SslTrustManager* trustManager, const char* hostName,
               std::unique_ptr<ClientIdentity> identity);
  // TLS over a connection already established (taken over).
  SslConnector(io::IoPtr io, SslVerifier* verifier, SslTrustManager* trustManager,
               const char* hostName, std::unique_ptr<ClientIdentity> identity);
  ~SslConnector() override;

protected:
  void begin() override;
  void cancel() override;

private:
  // --- The inner connector
  void connected(io::IoConnector* connector, io::IoPtr io) override;
  void failed(io::IoConnector* connector, const plat::Exception& error) override;
  // --- The TLS connection
  void dataAvailable(io::Io* io) override;
  void writable(io::Io* io) override;
  void closed(io::Io* io) override;

  io::IoPtr tls_{nullptr, io::Shutdown::kDrop};
  plat::String hostName_;
  SslVerifier* verifier_;
  SslTrustManager* trustManager_;
  std::unique_ptr<ClientIdentity> identity_;
  std::unique_ptr<io::IoConnector> inner_;
};

} // namespace ssl
