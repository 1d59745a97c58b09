// Bootstrap fetches. A BootstrapRequest is what a driver holds for one
// fetch of one bootstrap address: on the loop's next pass it is answered
// from the fresh bootstrap cache when that came from the same address, or
// handed to the session's BootstrapClient, which keeps at most one GET in
// flight per address, verifies the answer once (acceptBootstrapAnswer:
// signature, validity, cache refresh) and tells every waiting request.
//
// Ownership: the driver owns its request and may delete it at any time,
// from inside its own callback too (a deleted request is simply not told);
// a callback must not delete another request waiting on the same fetch.
// The session owns the client, which owns the open HTTP requests. Answers
// always come from the loop, never from inside a constructor. Loop thread.
#pragma once

#include <memory>
#include <vector>

#include "hosted/BootstrapConfig.h"
#include "hosted/HostedException.h"
#include "hosted/HostedRequest.h"
#include "plat/Timer.h"

namespace hosted {

// Implemented by the drivers of bootstrap requests.
class BootstrapRequestCallback {
public:
  // config is verified and shared.
  virtual void bootstrapReceived(BootstrapRequest* request, const BootstrapConfigPtr& config) = 0;
  // error has category "Bootstrap".
  virtual void bootstrapRequestFailed(BootstrapRequest* request, const HostedException& error) = 0;
  virtual ~BootstrapRequestCallback() = default;

protected:
  BootstrapRequestCallback() = default;
};

class BootstrapRequest : public plat::Timer::Callback {
public:
  // Starts on the next pass; context, session and callback are borrowed.
  BootstrapRequest(const HostedClientContext& context, HostedHttpSession& session,
                   BootstrapRequestCallback* callback, const char* url);
  // Leaves the fetch it waits on; the fetch goes on for the others.
  ~BootstrapRequest() override;
  BootstrapRequest(const BootstrapRequest&) = delete;
  BootstrapRequest& operator=(const BootstrapRequest&) = delete;

  const char* url() const { return url_.get(); }
  // Handed to the network rather than served from the cache.
  bool isSent() const { return sent_; }

private:
  friend class BootstrapClient;

  bool timerExpired(plat::Timer* timer) override;

  const HostedClientContext& context_;
  HostedHttpSession& session_;
  BootstrapRequestCallback* callback_;
  plat::String url_;
  plat::Timer timer_;
  bool sent_ = false;
};

// The open bootstrap GETs of one session, each shared by every request
// waiting for its address.
class BootstrapClient : public HostedRequestCallback {
public:
  BootstrapClient(HostedHttpSession& session, const HostedClientContextPtr& context);
  ~BootstrapClient() override;
  BootstrapClient(const BootstrapClient&) = delete;
  BootstrapClient& operator=(const BootstrapClient&) = delete;

  // Adds request to the waiters of the fetch of url, starting one when
  // none is open. Throws what making the HTTP request throws.
  void attach(const char* url, BootstrapRequest* request);
  void detach(BootstrapRequest* request);

  size_t openFetches() const { return fetches_.size(); }

private:
  struct Fetch {
    std::unique_ptr<HostedRequest> request;
    std::vector<BootstrapRequest*> waiters;
  };

  // --- HostedRequestCallback
  bool acceptStatus(HostedRequest* request, int status) override;
  void requestSucceeded(HostedRequest* request, const http::SharedBytes& body,
                        const char* contentType) override;
  void requestFailed(HostedRequest* request, const plat::Exception& error) override;

  // Removes the fetch of request (fatal when there is none, reported at
  // line); its waiters and its request are handed out.
  Fetch take(HostedRequest* request, int line);
  // Tells the waiters, the last attached first; a waiter detached
  // meanwhile is skipped.
  template <class F> void tell(std::vector<BootstrapRequest*>& waiters, F&& fn);

  HostedHttpSession& session_;
  HostedClientContextPtr context_;
  std::vector<Fetch> fetches_;
  // The waiters being told, if any.
  std::vector<BootstrapRequest*>* telling_ = nullptr;
};

// The configuration in the body of an accepted answer from url: a signature
// is required unless url is https, and checked against the context's vendor
// configuration; the cache keeps a signed one for its maximum age and
// prefers url for a day. Failures are HostedException of category
// "Bootstrap".
BootstrapConfigPtr acceptBootstrapAnswer(const HostedClientContext& context, const char* url,
                                         int length, const void* body);

} // namespace hosted
