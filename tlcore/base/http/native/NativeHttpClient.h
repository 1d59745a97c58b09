// The HTTP/1.1 client: one TLS connector factory (or none, for plain
// "http"), a pool of keep-alive connections per destination ("%s://%s" of
// scheme and Host value), proxies through the process's proxy settings, and
// HAR capture of finished exchanges when `_HttpHarDump` is on.
//
// Ownership: the client owns the factory and the pool; requests belong to
// their callers and must be gone before the client. Loop thread only.
#pragma once

#include <memory>

#include "http/HttpClient.h"
#include "http/SslConnectorFactory.h"
#include "io/IoPool.h"
#include "plat/ConfigParameter.h"
#include "plat/Time.h"

namespace http {

extern plat::IntParameter httpMaxResourceSize;
extern plat::BoolParameter httpHarDump;

class NativeHttpRequest;

class NativeHttpClient : public HttpClient, public io::IoPool::Factory {
public:
  static constexpr unsigned kMaxIdlePerDestination = 2;
  static constexpr unsigned kIdleTimeoutMs = 60000;
  static constexpr int kReuseWaitMs = 2000;

  explicit NativeHttpClient(std::unique_ptr<SslConnectorFactory> factory);
  ~NativeHttpClient() override;

  // --- HttpClient
  std::unique_ptr<HttpRequest> newRequest(const char* method, const char* url) override;
  SslConnectorFactory* getSslConnectorFactory() override { return sslFactory_.get(); }
  void closeIdleConnections() override;
  // Lets a client with a TLS factory serve plain "http" too (the hosted
  // client fetches signed bootstrap documents over either).
  void allowPlainHttp() { plainHttpAllowed_ = true; }

  // --- For its requests
  io::IoPool& pool() { return pool_; }
  // Adds a finished exchange to the HAR file when `_HttpHarDump` is on; a
  // failure to write is logged.
  void recordHar(HttpRequest* request);

protected:
  // --- io::IoPool::Factory: a new connection to "http://..." or
  // "https://...", through the proxy settings; null for anything else.
  std::unique_ptr<io::IoConnector> makeConnector(const char* destination) override;
  // A connector following the proxy settings, or direct TCP when they
  // cannot be read.
  virtual std::unique_ptr<io::IoConnector> newTcpConnector(const char* host, int port);

private:
  bool plainHttpAllowed_;
  std::unique_ptr<SslConnectorFactory> sslFactory_;
  io::IoPool pool_;
  plat::Time creationTime_;
  plat::String harPageId_;
};

} // namespace http
