// The bootstrap information front end: which values does the bootstrap
// configuration give for a named parameter (a service kind such as
// "enterprise/auth-uris"), handed to the caller one per request so that a
// caller whose value failed can ask for the next.
//
// This header holds the steps that need no network: the candidate
// bootstrap addresses and their order (repeatable per host: seeded from the
// short host name), and the values taken from a received configuration with
// the `_HostedBootstrapInfoOverride` values first. The driver that fetches
// the configurations through bootstrap requests builds on them.
#pragma once

#include <stdint.h>

#include <vector>

#include "hosted/BootstrapConfig.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"

namespace hosted {

// `_HostedBootstrapMaxAttempts` and `_HostedBootstrapInfoOverride`.
extern plat::IntParameter hostedBootstrapMaxAttempts;
extern plat::StringParameter hostedBootstrapInfoOverride;

// What the caller of the bootstrap information implements.
class HostedBootstrapInfoCallback {
public:
  virtual void serviceFound(const char* value) = 0;
  virtual void bootstrapFailed(const HostedException& error) = 0;
  virtual ~HostedBootstrapInfoCallback() = default;
};

// The seed of this host: FNV-1a of the short host name.
uint64_t hostedBootstrapSeed();

// The bootstrap request addresses to try, the next one last: one "%s/%d"
// per base of the vendor's configuration (a drawn configuration index)
// except the base the cached address (may be null) lies under, shuffled,
// then the cached address; at most maxAttempts of them.
std::vector<plat::String> hostedBootstrapCandidates(const BootstrapConfig& vendorBootstrap,
                                                    const char* cachedUrl, uint64_t seed,
                                                    int maxAttempts);

// Takes the values of a received configuration's parameter key into values
// (the next one last): its ";"-separated items not yet handed out, shuffled,
// then the override items (overrideText, "key=value" items separated by
// ";") for key, which so come first. False when the configuration has no
// such parameter.
bool hostedBootstrapValues(std::vector<plat::String>& values, const plat::StringSet& handedOut,
                           const BootstrapConfig& config, const char* key,
                           const char* overrideText, uint64_t seed);

} // namespace hosted
