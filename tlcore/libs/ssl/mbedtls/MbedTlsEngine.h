// The TLS engine over mbedtls 2.28. The streams of one operation are
// installed for its duration only, so the library's send and receive
// callbacks reach them; an alert the library sends while reading (no output
// stream installed) is dropped. No exception crosses a library callback.
#pragma once

#include <mbedtls/ssl.h>

#include "ssl/SslEngine.h"

namespace ssl {

class MbedTlsEngine : public SslEngine {
public:
  MbedTlsEngine(MbedTlsTrustManager* trustManager, int nSuites, const uint32_t* suites,
                int nProtocols, const int* protocols, const char* hostName,
                const ClientIdentity* identity);
  ~MbedTlsEngine() override;
  MbedTlsEngine(const MbedTlsEngine&) = delete;
  MbedTlsEngine& operator=(const MbedTlsEngine&) = delete;

  bool handshake(rdr::InStream* in, rdr::OutStream* out) override;
  int write(int length, const uint8_t* data, rdr::OutStream* out) override;
  int read(rdr::InStream* in, rdr::OutStream* dest) override;
  void close(rdr::OutStream* out) override;
  const std::vector<SslCertificatePtr>& peerCertificates() const override;
  bool clientCertificateUsed() const override;

private:
  class StreamScope;
  static int sendCallback(void* self, const unsigned char* buf, size_t len);
  static int recvCallback(void* self, unsigned char* buf, size_t len);
  static void debugCallback(void* self, int level, const char* file, int line, const char* msg);

  mbedtls_ssl_context ssl_;
  mbedtls_ssl_config conf_;
  SslCertificatePtr clientCert_;
  SslPrivateKeyPtr clientKey_;
  std::vector<int> suites_;
  std::vector<int> protocols_;
  MbedTlsTrustManager* trustManager_;
  // Empty: the trust manager finds the issuers itself in verifyCallback.
  mbedtls_x509_crt noCa_;
  std::vector<SslCertificatePtr> peerChain_;
  bool closed_ = false;
  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_ = nullptr;
};

} // namespace ssl
