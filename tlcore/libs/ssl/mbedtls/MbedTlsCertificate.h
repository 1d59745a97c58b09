// The certificate over mbedtls' X.509 parser. The TLS engine and the trust
// manager use the parsed structure directly; it lives as long as the
// certificate and is never changed.
#pragma once

#include <mbedtls/x509_crt.h>

#include "crypto/EcKey.h"
#include "ssl/SslCertificate.h"

namespace ssl {

class MbedTlsCertificate : public SslCertificate {
public:
  // Parses a copy of the DER; SslException code 0 when it is no
  // certificate.
  MbedTlsCertificate(int length, const unsigned char* der);
  ~MbedTlsCertificate() override;

  std::unique_ptr<crypto::RsaPublicKey> rsaPublicKey() const override;
  std::unique_ptr<crypto::EcKey> ecPublicKey() const override;
  std::vector<plat::String> crlUrls() const override;
  std::vector<plat::String> ocspUrls() const override;

  const mbedtls_x509_crt* crt() const { return &crt_; }

private:
  mbedtls_x509_crt crt_;
};

// The distinguished-name text of a parsed name (last attribute first, "+"
// inside a multi-valued name, RFC 4514 escapes); "bad UTF-8 in
// certificate" for an invalid string.
plat::String distinguishedName(const mbedtls_x509_name* name);
// The library's text for an error code.
plat::String mbedTlsErrorText(int code);
// 100-ns ticks of a parsed time; false when it is no calendar time.
bool x509TimeToTicks(const mbedtls_x509_time& t, plat::Time* out);

// The key class's curve of a library group; "Unsupported curve" for all
// but the four NIST curves.
crypto::EcKey::Curve ecCurveOf(mbedtls_ecp_group_id id);
// 0 RSA, 1 EC or ECDSA, 2 any other key type.
int keyKindOf(const mbedtls_pk_context& pk);

} // namespace ssl
