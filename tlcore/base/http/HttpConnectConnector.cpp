#include "http/HttpConnectConnector.h"

#include <string.h>

#include "http/HttpError.h"
#include "http/UserAgent.h"
#include "loc/Localize.h"
#include "plat/DString.h"
#include "plat/Time.h"
#include "plat/encodings.h"
#include "rdr/BufferedOutStream.h"
#include "rdr/OutStream.h"

namespace http {

namespace {

// A whole unsigned decimal number after trimming; anything else, or a body
// larger than the limit, is refused with the value as received.
unsigned parseContentLength(const char* value)
{
  const char* p = value;
  while (*p == ' ' || *p == '\t')
    p++;
  const char* e = p + strlen(p);
  while (e > p && (e[-1] == ' ' || e[-1] == '\t'))
    e--;
  unsigned n = 0;
  bool ok = e > p;
  for (const char* q = p; ok && q < e; q++) {
    ok = *q >= '0' && *q <= '9' && n <= ConnectReply::kMaxBody;
    n = n * 10 + (unsigned)(*q - '0');
  }
  if (!ok || n > ConnectReply::kMaxBody)
    throw plat::ExceptionFmt("Bad Content-Length header (%s)", value);
  return n;
}

// Control characters and blanks would let a target name add lines or
// words to the request.
bool isValidTargetHost(const char* host)
{
  if (!*host)
    return false;
  for (const unsigned char* p = (const unsigned char*)host; *p; p++) {
    if (*p <= ' ' || *p == 0x7f)
      return false;
  }
  return true;
}

// The challenge goes at the end of the message, where a user reading it
// looks for why the proxy was refused.
class ChallengeError : public io::ProxyError {
public:
  ChallengeError(const char* via, const char* challenge)
      : io::ProxyError(io::ProxyError::kAuthenticationUnsupported, via)
  {
    plat::DString message;
    message.append(str()).appendf(" [Proxy-Authenticate:%s]", challenge);
    setMessage(message.get());
  }
};

plat::String localisedName(const char* proxy)
{
  return loc::formatArgs(LOC_TR_RAW("http_httpconnect_connection_type"), proxy);
}

} // namespace

bool headerHasToken(const char* value, const char* token)
{
  if (!value)
    return false;
  plat::String copy(value);
  char* cursor = copy.data();
  while (char* t = HttpHeaderParser::nextToken(&cursor)) {
    if (strcasecmp(t, token) == 0)
      return true;
  }
  return false;
}

// --- ConnectReply -----------------------------------------------------------

ConnectReply::ConnectReply(rdr::InStream* in) : in_(in)
{
}

void ConnectReply::readHead()
{
  parser_.setInStream(in_);
  parser_.parse();
}

void ConnectReply::readBody()
{
  if (bodyDone_)
    return;
  if (!body_.started()) {
    const char* value = getHeader("Content-Length");
    unsigned len = value ? parseContentLength(value) : 0;
    if (len == 0) {
      bodyDone_ = true;
      return;
    }
    body_.init(in_, (int)len);
  }
  body_.skip(true);
  in_->setCheckpoint();
  body_.reset();
  bodyDone_ = true;
}

bool ConnectReply::keepsConnection() const
{
  const char* connection = getHeader("Connection");
  const char* proxyConnection = getHeader("Proxy-Connection");
  if (headerHasToken(connection, "close") || headerHasToken(proxyConnection, "close"))
    return false;
  // Without a length the body ends only when the proxy closes; a chunked
  // body is not read here.
  if (!getHeader("Content-Length") || getHeader("Transfer-Encoding"))
    return false;
  if (strcmp(parser_.getVersion(), "HTTP/1.1") == 0)
    return true;
  return headerHasToken(connection, "keep-alive") || headerHasToken(proxyConnection, "keep-alive");
}

// --- HttpConnectConnector ---------------------------------------------------

HttpConnectConnector::HttpConnectConnector(const char* host, int port, const char* proxy,
                                           io::IoPtr existing, io::ProxyPasswdPrompt* prompt)
    : io::ProxyTcpConnector(host, port, proxy,
                            plat::format("Direct TCP via HTTP CONNECT proxy %s", proxy).get(),
                            localisedName(proxy).get(), std::move(existing), prompt)
{
}

std::unique_ptr<io::ProxyTcpConnector> newHttpConnectConnector(const char* host, int port,
                                                               const char* proxy,
                                                               io::ProxyPasswdPrompt* prompt)
{
  return std::make_unique<HttpConnectConnector>(host, port, proxy, io::IoPtr(), prompt);
}

HttpConnectConnector::~HttpConnectConnector()
{
  if (asking_ && prompt_)
    prompt_->cancel(this);
}

void HttpConnectConnector::sendFirst()
{
  const char* target = host_.str();
  if (!isValidTargetHost(target))
    throw plat::Exception("Bad target host name");
  bool v6 = strchr(target, ':') != nullptr;
  const char* open = v6 ? "[" : "";
  const char* close = v6 ? "]" : "";
  plat::String date = formatHttpDate(plat::getTime());
  plat::String agent = userAgent();
  plat::DString request;
  request.appendf("CONNECT %s%s%s:%d HTTP/1.1\r\nHost: %s%s%s:%d\r\nDate: %s\r\n"
                  "Proxy-Connection: keep-alive\r\nUser-Agent: %s\r\nContent-Length: 0\r\n",
                  open, target, close, port_, open, target, close, port_, date.get(), agent.get());
  outStream_->writeBytes(request.get(), request.length());
  if (!authHeader_.isNull()) {
    // The connection's buffer must not keep the credentials once sent.
    if (auto* buffered = dynamic_cast<rdr::BufferedOutStream*>(outStream_->getBottomStream()))
      buffered->setSecure(true);
    outStream_->writeBytes(authHeader_.get(), authHeader_.length());
    authHeader_.reset(nullptr);
  }
  outStream_->writeBytes("\r\n", 2);
  outStream_->flush();
  machine_.setState(&HttpConnectConnector::stateStartResponse);
}

bool HttpConnectConnector::step()
{
  if (!inStream_)
    return false;
  try {
    return machine_.run(this, inStream_);
  } catch (const HttpParseException& e) {
    throw io::ProxyError(io::ProxyError::kBadProtocol, proxy_.get(), e.str(), e);
  } catch (const HttpError& e) {
    int status = e.getStatus();
    if (sentCredentials_ && (status == 403 || status == 407))
      throw io::ProxyError(io::ProxyError::kAuthenticationFailed, proxy_.get(), nullptr, e);
    const char* kind = io::ProxyError::kBadProtocol;
    if (status == 403)
      kind = io::ProxyError::kConnectDenied;
    else if (status == 404 || status == 502 || status == 503 || status == 504)
      kind = io::ProxyError::kConnectFailed;
    else if (status == 407)
      kind = io::ProxyError::kAuthenticationUnsupported;
    throw io::ProxyError(kind, proxy_.get(), e.str(), e);
  }
}

bool HttpConnectConnector::stateStartResponse()
{
  reply_ = std::make_unique<ConnectReply>(inStream_);
  machine_.setState(&HttpConnectConnector::stateReadHeader);
  return true;
}

bool HttpConnectConnector::stateReadHeader()
{
  reply_->readHead();
  int status = reply_->getStatus();
  if (status == 407)
    machine_.setState(&HttpConnectConnector::stateHandle407);
  else if (status >= 200 && status <= 299)
    machine_.setState(&HttpConnectConnector::stateReadBody);
  else
    throw HttpError(status);
  return true;
}

bool HttpConnectConnector::stateHandle407()
{
  if (sentCredentials_)
    throw io::ProxyError(io::ProxyError::kAuthenticationFailed, proxy_.get());
  bool haveCredentials = user_.length() > 0 && password_.length() > 0;
  if (!prompt_ && !haveCredentials)
    throw io::ProxyError(io::ProxyError::kAuthenticationRequired, proxy_.get());
  const char* challenge = reply_->getHeader("Proxy-Authenticate");
  if (!challenge)
    throw io::ProxyError(io::ProxyError::kBadProtocol, proxy_.get());
  if (!plat::strCaseStr(challenge, "basic"))
    throw ChallengeError(proxy_.get(), challenge);

  machine_.setState(&HttpConnectConnector::stateReadBody);
  if (!reply_->keepsConnection()) {
    // This connection cannot carry the retry: it goes now, not after the
    // user has answered; the retry takes a new one.
    reply_.reset();
    releaseIo();
  } else {
    // Nothing more is read until the credentials are known: the body
    // waits in the socket.
    io_->setHandler(this, false);
  }
  if (haveCredentials) {
    plat::SecureString u(user_), p(password_);
    passwordEntered(u.get(), p.get());
  } else {
    stopTimeout();
    asking_ = true;
    prompt_->ask(io::ProxyNeeds::kUser | io::ProxyNeeds::kPassword, proxy_.get(), this);
  }
  return false;
}

void HttpConnectConnector::passwordEntered(const char* u, const char* p)
{
  asking_ = false;
  prompt_ = nullptr;
  int userLen = (int)strlen(u), passLen = (int)strlen(p);
  plat::SecureString pair;
  char* buf = new char[userLen + passLen + 2];
  memcpy(buf, u, userLen);
  buf[userLen] = ':';
  memcpy(buf + userLen + 1, p, passLen + 1);
  pair.reset(buf);
  plat::String encoded = plat::binToBase64(pair.length(), (const unsigned char*)pair.get(), false);

  static const char kPrefix[] = "Proxy-Authorization: Basic ";
  int encodedLen = encoded.length();
  char* line = new char[sizeof(kPrefix) + encodedLen + 2];
  memcpy(line, kPrefix, sizeof(kPrefix) - 1);
  memcpy(line + sizeof(kPrefix) - 1, encoded.get(), encodedLen);
  memcpy(line + sizeof(kPrefix) - 1 + encodedLen, "\r\n", 3);
  authHeader_.reset(line);
  plat::secureZero(encoded.data(), encodedLen);
  sentCredentials_ = true;

  if (!io_) {
    reply_.reset();
    reconnect();
  } else {
    io_->setHandler(this, true);
    io_->markReadable();
  }
  restartTimeout();
}

bool HttpConnectConnector::stateReadBody()
{
  reply_->readBody();
  if (reply_->getStatus() == 407) {
    sendFirst();
    return true;
  }
  reply_.reset();
  finish();
  return false;
}

} // namespace http
