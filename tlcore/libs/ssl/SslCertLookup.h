// Certificate stores: which trusted certificate has this subject?
//
// SslCertLookupCustom is filled by its owner; SslCertLookupSystemFile fills
// itself from the trusted CA bundle "cacerts.pem" (the first one in the
// data directories, else the built-in resource) and reloads it at most
// every 900 seconds of the monotonic clock. A store keeps one certificate
// per subject DER: a later one replaces an earlier one. Stores are owned by
// their trust manager and used on the event-loop thread.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "plat/Time.h"
#include "ssl/SslCertificate.h"

namespace ssl {

class SslCertLookup {
public:
  // An empty handle when no certificate has that subject.
  virtual SslCertificatePtr find(int length, const unsigned char* subjectDer) = 0;
  virtual ~SslCertLookup();
};

class SslCertLookupCustom : public SslCertLookup {
public:
  SslCertificatePtr find(int length, const unsigned char* subjectDer) override;

  void addCert(const SslCertificatePtr& cert);
  // Every certificate of the PEM text in order; bad blocks are logged and
  // skipped.
  void addCertsFromPem(int length, const char* pem);
  size_t size() const { return certs_.size(); }

protected:
  void clear() { certs_.clear(); }

private:
  // Subject DER as bytes; std::string compares them as unsigned bytes.
  std::map<std::string, SslCertificatePtr> certs_;
};

class SslCertLookupSystemFile : public SslCertLookupCustom {
public:
  static constexpr plat::Time kReloadInterval = 900 * plat::kTicksPerSecond;
  static constexpr int kMaxFileSize = 16 * 1024 * 1024;

  // A new, empty store; the first find loads it.
  static std::unique_ptr<SslCertLookup> create();

  // Reloads when due; a failed reload throws and leaves the store empty
  // until the next reload time.
  SslCertificatePtr find(int length, const unsigned char* subjectDer) override;

private:
  void reload();

  plat::Time nextReload_ = 0;
};

} // namespace ssl
