#include "hosted/HostedBootstrapInfo.h"

#include <string.h>

#include <algorithm>

#include "hosted/BootstrapProgress.h"
#include "hosted/HostedClientContext.h"
#include "os/host.h"
#include "plat/Log.h"
#include "rdr/PseudoRandomStream.h"

namespace hosted {

plat::IntParameter
    hostedBootstrapMaxAttempts("_HostedBootstrapMaxAttempts",
                               "Maximum number of Bootstrap attempts before giving up.", 6,
                               plat::ParamLevel::kBasic, nullptr, 1, 2147483647);
plat::StringParameter hostedBootstrapInfoOverride("_HostedBootstrapInfoOverride", "", "");

namespace {

plat::LogSrc vlog("HostedBootstrapInfo");

HostedException generalError()
{
  return HostedException(HostedException::kNoError, "GeneralError", nullptr);
}

} // namespace

HostedBootstrapInfo::HostedBootstrapInfo(const HostedClientContext& context,
                                         HostedHttpSession& session,
                                         HostedBootstrapInfoCallback* callback,
                                         const char* discoveryKey)
  : context_(context), session_(session), callback_(callback), discoveryKey_(discoveryKey),
    seed_(hostedBootstrapSeed()), lastError_(generalError()), fetchTimer_(this)
{
}

HostedBootstrapInfo::~HostedBootstrapInfo() = default;

void HostedBootstrapInfo::start(const HostedException* error, int delayMs)
{
  PLAT_ASSERT_AT(!request_ && !fetchTimer_.isStarted(), "!request.get() && !fetchTimer.isStarted()",
                 "libs/hosted/HostedBootstrapInfo", __LINE__);
  errorGiven_ = error != nullptr;
  lastError_ = error ? *error : generalError();
  if (!built_) {
    built_ = true;
    const BootstrapCache& cache = context_.bootstrapCache();
    const char* cached = cache.config() ? cache.sourceUrl() : nullptr;
    candidates_ = hostedBootstrapCandidates(context_.vendorConfig().bootstrapConfig(), cached, seed_,
                                            hostedBootstrapMaxAttempts.getValue());
  }
  fetchTimer_.start(delayMs);
}

void HostedBootstrapInfo::cancel()
{
  request_.reset();
  fetchTimer_.stop();
}

bool HostedBootstrapInfo::timerExpired(plat::Timer*)
{
  if (values_.empty() && candidates_.empty()) {
    if (errorGiven_)
      callback_->bootstrapFailed(lastError_);
    else
      callback_->bootstrapFailed(HostedException(HostedException::kConfiguration, "ConfigPkg", nullptr));
    return false;
  }
  tryNext();
  return false;
}

void HostedBootstrapInfo::handOut()
{
  // A copy: the caller may delete this object from inside.
  plat::String value(std::move(values_.back()));
  values_.pop_back();
  handedOut_.insert(plat::String(value.str()));
  callback_->serviceFound(value.str());
}

void HostedBootstrapInfo::tryNext()
{
  if (!values_.empty()) {
    handOut();
    return;
  }
  plat::String url(std::move(candidates_.back()));
  candidates_.pop_back();
  request_ = std::make_unique<BootstrapRequest>(context_, session_, this, url.str());
  vlog.log(100, "Trying %s...", url.str());
}

void HostedBootstrapInfo::fail(const char* detail)
{
  if (errorGiven_)
    callback_->bootstrapFailed(lastError_);
  else
    callback_->bootstrapFailed(HostedBootstrapException("BTPNoBootstrap", detail));
}

void HostedBootstrapInfo::bootstrapReceived(BootstrapRequest* request,
                                            const BootstrapConfigPtr& config)
{
  if (request->isSent())
    candidates_.clear();
  request_.reset();
  parameters_ = config->parameters();
  maxBackoffSecs_ = config->maxBackoffSecs();
  bool found = hostedBootstrapValues(values_, handedOut_, *config, discoveryKey_.str(),
                                     hostedBootstrapInfoOverride.getValue(), seed_);
  if (!found) {
    vlog.error("Ignoring config with missing parameter %s", discoveryKey_.str());
    fail("Invalid Bootstrap config for product");
  } else if (values_.empty()) {
    vlog.log(100, "Ignoring config with no new values");
    fail(nullptr);
  } else {
    handOut();
  }
}

void HostedBootstrapInfo::bootstrapRequestFailed(BootstrapRequest*, const HostedException& error)
{
  request_.reset();
  if (strcmp(error.getKind(), "Network") == 0)
    vlog.log(100, "Bootstrap network failure");
  else
    vlog.error("Bootstrap failed: %s", error.str());
  if (candidates_.empty())
    callback_->bootstrapFailed(error);
  else
    tryNext();
}

uint64_t hostedBootstrapSeed()
{
  return plat::fnv1aHash(os::getShortHostName().str());
}

std::vector<plat::String> hostedBootstrapCandidates(const BootstrapConfig& vendorBootstrap,
                                                    const char* cachedUrl, uint64_t seed,
                                                    int maxAttempts)
{
  std::vector<plat::String> candidates;
  rdr::PseudoRandomStream rng(seed, true);
  for (const plat::String& base : vendorBootstrap.bootstrapUris()) {
    if (cachedUrl && plat::strStartsWith(cachedUrl, base.str()))
      continue;
    uint32_t index = rng.readU32Below((uint32_t)vendorBootstrap.configCount());
    candidates.push_back(plat::format("%s/%u", base.str(), index));
  }
  shuffleWithSeed(candidates, seed);
  if (cachedUrl)
    candidates.emplace_back(cachedUrl);
  if (maxAttempts >= 0 && candidates.size() > (size_t)maxAttempts)
    candidates.resize(maxAttempts);
  return candidates;
}

namespace {

bool contains(const std::vector<plat::String>& list, const char* text)
{
  return std::any_of(list.begin(), list.end(),
                     [&](const plat::String& s) { return strcmp(s.str(), text) == 0; });
}

} // namespace

bool hostedBootstrapValues(std::vector<plat::String>& values, const plat::StringSet& handedOut,
                           const BootstrapConfig& config, const char* key,
                           const char* overrideText, uint64_t seed)
{
  std::vector<plat::String> overrides;
  plat::String items(overrideText ? overrideText : "");
  char* cursor = items.data();
  while (cursor) {
    char* item = plat::strTok(&cursor, ';');
    char* eq = strchr(item, '=');
    if (!eq)
      continue;
    *eq = 0;
    const char* value = eq + 1;
    if (strcmp(item, key) == 0 && !handedOut.count(plat::String(value)) &&
        !contains(overrides, value))
      overrides.emplace_back(value);
  }

  const char* entry = config.parameter(key);
  if (entry) {
    std::vector<plat::String> added;
    plat::StringSet seen;
    plat::String text(entry);
    char* c = text.data();
    while (c) {
      plat::String item(plat::strTok(&c, ';'));
      if (*item.str() && !handedOut.count(item) && !contains(overrides, item.str()) &&
          seen.insert(item).second)
        added.push_back(std::move(item));
    }
    shuffleWithSeed(added, seed);
    values.insert(values.end(), added.begin(), added.end());
  }
  values.insert(values.end(), overrides.begin(), overrides.end());
  return entry != nullptr;
}

} // namespace hosted
