#include "io/ProxyFetcherConnector.h"

#include "io/Endpoint.h"
#include "io/ProxyChoice.h"
#include "io/Socks5Connector.h"
#include "io/TcpConnector.h"
#include "loc/Localize.h"
#include "plat/Log.h"

namespace io {

static plat::LogSrc vlog("ProxyFetcherConnector");

ProxyFetcherConnector::ProxyFetcherConnector(const char* host, int port,
                                             std::unique_ptr<ProxyFetcher> fetcher,
                                             HttpTunnelMaker httpTunnel)
    : host_(unbracketHost(host ? host : "")), port_(port), fetcher_(std::move(fetcher)),
      httpTunnel_(httpTunnel)
{
}

ProxyFetcherConnector::~ProxyFetcherConnector()
{
  cancel();
}

const char* ProxyFetcherConnector::methodName(bool localised)
{
  if (connectedFlag_ && connector_)
    return connector_->methodName(localised);
  return localised ? LOC_TR("io_proxy_connection_desc") : "Direct TCP via proxy settings";
}

void ProxyFetcherConnector::begin()
{
  if (fetcher_)
    fetcher_->fetch(this);
}

void ProxyFetcherConnector::fetched(ProxyFetcher* from, const char* url,
                                    const ProxyCredentials& credentials)
{
  std::unique_ptr<ProxyFetcher> done;
  if (from == fetcher_.get())
    done = std::move(fetcher_); // released once this answer is used
  std::unique_ptr<IoConnector> inner;
  try {
    ProxyChoice choice = chooseProxy(url, credentials);
    const ProxyCredentials& cred = choice.credentials;
    bool haveCred = !cred.user.isNull() || !cred.password.isNull();
    plat::String proxyName = choice.proxyName();
    std::unique_ptr<ProxyTcpConnector> viaProxy;
    switch (choice.kind) {
    case ProxyChoice::Direct:
      inner = std::make_unique<TcpConnector>(host_.str(), port_);
      break;
    case ProxyChoice::HttpConnect:
      if (!httpTunnel_)
        throw plat::Exception("HTTP proxies are not supported here");
      viaProxy = httpTunnel_(host_.str(), port_, proxyName.str(), cred.prompt);
      break;
    case ProxyChoice::Socks5:
      viaProxy = std::make_unique<Socks5Connector>(host_.str(), port_, proxyName.str(), IoPtr(),
                                                   cred.prompt);
      break;
    }
    if (viaProxy) {
      if (haveCred)
        viaProxy->setCredentials(cred.user.str(), cred.password.str());
      inner = std::move(viaProxy);
    }
  } catch (plat::Exception& e) {
    vlog.error("Error connecting to proxy: %s", e.str());
    IoConnectorBase::failed(e);
    return;
  }
  connector_ = std::move(inner);
  connector_->start(this);
}

void ProxyFetcherConnector::fetchFailed(ProxyFetcher*, const plat::Exception& error)
{
  cancel();
  IoConnectorBase::failed(error);
}

void ProxyFetcherConnector::connected(IoConnector*, IoPtr io)
{
  connectedFlag_ = true;
  succeeded(std::move(io));
}

void ProxyFetcherConnector::failed(IoConnector*, const plat::Exception& error)
{
  // The error may belong to the inner connector: report before releasing it.
  fetcher_.reset();
  timer_.stop();
  std::unique_ptr<IoConnector> old = std::move(connector_);
  IoConnectorBase::failed(error);
}

void ProxyFetcherConnector::cancel()
{
  fetcher_.reset();
  connector_.reset();
  timer_.stop();
}

std::unique_ptr<IoConnector> newProxyConnector(ProxySettingsProvider* provider, const char* host,
                                               int port, ProxyPasswdPrompt* prompt,
                                               HttpTunnelMaker httpTunnel)
{
  std::unique_ptr<ProxyFetcher> fetcher = getProxyFetcher(provider, host, port, prompt);
  return std::make_unique<ProxyFetcherConnector>(host, port, std::move(fetcher), httpTunnel);
}

} // namespace io
