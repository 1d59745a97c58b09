#include "hosted/VendorConfig.h"

#include "hosted/Bed.h"
#include "hosted/HostedException.h"
#include "hosted/Package.h"
#include "plat/Configuration.h"
#include "plat/Log.h"
#include "plat/TestFeatures.h"
#include "ssl/SslCertLookup.h"
#include "ssl/SslTrustManager.h"

namespace hosted {

plat::StringParameter portalUri("_PortalUri", "", "");

namespace {

plat::LogSrc vlog("VendorConfig");

// Runs read, turning any failure but a HostedException into the
// configuration error.
template <class F> void guarded(F&& read)
{
  try {
    read();
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    vlog.error("Unable to read VendorConfig: %s", e.str());
    throw HostedException(HostedException::kConfiguration, "ConfigPkg", e.str());
  }
}

} // namespace

VendorConfig::VendorConfig(const char* path)
{
  vlog.info("Reading VendorConfig from %s", path);
  guarded([&] { read(PackageReader(path)); });
}

VendorConfig::VendorConfig(int length, const void* configData)
{
  vlog.info("Reading VendorConfig from configData");
  guarded([&] { read(PackageReader(length, configData)); });
}

VendorConfig::VendorConfig(const PackageReader& package)
{
  guarded([&] { read(package); });
}

VendorConfig::~VendorConfig() = default;

void VendorConfig::read(const PackageReader& package)
{
  auto lookupOwner = std::make_unique<ssl::SslCertLookupCustom>();
  ssl::SslCertLookupCustom& lookup = *lookupOwner;
  trustManager_ = ssl::SslTrustManager::create(std::move(lookupOwner));

  plat::MBuf<unsigned char> certSection = packageSection(package, "vendorCfg.Certificates");
  BedReader reader(certSection.length(), certSection.data());
  BedValuePtr certDoc = decodeBed(reader, nullptr, true);
  int index = 0;
  for (const BedValuePtr& element : certDoc->asMap().get("certificates").asSeq()) {
    ssl::SslCertificatePtr cert;
    try {
      cert = ssl::SslCertificate::createFromPem(
          element->asMap().get("zarn/PEM-certificate").asString().value());
      lookup.addCert(cert);
    } catch (const plat::Exception& e) {
      if (cert)
        vlog.error("Error in Certificate \"%s\": %s", cert->subjectName().str(), e.str());
      else
        vlog.error("Error in Certificate \"%d\": %s", index, e.str());
    }
    index++;
  }
  if (lookup.size() == 0)
    throw plat::Exception("Could not load any certificates from VendorConfig");

  plat::MBuf<unsigned char> cfg = packageSection(package, "vendorCfg.BootstrapConfig");
  bootstrapConfig_ = std::make_unique<BootstrapConfig>(cfg.length(), cfg.data(), nullptr, nullptr,
                                                       BootstrapConfig::Signature::Optional);
  const char* website = bootstrapConfig_->parameter("enterprise/website-uri");
  if (website && *website)
    plat::Configuration::global().set("_ProductUri", website, plat::kPriorityDefault);
  const char* portal = bootstrapConfig_->parameter("enterprise/portal-uri");
  if (portal && *portal)
    portalUri.setParam(portal, plat::isTestFeaturesEnabled() ? plat::kPriorityDefault
                                                             : plat::kPriorityPolicy);
  checksum_ = package.getChecksum();
}

} // namespace hosted
