#include "http/native/NativeHttpClient.h"

#include <string.h>

#include "http/HarDocument.h"
#include "http/HttpConnectConnector.h"
#include "http/native/NativeHttpRequest.h"
#include "io/Endpoint.h"
#include "io/IpInfo.h"
#include "io/ProxyFetcherConnector.h"
#include "io/ProxySettings.h"
#include "io/TcpConnector.h"
#include "os/PersistentStore.h"
#include "plat/DString.h"
#include "plat/Log.h"

namespace http {

namespace {

plat::LogSrc vlog("HttpClient");

const char kHarItem[] = "httpRequests.har";

bool operator==(const plat::String& a, const char* b)
{
  return strcmp(a.str(), b) == 0;
}

} // namespace

plat::IntParameter httpMaxResourceSize("_HttpMaxResourceSize", "", 1073741824,
                                       plat::ParamLevel::kBasic, nullptr, 0, 2147483647);
plat::BoolParameter httpHarDump("_HttpHarDump", "", false);

HttpCallback::~HttpCallback() = default;

void HttpCallback::bodyReceived(HttpRequest*, int, const unsigned char*) {}
HttpRequest::~HttpRequest() = default;
HttpClient::~HttpClient() = default;

const char* HttpRequest::getResponseHeader(const char* name)
{
  const HeaderMap& headers = getResponseHeaders();
  auto it = headers.find(plat::String(name));
  return it == headers.end() ? nullptr : it->second.get();
}

std::unique_ptr<NativeHttpClient> createHttpClient(std::unique_ptr<SslConnectorFactory> factory)
{
  return std::make_unique<NativeHttpClient>(std::move(factory));
}

NativeHttpClient::NativeHttpClient(std::unique_ptr<SslConnectorFactory> factory)
    : plainHttpAllowed_(!factory), sslFactory_(std::move(factory)),
      pool_(this, kMaxIdlePerDestination, kIdleTimeoutMs), creationTime_(plat::getTime())
{
}

NativeHttpClient::~NativeHttpClient() = default;

std::unique_ptr<HttpRequest> NativeHttpClient::newRequest(const char* method, const char* url)
{
  io::EndpointUri s(url);
  const char* scheme = s.scheme.str();
  PLAT_CHECK(s.scheme == "http" || s.scheme == "https");
  if (!s.fragment.isNull())
    throw plat::Exception("should not send request with fragment");
  bool https = s.scheme == "https";
  if (https ? !sslFactory_ : !plainHttpAllowed_)
    throw plat::ExceptionFmt("Scheme %s not supported by this HTTP client", scheme);
  plat::String host = io::normaliseEndpointName(s.hostPort.str(), https ? 443 : 80);
  plat::DString destination, fullUrl;
  destination.appendf("%s://%s", scheme, host.str());
  plat::String target = io::uriPathAndQuery(s.path.str(), s.query.get());
  fullUrl.appendf("%s%s", destination.get(), target.str());
  auto request = std::make_unique<NativeHttpRequest>(
      this, fullUrl.get(), host.str(), destination.get(), s.path.str(), s.query.get(), method);
  if (!s.user.isNull() && !s.password.isNull())
    request->setBasicAuth(s.user.str(), s.password.str());
  if (kMaxIdlePerDestination < 1)
    request->setHeader("Connection", "close");
  return request;
}

void NativeHttpClient::closeIdleConnections()
{
  pool_.closeIdle();
}

std::unique_ptr<io::IoConnector> NativeHttpClient::makeConnector(const char* destination)
{
  io::EndpointUri d(destination);
  if (d.scheme.isNull())
    return nullptr;
  plat::String host;
  int port = 0;
  if (d.scheme == "http") {
    io::parseEndpointName(d.hostPort.str(), host, &port, 80, 0);
    return newTcpConnector(host.str(), port);
  }
  if (d.scheme == "https") {
    PLAT_ASSERT(sslFactory_.get());
    io::parseEndpointName(d.hostPort.str(), host, &port, 443, 0);
    plat::String serverName;
    if (!io::isNumericAddress(io::unbracketHost(host.str()).str()))
      serverName = io::formatEndpointName(host.str(), port, -1, -1);
    return sslFactory_->newConnector(newTcpConnector(host.str(), port), serverName.get());
  }
  return nullptr;
}

std::unique_ptr<io::IoConnector> NativeHttpClient::newTcpConnector(const char* host, int port)
{
  try {
    return io::newProxyConnector(io::proxySettingsProvider(), host, port, nullptr,
                                 &newHttpConnectConnector);
  } catch (plat::Exception& e) {
    vlog.error("Unable to read proxy settings: %s", e.str());
    return std::make_unique<io::TcpConnector>(host, port);
  }
}

void NativeHttpClient::recordHar(HttpRequest* request)
{
  if (!httpHarDump)
    return;
  HarDocument* document = HarDocument::instance();
  if (harPageId_.isNull())
    harPageId_ = document->addPage(creationTime_);
  document->addEntry(harPageId_.str(), request);
  // The exchange has succeeded whatever becomes of its record.
  try {
    std::unique_ptr<char[]> text(document->toString(plat::JsonValue::kCompact));
    os::PersistentStore::getDefault().write(kHarItem, text.get(), (int)strlen(text.get()));
  } catch (plat::Exception& e) {
    vlog.error("Unable to write %s: %s", kHarItem, e.str());
  }
}

} // namespace http
