#include "io/ProxyChoice.h"

#include <string.h>

#include "io/Endpoint.h"
#include "plat/Log.h"

namespace io {

static plat::LogSrc vlog("ProxyFetcherConnector");

plat::String ProxyChoice::proxyName() const
{
  if (kind == Direct)
    return plat::String("");
  return plat::format("%s:%d", bracketHost(proxyHost.str()).str(), proxyPort);
}

ProxyChoice chooseProxy(const char* url, const ProxyCredentials& credentials)
{
  EndpointUri uri(url);
  ProxyChoice choice;
  choice.credentials = credentials;
  if (!uri.password.isNull())
    choice.credentials.password = uri.password;
  if (!uri.user.isNull() && plat::strCmpNull(uri.user.get(), credentials.user.get()) != 0)
    choice.credentials.user = uri.user;

  const char* scheme = uri.scheme.str();
  int defaultPort;
  if (!*scheme || strcmp(scheme, "direct") == 0) {
    vlog.info("Using direct connection");
    return choice;
  } else if (strcmp(scheme, "http") == 0) {
    vlog.info("Using HTTP CONNECT proxy %s", uri.hostPort.str());
    choice.kind = ProxyChoice::HttpConnect;
    defaultPort = 80;
  } else if (strcmp(scheme, "socks") == 0 || strcmp(scheme, "socks5") == 0) {
    vlog.info("Using SOCKS 5 proxy %s", uri.hostPort.str());
    choice.kind = ProxyChoice::Socks5;
    defaultPort = 1080;
  } else {
    vlog.error("Unknown proxy type '%s', using direct", scheme);
    return choice;
  }
  plat::String host;
  parseEndpointName(uri.hostPort.get(), host, &choice.proxyPort, defaultPort, 0);
  choice.proxyHost = unbracketHost(host.str());
  return choice;
}

} // namespace io
