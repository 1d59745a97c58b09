// The bootstrap information front end: which values does the bootstrap
// configuration give for a named parameter (a service kind such as
// "enterprise/auth-uris"), handed to the caller one per request so that a
// caller whose value failed can ask for the next.
//
// The candidate bootstrap addresses and their order are repeatable per host
// (seeded from the short host name), the cached address first; the
// configurations are fetched one at a time through bootstrap requests, the
// first usable one gives the values, `_HostedBootstrapInfoOverride` values
// first. No value is handed out twice by one object; a new object is a new
// search that starts from the cache again.
//
// The caller gets exactly one of serviceFound or bootstrapFailed per start,
// from the loop, and may delete this object from inside either. The
// context, session and callback are borrowed and must outlive it; it owns
// its current request. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>
#include <vector>

#include "hosted/BootstrapConfig.h"
#include "hosted/BootstrapRequest.h"
#include "hosted/HostedException.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"
#include "plat/Timer.h"

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

class HostedBootstrapInfo : public plat::Timer::Callback, public BootstrapRequestCallback {
public:
  // discoveryKey names the bootstrap parameter whose values are wanted.
  HostedBootstrapInfo(const HostedClientContext& context, HostedHttpSession& session,
                      HostedBootstrapInfoCallback* callback, const char* discoveryKey);
  ~HostedBootstrapInfo() override;
  HostedBootstrapInfo(const HostedBootstrapInfo&) = delete;
  HostedBootstrapInfo& operator=(const HostedBootstrapInfo&) = delete;

  // Asks for the next value after delayMs; error (may be null) is what the
  // previous value ran into and is reported when nothing is left. Fatal
  // while a request runs or the timer is set.
  void start(const HostedException* error, int delayMs);
  // Drops the current request and the timer; nothing is reported.
  void cancel();

  // The bootstrap addresses still to try, the next one last.
  const std::vector<plat::String>& candidates() const { return candidates_; }
  // A value the caller used already (one it remembered), never handed out.
  void addUsed(const char* value) { handedOut_.insert(plat::String(value)); }

  // The parameters and back-off of the last configuration received.
  const BootstrapConfig::Parameters& parameters() const { return parameters_; }
  uint32_t maxBackoffSecs() const { return maxBackoffSecs_; }

private:
  bool timerExpired(plat::Timer* timer) override;
  void bootstrapReceived(BootstrapRequest* request, const BootstrapConfigPtr& config) override;
  void bootstrapRequestFailed(BootstrapRequest* request, const HostedException& error) override;

  void tryNext();
  void handOut();
  // "BTPNoBootstrap", or the caller's error when it gave one.
  void fail(const char* detail);

  const HostedClientContext& context_;
  HostedHttpSession& session_;
  HostedBootstrapInfoCallback* callback_;
  plat::String discoveryKey_;
  uint64_t seed_;
  bool built_ = false;
  BootstrapConfig::Parameters parameters_;
  uint32_t maxBackoffSecs_ = 300;
  std::vector<plat::String> values_;
  plat::StringSet handedOut_;
  std::vector<plat::String> candidates_;
  HostedException lastError_;
  bool errorGiven_ = false;
  std::unique_ptr<BootstrapRequest> request_;
  plat::Timer fetchTimer_;
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
// (the next one last): its ";"-separated items not yet handed out, each
// once, shuffled, then the override items (overrideText, "key=value" items
// separated by ";") for key, which so come first. False when the
// configuration has no such parameter.
bool hostedBootstrapValues(std::vector<plat::String>& values, const plat::StringSet& handedOut,
                           const BootstrapConfig& config, const char* key,
                           const char* overrideText, uint64_t seed);

} // namespace hosted
