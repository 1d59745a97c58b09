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

// Adds the certificates of the "vendorCfg.Certificates" section, logging
// and skipping bad ones.
void addCertificates(ssl::SslCertLookupCustom& lookup, const plat::MBuf<unsigned char>& section)
{
  BedReader reader(section.length(), section.data());
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
}

// The certificates of a section, parsed at the first look-up.
class DeferredLookup : public ssl::SslCertLookupCustom {
public:
  explicit DeferredLookup(plat::MBuf<unsigned char> section) : section_(std::move(section)) {}

  ssl::SslCertificatePtr find(int length, const unsigned char* subjectDer) override
  {
    if (section_.length() > 0) {
      plat::MBuf<unsigned char> section = std::move(section_);
      // A look-up in the middle of a handshake throws nothing: a section
      // that cannot be read leaves the store empty, so nothing verifies.
      try {
        addCertificates(*this, section);
      } catch (const plat::Exception& e) {
        vlog.error("Unable to read VendorConfig: %s", e.str());
      }
      if (size() == 0)
        vlog.error("Could not load any certificates from VendorConfig");
    }
    return SslCertLookupCustom::find(length, subjectDer);
  }

private:
  plat::MBuf<unsigned char> section_;
};

} // namespace

VendorConfig::VendorConfig(const char* path)
{
  vlog.info("Reading VendorConfig from %s", path);
  guarded([&] { read(PackageReader(path)); });
}

VendorConfig::VendorConfig(int length, const void* configData, Certificates certificates)
{
  vlog.info("Reading VendorConfig from configData");
  guarded([&] { read(PackageReader(length, configData), certificates); });
}

VendorConfig::VendorConfig(const PackageReader& package)
{
  guarded([&] { read(package); });
}

VendorConfig::~VendorConfig() = default;

void VendorConfig::read(const PackageReader& package, Certificates certificates)
{
  plat::MBuf<unsigned char> certSection = packageSection(package, "vendorCfg.Certificates");
  if (certificates == Certificates::kParseWhenUsed) {
    trustManager_ = ssl::SslTrustManager::create(
        std::make_unique<DeferredLookup>(std::move(certSection)));
  } else {
    auto lookupOwner = std::make_unique<ssl::SslCertLookupCustom>();
    ssl::SslCertLookupCustom& lookup = *lookupOwner;
    trustManager_ = ssl::SslTrustManager::create(std::move(lookupOwner));
    addCertificates(lookup, certSection);
    if (lookup.size() == 0)
      throw plat::Exception("Could not load any certificates from VendorConfig");
  }

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
