// The interfaces the rest of the system programs HTTP against: a client that
// makes requests, one request (one HTTP/1.1 exchange), and the callback that
// hears its outcome.
//
// Everything runs on the event-loop thread. A client owns its connections;
// the caller owns each request it gets from newRequest and must destroy it
// before the client. After start, exactly one of requestComplete and
// requestFailed is called, once, from the loop (never from inside start),
// unless the request is destroyed first; the request forgets the callback
// before calling it, so the callback may delete the request from inside.
// Failures after start are never thrown: they arrive at requestFailed.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>

#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "plat/SharedHandle.h"
#include "plat/String.h"

namespace http {

class HttpRequest;
class SslConnectorFactory;

// Header name -> value, ordered by name without regard to case.
using HeaderMap = std::map<plat::String, plat::String, plat::StringCaseLess>;
using Bytes = plat::MBuf<unsigned char>;
// A response body, shared between the request and every holder.
using SharedBytes = plat::SharedHandle<Bytes>;

class HttpCallback {
public:
  virtual ~HttpCallback();
  // Asked once, when the response head has been read and before any body;
  // false fails the request with an HttpError (state 2).
  virtual bool acceptStatus(HttpRequest* request, int status) = 0;
  virtual void requestComplete(HttpRequest* request) = 0;
  // error is valid for the duration of the call only.
  virtual void requestFailed(HttpRequest* request, plat::Exception* error) = 0;
  // Each piece of the response body as it is read, in order, before the
  // outcome; the request must not be destroyed from inside. Ignored unless
  // overridden.
  virtual void bodyReceived(HttpRequest* request, int length, const unsigned char* bytes);
};

class HttpRequest {
public:
  // Values of getState (5 is not used).
  enum State {
    kCreated = 0,
    kFailed = 1,
    kStatusRefused = 2,
    kConnecting = 3,
    kSending = 4,
    kReceiving = 6,
    kComplete = 7,
  };

  // Destroying a started request aborts it without any callback.
  virtual ~HttpRequest();

  // --- Before start
  // Milliseconds for the whole exchange; negative: no limit. Default 15,000.
  virtual void setTimeout(int ms) = 0;
  // Sets the "Authorization" header to Basic credentials; a null user
  // removes it.
  virtual void setBasicAuth(const char* user, const char* password) = 0;
  virtual void setMaxBodySize(int bytes) = 0;
  // Sets or replaces a header; a name differing only in case replaces the
  // value and keeps the name as first written.
  virtual void setHeader(const char* name, const char* value) = 0;
  // The body, with its "Content-Type" and "Content-Length" headers.
  virtual void setBody(const char* contentType, const Bytes& body) = 0;
  // "Connection: close" when the exchange gets a newly opened connection.
  virtual void setCloseNewConnection() = 0;
  // cb is borrowed until it is called; not while in progress.
  virtual void start(HttpCallback* cb) = 0;

  // --- What it is and how it went
  virtual int getState() = 0;
  // Scheme, "://", Host value, path and query.
  virtual const char* getUrl() = 0;
  virtual const char* getMethod() = 0;
  virtual const Bytes& getRequestBody() = 0;
  virtual const HeaderMap& getRequestHeaders() = 0;
  // Monotonic 100-ns ticks, -1 until they happen. The connect time is -1
  // too when a pooled connection was re-used.
  virtual int64_t getStartTime() = 0;
  virtual int64_t getConnectTime() = 0;
  virtual int64_t getSendTime() = 0;
  virtual int64_t getEndTime() = 0;
  // Fatal before a status line was read.
  virtual int getStatus() = 0;
  // Trailers of a chunked body included.
  virtual const HeaderMap& getResponseHeaders() = 0;
  virtual SharedBytes getResponseBody() = 0;
  // Body bytes so far; *total is the Content-Length or -1.
  virtual int getResponseProgress(int* total) = 0;

  // A response header by name (any case), or null.
  const char* getResponseHeader(const char* name);
};

class HttpClient {
public:
  virtual ~HttpClient();
  // A new, unstarted request owned by the caller. Throws plat::Exception for
  // a URL the client cannot serve (scheme, fragment, malformed).
  virtual std::unique_ptr<HttpRequest> newRequest(const char* method, const char* url) = 0;
  // Null for a plain-http client.
  virtual SslConnectorFactory* getSslConnectorFactory() = 0;
  // Shuts down every idle pooled connection; those in use are untouched.
  virtual void closeIdleConnections() = 0;
};

class NativeHttpClient;

// A client owning factory; an empty factory gives a client for plain "http"
// only.
std::unique_ptr<NativeHttpClient> createHttpClient(std::unique_ptr<SslConnectorFactory> factory);

} // namespace http
