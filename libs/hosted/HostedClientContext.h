// What every request to the hosted services needs from the client side:
// the vendor configuration (trust and bootstrap), the bootstrap cache, the
// client's own TLS identity when the configuration package carries one
// ("client.certificate" and "client.key", PEM), the credentials of
// authenticated requests and the business identifier sent as each request's
// operation identifier.
//
// Built once from a configuration package and shared by everything that
// talks to the hosted services. A copy shares the vendor configuration and
// the cache; the store is borrowed and must outlive every copy. Secrets are
// wiped when dropped. Loop thread.
#pragma once

#include "hosted/BootstrapCache.h"
#include "hosted/VendorConfig.h"
#include "plat/MBuf.h"
#include "plat/String.h"

namespace os {
class PersistentStore;
} // namespace os

namespace hosted {

class HostedClientContext {
public:
  // The package from a file, from bytes, or already read. A null business
  // identifier makes a random one. Package failures are HostedException
  // of kind "ConfigPkg"; those of the vendor configuration pass unchanged.
  HostedClientContext(const char* principal, const char* packagePath, os::PersistentStore* store,
                      const char* secret, const char* bearerToken, const char* businessId);
  HostedClientContext(const char* principal, int length, const void* packageData,
                      os::PersistentStore* store, const char* secret, const char* bearerToken,
                      const char* businessId,
                      VendorConfig::Certificates certificates =
                          VendorConfig::Certificates::kParseNow);
  HostedClientContext(const char* principal, const PackageReader& package,
                      os::PersistentStore* store, const char* secret, const char* bearerToken,
                      const char* businessId);
  HostedClientContext(const HostedClientContext& other) = default;
  HostedClientContext& operator=(const HostedClientContext&) = delete;

  // --- Credentials (null in this program)
  const char* principal() const { return principal_.get(); }
  const char* secret() const { return secret_.get(); }
  const char* bearerToken() const { return bearerToken_.get(); }
  const char* businessId() const { return businessId_.get(); }

  os::PersistentStore* store() const { return store_; }
  // Both empty unless the package has both sections.
  const plat::MBuf<unsigned char>& clientCertificate() const { return clientCertificate_; }
  const plat::MBuf<unsigned char>& clientKey() const { return clientKey_; }

  const VendorConfig& vendorConfig() const { return *vendorConfig_; }
  BootstrapCache& bootstrapCache() const { return *bootstrapCache_; }

private:
  HostedClientContext(const char* principal, os::PersistentStore* store, const char* secret,
                      const char* bearerToken, const char* businessId);
  // Sections, identifier and cache, once the vendor configuration is read.
  void identity(const PackageReader& package);

  plat::String principal_;
  plat::SecureString secret_;
  plat::SecureString bearerToken_;
  // Always null; only copied.
  plat::String fourth_;
  plat::String businessId_;
  os::PersistentStore* store_;
  plat::MBuf<unsigned char> clientCertificate_;
  plat::MBuf<unsigned char> clientKey_;
  // The cache refers to the vendor configuration: it goes first.
  VendorConfigPtr vendorConfig_;
  BootstrapCachePtr bootstrapCache_;
};

typedef plat::SharedHandle<HostedClientContext> HostedClientContextPtr;

} // namespace hosted
