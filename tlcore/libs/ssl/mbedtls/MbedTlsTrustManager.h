// The trust manager over mbedtls' chain verification.
//
// Debian's mbedtls has neither the trusted-certificate callback nor a
// replaceable clock, so the manager gathers the candidate issuers from its
// store itself (by issuer DER, for the chain and each issuer found, at most
// 8) and judges validity in its verify callback against its verification
// time. The verify callback records the chain the library built, leaf
// first; takeChain hands it over, completed from the store.
#pragma once

#include <mbedtls/x509_crt.h>

#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"

namespace ssl {

class MbedTlsTrustManager : public SslTrustManager {
public:
  static constexpr int kMaxChain = 8;

  MbedTlsTrustManager(std::unique_ptr<SslCertLookup> lookup, bool strict);
  ~MbedTlsTrustManager() override;

  std::vector<SslCertificatePtr> verifyChain(SslCertificate* leaf,
                                             const std::vector<SslCertificatePtr>& intermediates,
                                             plat::Time time) override;

  // --- What the TLS engine hands to the library
  const mbedtls_x509_crt_profile* profile() const;
  // Appends to trusted (an initialised list) the store's issuers of chain
  // and of each issuer found, at most kMaxChain; held keeps them alive.
  // Store errors are logged ("ssl error: %s") and give false.
  bool gatherTrustedIssuers(const mbedtls_x509_crt* chain, mbedtls_x509_crt* trusted,
                            std::vector<SslCertificatePtr>& held);
  // The library's per-certificate callback (context: the manager).
  static int verifyCallback(void* self, mbedtls_x509_crt* crt, int depth, uint32_t* flags);
  // The recorded chain, completed from the store; leaves it empty.
  std::vector<SslCertificatePtr> takeChain();
  // Throws the SslException for a set of the library's verification flags.
  [[noreturn]] static void mapFailure(uint32_t flags, const std::vector<SslCertificatePtr>& chain);

private:
  int verify(mbedtls_x509_crt* crt, int depth, uint32_t* flags);
  void logFailure(const mbedtls_x509_crt* crt, uint32_t flags);
  SslCertificatePtr findIssuer(const mbedtls_x509_crt* crt);

  bool strict_;
  std::unique_ptr<SslCertLookup> lookup_;
  std::vector<SslCertificatePtr> chain_;
  int depth_ = -1;
  // The time validity is judged at; 0: the wall clock.
  plat::Time verifyTime_ = 0;
};

} // namespace ssl
