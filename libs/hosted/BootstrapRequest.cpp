#include "hosted/BootstrapRequest.h"

#include "hosted/HostedClientContext.h"
#include "hosted/HostedException.h"
#include "plat/Log.h"
#include "plat/calendar.h"

namespace hosted {

namespace {

plat::LogSrc vlog("BootstrapRequest");

} // namespace

BootstrapConfigPtr acceptBootstrapAnswer(const HostedClientContext& context, const char* url,
                                         int length, const void* body)
{
  try {
    BootstrapConfig::Signature signature = plat::strStartsWith(url, "https://")
                                               ? BootstrapConfig::Signature::Optional
                                               : BootstrapConfig::Signature::Required;
    BootstrapConfigPtr config(new BootstrapConfig(
        length, body, &context.vendorConfig().trustManager(), url, signature));
    if (!config->isValidNow()) {
      struct tm tm;
      plat::timeToTmUtc(&tm, config->validFrom());
      vlog.error("Bootstrap configuration is not yet valid (valid from %04d-%02d-%02dT%02d:%02d:%02dZ)",
                 tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    }
    plat::Time now = plat::getTime();
    context.bootstrapCache().update(config, length, body, url,
                                    plat::saturateTicks((__int128)now + config->maxAge()),
                                    plat::saturateTicks((__int128)now + BootstrapCache::kPreferPeriod));
    return config;
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::kBootstrap, nullptr, e.str());
  }
}

} // namespace hosted
