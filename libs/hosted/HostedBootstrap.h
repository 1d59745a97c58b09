// The hosted bootstrap driver: turns the vendor configuration's bootstrap
// configuration into one usable discovery address. It fetches signed
// bootstrap configurations one at a time in the order the bootstrap
// progress gives (the cached address first while it is preferred), learns
// further bootstrap and discovery addresses from each one received,
// blacklists a server that fails at the network or with an internal server
// error, and gives up after `_HostedBootstrapMaxAttempts` requests.
//
// The owner gets exactly one of discoveryReady or bootstrapFailed per start,
// from a timer, and may delete the driver from inside either. The driver
// owns its progress and its current request; the session and callback are
// borrowed and must outlive it. Loop thread only.
#pragma once

#include <stdint.h>

#include <memory>

#include "hosted/BootstrapConfig.h"
#include "hosted/BootstrapProgress.h"
#include "hosted/BootstrapRequest.h"
#include "hosted/HostedException.h"
#include "plat/Timer.h"

namespace hosted {

// What the owner of a HostedBootstrap implements.
class HostedBootstrapCallback {
public:
  virtual void discoveryReady(const char* discoveryUri) = 0;
  // error has category "Bootstrap".
  virtual void bootstrapFailed(const HostedException& error) = 0;
  virtual ~HostedBootstrapCallback() = default;
};

class HostedBootstrap : public plat::Timer::Callback, public BootstrapRequestCallback {
public:
  // The progress starts with the vendor configuration's addresses and is
  // seeded from the context's principal.
  HostedBootstrap(const HostedClientContextPtr& context, HostedHttpSession& session,
                  HostedBootstrapCallback* callback);
  ~HostedBootstrap() override;
  HostedBootstrap(const HostedBootstrap&) = delete;
  HostedBootstrap& operator=(const HostedBootstrap&) = delete;

  // Counts attempts from 0, then goes on as resume does.
  void start();
  // The next discovery address when one is known, else the next fetch.
  void resume();
  // "btp/max-backoff-secs" of the last configuration received.
  uint32_t maxBackoffSecs() const { return progress_.maxBackoffSecs(); }
  void eraseCache();

  int attempts() const { return attempts_; }

private:
  bool timerExpired(plat::Timer* timer) override;
  void bootstrapReceived(BootstrapRequest* request, const BootstrapConfigPtr& config) override;
  void bootstrapRequestFailed(BootstrapRequest* request, const HostedException& error) override;

  void scheduleNext(int delayMs);
  void tryNext();

  HostedClientContextPtr context_;
  BootstrapConfig vendorBootstrap_;
  HostedHttpSession& session_;
  HostedBootstrapCallback* callback_;
  BootstrapProgress progress_;
  int attempts_ = 0;
  HostedException lastError_;
  std::unique_ptr<BootstrapRequest> request_;
  plat::Timer successTimer_;
  plat::Timer failureTimer_;
  plat::Timer nextTimer_;
};

} // namespace hosted
