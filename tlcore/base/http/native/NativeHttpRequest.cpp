#include "http/native/NativeHttpRequest.h"

#include <limits.h>
#include <unistd.h>
#include <sys/mman.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "http/HttpConnectConnector.h"
#include "http/HttpError.h"
#include "http/UserAgent.h"
#include "http/native/NativeHttpClient.h"
#include "io/Endpoint.h"
#include "io/IoPool.h"
#include "io/ProxyError.h"
#include "plat/DString.h"
#include "plat/Log.h"
#include "plat/Time.h"
#include "plat/encodings.h"
#include "rdr/BufferedInStream.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace http {

namespace {

plat::LogSrc vlog("HttpRequest");

// MADV_POPULATE_WRITE (Linux 5.14); older kernels refuse it harmlessly.
constexpr int kMadvPopulateWrite = 23;

// An error with a chosen message and the type name of another: how every
// failure keeps its origin's type while its text says where it happened.
class RequestError : public plat::Exception {
public:
  RequestError(const plat::Exception& from, const char* prefix)
  {
    setType(from.getType());
    plat::DString text;
    text.appendf("%s%s", prefix, from.str());
    setMessage(text.get());
  }
};

// The same for a proxy failure, keeping its kind and cause, which callers
// branch on (a refusal by the proxy is not worth another server).
class ProxyRequestError : public io::ProxyError {
public:
  ProxyRequestError(const io::ProxyError& from, const char* prefix) : ProxyError(from)
  {
    plat::DString text;
    text.appendf("%s%s", prefix, from.str());
    setMessage(text.get());
  }
};

// A copy that keeps what callers may test for: the status of an HttpError,
// else message and type name.
std::unique_ptr<plat::Exception> copyError(const plat::Exception& e)
{
  if (const HttpError* he = dynamic_cast<const HttpError*>(&e))
    return std::make_unique<HttpError>(*he);
  return std::make_unique<plat::Exception>(e);
}

// Whether the input has ended: the peer closed.
bool inputEnded(rdr::InStream* in)
{
  try {
    in->check(false, 1);
    return false;
  } catch (rdr::EndOfStream&) {
    return true;
  } catch (plat::Exception&) {
    return false;
  }
}

bool hasCrLfNul(const char* text)
{
  return text && strpbrk(text, "\r\n") != nullptr;
}

} // namespace

NativeHttpRequest::NativeHttpRequest(NativeHttpClient* client, const char* url, const char* host,
                                     const char* destination, const char* path,
                                     const char* query, const char* method)
    : client_(client), url_(url), destination_(destination), path_(path), query_(query),
      method_(method), timer_(this), maxBodySize_(httpMaxResourceSize), bodyIn_(nullptr, 0),
      bodyOut_(-1, maxBodySize_), responseBody_(new Bytes), steps_(&NativeHttpRequest::readHead)
{
  setHeader("Host", host);
  setHeader("User-Agent", userAgent().str());
}

NativeHttpRequest::~NativeHttpRequest()
{
  connector_.reset();
  dropConnection("request aborted");
  timer_.stop();
}

// --- Settings ------------------------------------------------------------------------------

void NativeHttpRequest::setTimeout(int ms)
{
  // While a failure waits to be reported, the timer carries the report.
  if (!error_ && timer_.isStarted()) {
    if (ms < 0) {
      timer_.stop();
    } else {
      int64_t left = timer_.getRemaining() / plat::kTicksPerMilli + ((int64_t)ms - timeout_);
      timer_.start((int)std::min<int64_t>(std::max<int64_t>(left, 0), INT_MAX));
    }
  }
  timeout_ = ms;
}

void NativeHttpRequest::setBasicAuth(const char* user, const char* password)
{
  if (!user) {
    requestHeaders_.erase(plat::String("Authorization"));
    return;
  }
  plat::DString pair;
  pair.appendf("%s:%s", user, password ? password : "");
  plat::String encoded = plat::binToBase64(pair.length(), (const unsigned char*)pair.get(), false);
  plat::DString value;
  value.appendf("Basic %s", encoded.str());
  setHeader("Authorization", value.get());
  plat::secureZero(pair.data(), pair.capacity());
  plat::secureZero(encoded.data(), encoded.length());
  plat::secureZero(value.data(), value.capacity());
}

void NativeHttpRequest::setMaxBodySize(int bytes)
{
  maxBodySize_ = bytes;
  bodyOut_.setMaxLen((int)std::max<int64_t>(bodyOut_.length(), bytes));
}

void NativeHttpRequest::setHeader(const char* name, const char* value)
{
  requestHeaders_[plat::String(name)] = plat::String(value);
}

void NativeHttpRequest::setBody(const char* contentType, const Bytes& body)
{
  setHeader("Content-Type", contentType);
  char length[16];
  plat::strFormat(length, "%d", body.length());
  setHeader("Content-Length", length);
  requestBody_ = body;
  bodyIn_.reset(requestBody_.data(), requestBody_.length());
}

void NativeHttpRequest::start(HttpCallback* cb)
{
  HttpCallback* callback = callback_;
  PLAT_ASSERT(!callback && cb);
  callback_ = cb;
  if (timeout_ >= 0)
    timer_.start(timeout_);
  startTime_ = plat::getMonoTime();
  if (const char* what = unsafeRequestText()) {
    fail(plat::ExceptionFmt("Invalid request: CR, LF or NUL in %s", what));
    return;
  }
  connector_ = client_->pool().newConnector(destination_.str(), NativeHttpClient::kReuseWaitMs);
  state_ = kConnecting;
  connector_->start(this);
}

const char* NativeHttpRequest::unsafeRequestText() const
{
  if (hasCrLfNul(method_.get()))
    return "method";
  if (hasCrLfNul(path_.get()) || hasCrLfNul(query_.get()))
    return "target";
  for (const auto& h : requestHeaders_) {
    if (hasCrLfNul(h.first.get()) || hasCrLfNul(h.second.get()))
      return "header";
  }
  return nullptr;
}

int NativeHttpRequest::getStatus()
{
  int st = parser_.getStatus();
  PLAT_ASSERT(st > 0);
  return st;
}

int NativeHttpRequest::getResponseProgress(int* total)
{
  if (total)
    *total = contentLength_;
  return state_ == kComplete ? responseBody_->length() : (int)bodyOut_.length();
}

// --- Connecting ---------------------------------------------------------------------------

void NativeHttpRequest::connected(io::IoConnector* connector, io::IoPtr io)
{
  connectTime_ = io::IoPool::connectTime(connector);
  if (connectTime_ > 0 && closeNewConnection_)
    setHeader("Connection", "close");
  connector_.reset();
  connection_.reset(io.release());
  connection_->setHandler(this, true);
  state_ = kSending;
  writeRequest();
}

void NativeHttpRequest::failed(io::IoConnector*, const plat::Exception& error)
{
  // The error belongs to the connector chain that is deleted next.
  if (const io::ProxyError* proxy = dynamic_cast<const io::ProxyError*>(&error)) {
    ProxyRequestError copy(*proxy, "Error connecting: ");
    connectFailed(copy);
  } else {
    RequestError copy(error, "Error connecting: ");
    connectFailed(copy);
  }
}

void NativeHttpRequest::connectFailed(plat::Exception& copy)
{
  state_ = kFailed;
  connector_.reset();
  timer_.stop();
  endTime_ = plat::getMonoTime();
  vlog.info("Request failed: %s [%p]", copy.str(), (void*)this);
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  cb->requestFailed(this, &copy);
}

// --- Writing ------------------------------------------------------------------------------

void NativeHttpRequest::writeRequest()
{
  plat::String target = io::uriPathAndQuery(path_.str(), query_.get());
  if (strcmp(method_.str(), "OPTIONS") == 0 && strcmp(target.str(), "/*") == 0)
    target = plat::String("*");
  vlog.info("Issuing request \"%s %s HTTP/1.1\" to %s [%p]", method_.str(), target.str(),
            destination_.str(), (void*)this);
  if (timeout_ >= 0)
    timer_.start(timeout_);

  plat::DString head;
  head.appendf("%s %s HTTP/1.1\r\n", method_.str(), target.str());
  for (const auto& h : requestHeaders_)
    head.appendf("%s: %s\r\n", h.first.str(), h.second.str());
  head.append("\r\n");
  sendTime_ = plat::getMonoTime();
  try {
    rdr::OutStream* out = connection_->out();
    if (head.length() > out->spaceAvailable())
      throw plat::Exception("Headers too large");
    out->writeBytes(head.get(), head.length());
    if (bodyIn_.nUnread() > 0) {
      int n = std::min(out->spaceAvailable(), bodyIn_.nUnread());
      out->writeBytes(bodyIn_.getPtr(), n);
      bodyIn_.consume(n);
      bodyNotFullySent_ = bodyIn_.nUnread() > 0;
    }
    out->flush();
  } catch (plat::Exception& e) {
    fail(RequestError(e, ""));
  }
}

void NativeHttpRequest::writeBody()
{
  rdr::OutStream* out = connection_->out();
  out->flush();
  int room;
  while (bodyIn_.nUnread() > 0 && (room = out->spaceAvailable()) > 0) {
    int n = std::min(room, bodyIn_.nUnread());
    out->writeBytes(bodyIn_.getPtr(), n);
    bodyIn_.consume(n);
    out->flush();
  }
  if (bodyIn_.nUnread() == 0)
    bodyNotFullySent_ = false;
}

void NativeHttpRequest::writable(io::Io*)
{
  if (!bodyNotFullySent_)
    return;
  try {
    writeBody();
  } catch (plat::Exception& e) {
    fail(RequestError(e, ""));
  }
}

// --- Reading ------------------------------------------------------------------------------

void NativeHttpRequest::dataAvailable(io::Io* io)
{
  auto connection = requestHeaders_.find(plat::String("Connection"));
  bool requestClose =
      connection != requestHeaders_.end() && headerHasToken(connection->second.get(), "close");
  try {
    while (steps_.getState()) {
      if (!steps_.run(this, io->in()))
        return;
    }
  } catch (rdr::EndOfStream&) {
    fail(plat::Exception("Io shutdown unexpectedly"));
    return;
  } catch (plat::Exception& e) {
    fail(RequestError(e, "Error reading response: "));
    return;
  }

  // The response is complete.
  bool responseClose = headerHasToken(parser_.getHeader("Connection"), "close");
  io::IoPtr conn(std::move(connection_));
  // After an interim response the final one is still to come on this
  // connection: no later request may read it as its own.
  bool interim = parser_.getStatus() < 200;
  if (!requestClose && !responseClose && !bodyNotFullySent_ && !interim) {
    client_->pool().releaseIo(destination_.str(), std::move(conn));
  } else {
    client_->pool().discardIo(conn.get(), interim             ? "interim response"
                                          : bodyNotFullySent_ ? "request not fully sent"
                                                              : "connection closed");
    conn.reset();
  }
  timer_.stop();
  state_ = kComplete;
  endTime_ = plat::getMonoTime();
  if (bodyOut_.length() > 0) {
    Bytes* body = new Bytes;
    responseBody_ = SharedBytes(body);
    bodyOut_.releaseInto(*body);
  }
  client_->recordHar(this);
  vlog.info("Request succeeded: %d [%p]", parser_.getStatus(), (void*)this);
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  cb->requestComplete(this);
}

void NativeHttpRequest::parseHeadLines()
{
  rdr::InStream* in = connection_->in();
  parser_.setInStream(in);
  try {
    parser_.parse();
  } catch (HttpParseException&) {
    // A line cut short by the peer's close is the close, not a bad line.
    if (inputEnded(in))
      throw rdr::EndOfStream("End of IO stream");
    throw;
  }
}

bool NativeHttpRequest::readHead()
{
  parseHeadLines();
  if (strcasecmp(parser_.getVersion(), "HTTP/1.1") != 0) {
    const char* c = parser_.getHeader("Connection");
    if (!c || strcmp(c, "close") != 0)
      parser_.setHeader("Connection", "close");
  }
  state_ = kReceiving;
  int status = parser_.getStatus();
  if (!callback_->acceptStatus(this, status)) {
    fail(HttpError(status));
    state_ = kStatusRefused;
    return false;
  }
  if ((status >= 100 && status < 200) || status == 204 || status == 304 ||
      strcmp(method_.str(), "HEAD") == 0) {
    steps_.setState(nullptr);
    return true;
  }
  if (const char* te = parser_.getHeader("Transfer-Encoding")) {
    const char* b = te;
    const char* e = te + strlen(te);
    while (b < e && strchr(" \t\r\n", *b))
      b++;
    while (e > b && strchr(" \t\r\n", e[-1]))
      e--;
    if (e - b != 7 || strncasecmp(b, "chunked", 7) != 0)
      throw plat::ExceptionFmt("Unsupported Transfer-Encoding: %s", te);
    steps_.setState(&NativeHttpRequest::readChunkSize);
    return true;
  }
  if (const char* cl = parser_.getHeader("Content-Length")) {
    while (*cl == ' ' || *cl == '\t')
      cl++;
    int64_t n = 0;
    const char* p = cl;
    while (*p >= '0' && *p <= '9' && n <= INT_MAX)
      n = n * 10 + (*p++ - '0');
    while (*p == ' ' || *p == '\t')
      p++;
    if (p > cl && !*p && n <= INT_MAX) {
      contentLength_ = remaining_ = (int)n;
      checkBodySize();
      steps_.setState(&NativeHttpRequest::readLengthBody);
      return true;
    }
  }
  throw plat::Exception("Unsupported response: no length");
}

void NativeHttpRequest::checkBodySize()
{
  if (bodyOut_.length() + (int64_t)remaining_ > maxBodySize_)
    throw plat::ExceptionFmt("Maximum body size of %d bytes exceeded", maxBodySize_);
  if (bodyOut_.capacity() - bodyOut_.length() < remaining_) {
    bodyOut_.overrun(1, remaining_);
    populated_ = bodyOut_.length();
  }
}

void NativeHttpRequest::copyBody()
{
  rdr::InStream* in = connection_->in();
  // Large bodies arrive in fewer, larger reads.
  if (remaining_ > kLargeBody) {
    if (rdr::BufferedInStream* b = dynamic_cast<rdr::BufferedInStream*>(in))
      b->growBuffer(kLargeBodyBuffer);
  }
  while (remaining_ > 0) {
    if (in->nUnread() == 0)
      in->check(true, 1);
    int n = std::min(remaining_, in->nUnread());
    prefault(bodyOut_.length() + n);
    bodyOut_.writeBytes(in->getPtr(), n);
    callback_->bodyReceived(this, n, in->getPtr());
    in->consume(n);
    in->setCheckpoint();
    remaining_ -= n;
  }
}

void NativeHttpRequest::prefault(int64_t upTo)
{
  // One call faults the next pages of a large body in, instead of a fault
  // for each; only as far as data has come, so an announced size that
  // never arrives takes no memory.
  if (upTo <= populated_ || bodyOut_.capacity() <= kLargeBody)
    return;
  int64_t to = std::min<int64_t>(bodyOut_.capacity(), std::max<int64_t>(upTo, populated_ + kPrefaultStep));
  uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t from = ((uintptr_t)bodyOut_.data() + populated_) & ~(page - 1);
  uintptr_t end = ((uintptr_t)bodyOut_.data() + to + page - 1) & ~(page - 1);
  madvise((void*)from, end - from, kMadvPopulateWrite);
  populated_ = to;
}

bool NativeHttpRequest::readLengthBody()
{
  copyBody();
  steps_.setState(nullptr);
  return true;
}

bool NativeHttpRequest::readChunkSize()
{
  rdr::InStream* in = connection_->in();
  char line[kMaxChunkSizeLine];
  int length = 0;
  for (;;) {
    uint8_t c = in->readU8();
    if (c == '\n')
      break;
    if (c == '\r')
      continue;
    if (c == 0)
      throw plat::Exception("Chunk size has embedded nul");
    if (length == kMaxChunkSizeLine)
      throw plat::Exception("Chunk size too long");
    line[length++] = (char)c;
  }
  int64_t n = 0;
  bool ok = length > 0;
  for (int i = 0; ok && i < length; i++) {
    int d = plat::hexValue((unsigned char)line[i]);
    ok = d >= 0 && n <= INT_MAX;
    n = n * 16 + d;
  }
  if (!ok || n > INT_MAX)
    throw plat::Exception("Unsupported chunk size");
  remaining_ = (int)n;
  checkBodySize();
  steps_.setState(remaining_ > 0 ? &NativeHttpRequest::readChunkData
                                 : &NativeHttpRequest::readTrailers);
  return true;
}

bool NativeHttpRequest::readChunkData()
{
  copyBody();
  rdr::InStream* in = connection_->in();
  uint8_t cr = in->readU8();
  uint8_t lf = in->readU8();
  if (cr != '\r' || lf != '\n')
    throw plat::Exception("Invalid chunked encoding");
  steps_.setState(&NativeHttpRequest::readChunkSize);
  return true;
}

bool NativeHttpRequest::readTrailers()
{
  parseHeadLines();
  steps_.setState(nullptr);
  return true;
}

void NativeHttpRequest::closed(io::Io* io)
{
  // The connection ends by itself once this returns.
  if (connection_.get() == io) {
    connection_.release();
    client_->pool().discardIo(io, "Io shutdown unexpectedly");
  }
  fail(plat::Exception("Io shutdown unexpectedly"));
}

// --- Failing ------------------------------------------------------------------------------

void NativeHttpRequest::dropConnection(const char* reason)
{
  if (!connection_)
    return;
  client_->pool().discardIo(connection_.get(), reason);
  connection_.reset();
}

void NativeHttpRequest::fail(const plat::Exception& error)
{
  error_ = copyError(error);
  state_ = kFailed;
  bodyNotFullySent_ = false;
  dropConnection(error_->str());
  connector_.reset();
  timer_.start(0);
}

bool NativeHttpRequest::timerExpired(plat::Timer*)
{
  if (!error_)
    error_ = std::make_unique<plat::Exception>("Timed out fetching resource");
  vlog.info("Request failed: %s [%p]", error_->str(), (void*)this);
  dropConnection(error_->str());
  connector_.reset();
  if (state_ != kStatusRefused)
    state_ = kFailed;
  endTime_ = plat::getMonoTime();
  HttpCallback* cb = callback_;
  callback_ = nullptr;
  std::unique_ptr<plat::Exception> error = std::move(error_);
  if (cb)
    cb->requestFailed(this, error.get());
  return false;
}

} // namespace http
