// Hosted requests: every HTTPS call to a hosted service goes through one
// HostedRequest, which dresses an http::HttpRequest with the headers the
// services expect ("Accept" with the BED media type first, the business
// identifier as operation identifier, a fresh action identifier, optional
// authorisation), applies `HostedRequestTimeout`, dumps bodies and headers
// to the log when `_HostedRequestDump` asks, and hands its owner either the
// body of an accepted status or the error.
//
// Beside it: the HTTP session all hosted requests of one client share
// (HostedHttpSession, owning the HTTP client whose TLS connections come from
// HostedSslFactory: the context's client certificate is presented and only
// the vendor configuration's certificates are trusted), and the two body
// formatters of the dumps.
//
// A request is owned by its caller, sent once and answered once from the
// loop; destroying it cancels the exchange without a callback, and the
// callback may destroy it from inside. The session must outlive its
// requests. Loop thread only; nothing is locked.
#pragma once

#include <stdint.h>

#include <memory>

#include "hosted/Bed.h"
#include "hosted/HostedClientContext.h"
#include "http/HttpClient.h"
#include "http/SslConnectorFactory.h"
#include "plat/ConfigParameter.h"
#include "plat/String.h"

namespace hosted {

class BootstrapClient;
class HostedRequest;

// `HostedRequestTimeout` (seconds) and `_HostedRequestDump` (0 none, 1
// non-empty bodies, 2 everything with headers).
extern plat::IntParameter hostedRequestTimeout;
extern plat::IntParameter hostedRequestDump;

// Turns a body into the text a dump logs.
class HostedFormatCallback {
public:
  virtual ~HostedFormatCallback();
  virtual plat::String format(const char* contentType, const http::Bytes& body) = 0;
};

// The BED notation, whatever the content type.
class BedFormatCallback : public HostedFormatCallback {
public:
  static BedFormatCallback& instance();
  plat::String format(const char* contentType, const http::Bytes& body) override;
};

// JSON written back for logs; a content type without "json" is formatted
// as BED.
class JsonFormatCallback : public HostedFormatCallback {
public:
  plat::String format(const char* contentType, const http::Bytes& body) override;
};

// What the owner of a hosted request implements. Called from the loop;
// none of them may throw.
class HostedRequestCallback {
public:
  // body is the response body; contentType its "Content-Type" or null.
  virtual void requestSucceeded(HostedRequest* request, const http::SharedBytes& body,
                                const char* contentType) = 0;
  // For a refused status, error is an http::HttpError.
  virtual void requestFailed(HostedRequest* request, const plat::Exception& error) = 0;
  virtual bool acceptStatus(HostedRequest* request, int status) = 0;
  virtual ~HostedRequestCallback();
};

// The TLS connectors of hosted HTTPS: the public HTTPS verifier, the
// vendor configuration's trust manager, and the context's client identity
// when it has both a certificate and a key.
class HostedSslFactory : public http::SslConnectorFactory {
public:
  explicit HostedSslFactory(const HostedClientContextPtr& context) : context_(context) {}
  // A client certificate or key that does not parse throws its parser's
  // error; a key that needs a password counts as none.
  std::unique_ptr<io::IoConnector> newConnector(std::unique_ptr<io::IoConnector> inner,
                                                const char* serverName) override;

private:
  HostedClientContextPtr context_;
};

// The HTTP client (and bootstrap client) that all hosted requests of one
// client share.
class HostedHttpSession {
public:
  // formatCallback (may be null) is borrowed.
  HostedHttpSession(const HostedClientContextPtr& context, HostedFormatCallback* formatCallback);
  ~HostedHttpSession();
  HostedHttpSession(const HostedHttpSession&) = delete;
  HostedHttpSession& operator=(const HostedHttpSession&) = delete;

  http::HttpClient& httpClient() { return *httpClient_; }
  BootstrapClient& bootstrapClient() { return *bootstrapClient_; }
  HostedFormatCallback* formatCallback() const { return formatCallback_; }

private:
  // Declared first: the bootstrap client's requests go before the client.
  std::unique_ptr<http::HttpClient> httpClient_;
  std::unique_ptr<BootstrapClient> bootstrapClient_;
  HostedFormatCallback* formatCallback_;
};

class HostedRequest : public http::HttpCallback {
public:
  enum class Auth { kNone, kAuthenticate };

  // An unsent request; an empty body sends none. Authenticated requests
  // carry the context's bearer token, or Basic credentials, and must go to
  // an "https://" url (fatal otherwise). callback and context are borrowed.
  // A secure body (a ticket, a password) makes the exchange secret: the
  // dump shows neither of its bodies, as it never shows secret headers.
  HostedRequest(HostedHttpSession& session, const char* url, HostedRequestCallback* callback,
                const HostedClientContext& context, Auth auth, const char* method,
                const http::Bytes& body, const char* contentType);
  ~HostedRequest() override;
  HostedRequest(const HostedRequest&) = delete;
  HostedRequest& operator=(const HostedRequest&) = delete;

  // Dumps the request when asked to, then starts it.
  void send();

  // --- Before send
  // The exchange may take ms plus a quarter of it (at most 15 s) plus 15 s.
  void setTimeout(int ms);
  void setCredentials(const char* user, const char* secret);
  void setHeader(const char* name, const char* value);
  // "Connection: close" on a connection the pool opened for this exchange.
  void closeReusedConnection();

  // The milliseconds of `HostedRequestTimeout`, and of setTimeout(ms).
  static int configuredTimeoutMs();
  static int extendedTimeoutMs(int ms);

  // --- Queries
  const char* url() const { return url_.get(); }
  // Since the exchange started.
  int64_t elapsedMs() const;
  http::HttpRequest& httpRequest() { return *request_; }

private:
  // --- http::HttpCallback
  bool acceptStatus(http::HttpRequest* request, int status) override;
  void requestComplete(http::HttpRequest* request) override;
  void requestFailed(http::HttpRequest* request, plat::Exception* error) override;

  void dumpRequest();
  void dumpResponse(const http::SharedBytes& body);
  void logBody(const char* contentType, const http::Bytes& body);
  void logHeaders(const http::HeaderMap& headers);

  std::unique_ptr<http::HttpRequest> request_;
  HostedFormatCallback* formatCallback_;
  HostedRequestCallback* callback_;
  plat::String url_;
  bool secret_;
};

// text when it is only ASCII letters and digits, else "_" and the URL-safe
// base64 of its bytes without padding. Null is fatal.
plat::String quotePrincipal(const char* text);

} // namespace hosted
