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

IoConnectorMulti::IoConnectorMulti(int delay) : delayMs_(delay), timer_(this)
{
}

IoConnectorMulti::~IoConnectorMulti()
{
  timer_.stop();
}

void IoConnectorMulti::add(std::unique_ptr<IoConnector> connector)
{
  ics_.push_back(std::move(connector));
}

void IoConnectorMulti::start(IoConnected* callback)
{
  PLAT_ASSERT(!ics_.empty());
  PLAT_ASSERT(!cb_);
  PLAT_ASSERT(callback);
  cb_ = callback;
  startNext();
}

void IoConnectorMulti::startNext()
{
  current_++;
  ics_[current_]->start(this);
  if (delayMs_ >= 0 && current_ + 1 < (int)ics_.size())
    timer_.start(delayMs_);
}

bool IoConnectorMulti::timerExpired(plat::Timer*)
{
  if (current_ + 1 < (int)ics_.size())
    startNext();
  return false;
}

void IoConnectorMulti::connected(IoConnector* connector, IoPtr io)
{
  timer_.stop();
  // The others are abandoned now; the reporting one is still on the stack
  // and goes on the next pass.
  std::vector<std::unique_ptr<IoConnector>> all;
  all.swap(ics_);
  for (std::unique_ptr<IoConnector>& ic : all) {
    if (ic.get() != connector)
      continue;
    if (FdManager* mgr = FdManager::current())
      mgr->deleteLater(std::move(ic));
  }
  all.clear();
  cb_->connected(this, std::move(io));
}

void IoConnectorMulti::failed(IoConnector*, const plat::Exception& error)
{
  failures_++;
  timer_.stop();
  if (current_ + 1 < (int)ics_.size()) {
    startNext();
    return;
  }
  if (delayMs_ < 0 || failures_ >= (int)ics_.size())
    cb_->failed(this, error);
}

void IoConnectorMulti::progress(IoConnector*)
{
  if (progressSent_)
    return;
  progressSent_ = true;
  cb_->progress(this);
}

IoPtr IoConnectorMulti::connect()
{
  PLAT_ASSERT(!ics_.empty());
  for (size_t i = 0;; i++) {
    try {
      return ics_[i]->connect();
    } catch (plat::Exception&) {
      if (i + 1 == ics_.size())
        throw;
    }
  }
}

// --- TcpAddrConnector ------------------------------------------------------------

TcpAddrConnector::TcpAddrConnector(IpInfo addr, const char* name)
    : address_(std::move(addr)), hostName_(name)
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

IoPtr TcpAddrConnector::connect()
{
  int fd = connectSocket(address_, true);
  TcpIo* io;
  try {
    io = new TcpIo(fd, TcpIoFlags::kOwnFd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  io->setHostName(hostName_.get());
  os::setSocketDscp(fd);
  return IoPtr(io);
}

void TcpAddrConnector::begin()
{
  try {
    int fd = connectSocket(address_, false);
    try {
      io_.reset(new TcpIo(fd, TcpIoFlags::kOwnFd | TcpIoFlags::kConnectPending));
    } catch (...) {
      ::close(fd);
      throw;
    }
    tcpIo()->setHostName(hostName_.get());
    // Reads stay off: the first writable event says the connect finished.
    io_->setHandler(this, false);
  } catch (plat::Exception& e) {
    fail(e);
  }
}

void TcpAddrConnector::cancel()
{
  io_.reset();
}

TcpIo* TcpAddrConnector::tcpIo() const
{
  return static_cast<TcpIo*>(io_.get());
}

void TcpAddrConnector::dataAvailable(Io*)
{
}

void TcpAddrConnector::writable(Io* io)
{
  PLAT_ASSERT(io_.get() == io);
  TcpIo* done = tcpIo();
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
  succeeded(IoPtr(io_.release()));
}

void TcpAddrConnector::fail(const plat::Exception& error)
{
  char text[plat::Exception::kMessageSize];
  addrLog.info("TCP to %s failed: %s", address_.toString(), error.formatDisplay(text));
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

TcpConnector::TcpConnector(const char* hostText, int portNumber)
    : host_(unbracketHost(hostText)), port_(portNumber), goneReport_([this] {
        IpResolver::IpResolveException e("Name resolver gone before answering");
        callback_->failed(this, e);
      })
{
}

TcpConnector::TcpConnector(const char* endpoint, int basePort, int range)
    : TcpConnector(nullptr, 0)
{
  plat::String bracketed;
  parseEndpointName(endpoint, bracketed, &port_, basePort, range);
  host_ = unbracketHost(bracketed.str());
}

TcpConnector::~TcpConnector()
{
  if (resolver_)
    resolver_->cancel(this);
}

void TcpConnector::start(IoConnected* cb)
{
  callback_ = cb;
  IpResolver* r = IpResolverMgr::getResolver();
  if (resolver_)
    resolver_->cancel(this);
  goneReport_.cancel();
  resolver_ = r;
  resolver_->resolve(this, host_.str(), port_, 0);
}

IoPtr TcpConnector::connect()
{
  connLog.info("connect to %s:%d", host_.str(), port_);
  IpInfoList addresses;
  resolveSync(host_.str(), port_, 0, addresses);
  IoConnectorMulti m(-1);
  for (IpInfo& a : addresses.addresses)
    m.add(std::make_unique<TcpAddrConnector>(a, host_.str()));
  return m.connect();
}

const char* TcpConnector::methodName(bool localised)
{
  return localised ? LOC_TR("io_tcp_connection_type") : "Direct TCP";
}

void TcpConnector::resolved(IpResolver*, IpInfoList& addresses)
{
  resolver_ = nullptr;
  multi_ = std::make_unique<IoConnectorMulti>(10);
  for (IpInfo& a : addresses.addresses)
    multi_->add(std::make_unique<TcpAddrConnector>(a, host_.str()));
  if (multi_->empty()) {
    // The resolver promises at least one address; should it break that,
    // the caller still hears of it.
    failed(static_cast<IpResolver*>(nullptr),
           GetAddrInfoException("getaddrinfo", EAI_NONAME));
    return;
  }
  multi_->start(this);
}

void TcpConnector::failed(IpResolver*, const plat::Exception& error)
{
  resolver_ = nullptr;
  callback_->failed(this, error);
}

void TcpConnector::resolverGone(IpResolver*)
{
  resolver_ = nullptr;
  if (callback_ && FdManager::current())
    goneReport_.post();
}

void TcpConnector::connected(IoConnector*, IoPtr io)
{
  callback_->connected(this, std::move(io));
}

void TcpConnector::failed(IoConnector*, const plat::Exception& error)
{
  callback_->failed(this, error);
}

} // namespace io
