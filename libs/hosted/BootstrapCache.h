// The bootstrap cache: the last signed bootstrap configuration a bootstrap
// server delivered, in memory and as "BootstrapCache.pkg" in the client's
// persistent store, so that the next start can skip the network.
//
// A cached answer is served only while fresh, is verified again against
// the vendor configuration's trust manager when read back, and is bound to
// the exact vendor configuration package in force when it was written.
// The file is a package with the sections "BootstrapCache" (the document as
// received), "ExpiryTime" (expiry and end of preference, each a signed
// 64-bit big-endian tick count), "SourceUrl" and "VendorConfigChecksum".
//
// The cache never fails its caller: problems are logged and leave it empty
// (reading, erasing) or the file absent (writing). The store and vendor
// configuration are borrowed and must outlive it; a null store keeps the
// cache in memory only. Time is read through plat::getTime. Loop thread.
#pragma once

#include "hosted/BootstrapConfig.h"
#include "plat/SharedHandle.h"
#include "plat/String.h"
#include "plat/Time.h"

namespace os {
class PersistentStore;
} // namespace os

namespace hosted {

class BootstrapCache {
public:
  static constexpr const char* kFileName = "BootstrapCache.pkg";
  // How long a fetched address stays preferred.
  static constexpr plat::Time kPreferPeriod = plat::kTicksPerDay;

  // Reads the file.
  BootstrapCache(os::PersistentStore* store, const VendorConfig& vendorConfig);
  BootstrapCache(const BootstrapCache&) = delete;
  BootstrapCache& operator=(const BootstrapCache&) = delete;

  // A configuration is held and its expiry lies ahead.
  bool hasFreshConfig() const;
  // The end of the preference period lies ahead: sourceUrl is the address
  // to try first.
  bool isPreferred() const;
  const BootstrapConfigPtr& config() const { return config_; }
  // Null when empty.
  const char* sourceUrl() const { return sourceUrl_.get(); }
  plat::Time expiryTime() const { return expiry_; }
  plat::Time preferredUntil() const { return preferUntil_; }

  // Keeps a newly fetched configuration with the body it came in; an
  // unsigned one is never cached.
  void update(const BootstrapConfigPtr& config, int length, const void* body, const char* url,
              plat::Time expiry, plat::Time preferUntil);
  // Forgets everything, file included.
  void erase();

private:
  void read();
  void write(int length, const void* body);

  plat::Time expiry_ = 0;
  plat::Time preferUntil_ = 0;
  BootstrapConfigPtr config_;
  plat::String sourceUrl_;
  os::PersistentStore* store_;
  const VendorConfig& vendorConfig_;
};

typedef plat::SharedHandle<BootstrapCache> BootstrapCachePtr;

} // namespace hosted
