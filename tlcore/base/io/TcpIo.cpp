#include "io/TcpIo.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "io/Endpoint.h"
#include "loc/Localize.h"
#include "plat/Log.h"

namespace io {

namespace {

plat::LogSrc vlog("TcpIo");

} // namespace

TcpIo::TcpIo(int fd, TcpIoFlags flags, int inBufSize, int outBufSize)
    : FdIo(fd,
           (hasAny(flags, TcpIoFlags::kOwnFd) ? FdIoFlags::kOwnFd : FdIoFlags::kNone) |
               (hasAny(flags, TcpIoFlags::kConnectPending) ? FdIoFlags::kConnectPending
                                                           : FdIoFlags::kNone),
           inBufSize, outBufSize)
{
  if (!hasAny(flags, TcpIoFlags::kConnectPending)) {
    setNoDelay(fd, false);
    markIfLoopback();
  }
}

TcpIo::~TcpIo() = default;

void TcpIo::setHostName(const char* name)
{
  hostName_ = plat::String(name);
  peerEndpointText_ = plat::String();
  displayNameText_ = plat::String();
}

void TcpIo::markIfLoopback()
{
  try {
    if (myAddress().isLoopback() && peerAddressInfo().isLoopback())
      flags().insert(plat::String("secureTransport"));
  } catch (plat::Exception&) {
    // An end that cannot be read is not known to be loopback.
  }
}

const IpInfo& TcpIo::myAddress()
{
  if (!myInfo_)
    myInfo_ = std::make_unique<IpInfo>(getFd(), true);
  return *myInfo_;
}

const IpInfo& TcpIo::peerAddressInfo()
{
  if (!peerInfo_)
    peerInfo_ = std::make_unique<IpInfo>(getFd(), false);
  return *peerInfo_;
}

const char* TcpIo::displayName()
{
  if (!displayNameText_.isNull())
    return displayNameText_.str();
  try {
    displayNameText_ = peerAddressInfo().describe("TCP", hostName_.get());
    return displayNameText_.str();
  } catch (plat::Exception& e) {
    vlog.status("displayName error: %s", e.str());
    return FdIo::displayName();
  }
}

const char* TcpIo::peerEndpoint()
{
  if (!peerEndpointText_.isNull())
    return peerEndpointText_.str();
  try {
    if (hostName_.isNull())
      peerEndpointText_ = plat::String(peerAddressInfo().toString());
    else
      peerEndpointText_ =
          plat::format("%s::%d", bracketHost(hostName_.str()).str(), peerAddressInfo().port());
    return peerEndpointText_.str();
  } catch (plat::Exception& e) {
    vlog.status("peerEndpoint error: %s", e.str());
    return "";
  }
}

const char* TcpIo::resolvedPeerEndpoint()
{
  try {
    return peerAddressInfo().toString();
  } catch (plat::Exception& e) {
    vlog.status("resolvedPeerEndpoint error: %s", e.str());
    return "";
  }
}

const char* TcpIo::peerAddress()
{
  try {
    return peerAddressInfo().numericHost();
  } catch (plat::Exception& e) {
    vlog.status("peerAddress error: %s", e.str());
    return "";
  }
}

const char* TcpIo::myEndpoint()
{
  try {
    return myAddress().toString();
  } catch (plat::Exception& e) {
    vlog.status("myEndpoint error: %s", e.str());
    return "";
  }
}

bool TcpIo::setNoDelay(int fd, bool delay)
{
  int one = delay ? 0 : 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) < 0) {
    vlog.info("unable to setsockopt TCP_NODELAY: %d", errno);
    return false;
  }
  return true;
}

const char* TcpIo::errorMessage(int systemError)
{
  switch (systemError) {
  case ENETUNREACH:
  case EHOSTDOWN:
  case EHOSTUNREACH:
    return LOC_TR("io_error_ip_nethostunreach");
  case ECONNRESET:
  case EPIPE:
    return LOC_TR("io_error_tcp_connreset");
  case ETIMEDOUT:
    return LOC_TR("io_error_tcp_timedout");
  default:
    return nullptr;
  }
}

} // namespace io
