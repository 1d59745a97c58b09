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

ProxyTcpConnector::ProxyTcpConnector(const char* host_, int port_, const char* proxy_,
                                     const char* methodNamePlain_, const char* methodNameLocalised_,
                                     IoPtr existing, ProxyPasswdPrompt* prompt_)
    : host(unbracketHost(host_ ? host_ : "")), port(port_), proxy(proxy_),
      methodNamePlain(methodNamePlain_), methodNameLocalised(methodNameLocalised_), prompt(prompt_)
{
  io.reset(existing.release());
}

ProxyTcpConnector::~ProxyTcpConnector()
{
  cancel();
}

void ProxyTcpConnector::setCredentials(const char* user_, const char* password_)
{
  user.assign(user_);
  password.assign(password_);
}

const char* ProxyTcpConnector::methodName(bool localised)
{
  return localised ? methodNameLocalised.str() : methodNamePlain.str();
}

void ProxyTcpConnector::start(IoConnected* cb)
{
  if (io) {
    IoConnectorBase::start(cb);
    return;
  }
  callback = cb;
  reconnect();
}

void ProxyTcpConnector::reconnect()
{
  releaseIo();
  tcpConnector.reset();
  try {
    tcpConnector = std::make_unique<TcpConnector>(proxy.str(), -1, 0);
  } catch (plat::Exception& e) {
    // Reported from the loop like any other connect failure.
    vlog.info("Bad proxy address %s: %s", proxy.str(), e.str());
    ProxyError error(ProxyError::kBadConnection, proxy.str(), nullptr, e);
    failedLater = std::make_unique<ProxyError>(error);
    IoConnectorBase::start(callback);
    return;
  }
  tcpConnector->start(this);
}

void ProxyTcpConnector::connected(IoConnector*, Io* newIo)
{
  tcpConnector.reset();
  releaseIo();
  io.reset(newIo);
  begin();
}

void ProxyTcpConnector::failed(IoConnector*, const plat::Exception& error)
{
  tcpConnector.reset();
  fail(ProxyError(ProxyError::kBadConnection, proxy.str(), nullptr, error));
}

void ProxyTcpConnector::begin()
{
  if (failedLater) {
    ProxyError error(*failedLater);
    failedLater.reset();
    fail(error);
    return;
  }
  try {
    io->setHandler(this, true);
    inStream = io->in;
    outStream = io->out;
    inStream->setCheckpoint();
    timeout.start(g_timeoutMs);
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
    while (io && step()) {
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
  io.release();
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
  ProxyError error(ProxyError::kConnectionError, proxy.str(), e.str(), e);
  cancel();
  IoConnectorBase::failed(error);
}

void ProxyTcpConnector::finish()
{
  timeout.stop();
  Io* inner = io.release();
  inStream = nullptr;
  outStream = nullptr;
  inner->setHandler(nullptr, false);
  plat::String name = formatEndpointName(host.str(), port, -1, -1);
  Io* named = new NamedIo(inner, name.str(), host.str(), name.str(), nullptr);
  succeeded(named);
}

void ProxyTcpConnector::cancel()
{
  tcpConnector.reset();
  releaseIo();
  timeout.stop();
  timer.stop();
}

void ProxyTcpConnector::releaseIo()
{
  inStream = nullptr;
  outStream = nullptr;
  io.reset();
}

void ProxyTcpConnector::stopTimeout()
{
  timeout.stop();
}

void ProxyTcpConnector::restartTimeout()
{
  timeout.stop();
  timeout.start(g_timeoutMs);
}

void ProxyTcpConnector::timedOut()
{
  vlog.info("Timed out trying to connect to proxyserver %s", proxy.str());
  fail(ProxyError(ProxyError::kBadProtocol, proxy.str(), "Connecting to Proxy Server timed out"));
}

bool ProxyTcpConnector::TimeoutCallback::timerExpired(plat::Timer*)
{
  owner->timedOut();
  return false;
}

} // namespace io
