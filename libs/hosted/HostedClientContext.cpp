#include "hosted/HostedClientContext.h"

#include "hosted/HostedException.h"
#include "hosted/Package.h"
#include "plat/Uuid.h"

namespace hosted {

namespace {

// Runs fn, turning any failure but a HostedException into the package error.
template <class F> void asConfigError(F&& fn)
{
  try {
    fn();
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::kConfiguration, "ConfigPkg", e.str());
  }
}

} // namespace

HostedClientContext::HostedClientContext(const char* principal, os::PersistentStore* store,
                                         const char* secret, const char* bearerToken,
                                         const char* businessId)
  : principal_(principal), secret_(secret), bearerToken_(bearerToken), businessId_(businessId),
    store_(store)
{
}

HostedClientContext::HostedClientContext(const char* principal, const char* packagePath,
                                         os::PersistentStore* store, const char* secret,
                                         const char* bearerToken, const char* businessId)
  : HostedClientContext(principal, store, secret, bearerToken, businessId)
{
  vendorConfig_ = VendorConfigPtr(new VendorConfig(packagePath));
  asConfigError([&] { identity(PackageReader(packagePath)); });
}

HostedClientContext::HostedClientContext(const char* principal, int length,
                                         const void* packageData, os::PersistentStore* store,
                                         const char* secret, const char* bearerToken,
                                         const char* businessId,
                                         VendorConfig::Certificates certificates)
  : HostedClientContext(principal, store, secret, bearerToken, businessId)
{
  vendorConfig_ = VendorConfigPtr(new VendorConfig(length, packageData, certificates));
  asConfigError([&] { identity(PackageReader(length, packageData)); });
}

HostedClientContext::HostedClientContext(const char* principal, const PackageReader& package,
                                         os::PersistentStore* store, const char* secret,
                                         const char* bearerToken, const char* businessId)
  : HostedClientContext(principal, store, secret, bearerToken, businessId)
{
  vendorConfig_ = VendorConfigPtr(new VendorConfig(package));
  asConfigError([&] { identity(package); });
}

void HostedClientContext::identity(const PackageReader& package)
{
  if (businessId_.isNull()) {
    unsigned char uuid[plat::Uuid::kSize];
    plat::Uuid::generate(uuid);
    businessId_ = plat::Uuid::toString(uuid, true);
  }
  const PackageSections& sections = package.sections();
  auto cert = sections.find("client.certificate");
  auto key = sections.find("client.key");
  if (cert != sections.end() && key != sections.end()) {
    clientCertificate_ = cert->second;
    // The private key is wiped when dropped whatever the package said.
    clientKey_ = plat::MBuf<unsigned char>(key->second.data(), key->second.length(), true);
  }
  bootstrapCache_ = BootstrapCachePtr(new BootstrapCache(store_, *vendorConfig_));
}

} // namespace hosted
