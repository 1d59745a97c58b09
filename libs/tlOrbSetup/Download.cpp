#include "tlOrbSetup/Download.h"

namespace tlOrbSetup {

Download::Download(Callback* callback, http::HttpClient* client, const char* uri)
    : callback_(callback), timer_(this), request_(client->newRequest("GET", uri))
{
  request_->setTimeout(-1);
  request_->setMaxBodySize(kMaxBodySize);
  request_->start(this);
  timer_.start(kProgressIntervalMs);
}

Download::~Download()
{
  alive_.markDestroyed();
  request_.reset();
  timer_.stop();
}

bool Download::acceptStatus(http::HttpRequest*, int status)
{
  return status == 200;
}

void Download::requestComplete(http::HttpRequest* request)
{
  timer_.stop();
  callback_->requestComplete(request);
}

void Download::requestFailed(http::HttpRequest* request, plat::Exception* error)
{
  timer_.stop();
  callback_->requestFailed(request, error);
}

void Download::bodyReceived(http::HttpRequest* request, int length, const unsigned char* bytes)
{
  callback_->bodyReceived(request, length, bytes);
}

bool Download::reportProgress()
{
  plat::DestroyGuard guard(alive_);
  int total = -1;
  int received = request_->getResponseProgress(&total);
  callback_->progress(request_.get(), received, total);
  return !guard.destroyed();
}

bool Download::timerExpired(plat::Timer*)
{
  return reportProgress();
}

} // namespace tlOrbSetup
