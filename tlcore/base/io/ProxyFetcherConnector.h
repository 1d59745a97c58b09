// The proxy-aware connection maker: asks a proxy fetcher which proxy serves
// the target, then runs the matching inner connector (direct TCP, HTTP
// CONNECT or SOCKS 5) and passes its result up. HTTP CONNECT belongs to the
// HTTP layer above, which hands its maker in.
//
// Owns the fetcher until it answers and the inner connector until this
// object goes. Reports once, as its last action. Loop thread only.
#pragma once

#include <memory>

#include "io/Io.h"
#include "io/ProxySettings.h"
#include "io/ProxyTcpConnector.h"
#include "plat/String.h"

namespace io {

// Makes a connector that tunnels to host:port through the HTTP proxy proxy
// ("host:port") with CONNECT.
using HttpTunnelMaker = std::unique_ptr<ProxyTcpConnector> (*)(const char* host, int port,
                                                               const char* proxy,
                                                               ProxyPasswdPrompt* prompt);

class ProxyFetcherConnector : public IoConnectorBase,
                              private ProxyFetcherCallback,
                              private IoConnected {
public:
  // Without an httpTunnel, an HTTP proxy fails the connect.
  ProxyFetcherConnector(const char* host, int port, std::unique_ptr<ProxyFetcher> fetcher,
                        HttpTunnelMaker httpTunnel);
  ~ProxyFetcherConnector() override;

  // "Direct TCP via proxy settings" until the inner connector has
  // connected, then the inner connector's name.
  const char* methodName(bool localised) override;

protected:
  void begin() override;
  void cancel() override;

private:
  void fetched(ProxyFetcher* fetcher, const char* url,
               const ProxyCredentials& credentials) override;
  void fetchFailed(ProxyFetcher* fetcher, const plat::Exception& error) override;
  void connected(IoConnector* connector, IoPtr io) override;
  void failed(IoConnector* connector, const plat::Exception& error) override;

  plat::String host_;
  int port_;
  std::unique_ptr<ProxyFetcher> fetcher_;
  HttpTunnelMaker httpTunnel_;
  std::unique_ptr<IoConnector> connector_;
  bool connectedFlag_ = false;
};

// Runs proxy discovery for host:port now and returns a connector that
// connects through the proxy found. Throws plat::Exception for a provider's
// malformed server text.
std::unique_ptr<IoConnector> newProxyConnector(ProxySettingsProvider* provider, const char* host,
                                               int port, ProxyPasswdPrompt* prompt,
                                               HttpTunnelMaker httpTunnel);

} // namespace io
