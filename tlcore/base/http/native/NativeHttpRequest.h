// One HTTP/1.1 exchange of a NativeHttpClient: gets a connection from the
// client's pool, writes the request, reads the response head and body into
// memory (Content-Length or chunked, capped at the body limit), hands a
// clean connection back to the pool and reports once to its callback.
//
// No redirects and no close-delimited bodies. The time-out runs from start
// to the connection, then again from the moment the request is written to
// the end of the response; incoming data does not extend it. Every failure
// but a connect failure is reported from a zero-delay timer, after the
// connection has been discarded. The request holds its connection without
// flush and without the closed event, so the first error is the one
// reported.
//
// Ownership: made by NativeHttpClient::newRequest and owned by the caller;
// owns its connector, connection, timer and pending error. The callback may
// delete the request from inside requestComplete and requestFailed. Loop
// thread only.
#pragma once

#include <memory>

#include "http/HttpClient.h"
#include "http/HttpHeaderParser.h"
#include "io/Io.h"
#include "plat/Timer.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "rdr/StateMachine.h"

namespace http {

class NativeHttpClient;

class NativeHttpRequest : public HttpRequest,
                          private plat::Timer::Callback,
                          private io::IoHandler,
                          private io::IoConnected {
public:
  static constexpr int kDefaultTimeoutMs = 15000;
  static constexpr int kMaxChunkSizeLine = 124;
  // A body part above this size gets a connection input buffer this large.
  static constexpr int kLargeBody = 1 << 20;
  static constexpr int kLargeBodyBuffer = 256 << 10;
  static constexpr int kPrefaultStep = 8 << 20;

  // Made by NativeHttpClient::newRequest only; query may be null.
  NativeHttpRequest(NativeHttpClient* client, const char* url, const char* host,
                    const char* destination, const char* path, const char* query,
                    const char* method);
  ~NativeHttpRequest() override;

  // --- HttpRequest
  void setTimeout(int ms) override;
  void setBasicAuth(const char* user, const char* password) override;
  void setMaxBodySize(int bytes) override;
  void setHeader(const char* name, const char* value) override;
  void setBody(const char* contentType, const Bytes& body) override;
  void setCloseNewConnection() override { closeNewConnection_ = true; }
  void start(HttpCallback* cb) override;

  int getState() override { return state_; }
  const char* getUrl() override { return url_.str(); }
  const char* getMethod() override { return method_.str(); }
  const Bytes& getRequestBody() override { return requestBody_; }
  const HeaderMap& getRequestHeaders() override { return requestHeaders_; }
  int64_t getStartTime() override { return startTime_; }
  int64_t getConnectTime() override { return connectTime_; }
  int64_t getSendTime() override { return sendTime_; }
  int64_t getEndTime() override { return endTime_; }
  int getStatus() override;
  const HeaderMap& getResponseHeaders() override { return parser_.getHeaders(); }
  SharedBytes getResponseBody() override { return responseBody_; }
  int getResponseProgress(int* total) override;

  const char* getDestination() const { return destination_.str(); }

private:
  using Steps = rdr::StateMachine<NativeHttpRequest>;

  // --- Events
  void connected(io::IoConnector* connector, io::IoPtr io) override;
  void failed(io::IoConnector* connector, const plat::Exception& error) override;
  // Reports a connection failure (already copied) to the callback.
  void connectFailed(plat::Exception& copy);
  void dataAvailable(io::Io* io) override;
  void writable(io::Io* io) override;
  void closed(io::Io* io) override;
  bool timerExpired(plat::Timer* timer) override;

  // --- Writing
  void writeRequest();
  void writeBody();
  // CR, LF or NUL in the method, target or a header would split the
  // request; the first offender's description, or null.
  const char* unsafeRequestText() const;

  // --- Reading: the state steps
  bool readHead();
  bool readLengthBody();
  bool readChunkSize();
  bool readChunkData();
  bool readTrailers();
  // Parses the head or trailer lines; a parse error caused by the peer
  // closing mid-line counts as the close.
  void parseHeadLines();
  void checkBodySize();
  void copyBody();
  void prefault(int64_t upTo);
  void complete();

  // --- Failing
  // Keeps error, drops the connection and reports from the timer.
  void fail(const plat::Exception& error);
  void dropConnection(const char* reason);

  NativeHttpClient* client_;
  plat::String url_;
  plat::String destination_;
  plat::String path_;
  plat::String query_;
  plat::String method_;
  HttpCallback* callback_ = nullptr;
  plat::Timer timer_;
  int timeout_ = kDefaultTimeoutMs;
  int maxBodySize_;
  int64_t startTime_ = -1;
  int64_t connectTime_ = -1;
  int64_t sendTime_ = -1;
  int64_t endTime_ = -1;
  int state_ = kCreated;
  io::IoPtr connection_{nullptr, io::Shutdown::kDrop};
  std::unique_ptr<io::IoConnector> connector_;
  std::unique_ptr<plat::Exception> error_;
  HeaderMap requestHeaders_;
  Bytes requestBody_;
  rdr::MemInStream bodyIn_;
  bool closeNewConnection_ = false;
  bool bodyNotFullySent_ = false;
  HttpResponseHeaderParser parser_;
  rdr::MemOutStream bodyOut_;
  SharedBytes responseBody_;
  Steps steps_;
  int remaining_ = 0;
  int64_t populated_ = 0; // bytes of the body buffer faulted in
  int contentLength_ = -1;
};

} // namespace http
