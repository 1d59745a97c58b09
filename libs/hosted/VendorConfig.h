// The vendor configuration: the root of trust of the hosted client. It is
// a package (normally the cloud configuration package) carrying the
// certificates of the hosted services' own authorities and the built-in
// bootstrap configuration. Reading it builds the trust manager that every
// hosted TLS connection and bootstrap signature check uses (nothing else is
// trusted for hosted traffic), publishes the website and portal addresses
// as `_ProductUri` and `_PortalUri`, and keeps the package's checksum so a
// cached bootstrap answer can be tied to this exact package.
//
// Owns its trust manager and configuration; made once per hosted client
// context and shared from there. Loop thread.
#pragma once

#include <memory>

#include "hosted/BootstrapConfig.h"
#include "plat/ConfigParameter.h"
#include "plat/MBuf.h"

namespace ssl {
class SslTrustManager;
} // namespace ssl

namespace hosted {

// `_PortalUri`.
extern plat::StringParameter portalUri;

class VendorConfig {
public:
  // When the certificates are parsed: at once (a bad one is logged, none at
  // all fails the construction), or at the trust manager's first look-up,
  // for the program's own built-in package, whose certificates its tests
  // check (they are what makes up most of the reading).
  enum class Certificates { kParseNow, kParseWhenUsed };

  // Failures are HostedException: category "Configuration", kind
  // "ConfigPkg", unless reading raised a HostedException of its own.
  explicit VendorConfig(const char* path);
  VendorConfig(int length, const void* configData,
               Certificates certificates = Certificates::kParseNow);
  explicit VendorConfig(const PackageReader& package);
  ~VendorConfig();
  VendorConfig(const VendorConfig&) = delete;
  VendorConfig& operator=(const VendorConfig&) = delete;

  ssl::SslTrustManager& trustManager() const { return *trustManager_; }
  const BootstrapConfig& bootstrapConfig() const { return *bootstrapConfig_; }
  // SHA-1 over the package's sections.
  const plat::MBuf<unsigned char>& checksum() const { return checksum_; }

private:
  void read(const PackageReader& package, Certificates certificates = Certificates::kParseNow);

  std::unique_ptr<ssl::SslTrustManager> trustManager_;
  std::unique_ptr<BootstrapConfig> bootstrapConfig_;
  plat::MBuf<unsigned char> checksum_;
};

typedef plat::SharedHandle<VendorConfig> VendorConfigPtr;

} // namespace hosted
