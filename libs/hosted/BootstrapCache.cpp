#include "hosted/BootstrapCache.h"

#include <string.h>

#include "hosted/Package.h"
#include "hosted/VendorConfig.h"
#include "os/PersistentStore.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"

namespace hosted {

namespace {

plat::LogSrc vlog("BootstrapCache");

} // namespace

BootstrapCache::BootstrapCache(os::PersistentStore* store, const VendorConfig& vendorConfig)
  : store_(store), vendorConfig_(vendorConfig)
{
  read();
}

bool BootstrapCache::hasFreshConfig() const
{
  return config_ && plat::getTime() < expiry_;
}

bool BootstrapCache::isPreferred() const
{
  return plat::getTime() < preferUntil_;
}

void BootstrapCache::read()
{
  plat::MBuf<unsigned char> bytes;
  if (!store_ || !store_->read(kFileName, bytes))
    return;
  try {
    PackageReader package(bytes.length(), bytes.data());
    plat::MBuf<unsigned char> url = packageSection(package, "SourceUrl");
    plat::String sourceUrl((const char*)url.data(), url.length());
    plat::MBuf<unsigned char> times = packageSection(package, "ExpiryTime");
    if (times.length() != 16)
      throw plat::Exception("Invalid ExpiryTime in cache");
    rdr::MemInStream in(times.data(), times.length());
    plat::Time expiry = (plat::Time)in.readU64();
    plat::Time preferUntil = (plat::Time)in.readU64();
    plat::MBuf<unsigned char> body = packageSection(package, "BootstrapCache");
    BootstrapConfigPtr config(new BootstrapConfig(body.length(), body.data(),
                                                  &vendorConfig_.trustManager(), sourceUrl.str(),
                                                  BootstrapConfig::Signature::Required));
    if (expiry > plat::addTimeSat(plat::getTime(), config->maxAge()))
      throw plat::Exception("expiryTime in cache exceeds age of the config");
    plat::MBuf<unsigned char> checksum = packageSection(package, "VendorConfigChecksum");
    const plat::MBuf<unsigned char>& expected = vendorConfig_.checksum();
    if (checksum.length() != expected.length() ||
        memcmp(checksum.data(), expected.data(), expected.length()) != 0)
      throw plat::Exception("Checksum of package file does not match that in the cache");
    expiry_ = expiry;
    preferUntil_ = preferUntil;
    config_ = config;
    sourceUrl_ = std::move(sourceUrl);
  } catch (const plat::Exception& e) {
    vlog.info("Unable to read cache: %s", e.str());
    erase();
  }
}

void BootstrapCache::update(const BootstrapConfigPtr& config, int length, const void* body,
                            const char* url, plat::Time expiry, plat::Time preferUntil)
{
  if (!config->isSigned()) {
    vlog.status("Unable to update cache: Bootstrap config is not signed");
    return;
  }
  config_ = config;
  sourceUrl_ = plat::String(url);
  expiry_ = expiry;
  preferUntil_ = preferUntil;
  write(length, body);
}

void BootstrapCache::write(int length, const void* body)
{
  if (!store_)
    return;
  try {
    PackageWriter package;
    package.setSection("BootstrapCache", body, length);
    unsigned char times[16];
    for (int i = 0; i < 8; i++) {
      times[i] = (unsigned char)((uint64_t)expiry_ >> (56 - 8 * i));
      times[8 + i] = (unsigned char)((uint64_t)preferUntil_ >> (56 - 8 * i));
    }
    package.setSection("ExpiryTime", times, sizeof(times));
    const plat::MBuf<unsigned char>& checksum = vendorConfig_.checksum();
    package.setSection("VendorConfigChecksum", checksum.data(), checksum.length());
    package.setSection("SourceUrl", sourceUrl_.str(), plat::strLen(sourceUrl_.str()));
    rdr::MemOutStream out;
    package.write(out);
    store_->write(kFileName, out.data(), (int)out.length());
  } catch (const plat::Exception& e) {
    vlog.info("Unable to write to cache: %s", e.str());
    store_->remove(kFileName);
  }
}

void BootstrapCache::erase()
{
  if (store_) {
    try {
      store_->remove(kFileName);
    } catch (const plat::Exception& e) {
      vlog.info("Unable to erase cache: %s", e.str());
    }
  }
  config_ = BootstrapConfigPtr();
  sourceUrl_ = plat::String();
  expiry_ = 0;
  preferUntil_ = 0;
}

} // namespace hosted
