// The TLS 1.2 client engine: drives the TLS library over two byte streams
// the caller hands in on every call (ciphertext from the peer in, ciphertext
// to send out), so it never touches sockets or the loop. SslIo is its only
// user; one engine per connection, on the event-loop thread. It borrows the
// trust manager, which must outlive it.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "plat/ConfigParameter.h"
#include "rdr/Forward.h"
#include "ssl/SslCertificate.h"
#include "ssl/SslPrivateKey.h"

namespace ssl {

// A client certificate and its private key; the engine takes both handles.
struct ClientIdentity {
  SslCertificatePtr certificate;
  SslPrivateKeyPtr key;
};

// The cipher-suite lists of TlsProfile "Normal" and "High", in the order of
// preference sent to the server.
extern const uint32_t kNormalSuites[32];
extern const uint32_t kHighSuites[7];

// TlsProfile: 0 "Normal", 1 "High"; _TlsLogging: the library's debug level.
extern plat::EnumParameter tlsProfileParam;
extern plat::IntParameter tlsLoggingParam;

class SslEngine {
public:
  // trustManager must be an MbedTlsTrustManager. protocols are 0 (TLS 1.0),
  // 1 (TLS 1.1), 2 (TLS 1.2). hostName (may be null) is a host, host:port
  // or [IPv6]; only a DNS name is sent as server name and checked by the
  // library. identity may be null.
  static std::unique_ptr<SslEngine> create(SslTrustManager* trustManager, int nSuites,
                                           const uint32_t* suites, int nProtocols,
                                           const int* protocols, const char* hostName,
                                           const ClientIdentity* identity);
  virtual ~SslEngine();

  // --- Handshake
  // True when the handshake is complete and the chain checked; false when
  // more peer data is needed. Output is flushed to out either way.
  virtual bool handshake(rdr::InStream* in, rdr::OutStream* out) = 0;

  // --- Data
  // Encrypts all bytes into records on out; returns length.
  virtual int write(int length, const uint8_t* data, rdr::OutStream* out) = 0;
  // Decrypts what in holds into dest: 0 when dest has no room,
  // MBEDTLS_ERR_SSL_WANT_READ when in is drained.
  virtual int read(rdr::InStream* in, rdr::OutStream* dest) = 0;
  // Marks the engine closed, sends close_notify and flushes out.
  virtual void close(rdr::OutStream* out) = 0;

  // --- The peer
  // Leaf first; asking before the handshake throws AssertionFail.
  virtual const std::vector<SslCertificatePtr>& peerCertificates() const = 0;
  // The server asked for a client certificate and the engine has one.
  virtual bool clientCertificateUsed() const = 0;
};

} // namespace ssl
