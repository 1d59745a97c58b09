#include "hosted/HostedBootstrap.h"

#include <string.h>

#include "hosted/HostedBootstrapInfo.h"
#include "hosted/HostedClientContext.h"
#include "plat/Log.h"

namespace hosted {

namespace {

plat::LogSrc vlog("HostedBootstrap");

HostedException blankError()
{
  return HostedException(HostedException::kNoError, "GeneralError", nullptr);
}

} // namespace

HostedBootstrap::HostedBootstrap(const HostedClientContextPtr& context, HostedHttpSession& session,
                                 HostedBootstrapCallback* callback)
  : context_(context), vendorBootstrap_(context->vendorConfig().bootstrapConfig()),
    session_(session), callback_(callback), progress_(context->principal()),
    lastError_(blankError()), successTimer_(this), failureTimer_(this), nextTimer_(this)
{
  progress_.addConfig(vendorBootstrap_);
}

HostedBootstrap::~HostedBootstrap() = default;

void HostedBootstrap::start()
{
  attempts_ = 0;
  resume();
}

void HostedBootstrap::resume()
{
  if (progress_.discoveryEmpty())
    scheduleNext(0);
  else
    successTimer_.start(0);
}

void HostedBootstrap::eraseCache()
{
  context_->bootstrapCache().erase();
}

void HostedBootstrap::scheduleNext(int delayMs)
{
  if (request_)
    return;
  if (attempts_ >= hostedBootstrapMaxAttempts.getValue()) {
    lastError_ = HostedBootstrapException("BTPBootstrapLimit", nullptr);
    failureTimer_.start(0);
    return;
  }
  attempts_++;
  nextTimer_.start(delayMs);
}

void HostedBootstrap::tryNext()
{
  BootstrapCache& cache = context_->bootstrapCache();
  const char* preferred = cache.isPreferred() ? cache.sourceUrl() : nullptr;
  if (progress_.bootstrapEmpty()) {
    vlog.status("Bootstrap failed");
    if (lastError_.getCategory() == HostedException::kNoError)
      lastError_ = HostedBootstrapException("BTPNoBootstrap", nullptr);
    failureTimer_.start(0);
    return;
  }
  const char* url = progress_.nextBootstrap(preferred);
  request_ = std::make_unique<BootstrapRequest>(*context_, session_, this, url);
  vlog.log(100, "Trying %s...", url);
}

bool HostedBootstrap::timerExpired(plat::Timer* timer)
{
  // The owner may delete this from inside its callback: nothing follows.
  if (timer == &successTimer_)
    callback_->discoveryReady(progress_.nextDiscovery());
  else if (timer == &failureTimer_)
    callback_->bootstrapFailed(HostedException(HostedException::kBootstrap, lastError_));
  else
    tryNext();
  return false;
}

void HostedBootstrap::bootstrapReceived(BootstrapRequest*, const BootstrapConfigPtr& config)
{
  progress_.succeededCurrent();
  // config belongs to the caller, not to the request.
  request_.reset();
  lastError_ = blankError();
  bool added = false;
  try {
    progress_.addConfig(*config);
    added = true;
  } catch (const HostedException& e) {
    lastError_ = e;
  } catch (const plat::Exception& e) {
    lastError_ = HostedException(HostedException::kBootstrap, nullptr, e.str());
  }
  if (!added) {
    vlog.log(100, "%s", lastError_.str());
    eraseCache();
    scheduleNext(0);
  } else if (progress_.discoveryEmpty()) {
    scheduleNext(0);
  } else {
    successTimer_.start(0);
  }
}

void HostedBootstrap::bootstrapRequestFailed(BootstrapRequest*, const HostedException& error)
{
  lastError_ = error;
  vlog.status("%s", error.str());
  request_.reset();
  eraseCache();
  if (strcmp(error.getKind(), "Network") == 0 ||
      strcmp(error.getKind(), "HTTPInternalServerError") == 0)
    progress_.blacklistCurrent();
  scheduleNext(100);
}

} // namespace hosted
