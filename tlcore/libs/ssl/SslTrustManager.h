// The trust manager decides whether a certificate chain leads to a trusted
// root from its store (SslCertLookup), under the strict profile (SHA-2
// signatures, RSA keys of at least 2048 bits). The TLS engine uses it
// during the handshake; other code calls verifyChain. It owns its store;
// one connection or call at a time, on the event-loop thread. The
// implementation is MbedTlsTrustManager.
#pragma once

#include <memory>
#include <vector>

#include "plat/Time.h"
#include "ssl/SslCertificate.h"

namespace ssl {

class SslTrustManager {
public:
  static std::unique_ptr<SslTrustManager> create(std::unique_ptr<SslCertLookup> lookup);
  virtual ~SslTrustManager();

  // The verified chain, leaf first, completed with trusted issuers from the
  // store (at most 8 certificates). intermediates may come in any order and
  // must be MbedTlsCertificates; validity is judged at time (100-ns ticks
  // since 1601), not by the machine's clock. Failures are SslException.
  virtual std::vector<SslCertificatePtr>
  verifyChain(SslCertificate* leaf, const std::vector<SslCertificatePtr>& intermediates,
              plat::Time time) = 0;
};

} // namespace ssl
