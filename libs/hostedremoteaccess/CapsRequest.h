// One logical call to a hosted service of a kind (CapsClient): finds the
// service's base address (the one the client recorded, else the next one
// bootstrap and discovery name), sends one hosted request to that address
// followed by the call's path, then waits and retries on 429/503 with
// Retry-After (at most 300 s a wait), moves to an unused node after network
// failures, 500 and 503, follows 307/308 redirects, and hands the answer to
// its callback. A call still unanswered after 600 s fails as timed out.
//
// The client and callback are borrowed and must outlive the request.
// Exactly one of capsResponse and capsFailed follows start(); the callback
// may destroy the request from either. Destroying the request at any time
// ends it without a callback. Loop thread.
#pragma once

#include <stdint.h>

#include <memory>

#include "hosted/HostedBootstrapInfo.h"
#include "hosted/HostedException.h"
#include "hosted/HostedRequest.h"
#include "hostedremoteaccess/CapsClient.h"
#include "http/HttpClient.h"
#include "plat/ConfigParameter.h"
#include "plat/MBuf.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace hostedremoteaccess {

class CapsRequest;

// `_HostedCapsMaxAttempts`: the most node attempts of one request.
extern plat::IntParameter hostedCapsMaxAttempts;

// A hosted error of the application stage; "CAPSBadRedirect" and
// "CAPSNoCreds" have fixed texts.
class CapsException : public hosted::HostedException {
public:
  explicit CapsException(const char* kind);
};

// What the caller of a capabilities request implements. None may throw.
class CapsRequestCallback {
public:
  virtual void capsResponse(CapsRequest* request, const plat::MBuf<unsigned char>& body,
                            const char* contentType) = 0;
  virtual void capsFailed(CapsRequest* request, const hosted::HostedException& error) = 0;
  virtual bool capsAcceptStatus(CapsRequest* request, int status) = 0;
  virtual void capsRetrying(int delayMs) = 0;
  virtual ~CapsRequestCallback() = default;
};

// What a credential provider makes of an outcome, for its listener.
class CapsCredResult {
public:
  virtual ~CapsCredResult() = default;
};

// Where the credentials of a request's attempts come from.
class CapsCredProvider {
public:
  // Told how the credentials fared when wantsOutcome says so.
  class Listener {
  public:
    virtual bool wantsOutcome(CapsRequest* request) = 0;
    virtual void credentialsRejected(CapsCredResult* result) = 0;
    virtual void credentialsAccepted() = 0;

  protected:
    ~Listener() = default;
  };

  explicit CapsCredProvider(CapsClient* client) : client(client) {}
  virtual ~CapsCredProvider() = default;
  virtual bool getBearerToken(const char** token) = 0;
  virtual bool getBasicCredentials(const char** user, const char** password) = 0;
  // What the listener is told about (may be null).
  virtual std::unique_ptr<CapsCredResult> requestSucceeded(CapsRequest* request) = 0;
  virtual std::unique_ptr<CapsCredResult> requestFailed(CapsRequest* request,
                                                        const hosted::HostedException& error) = 0;

  CapsClient* client;
  Listener* listener = nullptr;
};

class CapsRequest : public hosted::HostedBootstrapInfoCallback,
                    public hosted::HostedRequestCallback,
                    public plat::Timer::Callback {
public:
  CapsRequest(CapsClient* client, unsigned kind, const char* path, CapsRequestCallback* callback,
              const char* method, const plat::MBuf<unsigned char>& body);
  // Every attempt asks provider (borrowed) for credentials.
  CapsRequest(CapsCredProvider* provider, unsigned kind, const char* path,
              CapsRequestCallback* callback, bool credentialsRequired, const char* method,
              const plat::MBuf<unsigned char>& body);
  ~CapsRequest() override;
  CapsRequest(const CapsRequest&) = delete;
  CapsRequest& operator=(const CapsRequest&) = delete;

  // --- Before start, while no provider is set (fatal otherwise)
  void setBasicCredentials(const char* user, const char* password);
  void setBearerToken(const char* token);

  // Once.
  void start();

  // --- The answer (case-insensitive names; null when absent)
  const char* getResponseHeader(const char* name) const;
  int status() const { return status_; }
  // The value of name in the rel="next" address of the "Link" header.
  plat::String nextPageParam(const char* name) const;

private:
  class DummyCapsCredProvider : public CapsCredProvider {
  public:
    explicit DummyCapsCredProvider(CapsClient* client) : CapsCredProvider(client) {}
    bool getBearerToken(const char** token) override;
    bool getBasicCredentials(const char** user, const char** password) override;
    std::unique_ptr<CapsCredResult> requestSucceeded(CapsRequest*) override { return nullptr; }
    std::unique_ptr<CapsCredResult> requestFailed(CapsRequest*,
                                                  const hosted::HostedException&) override
    {
      return nullptr;
    }

    plat::SecureString token, user, password;
  };

  // --- hosted::HostedBootstrapInfoCallback
  void serviceFound(const char* url) override;
  void bootstrapFailed(const hosted::HostedException& error) override;
  // --- hosted::HostedRequestCallback
  void requestSucceeded(hosted::HostedRequest* request, const http::SharedBytes& body,
                        const char* contentType) override;
  void requestFailed(hosted::HostedRequest* request, const plat::Exception& error) override;
  bool acceptStatus(hosted::HostedRequest* request, int status) override;
  // --- plat::Timer::Callback
  bool timerExpired(plat::Timer* timer) override;

  void send(const char* url);
  void newNode(const hosted::HostedException& error);
  bool followRedirect(const char* location);
  void finish(bool answered, const hosted::HostedException& error);

  CapsClient* client_;
  unsigned kind_;
  plat::String path_;
  plat::String method_;
  plat::MBuf<unsigned char> body_;
  CapsRequestCallback* callback_;
  CapsCredProvider* credProvider_ = nullptr;
  DummyCapsCredProvider dummyProvider_;
  bool credentialsRequired_ = false;
  std::unique_ptr<hosted::HostedBootstrapInfo> bootstrapInfo_;
  std::unique_ptr<hosted::HostedRequest> hostedRequest_;
  plat::String baseUrl_;
  plat::String currentUrl_;
  plat::Timer retryTimer_;
  plat::Timer noCredsTimer_;
  plat::Timer deadlineTimer_;
  bool credentialsApplied_ = false;
  int attempts_ = 0;
  int retryAfterCount_ = 0;
  int redirectCount_ = 0;
  http::HeaderMap responseHeaders_;
  int status_ = -1;
  plat::MBuf<unsigned char> responseBody_;
  int64_t clockSkew_ = 0;
};

// nextPageParam on the text of a "Link" header; null without a rel="next"
// address holding name (also for a malformed address or query).
plat::String linkNextPageParam(const char* link, const char* name);

} // namespace hostedremoteaccess
