// The private key over mbedtls' key parser; the TLS engine hands context()
// to the library as its own key.
#pragma once

#include <mbedtls/pk.h>

#include "ssl/SslPrivateKey.h"

namespace ssl {

class MbedTlsPrivateKey : public SslPrivateKey {
public:
  // password may be null. A parse failure throws SslException code 17 with
  // the library's text; for a missing or wrong password its type is
  // "BadPassword".
  MbedTlsPrivateKey(const char* pem, const char* password);
  ~MbedTlsPrivateKey() override;

  std::unique_ptr<crypto::RsaPrivateKey> rsaPrivateKey() const override;
  std::unique_ptr<crypto::EcKey> ecPrivateKey() const override;

  mbedtls_pk_context* context() { return &pk_; }

private:
  mbedtls_pk_context pk_;
};

} // namespace ssl
