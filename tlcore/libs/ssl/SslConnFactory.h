// The HTTP client's source of verified TLS connectors: one trust manager
// (owned) and one verifier (borrowed, the default HTTPS verifier when none
// is given) for every connection it makes.
#pragma once

#include "http/SslConnectorFactory.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"

namespace ssl {

class SslConnFactory : public http::SslConnectorFactory {
public:
  SslConnFactory(std::unique_ptr<SslCertLookup> lookup, SslVerifier* verifier);
  // A new SslConnector over inner, without a client identity.
  std::unique_ptr<io::IoConnector> newConnector(std::unique_ptr<io::IoConnector> inner,
                                                const char* serverName) override;
  ~SslConnFactory() override;

  SslTrustManager* trustManager() const { return trustManager_.get(); }

private:
  std::unique_ptr<SslTrustManager> trustManager_;
  SslVerifier* verifier_;
};

} // namespace ssl
