// One download of the product package: an HTTP GET without a time-out whose
// body (up to 1 GiB, held in memory) the callback takes when it completes,
// with the progress reported every second while it runs and each piece of
// the body passed on as it arrives.
//
// Loop thread only. The client and the callback are borrowed; the request
// is owned and aborted (without a callback) when the download is destroyed.
// The request starts in the constructor, so the outcome arrives later from
// the loop, once: requestComplete or requestFailed. The callback may
// destroy the download from inside any of its calls.
#pragma once

#include <stdint.h>

#include <memory>

#include "http/HttpClient.h"
#include "plat/LivenessToken.h"
#include "plat/Timer.h"

namespace tlOrbSetup {

class Download : public http::HttpCallback, public plat::Timer::Callback {
public:
  class Callback : public http::HttpCallback {
  public:
    // Body bytes so far and the declared length (-1 when unknown).
    virtual void progress(http::HttpRequest* request, int64_t received, int64_t total) = 0;
  };

  static constexpr int kMaxBodySize = 1073741824;
  static constexpr int kProgressIntervalMs = 1000;

  // Throws plat::Exception when the client cannot serve uri.
  Download(Callback* callback, http::HttpClient* client, const char* uri);
  ~Download() override;
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  // Only status 200 is accepted; any other fails the request.
  bool acceptStatus(http::HttpRequest* request, int status) override;
  void requestComplete(http::HttpRequest* request) override;
  void requestFailed(http::HttpRequest* request, plat::Exception* error) override;
  void bodyReceived(http::HttpRequest* request, int length, const unsigned char* bytes) override;

  // Reports the progress now; false when the callback destroyed this.
  virtual bool reportProgress();

private:
  bool timerExpired(plat::Timer* timer) override;

  Callback* callback_;
  plat::Timer timer_;
  std::unique_ptr<http::HttpRequest> request_;
  plat::LivenessToken alive_;
};

} // namespace tlOrbSetup
