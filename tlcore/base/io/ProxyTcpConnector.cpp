#include "io/ProxyTcpConnector.h"

#include "io/Endpoint.h"
#include "io/IoWrapper.h"
#include "io/TcpConnector.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"

namespace io {

static plat::LogSrc vlog("ProxyTcpConnector");

static int g_timeoutMs = 10000;

ProxyPasswdPrompt::Callback::~Callback() = default;
ProxyPasswdPrompt::~ProxyPasswdPrompt() = default;

#ifdef TL_TEST_HOOKS
void ProxyTcpConnector::setTimeoutMsForTests(int ms)
{
  g_timeoutMs = ms > 0 ? ms : 10000;
}
#endif

int ProxyTcpConnector::timeoutMs()
{
  return g_timeoutMs;
}

ProxyTcpConnector::ProxyTcpConnector(const char* host, int port, const char* proxy,
                                     const char* methodNamePlain, const char* methodNameLocalised,
                                     IoPtr existing, ProxyPasswdPrompt* prompt)
    : host_(unbracketHost(host ? host : "")), port_(port), proxy_(proxy),
      methodNamePlain_(methodNamePlain), methodNameLocalised_(methodNameLocalised), prompt_(prompt)
{
  io_.reset(existing.release());
}

ProxyTcpConnector::~ProxyTcpConnector()
{
  cancel();
}

void ProxyTcpConnector::setCredentials(const char* user, const char* password)
{
  user_.assign(user);
  password_.assign(password);
}

const char* ProxyTcpConnector::methodName(bool localised)
{
  return localised ? methodNameLocalised_.str() : methodNamePlain_.str();
}

void ProxyTcpConnector::start(IoConnected* cb)
{
  if (io_) {
    IoConnectorBase::start(cb);
    return;
  }
  callback_ = cb;
  reconnect();
}

void ProxyTcpConnector::reconnect()
{
  releaseIo();
  tcpConnector_.reset();
  try {
    tcpConnector_ = std::make_unique<TcpConnector>(proxy_.str(), -1, 0);
  } catch (plat::Exception& e) {
    // Reported from the loop like any other connect failure.
    vlog.info("Bad proxy address %s: %s", proxy_.str(), e.str());
    ProxyError error(ProxyError::kBadConnection, proxy_.str(), nullptr, e);
    failedLater_ = std::make_unique<ProxyError>(error);
    IoConnectorBase::start(callback_);
    return;
  }
  tcpConnector_->start(this);
}

void ProxyTcpConnector::connected(IoConnector*, IoPtr newIo)
{
  tcpConnector_.reset();
  releaseIo();
  io_.reset(newIo.release());
  begin();
}

void ProxyTcpConnector::failed(IoConnector*, const plat::Exception& error)
{
  tcpConnector_.reset();
  fail(ProxyError(ProxyError::kBadConnection, proxy_.str(), nullptr, error));
}

void ProxyTcpConnector::begin()
{
  if (failedLater_) {
    ProxyError error(*failedLater_);
    failedLater_.reset();
    fail(error);
    return;
  }
  try {
    io_->setHandler(this, true);
    inStream_ = io_->in();
    outStream_ = io_->out();
    inStream_->setCheckpoint();
    timeout_.start(g_timeoutMs);
    sendFirst();
  } catch (ProxyError& e) {
    fail(e);
  } catch (plat::Exception& e) {
    failWith(e);
  }
}

void ProxyTcpConnector::dataAvailable(Io*)
{
  try {
    while (io_ && step()) {
    }
  } catch (rdr::BlockException&) {
  } catch (ProxyError& e) {
    fail(e);
  } catch (plat::Exception& e) {
    failWith(e);
  }
}

void ProxyTcpConnector::writable(Io*)
{
}

void ProxyTcpConnector::closed(Io*)
{
  // The connection is already going away on its own.
  io_.release();
  failWith(plat::Exception("ioShutdown"));
}

static void logError(const plat::Exception& e)
{
  char text[plat::Exception::kMessageSize];
  vlog.info("%s", e.formatDisplay(text));
}

void ProxyTcpConnector::fail(const ProxyError& error)
{
  logError(error);
  cancel();
  IoConnectorBase::failed(error);
}

void ProxyTcpConnector::failWith(const plat::Exception& e)
{
  logError(e);
  ProxyError error(ProxyError::kConnectionError, proxy_.str(), e.str(), e);
  cancel();
  IoConnectorBase::failed(error);
}

void ProxyTcpConnector::finish()
{
  timeout_.stop();
  Io* inner = io_.release();
  inStream_ = nullptr;
  outStream_ = nullptr;
  inner->setHandler(nullptr, false);
  plat::String name = formatEndpointName(host_.str(), port_, -1, -1);
  Io* named = new NamedIo(inner, name.str(), host_.str(), name.str(), nullptr);
  succeeded(IoPtr(named));
}

void ProxyTcpConnector::cancel()
{
  tcpConnector_.reset();
  releaseIo();
  timeout_.stop();
  timer_.stop();
}

void ProxyTcpConnector::releaseIo()
{
  inStream_ = nullptr;
  outStream_ = nullptr;
  io_.reset();
}

void ProxyTcpConnector::stopTimeout()
{
  timeout_.stop();
}

void ProxyTcpConnector::restartTimeout()
{
  timeout_.stop();
  timeout_.start(g_timeoutMs);
}

void ProxyTcpConnector::timedOut()
{
  vlog.info("Timed out trying to connect to proxyserver %s", proxy_.str());
  fail(ProxyError(ProxyError::kBadProtocol, proxy_.str(), "Connecting to Proxy Server timed out"));
}

bool ProxyTcpConnector::TimeoutCallback::timerExpired(plat::Timer*)
{
  owner_->timedOut();
  return false;
}

} // namespace io
