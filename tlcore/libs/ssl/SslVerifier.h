// Verifiers decide, after the chain was found to lead to a trusted root,
// whether the certificate is fit for this connection: the host-name check,
// the server-usage check, and the default HTTPS verifier that runs both.
// Each exists once for the whole process and has no state.
#pragma once

#include <vector>

#include "ssl/SslCertificate.h"

namespace ssl {

class SslVerifier {
public:
  // chain: leaf first. Returns when acceptable, else throws SslException;
  // an empty chain throws plat::AssertionFail "chain.size() > 0".
  virtual void verify(const std::vector<SslCertificatePtr>& chain, const char* endpointName) = 0;
  virtual ~SslVerifier();
};

// The leaf names the endpoint's host: an iPAddress name for a numeric
// address, else a dNSName (or the single commonName); code 9 otherwise.
class SslHostnameVerifier : public SslVerifier {
public:
  static SslHostnameVerifier& instance();
  void verify(const std::vector<SslCertificatePtr>& chain, const char* endpointName) override;
};

// The leaf is for TLS servers (serverAuth, digitalSignature or
// keyEncipherment), and so is every intermediate that restricts usage;
// code 6 otherwise.
class SslPublicUsageVerifier : public SslVerifier {
public:
  static SslPublicUsageVerifier& instance();
  void verify(const std::vector<SslCertificatePtr>& chain, const char* endpointName) override;
};

// The default for HTTPS: the host-name check, then the usage check.
class SslPublicHttpsVerifier : public SslVerifier {
public:
  static SslPublicHttpsVerifier& instance();
  void verify(const std::vector<SslCertificatePtr>& chain, const char* endpointName) override;
};

// Host against one name of a certificate: labels compare case-sensitively,
// "*" only as a whole first label standing for exactly one label, a single
// label only as "localhost".
bool matchHostName(const char* host, const char* pattern);

} // namespace ssl
