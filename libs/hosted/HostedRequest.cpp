#include "hosted/HostedRequest.h"

#include <string.h>
#include <strings.h>

#include <algorithm>

#include "hosted/Bed.h"
#include "hosted/BootstrapRequest.h"
#include "http/HttpError.h"
#include "http/native/NativeHttpClient.h"
#include "plat/ConfigParameter.h"
#include "plat/Json.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "plat/Uuid.h"
#include "plat/encodings.h"
#include "ssl/SslCertificate.h"
#include "ssl/SslConnector.h"
#include "ssl/SslPrivateKey.h"
#include "ssl/SslVerifier.h"

namespace hosted {

plat::IntParameter
    hostedRequestTimeout("HostedRequestTimeout",
                         "The timeout for requests to the hosted services (in seconds).", 15,
                         plat::ParamLevel::kBasic, nullptr, 0, 2147483647);
plat::IntParameter hostedRequestDump("_HostedRequestDump", "", 0, plat::ParamLevel::kBasic, nullptr,
                                     0, 2147483647);

namespace {

plat::LogSrc vlog("HostedRequest");

constexpr int kLogLevel = 30;

// A header whose value the dump must not show.
bool secretHeader(const char* name)
{
  return plat::isSecretName(name) || strcasecmp(name, "Authorization") == 0;
}

bool isAlnum(unsigned char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

plat::String pemText(const plat::MBuf<unsigned char>& bytes)
{
  return plat::String((const char*)bytes.data(), bytes.length());
}

} // namespace

// --- Formatters --------------------------------------------------------------

HostedFormatCallback::~HostedFormatCallback() = default;

BedFormatCallback& BedFormatCallback::instance()
{
  static BedFormatCallback callback;
  return callback;
}

plat::String BedFormatCallback::format(const char* contentType, const http::Bytes& body)
{
  return formatBed(body.length(), body.data(), contentType);
}

plat::String JsonFormatCallback::format(const char* contentType, const http::Bytes& body)
{
  if (contentType && !strstr(contentType, "json"))
    return BedFormatCallback::instance().format(contentType, body);
  plat::String out;
  plat::formatJson(out, body.data(), body.length(), contentType, false);
  return out;
}

HostedRequestCallback::~HostedRequestCallback() = default;

// --- TLS and the session -----------------------------------------------------

std::unique_ptr<io::IoConnector>
HostedSslFactory::newConnector(std::unique_ptr<io::IoConnector> inner, const char* serverName)
{
  std::unique_ptr<ssl::ClientIdentity> identity;
  const HostedClientContext& context = *context_;
  if (context.clientCertificate().length() > 0 && context.clientKey().length() > 0) {
    ssl::SslCertificatePtr certificate =
        ssl::SslCertificate::createFromPem(pemText(context.clientCertificate()).str());
    plat::SecureString keyPem(pemText(context.clientKey()).str());
    ssl::SslPrivateKeyPtr key = ssl::SslPrivateKey::createFromPem(keyPem.str(), nullptr);
    if (key)
      identity = std::make_unique<ssl::ClientIdentity>(ssl::ClientIdentity{certificate, key});
  }
  return std::make_unique<ssl::SslConnector>(
      std::move(inner), &ssl::SslPublicHttpsVerifier::instance(),
      &context.vendorConfig().trustManager(), serverName, std::move(identity));
}

HostedHttpSession::HostedHttpSession(const HostedClientContextPtr& context,
                                     HostedFormatCallback* formatCallback)
  : formatCallback_(formatCallback)
{
  std::unique_ptr<http::NativeHttpClient> client =
      http::createHttpClient(std::make_unique<HostedSslFactory>(context));
  // Signed bootstrap documents may come over plain http.
  client->allowPlainHttp();
  httpClient_ = std::move(client);
  bootstrapClient_ = std::make_unique<BootstrapClient>(*this, context);
}

HostedHttpSession::~HostedHttpSession() = default;

// --- The request -------------------------------------------------------------

HostedRequest::HostedRequest(HostedHttpSession& session, const char* url,
                             HostedRequestCallback* callback, const HostedClientContext& context,
                             Auth auth, const char* method, const http::Bytes& body,
                             const char* contentType)
  : request_(session.httpClient().newRequest(method, url)),
    formatCallback_(session.formatCallback()), callback_(callback), url_(url),
    secret_(body.isSecure())
{
  if (body.length() > 0)
    request_->setBody(contentType, body);
  request_->setTimeout(configuredTimeoutMs());

  bool authenticate = auth == Auth::kAuthenticate;
  if (authenticate) {
    if (context.bearerToken()) {
      plat::SecureString value(plat::format("Bearer %s", context.bearerToken()).str());
      if (context.secret()) {
        plat::SecureString secret64(plat::binToBase64(
            (int)strlen(context.secret()), (const unsigned char*)context.secret(), false).str());
        value.assign(plat::format("%s:%s", value.str(), secret64.str()).str());
      }
      request_->setHeader("Authorization", value.str());
    } else if (context.secret()) {
      request_->setBasicAuth(context.principal(), context.secret());
    }
  }

  request_->setHeader("Tessaly-Business-Operation-ID", context.businessId());
  unsigned char uuid[plat::Uuid::kSize];
  plat::Uuid::generate(uuid);
  plat::String actionId = plat::Uuid::toString(uuid, true);
  request_->setHeader("Tessaly-API-Action-ID", actionId.str());
  vlog.log(100, "%s: %s [%p]", "Tessaly-API-Action-ID", actionId.str(), (void*)this);
  request_->setHeader("Accept", plat::format("%s, application/json, */*;q=0.5", kBedMediaType).str());

  bool isSecure = plat::strStartsWith(url, "https://");
  PLAT_ASSERT_AT(isSecure || !authenticate, "isSecure() || !authenticate",
                 "libs/hosted/HostedRequest", 92);
}

HostedRequest::~HostedRequest() = default;

void HostedRequest::send()
{
  dumpRequest();
  request_->start(this);
}

int HostedRequest::configuredTimeoutMs()
{
  int seconds = hostedRequestTimeout.getValue();
  return seconds > 2147483 ? 2147483647 : seconds * 1000;
}

int HostedRequest::extendedTimeoutMs(int ms)
{
  int64_t total = (int64_t)ms + std::min(ms / 4, 15000) + 15000;
  return (int)std::min<int64_t>(total, 2147483647);
}

void HostedRequest::setTimeout(int ms)
{
  request_->setTimeout(extendedTimeoutMs(ms));
}

void HostedRequest::setCredentials(const char* user, const char* secret)
{
  request_->setBasicAuth(user, secret);
}

void HostedRequest::setHeader(const char* name, const char* value)
{
  request_->setHeader(name, value);
}

void HostedRequest::closeReusedConnection()
{
  request_->setCloseNewConnection();
}

int64_t HostedRequest::elapsedMs() const
{
  return (plat::getMonoTime() - request_->getStartTime()) / 10000;
}

void HostedRequest::logBody(const char* contentType, const http::Bytes& body)
{
  if (body.length() == 0 || !formatCallback_)
    return;
  if (secret_)
    vlog.log(kLogLevel, "%s", plat::kHiddenValue);
  else
    vlog.writeLines(kLogLevel, formatCallback_->format(contentType, body).str());
}

void HostedRequest::logHeaders(const http::HeaderMap& headers)
{
  for (const auto& h : headers)
    vlog.log(kLogLevel, "%s: %s", h.first.str(),
             secretHeader(h.first.str()) ? plat::kHiddenValue : h.second.str());
}

void HostedRequest::dumpRequest()
{
  int level = hostedRequestDump.getValue();
  const http::Bytes& body = request_->getRequestBody();
  if ((level != 1 && level != 2) || (level == 1 && body.length() == 0))
    return;
  vlog.log(kLogLevel, "[%p] Request data for %s:", (void*)request_.get(), url_.str());
  const http::HeaderMap& headers = request_->getRequestHeaders();
  if (level == 2)
    logHeaders(headers);
  auto type = headers.find(plat::String("Content-Type"));
  if (type != headers.end())
    logBody(type->second.str(), body);
}

void HostedRequest::dumpResponse(const http::SharedBytes& body)
{
  int level = hostedRequestDump.getValue();
  bool empty = !body || body->length() == 0;
  if (level != 2 && (level != 1 || empty))
    return;
  vlog.log(kLogLevel, "[%p] Response data for %s (%d):", (void*)request_.get(), url_.str(),
           request_->getStatus());
  if (level == 2)
    logHeaders(request_->getResponseHeaders());
  if (!empty)
    logBody(request_->getResponseHeader("Content-Type"), *body);
}

bool HostedRequest::acceptStatus(http::HttpRequest*, int)
{
  return true;
}

void HostedRequest::requestComplete(http::HttpRequest*)
{
  http::SharedBytes body = request_->getResponseBody();
  const char* contentType = request_->getResponseHeader("Content-Type");
  dumpResponse(body);
  int status = request_->getStatus();
  // The callback may destroy this request: nothing of it is touched after.
  HostedRequestCallback* callback = callback_;
  if (callback->acceptStatus(this, status))
    callback->requestSucceeded(this, body, contentType);
  else
    callback->requestFailed(this, http::HttpError(status));
}

void HostedRequest::requestFailed(http::HttpRequest*, plat::Exception* error)
{
  callback_->requestFailed(this, *error);
}

plat::String quotePrincipal(const char* text)
{
  PLAT_ASSERT_AT(text, "principal", "libs/hosted/HostedRequest", __LINE__);
  size_t length = strlen(text);
  if (std::all_of(text, text + length, [](char c) { return isAlnum((unsigned char)c); }))
    return plat::String(text);
  return plat::format("_%s", plat::binToBase64((int)length, (const unsigned char*)text, true).str());
}

} // namespace hosted
