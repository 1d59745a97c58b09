// The choice of how to reach a target once a proxy fetcher has answered:
// directly, through an HTTP CONNECT proxy or through a SOCKS 5 proxy. The
// proxy-aware connector builds its inner connector from it. Pure apart
// from logging to "ProxyFetcherConnector"; any thread.
#pragma once

#include "io/ProxySettings.h"
#include "plat/String.h"

namespace io {

struct ProxyChoice {
  enum Kind { Direct, HttpConnect, Socks5 };

  Kind kind = Direct;
  // The proxy's host (brackets removed) and port; empty for Direct.
  plat::String proxyHost;
  int proxyPort = 0;
  // The fetcher's credentials with the URL's user and password put in.
  ProxyCredentials credentials;

  // "host:port" of the proxy, IPv6 in brackets; "" for Direct.
  plat::String proxyName() const;
};

// The choice for a fetched proxy URL: "direct://" or no scheme is Direct;
// "http" an HTTP CONNECT proxy (default port 80); "socks" and "socks5" a
// SOCKS 5 proxy (default port 1080). Any other scheme is logged as an error
// and answered with Direct to the target itself: connecting to the proxy's
// address without speaking its protocol would reach nothing useful. Throws
// io::EndpointInvalid for a malformed URL.
ProxyChoice chooseProxy(const char* url, const ProxyCredentials& credentials);

} // namespace io
