#include "hosted/HostedException.h"

#include <string.h>

#include "http/HttpError.h"
#include "http/HttpUtil.h"
#include "io/ProxyError.h"
#include "plat/String.h"
#include "plat/utf8.h"

namespace hosted {

namespace {

const char* const kCategories[] = {"NoError",           "Configuration", "Bootstrap",
                                   "Discovery",         "Connection-Broker", "Rendezvous",
                                   "Data-Relay",        "Peer-to-Peer",  "Application"};

const struct {
  const char* kind;
  const char* detail;
} kFixedDetails[] = {
    {"Network", "Network failure"},
    {"BED", "Invalid BED"},
    {"JSON", "Invalid JSON"},
    {"ConfigPkg", "Invalid Bootstrap package"},
    {"AppData", "Handshake could not be started"},
    {"PeerAppData", "Peer sent invalid handshake"},
    {"BTPNoBootstrap", nullptr},
    {"BTPBootstrapLimit", nullptr},
};

const struct {
  int status;
  const char* kind;
} kHttpKinds[] = {
    {201, "HTTPCreated"},
    {202, "HTTPAccepted"},
    {204, "HTTPNoContent"},
    {307, "HTTPTemporaryRedirect"},
    {308, "HTTPPermanentRedirect"},
    {400, "HTTPBadRequest"},
    {401, "HTTPUnauthorized"},
    {402, "HTTPPaymentRequired"},
    {403, "HTTPForbidden"},
    {404, "HTTPNotFound"},
    {405, "HTTPMethodNotAllowed"},
    {409, "HTTPConflict"},
    {410, "HTTPGone"},
    {412, "HTTPPreconditionFailed"},
    {413, "HTTPRequestTooLarge"},
    {429, "HTTPTooManyRequests"},
    {500, "HTTPInternalServerError"},
    {501, "HTTPNotImplemented"},
    {503, "HTTPServiceUnavailable"},
};

const char* fixedDetail(const char* kind)
{
  for (const auto& f : kFixedDetails)
    if (!strcmp(f.kind, kind))
      return f.detail;
  return nullptr;
}

// Copies text into a field of size bytes, cut at a character boundary.
void copyField(char* field, int size, const char* text)
{
  plat::String cut = plat::utf8Sanitise(text, nullptr, size - 1);
  plat::strCopy(field, cut.str(), size);
}

} // namespace

const char* HostedException::categoryName(unsigned category)
{
  return category < sizeof(kCategories) / sizeof(kCategories[0]) ? kCategories[category]
                                                                   : "Unknown";
}

plat::String HostedException::httpKind(int status)
{
  if (status == -1)
    return plat::String("Network");
  for (const auto& k : kHttpKinds)
    if (k.status == status)
      return plat::String(k.kind);
  plat::String kind = plat::format("HTTP%s", http::getReasonPhrase(status));
  plat::strRemoveChars(kind.data(), " ");
  return kind;
}

void HostedException::init(unsigned category, const char* kind)
{
  category_ = category;
  setType("Hosted");
  copyField(kind_, sizeof(kind_), kind ? kind : "GeneralError");
  proxyKind_[0] = 0;
  setMessage(plat::format("Hosted %s error", categoryName(category)).str());
}

HostedException::HostedException(unsigned category, const char* kind, const char* detail)
{
  init(category, kind);
  if (!detail)
    detail = fixedDetail(kind_);
  if (detail)
    appendFmt("%s", detail);
}

HostedException::HostedException(unsigned category, const plat::Exception& cause,
                                 const char* detail)
{
  const http::HttpError* httpError = dynamic_cast<const http::HttpError*>(&cause);
  init(category, httpError ? httpKind(httpError->getStatus()).str() : "Network");
  if (const io::ProxyError* proxy = dynamic_cast<const io::ProxyError*>(&cause))
    copyField(proxyKind_, sizeof(proxyKind_), proxy->getKind());
  if (detail)
    appendFmt("%s", detail);
  else if (const char* fixed = fixedDetail(kind_))
    appendFmt("%s", fixed);
  else if (httpError)
    appendFmt("HTTP %s", http::getReasonPhrase(httpError->getStatus()));
  if (!httpError)
    appendFmt("%s", cause.str());
}

HostedException::HostedException(unsigned category, const HostedException& other)
  : plat::Exception(other), category_(other.category_)
{
  memcpy(kind_, other.kind_, sizeof(kind_));
  memcpy(proxyKind_, other.proxyKind_, sizeof(proxyKind_));
  if (other.category_ == kNoError)
    *this = HostedException(category, "GeneralError", nullptr);
}

HostedBootstrapException::HostedBootstrapException(const plat::Exception& cause)
  : HostedException(kBootstrap, cause)
{
}

namespace {

const char* bootstrapDetail(const char* kind, const char* detail)
{
  if (detail || !kind)
    return detail;
  if (!strcmp(kind, "BTPNoBootstrap"))
    return "No more Bootstrap servers";
  if (!strcmp(kind, "BTPBootstrapLimit"))
    return "Gave up after too many attempts";
  return nullptr;
}

} // namespace

HostedBootstrapException::HostedBootstrapException(const char* kind, const char* detail)
  : HostedException(kBootstrap, kind, bootstrapDetail(kind, detail))
{
}

} // namespace hosted
