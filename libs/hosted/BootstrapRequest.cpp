#include "hosted/BootstrapRequest.h"

#include <string.h>

#include <algorithm>

#include "hosted/HostedClientContext.h"
#include "hosted/HostedException.h"
#include "plat/Log.h"
#include "plat/Time.h"

namespace hosted {

namespace {

plat::LogSrc vlog("BootstrapRequest");

[[noreturn]] void noFetch(int line)
{
  PLAT_FAIL_AT("i != requests.end()", "libs/hosted/BootstrapRequest", line);
}

void erase(std::vector<BootstrapRequest*>& list, BootstrapRequest* request)
{
  list.erase(std::remove(list.begin(), list.end(), request), list.end());
}

} // namespace

// --- BootstrapRequest --------------------------------------------------------

BootstrapRequest::BootstrapRequest(const HostedClientContext& context, HostedHttpSession& session,
                                   BootstrapRequestCallback* callback, const char* url)
  : context_(context), session_(session), callback_(callback), url_(url), timer_(this)
{
  timer_.start(0);
}

BootstrapRequest::~BootstrapRequest()
{
  session_.bootstrapClient().detach(this);
  timer_.stop();
}

bool BootstrapRequest::timerExpired(plat::Timer*)
{
  BootstrapCache& cache = context_.bootstrapCache();
  if (cache.hasFreshConfig() && cache.sourceUrl() && strcmp(cache.sourceUrl(), url_.str()) == 0) {
    vlog.log(100, "Serving Bootstrap response from cache");
    // A copy: the callback may erase the cache.
    BootstrapConfigPtr config = cache.config();
    callback_->bootstrapReceived(this, config);
    return false;
  }
  sent_ = true;
  try {
    session_.bootstrapClient().attach(url_.str(), this);
  } catch (const plat::Exception& e) {
    // An address the HTTP client cannot serve.
    callback_->bootstrapRequestFailed(this, HostedException(HostedException::kBootstrap, nullptr, e.str()));
  }
  return false;
}

// --- BootstrapClient ---------------------------------------------------------

BootstrapClient::BootstrapClient(HostedHttpSession& session, const HostedClientContextPtr& context)
  : session_(session), context_(context)
{
}

BootstrapClient::~BootstrapClient() = default;

void BootstrapClient::attach(const char* url, BootstrapRequest* request)
{
  auto i = std::find_if(fetches_.begin(), fetches_.end(),
                        [&](const Fetch& f) { return strcmp(f.request->url(), url) == 0; });
  if (i != fetches_.end()) {
    vlog.log(100, "Reusing open Bootstrap request");
  } else {
    const char* colon = strchr(url, ':');
    vlog.log(100, "Sending Bootstrap request via %.*s", colon ? (int)(colon - url) : (int)strlen(url),
             url);
    Fetch fetch;
    fetch.request =
        std::make_unique<HostedRequest>(session_, url, this, *context_, HostedRequest::Auth::kNone,
                                        "GET", http::Bytes(), kBedMediaType);
    fetch.request->setHeader("Connection", "close");
    fetch.request->send();
    fetches_.push_back(std::move(fetch));
    i = fetches_.end() - 1;
  }
  if (std::find(i->waiters.begin(), i->waiters.end(), request) == i->waiters.end())
    i->waiters.push_back(request);
}

void BootstrapClient::detach(BootstrapRequest* request)
{
  for (Fetch& f : fetches_)
    erase(f.waiters, request);
  if (telling_)
    erase(*telling_, request);
}

bool BootstrapClient::acceptStatus(HostedRequest*, int status)
{
  return status == 200;
}

BootstrapClient::Fetch BootstrapClient::take(HostedRequest* request, int line)
{
  auto i = std::find_if(fetches_.begin(), fetches_.end(),
                        [&](const Fetch& f) { return f.request.get() == request; });
  if (i == fetches_.end())
    noFetch(line);
  Fetch fetch = std::move(*i);
  fetches_.erase(i);
  return fetch;
}

template <class F> void BootstrapClient::tell(std::vector<BootstrapRequest*>& waiters, F&& fn)
{
  std::vector<BootstrapRequest*>* outer = telling_;
  telling_ = &waiters;
  while (!waiters.empty()) {
    BootstrapRequest* waiter = waiters.back();
    waiters.pop_back();
    fn(waiter);
  }
  telling_ = outer;
}

void BootstrapClient::requestSucceeded(HostedRequest* request, const http::SharedBytes& body,
                                       const char*)
{
  // The finished request stays alive until the waiters are told.
  Fetch fetch = take(request, 86);
  BootstrapConfigPtr config;
  try {
    config = acceptBootstrapAnswer(*context_, fetch.request->url(), body->length(), body->data());
  } catch (const HostedException& e) {
    tell(fetch.waiters, [&](BootstrapRequest* w) { w->callback_->bootstrapRequestFailed(w, e); });
    return;
  }
  tell(fetch.waiters, [&](BootstrapRequest* w) { w->callback_->bootstrapReceived(w, config); });
}

void BootstrapClient::requestFailed(HostedRequest* request, const plat::Exception& error)
{
  HostedBootstrapException wrapped(error);
  Fetch fetch = take(request, 128);
  tell(fetch.waiters, [&](BootstrapRequest* w) { w->callback_->bootstrapRequestFailed(w, wrapped); });
}

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
                                    plat::addTimeSat(now, config->maxAge()),
                                    plat::addTimeSat(now, BootstrapCache::kPreferPeriod));
    return config;
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::kBootstrap, nullptr, e.str());
  }
}

} // namespace hosted
