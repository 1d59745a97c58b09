#include "io/TcpConnector.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "io/Endpoint.h"
#include "io/TcpIo.h"
#include "loc/Localize.h"
#include "os/socket.h"
#include "plat/Log.h"

namespace io {

namespace {

plat::LogSrc connLog("TcpConnector");
plat::LogSrc addrLog("TcpAddrConnector");

} // namespace

// --- IoConnectorMulti ---------------------------------------------------------------

IoConnectorMulti::IoConnectorMulti(int delay) : delayMs(delay), timer(this)
{
}

IoConnectorMulti::~IoConnectorMulti()
{
  timer.stop();
  for (IoConnector* ic : ics)
    delete ic;
}

void IoConnectorMulti::add(IoConnector* connector)
{
  ics.push_back(connector);
}

void IoConnectorMulti::start(IoConnected* callback)
{
  PLAT_ASSERT(!ics.empty());
  PLAT_ASSERT(!cb_);
  PLAT_ASSERT(callback);
  cb_ = callback;
  startNext();
}

void IoConnectorMulti::startNext()
{
  current++;
  ics[current]->start(this);
  if (delayMs >= 0 && current + 1 < (int)ics.size())
    timer.start(delayMs);
}

bool IoConnectorMulti::timerExpired(plat::Timer*)
{
  if (current + 1 < (int)ics.size())
    startNext();
  return false;
}

void IoConnectorMulti::connected(IoConnector* connector, Io* io)
{
  timer.stop();
  // The others are abandoned now; the reporting one is still on the stack
  // and goes on the next pass.
  std::vector<IoConnector*> all;
  all.swap(ics);
  for (IoConnector* ic : all) {
    if (ic != connector)
      delete ic;
  }
  if (FdManager* mgr = FdManager::current())
    mgr->deleteLater(connector);
  else
    delete connector;
  cb_->connected(this, io);
}

void IoConnectorMulti::failed(IoConnector*, const plat::Exception& error)
{
  failures++;
  timer.stop();
  if (current + 1 < (int)ics.size()) {
    startNext();
    return;
  }
  if (delayMs < 0 || failures >= (int)ics.size())
    cb_->failed(this, error);
}

void IoConnectorMulti::progress(IoConnector*)
{
  if (progressSent)
    return;
  progressSent = true;
  cb_->progress(this);
}

Io* IoConnectorMulti::connect()
{
  PLAT_ASSERT(!ics.empty());
  for (size_t i = 0;; i++) {
    try {
      return ics[i]->connect();
    } catch (plat::Exception&) {
      if (i + 1 == ics.size())
        throw;
    }
  }
}

// --- TcpAddrConnector ------------------------------------------------------------

TcpAddrConnector::TcpAddrConnector(IpInfo address_, const char* hostName_)
    : address(std::move(address_)), hostName(hostName_)
{
}

TcpAddrConnector::~TcpAddrConnector()
{
  cancel();
}

int TcpAddrConnector::connectSocket(const IpInfo& address, bool blocking)
{
  addrLog.info("Trying TCP to %s", address.toString());
  return os::connectSocket(address, SOCK_STREAM, blocking);
}

Io* TcpAddrConnector::connect()
{
  int fd = connectSocket(address, true);
  TcpIo* io;
  try {
    io = new TcpIo(fd, true);
  } catch (...) {
    ::close(fd);
    throw;
  }
  io->setHostName(hostName.get());
  os::setSocketDscp(fd);
  return io;
}

void TcpAddrConnector::begin()
{
  try {
    int fd = connectSocket(address, false);
    try {
      io_ = new TcpIo(fd, true, true);
    } catch (...) {
      ::close(fd);
      throw;
    }
    io_->setHostName(hostName.get());
    // Reads stay off: the first writable event says the connect finished.
    io_->setHandler(this, false);
  } catch (plat::Exception& e) {
    fail(e);
  }
}

void TcpAddrConnector::cancel()
{
  if (!io_)
    return;
  TcpIo* io = io_;
  io_ = nullptr;
  io->shutdown(false, false);
}

void TcpAddrConnector::dataAvailable(Io*)
{
}

void TcpAddrConnector::writable(Io* io)
{
  PLAT_ASSERT(io_ == io);
  TcpIo* done = io_;
  try {
    int err = done->getSocketError();
    if (err)
      throw plat::SystemException("connect", err);
    TcpIo::setNoDelay(done->getFd(), false);
    os::setSocketDscp(done->getFd());
    done->markIfLoopback();
    done->setHandler(nullptr, true);
  } catch (plat::Exception& e) {
    fail(e);
    return;
  }
  io_ = nullptr;
  succeeded(done);
}

void TcpAddrConnector::fail(const plat::Exception& error)
{
  char text[plat::Exception::kMessageSize];
  addrLog.info("TCP to %s failed: %s", address.toString(), error.formatDisplay(text));
  cancel();
  failed(error);
}

const char* TcpAddrConnector::errorMessage(int systemError)
{
  switch (systemError) {
  case ENETUNREACH:
  case EHOSTDOWN:
  case EHOSTUNREACH:
    return LOC_TR("io_error_ip_nethostunreach");
  case ECONNABORTED:
    return LOC_TR("io_error_tcp_conndropped");
  case ETIMEDOUT:
    return LOC_TR("io_error_tcp_timedout");
  case ECONNREFUSED:
    return LOC_TR("io_error_tcp_connrefused");
  default:
    return nullptr;
  }
}

// --- TcpConnector ------------------------------------------------------------------

TcpConnector::TcpConnector(const char* host_, int port_)
    : host(unbracketHost(host_)), port(port_), goneReport([this] {
        IpResolver::IpResolveException e("Name resolver gone before answering");
        callback->failed(this, e);
      })
{
}

TcpConnector::TcpConnector(const char* endpoint, int basePort, int range)
    : TcpConnector(nullptr, 0)
{
  plat::String bracketed;
  parseEndpointName(endpoint, bracketed, &port, basePort, range);
  host = unbracketHost(bracketed.str());
}

TcpConnector::~TcpConnector()
{
  if (resolver)
    resolver->cancel(this);
  delete multi;
}

void TcpConnector::start(IoConnected* cb)
{
  callback = cb;
  IpResolver* r = IpResolverMgr::getResolver();
  if (resolver)
    resolver->cancel(this);
  goneReport.cancel();
  resolver = r;
  resolver->resolve(this, host.str(), port, 0);
}

Io* TcpConnector::connect()
{
  connLog.info("connect to %s:%d", host.str(), port);
  IpInfoList addresses;
  resolveSync(host.str(), port, 0, addresses);
  IoConnectorMulti m(-1);
  for (IpInfo& a : addresses.addresses)
    m.add(new TcpAddrConnector(a, host.str()));
  return m.connect();
}

const char* TcpConnector::methodName(bool localised)
{
  return localised ? LOC_TR("io_tcp_connection_type") : "Direct TCP";
}

void TcpConnector::resolved(IpResolver*, IpInfoList& addresses)
{
  resolver = nullptr;
  delete multi;
  multi = new IoConnectorMulti(10);
  for (IpInfo& a : addresses.addresses)
    multi->add(new TcpAddrConnector(a, host.str()));
  if (multi->empty()) {
    // The resolver promises at least one address; should it break that,
    // the caller still hears of it.
    failed(static_cast<IpResolver*>(nullptr),
           GetAddrInfoException("getaddrinfo", EAI_NONAME));
    return;
  }
  multi->start(this);
}

void TcpConnector::failed(IpResolver*, const plat::Exception& error)
{
  resolver = nullptr;
  callback->failed(this, error);
}

void TcpConnector::resolverGone(IpResolver*)
{
  resolver = nullptr;
  if (callback && FdManager::current())
    goneReport.post();
}

void TcpConnector::connected(IoConnector*, Io* io)
{
  callback->connected(this, io);
}

void TcpConnector::failed(IoConnector*, const plat::Exception& error)
{
  callback->failed(this, error);
}

} // namespace io
