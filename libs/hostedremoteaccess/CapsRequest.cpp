#include "hostedremoteaccess/CapsRequest.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hostedremoteaccess/JsonErrors.h"
#include "http/HttpError.h"
#include "io/Endpoint.h"
#include "plat/Exception.h"
#include "plat/Log.h"

namespace hostedremoteaccess {

plat::IntParameter
    hostedCapsMaxAttempts("_HostedCapsMaxAttempts",
                          "Maximum number of node attempts of a hosted service call.", 6,
                          plat::ParamLevel::kBasic, nullptr, 1, 2147483647);

namespace {

plat::LogSrc vlog("CapsRequest");

// A server's Retry-After is obeyed up to this long per wait; a whole call,
// waits and new nodes included, ends after kCallLimitMs.
constexpr int kMaxRetryAfterMs = 300000;
constexpr int kCallLimitMs = 600000;

const char* fixedText(const char* kind)
{
  if (strcmp(kind, "CAPSBadRedirect") == 0)
    return "Bad redirect";
  if (strcmp(kind, "CAPSNoCreds") == 0)
    return "Credentials required but not available";
  return nullptr;
}

bool isKind(const hosted::HostedException& e, const char* kind)
{
  return strcmp(e.getKind(), kind) == 0;
}

// Proxy refusals that another node would meet as well.
bool proxyRefused(const hosted::HostedException& e)
{
  for (const char* k : {"AuthenticationUnsupported", "BadProtocol", "ConnectDenied",
                        "AuthenticationFailed", "AuthenticationRequired"})
    if (strcmp(e.getProxyFailureKind(), k) == 0)
      return true;
  return false;
}

hosted::HostedException applicationError(const plat::Exception& e)
{
  if (const hosted::HostedException* h = dynamic_cast<const hosted::HostedException*>(&e))
    return hosted::HostedException(hosted::HostedException::kApplication, *h);
  return hosted::HostedException(hosted::HostedException::kApplication, e);
}

} // namespace

CapsException::CapsException(const char* kind)
    : HostedException(kApplication, kind, fixedText(kind))
{
}

bool CapsRequest::DummyCapsCredProvider::getBearerToken(const char** t)
{
  *t = token.get();
  return !token.isNull();
}

bool CapsRequest::DummyCapsCredProvider::getBasicCredentials(const char** u, const char** p)
{
  *u = user.get();
  *p = password.get();
  return !user.isNull() && !password.isNull();
}

CapsRequest::CapsRequest(CapsClient* client, unsigned kind, const char* path,
                         CapsRequestCallback* callback, const char* method,
                         const plat::MBuf<unsigned char>& body)
    : client_(client), kind_(kind), path_(path), method_(method), body_(body), callback_(callback),
      dummyProvider_(client),
      bootstrapInfo_(new hosted::HostedBootstrapInfo(*client->context(), *client->httpSession(),
                                                     this, CapsClient::kindName(kind))),
      retryTimer_(this), noCredsTimer_(this), deadlineTimer_(this)
{
}

CapsRequest::CapsRequest(CapsCredProvider* provider, unsigned kind, const char* path,
                         CapsRequestCallback* callback, bool credentialsRequired,
                         const char* method, const plat::MBuf<unsigned char>& body)
    : CapsRequest(provider->client, kind, path, callback, method, body)
{
  credProvider_ = provider;
  credentialsRequired_ = credentialsRequired;
}

CapsRequest::~CapsRequest() = default;

void CapsRequest::setBasicCredentials(const char* user, const char* password)
{
  CapsCredProvider* credPdr = credProvider_;
  PLAT_ASSERT(!credPdr);
  dummyProvider_.user = plat::SecureString(user);
  dummyProvider_.password = plat::SecureString(password);
  credProvider_ = &dummyProvider_;
  credentialsRequired_ = true;
}

void CapsRequest::setBearerToken(const char* token)
{
  CapsCredProvider* credPdr = credProvider_;
  PLAT_ASSERT(!credPdr);
  dummyProvider_.token = plat::SecureString(token);
  credProvider_ = &dummyProvider_;
  credentialsRequired_ = true;
}

void CapsRequest::start()
{
  const char* recorded = client_->getUrl(kind_);
  if (plat::strCmpNull(recorded, baseUrl_.get()) != 0)
    baseUrl_ = plat::String(recorded);
  attempts_ = 1;
  deadlineTimer_.start(kCallLimitMs);
  if (!baseUrl_.isNull()) {
    bootstrapInfo_->addUsed(baseUrl_.get());
    send((std::string(baseUrl_.get()) + path_.str()).c_str());
  } else {
    bootstrapInfo_->start(nullptr, 0);
  }
}

const char* CapsRequest::getResponseHeader(const char* name) const
{
  auto it = responseHeaders_.find(plat::String(name));
  return it == responseHeaders_.end() ? nullptr : it->second.get();
}

plat::String CapsRequest::nextPageParam(const char* name) const
{
  return linkNextPageParam(getResponseHeader("Link"), name);
}

void CapsRequest::send(const char* url)
{
  hostedRequest_.reset();
  hostedRequest_ = std::make_unique<hosted::HostedRequest>(
      *client_->httpSession(), url, this, *client_->context(), hosted::HostedRequest::Auth::kNone,
      method_.get(), body_, "application/json");
  currentUrl_ = plat::String(url);
  if (credProvider_) {
    struct {
      const char* url;
      bool isSecure() const { return strncmp(url, "https://", 8) == 0; }
    } attempt{url}, *request = &attempt;
    PLAT_ASSERT(request->isSecure());
    credentialsApplied_ = true;
    const char* token = nullptr;
    const char* user = nullptr;
    const char* password = nullptr;
    if (credProvider_->getBearerToken(&token)) {
      hostedRequest_->setHeader("Authorization", (std::string("Bearer ") + token).c_str());
    } else if (credProvider_->getBasicCredentials(&user, &password)) {
      hostedRequest_->setCredentials(user, password);
    } else {
      credentialsApplied_ = false;
      if (credentialsRequired_) {
        noCredsTimer_.start(0);
        return;
      }
    }
  }
  hostedRequest_->send();
}

void CapsRequest::serviceFound(const char* url)
{
  try {
    io::EndpointUri uri(url);
    if (plat::strCmpNull(uri.scheme.get(), "https") != 0)
      throw plat::Exception(0, "Illegal service scheme '%s'", uri.scheme.str());
    plat::String host;
    int port = 0;
    io::parseEndpointName(uri.hostPort.str(), host, &port, 443, 0);
  } catch (plat::Exception& e) {
    hosted::HostedException error(hosted::HostedException::kBootstrap, "GeneralError", e.str());
    bootstrapInfo_->start(&error, 0);
    return;
  }
  baseUrl_ = plat::String(url);
  client_->recordUrl(kind_, url, (int)bootstrapInfo_->maxBackoffSecs(),
                     bootstrapInfo_->parameters());
  send((std::string(url) + path_.str()).c_str());
}

void CapsRequest::bootstrapFailed(const hosted::HostedException& error)
{
  finish(false, error);
}

bool CapsRequest::acceptStatus(hosted::HostedRequest*, int)
{
  return true;
}

void CapsRequest::requestSucceeded(hosted::HostedRequest*, const http::SharedBytes& body,
                                   const char*)
{
  std::unique_ptr<hosted::HostedRequest> done(std::move(hostedRequest_));
  http::HttpRequest& http = done->httpRequest();
  const int status = http.getStatus();
  hosted::HostedException error(hosted::HostedException::kApplication, http::HttpError(status));
  clockSkew_ = serverClockSkew(http.getResponseHeader("Date"));

  if ((isKind(error, "HTTPTooManyRequests") || isKind(error, "HTTPServiceUnavailable")) &&
      retryAfterCount_ <= 10) {
    int delay = std::min(retryAfterMs(http.getResponseHeader("Retry-After"), clockSkew_),
                         kMaxRetryAfterMs);
    if (delay >= 0) {
      vlog.info("Retrying request for %s in %dms", path_.str(), delay);
      retryAfterCount_++;
      retryTimer_.start(delay);
      callback_->capsRetrying(delay);
      return;
    }
  }
  if ((isKind(error, "HTTPInternalServerError") || isKind(error, "HTTPServiceUnavailable")) &&
      attempts_ < hostedCapsMaxAttempts) {
    newNode(error);
    return;
  }
  bool answered = true;
  if (isKind(error, "HTTPTemporaryRedirect") || isKind(error, "HTTPPermanentRedirect")) {
    if (followRedirect(http.getResponseHeader("Location")))
      return;
    error = CapsException("CAPSBadRedirect");
    answered = false;
  }
  if (body)
    responseBody_ = *body;
  responseHeaders_ = http.getResponseHeaders();
  status_ = status;
  finish(answered, error);
}

void CapsRequest::requestFailed(hosted::HostedRequest*, const plat::Exception& cause)
{
  hosted::HostedException error = applicationError(cause);
  std::unique_ptr<hosted::HostedRequest> done(std::move(hostedRequest_));
  if (isKind(error, "Network") && !proxyRefused(error) && attempts_ < hostedCapsMaxAttempts) {
    newNode(error);
    return;
  }
  finish(false, error);
}

void CapsRequest::newNode(const hosted::HostedException& error)
{
  vlog.info("Retrying request for %s with a new node, request failed: %s", path_.str(),
            error.str());
  attempts_++;
  redirectCount_ = 0;
  client_->clearUrl(kind_);
  bootstrapInfo_->start(&error, 100);
}

bool CapsRequest::followRedirect(const char* location)
{
  if (!location) {
    vlog.error("Redirect missing Location header");
    return false;
  }
  if (redirectCount_ >= 5) {
    vlog.error("Too many redirects");
    return false;
  }
  plat::String scheme;
  try {
    scheme = io::EndpointUri(location).scheme;
  } catch (plat::Exception& e) {
    vlog.error("Redirect error: %s", e.str());
    return false;
  }
  // A body (a sign-in ticket) or credentials go over TLS only.
  if ((credProvider_ || body_.length() > 0) && !scheme.isNull() &&
      strcmp(scheme.get(), "https") != 0) {
    vlog.error("Redirect not secure");
    return false;
  }
  vlog.info("Following redirect to %s", location);
  redirectCount_++;
  send(scheme.isNull() ? (std::string(baseUrl_.str()) + location).c_str() : location);
  return true;
}

bool CapsRequest::timerExpired(plat::Timer* timer)
{
  if (timer == &retryTimer_) {
    plat::String url(currentUrl_.get());
    send(url.get());
  } else if (timer == &deadlineTimer_) {
    vlog.error("Request for %s timed out", path_.str());
    hostedRequest_.reset();
    retryTimer_.stop();
    noCredsTimer_.stop();
    bootstrapInfo_->cancel();
    finish(false, hosted::HostedException(hosted::HostedException::kApplication,
                                          plat::Exception("Timed out fetching resource")));
  } else {
    finish(false, CapsException("CAPSNoCreds"));
  }
  return false;
}

void CapsRequest::finish(bool answered, const hosted::HostedException& error)
{
  deadlineTimer_.stop();
  std::unique_ptr<CapsCredResult> result;
  CapsCredProvider::Listener* listener = nullptr;
  if (credentialsApplied_) {
    result = answered ? credProvider_->requestSucceeded(this)
                      : credProvider_->requestFailed(this, error);
    if (credProvider_->listener && credProvider_->listener->wantsOutcome(this))
      listener = credProvider_->listener;
  }
  // The callback may destroy this: only locals after it.
  if (answered && callback_->capsAcceptStatus(this, status_)) {
    callback_->capsResponse(this, responseBody_, getResponseHeader("Content-Type"));
    if (listener)
      listener->credentialsAccepted();
  } else {
    callback_->capsFailed(this, error);
    if (listener && result)
      listener->credentialsRejected(result.get());
  }
}

plat::String linkNextPageParam(const char* link, const char* name)
{
  if (!link || !name)
    return plat::String();
  const char* open = strchr(link, '<');
  const char* close = open ? strchr(open + 1, '>') : nullptr;
  if (!close || (!strstr(close + 1, "rel=\"next\"") && !strstr(close + 1, "rel=next")))
    return plat::String();
  plat::String address(open + 1, (int)(close - open - 1));
  try {
    io::EndpointUri uri(address.get());
    io::UriParams params = io::parseUriQuery(uri.query.get(), true);
    auto it = params.find(plat::String(name));
    return it == params.end() ? plat::String() : plat::String(it->second.get());
  } catch (plat::Exception&) {
    return plat::String();
  }
}

} // namespace hostedremoteaccess
