#include "io/IpInfo.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include "io/Endpoint.h"
#include "loc/Localize.h"
#include "os/socket.h"

namespace io {

namespace {

// Assertions whose text callers and logs match on; thrown, not fatal, as
// the addresses often come from outside.
[[noreturn]] void failCheck(const char* expression, int line)
{
  throw plat::AssertionFail(expression, __FILE__, line);
}

const unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

bool isLinkLocal6(const unsigned char* a)
{
  return a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
}

// A socket address of the family with the port and the address bytes (4 or
// 16 of them; null for the unspecified address).
void makeSockaddr(int family, int port, const unsigned char* bytes,
                  plat::MBuf<unsigned char>& addr, int& addrLen)
{
  if (family == AF_INET) {
    sockaddr_in sin;
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons((uint16_t)port);
    if (bytes)
      memcpy(&sin.sin_addr, bytes, 4);
    addr.assign(reinterpret_cast<const unsigned char*>(&sin), sizeof(sin));
    addrLen = sizeof(sin);
  } else {
    sockaddr_in6 sin6;
    memset(&sin6, 0, sizeof(sin6));
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons((uint16_t)port);
    if (bytes)
      memcpy(&sin6.sin6_addr, bytes, 16);
    addr.assign(reinterpret_cast<const unsigned char*>(&sin6), sizeof(sin6));
    addrLen = sizeof(sin6);
  }
}

} // namespace

// --- GetAddrInfoException -----------------------------------------------------------

GetAddrInfoException::GetAddrInfoException(const char* context, int code) : code_(code)
{
  setType("GetAddrInfo");
  const char* text = gai_strerror(code);
  char buf[kMessageSize];
  snprintf(buf, sizeof(buf), "%s: '%s' (%d)", context ? context : "", text ? text : "", code);
  setMessage(buf);
}

GetAddrInfoException GetAddrInfoException::withMessage(int code, const char* message)
{
  GetAddrInfoException e("", code);
  e.setMessage(message);
  return e;
}

const char* GetAddrInfoException::userMessage() const
{
  switch (code_) {
  case EAI_NODATA:
    return LOC_TR("io_error_eai_nodata");
  case EAI_AGAIN:
    return LOC_TR("io_error_eai_again");
  case EAI_NONAME:
    return LOC_TR("io_error_eai_noname");
  default:
    return str();
  }
}

// --- IpInfo: construction ---------------------------------------------------------

IpInfo::IpInfo() : IpInfo(128)
{
}

IpInfo::IpInfo(int size) : addrLen_(size < 0 ? 0 : size), addr_(addrLen_)
{
  if (addrLen_ > 0)
    memset(addr_.data(), 0, addrLen_);
}

IpInfo::IpInfo(int fd, bool local) : IpInfo()
{
  socklen_t len = addrLen_;
  int r = local ? getsockname(fd, sockAddr(), &len) : getpeername(fd, sockAddr(), &len);
  if (r != 0)
    throw plat::SystemException(local ? "getsockname" : "getpeername", errno);
  int slen = (int)len;
  if (!(slen == sizeof(sockaddr_in) || slen == sizeof(sockaddr_in6)))
    failCheck("slen == sizeof(sockaddr_in) || ((slen) == sizeof(sockaddr_in6))", __LINE__);
  addrLen_ = slen;
  addr_.resize(slen);
  checkValid();
}

IpInfo::IpInfo(const struct sockaddr* address, int len) : addrLen_(0)
{
  if (!(len == sizeof(sockaddr_in) || len == sizeof(sockaddr_in6)))
    failCheck("len == sizeof(sockaddr_in) || ((len) == sizeof(sockaddr_in6))", __LINE__);
  addr_.assign(reinterpret_cast<const unsigned char*>(address), len);
  addrLen_ = len;
  checkValid();
}

IpInfo::IpInfo(int port, bool loopback, int family) : addrLen_(0)
{
  if (!(family == AF_INET || family == AF_INET6))
    failCheck("family == 2 || ((family) == 10)", __LINE__);
  static const unsigned char kLoopback4[4] = {127, 0, 0, 1};
  const unsigned char* bytes = nullptr;
  if (loopback)
    bytes = family == AF_INET ? kLoopback4 : kLoopback6;
  makeSockaddr(family, port, bytes, addr_, addrLen_);
}

IpInfo::IpInfo(const char* text, int port) : addrLen_(0)
{
  if (!text)
    throw GetAddrInfoException("getaddrinfo", EAI_NONAME);
  if (port < 0 || port > 65535)
    throw GetAddrInfoException("getaddrinfo", EAI_SERVICE);
  plat::String host(text);
  int len = host.length();
  if (len >= 2 && text[0] == '[' && text[len - 1] == ']')
    host = plat::String(text + 1, len - 2);
  // glibc's lookup takes "*" as no host (the loopback address), even numeric.
  if (strcmp(host.str(), "*") == 0)
    throw GetAddrInfoException("getaddrinfo", EAI_NONAME);
  char service[16];
  snprintf(service, sizeof(service), "%d", port);
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* result = nullptr;
  int r = getAddrInfo(host.str(), service, &hints, &result);
  if (r != 0)
    throw GetAddrInfoException("getaddrinfo", r);
  struct addrinfo* ai = result;
  while (ai && ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
    ai = ai->ai_next;
  if (!ai) {
    freeAddrInfo(result);
    throw GetAddrInfoException("getaddrinfo", EAI_ADDRFAMILY);
  }
  addr_.assign(reinterpret_cast<const unsigned char*>(ai->ai_addr), (int)ai->ai_addrlen);
  addrLen_ = (int)ai->ai_addrlen;
  freeAddrInfo(result);
}

IpInfo::IpInfo(const plat::MBuf<unsigned char>& binAddr, int port) : addrLen_(0)
{
  if (!(binAddr.length() == 4 || binAddr.length() == 16))
    failCheck("binAddr.length() == 4 || ((binAddr.length()) == 16)", __LINE__);
  makeSockaddr(binAddr.length() == 4 ? AF_INET : AF_INET6, port, binAddr.data(), addr_, addrLen_);
}

bool isNumericAddress(const char* text, int port, IpInfo* out)
{
  try {
    IpInfo address(text, port);
    if (out)
      *out = std::move(address);
    return true;
  } catch (plat::Exception&) {
    return false;
  }
}

IpInfo::IpInfo(const PktInfo& pktInfo, int port)
    : IpInfo(plat::MBuf<unsigned char>(pktInfo.destAddress().data, pktInfo.destAddress().length),
             port)
{
  if (family() == AF_INET6 && isLinkLocal6(rawAddress().data)) {
    sockaddr_in6* sin6 = reinterpret_cast<sockaddr_in6*>(addr_.data());
    sin6->sin6_scope_id = (uint32_t)pktInfo.interfaceIndex();
  }
}

IpInfo::IpInfo(const IpInfo& other) : addrLen_(other.addrLen_), addr_(other.addr_)
{
}

IpInfo& IpInfo::operator=(const IpInfo& other)
{
  if (this != &other) {
    addrLen_ = other.addrLen_;
    addr_ = other.addr_;
    endpointText_ = plat::String();
    numericText_ = plat::String();
  }
  return *this;
}

void IpInfo::setLen(int len)
{
  if (!(len == sizeof(sockaddr_in) || len == sizeof(sockaddr_in6)) || len > addr_.length())
    failCheck("len == sizeof(sockaddr_in) || ((len) == sizeof(sockaddr_in6))", __LINE__);
  addr_.resize(len);
  addrLen_ = len;
  endpointText_ = plat::String();
  numericText_ = plat::String();
  checkValid();
}

void IpInfo::checkValid()
{
  if (!(family() == AF_INET || family() == AF_INET6))
    failCheck("family() == 2 || ((family()) == 10)", __LINE__);
  int expected = family() == AF_INET ? (int)sizeof(sockaddr_in) : (int)sizeof(sockaddr_in6);
  if (addrLen_ != expected)
    failCheck("len == sizeof(sockaddr_in) || ((len) == sizeof(sockaddr_in6))", __LINE__);
}

// --- IpInfo: queries ----------------------------------------------------------------

int IpInfo::family() const
{
  if (addrLen_ < (int)sizeof(sa_family_t))
    return 0;
  return sockAddr()->sa_family;
}

int IpInfo::port() const
{
  if (family() != AF_INET && family() != AF_INET6)
    return 0;
  return ntohs(reinterpret_cast<const sockaddr_in*>(addr_.data())->sin_port);
}

IpInfo::RawAddress IpInfo::rawAddress() const
{
  if (family() == AF_INET)
    return {4, reinterpret_cast<const unsigned char*>(
                   &reinterpret_cast<const sockaddr_in*>(addr_.data())->sin_addr)};
  if (family() == AF_INET6)
    return {16, reinterpret_cast<const unsigned char*>(
                    &reinterpret_cast<const sockaddr_in6*>(addr_.data())->sin6_addr)};
  return {0, nullptr};
}

bool IpInfo::isAny() const
{
  RawAddress raw = rawAddress();
  if (!raw.length)
    return false;
  for (int i = 0; i < raw.length; i++)
    if (raw.data[i])
      return false;
  return true;
}

bool IpInfo::isLoopback() const
{
  RawAddress raw = rawAddress();
  if (raw.length == 4)
    return raw.data[0] == 127 && raw.data[1] == 0 && raw.data[2] == 0 && raw.data[3] == 1;
  return raw.length == 16 && memcmp(raw.data, kLoopback6, 16) == 0;
}

bool IpInfo::isLinkLocal() const
{
  RawAddress raw = rawAddress();
  if (raw.length == 4)
    return raw.data[0] == 169 && raw.data[1] == 254;
  return raw.length == 16 && isLinkLocal6(raw.data);
}

bool IpInfo::sameHost(const IpInfo& other) const
{
  if (addrLen_ != other.addrLen_ || family() != other.family())
    return false;
  RawAddress a = rawAddress();
  RawAddress b = other.rawAddress();
  if (a.length != b.length || !a.data || memcmp(a.data, b.data, a.length) != 0)
    return false;
  if (family() == AF_INET6) {
    const sockaddr_in6* x = reinterpret_cast<const sockaddr_in6*>(addr_.data());
    const sockaddr_in6* y = reinterpret_cast<const sockaddr_in6*>(other.addr_.data());
    return x->sin6_scope_id == y->sin6_scope_id && x->sin6_flowinfo == y->sin6_flowinfo;
  }
  return true;
}

bool IpInfo::operator==(const IpInfo& other) const
{
  return port() == other.port() && sameHost(other);
}

const char* IpInfo::numericHost() const
{
  if (!numericText_.isNull())
    return numericText_.get();
  char host[1025];
  int r =
      getnameinfo(sockAddr(), (socklen_t)addrLen_, host, sizeof(host), nullptr, 0, NI_NUMERICHOST);
  if (r != 0)
    throw GetAddrInfoException("getnameinfo", r);
  numericText_ = plat::String(host);
  return numericText_.get();
}

const char* IpInfo::toString() const
{
  if (!endpointText_.isNull())
    return endpointText_.get();
  endpointText_ = plat::format("%s::%d", bracketHost(numericHost()).get(), port());
  return endpointText_.get();
}

plat::String IpInfo::describe(const char* label, const char* name) const
{
  plat::String host = name ? plat::String(name) : unbracketHost(numericHost());
  return plat::format("%s::%d (%s)", host.str(), port(), label ? label : "");
}

// --- IpInfoList ---------------------------------------------------------------------

IpInfoList::IpInfoList(const IpInfo& address, const char* name_)
    : addresses(1, address), name(name_)
{
}

IpInfoList::IpInfoList(const std::vector<IpInfo>& addresses_, const char* name_)
    : addresses(addresses_), name(name_)
{
}

bool IpInfoList::intersects(const IpInfoList& a, const IpInfoList& b)
{
  for (const IpInfo& x : a.addresses)
    for (const IpInfo& y : b.addresses)
      if (x == y)
        return true;
  return false;
}

int getAddrInfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** result)
{
  return getaddrinfo(node, service, hints, result);
}

void freeAddrInfo(struct addrinfo* result)
{
  freeaddrinfo(result);
}

// --- PktInfo ------------------------------------------------------------------------

namespace {

struct PktOption {
  int level;
  int option;
  const char* getName;
  const char* setName;
};

bool pktOption(int family, PktOption* out)
{
  if (family == AF_INET) {
    *out = {IPPROTO_IP, IP_PKTINFO, "getsockopt(IP_PKTINFO)", "setsockopt(IP_PKTINFO)"};
    return true;
  }
  if (family == AF_INET6) {
    *out = {IPPROTO_IPV6, IPV6_RECVPKTINFO, "getsockopt(IPV6_RECVPKTINFO)",
            "setsockopt(IPV6_RECVPKTINFO)"};
    return true;
  }
  return false;
}

} // namespace

PktInfo::PktInfo(const IpInfo& address, int interfaceIndex)
{
  IpInfo::RawAddress raw = address.rawAddress();
  if (address.family() == AF_INET) {
    in_pktinfo pi;
    memset(&pi, 0, sizeof(pi));
    pi.ipi_ifindex = interfaceIndex;
    memcpy(&pi.ipi_addr, raw.data, 4);
    data_.assign(reinterpret_cast<const unsigned char*>(&pi), sizeof(pi));
    family_ = AF_INET;
  } else if (address.family() == AF_INET6) {
    in6_pktinfo pi;
    memset(&pi, 0, sizeof(pi));
    pi.ipi6_ifindex = (unsigned)interfaceIndex;
    memcpy(&pi.ipi6_addr, raw.data, 16);
    data_.assign(reinterpret_cast<const unsigned char*>(&pi), sizeof(pi));
    family_ = AF_INET6;
  }
}

bool PktInfo::isEnabled(int fd, int family)
{
  PktOption opt;
  if (!pktOption(family, &opt))
    return false;
  int value = 0;
  socklen_t len = sizeof(value);
  if (getsockopt(fd, opt.level, opt.option, &value, &len) != 0)
    throw plat::SystemException(opt.getName, errno);
  return value != 0;
}

void PktInfo::setEnabled(int fd, int family, bool on)
{
  PktOption opt;
  if (!pktOption(family, &opt))
    return;
  int value = on ? 1 : 0;
  if (setsockopt(fd, opt.level, opt.option, &value, sizeof(value)) != 0)
    throw plat::SystemException(opt.setName, errno);
}

int PktInfo::controlSpace(int family)
{
  if (family == AF_INET6)
    return CMSG_SPACE(sizeof(in6_pktinfo));
  if (family == AF_INET)
    return CMSG_SPACE(sizeof(in_pktinfo));
  return 0;
}

void PktInfo::fromMsg(const struct msghdr& msg)
{
  family_ = 0;
  data_.clear();
  struct msghdr* m = const_cast<struct msghdr*>(&msg);
  for (struct cmsghdr* c = CMSG_FIRSTHDR(m); c; c = CMSG_NXTHDR(m, c)) {
    if (c->cmsg_len < sizeof(struct cmsghdr))
      break;
    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO &&
        c->cmsg_len == CMSG_LEN(sizeof(in6_pktinfo))) {
      data_.assign(CMSG_DATA(c), sizeof(in6_pktinfo));
      family_ = AF_INET6;
      return;
    }
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
        c->cmsg_len == CMSG_LEN(sizeof(in_pktinfo))) {
      data_.assign(CMSG_DATA(c), sizeof(in_pktinfo));
      family_ = AF_INET;
      return;
    }
  }
}

void PktInfo::toMsg(struct msghdr& msg) const
{
  if (family_ != AF_INET && family_ != AF_INET6) {
    msg.msg_controllen = 0;
    return;
  }
  // The whole message must fit: a short buffer is the caller's mistake and
  // must not cost a write past its end.
  size_t space = (size_t)controlSpace(family_);
  PLAT_CHECK(msg.msg_control && msg.msg_controllen >= space);
  memset(msg.msg_control, 0, space);
  msg.msg_controllen = space;
  struct cmsghdr* c = CMSG_FIRSTHDR(&msg);
  if (family_ == AF_INET6) {
    in6_pktinfo pi;
    memcpy(&pi, data_.data(), sizeof(pi));
    if (!isLinkLocal6(reinterpret_cast<const unsigned char*>(&pi.ipi6_addr)))
      pi.ipi6_ifindex = 0;
    c->cmsg_level = IPPROTO_IPV6;
    c->cmsg_type = IPV6_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(pi));
    memcpy(CMSG_DATA(c), &pi, sizeof(pi));
  } else {
    in_pktinfo stored;
    memcpy(&stored, data_.data(), sizeof(stored));
    in_pktinfo pi;
    memset(&pi, 0, sizeof(pi));
    pi.ipi_spec_dst = stored.ipi_addr;
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(pi));
    memcpy(CMSG_DATA(c), &pi, sizeof(pi));
  }
}

IpInfo::RawAddress PktInfo::destAddress() const
{
  if (!(family_ == AF_INET || family_ == AF_INET6))
    failCheck("family_ == 2 || ((family_) == 10)", __LINE__);
  if (family_ == AF_INET)
    return {4, reinterpret_cast<const unsigned char*>(
                   &reinterpret_cast<const in_pktinfo*>(data_.data())->ipi_addr)};
  return {16, reinterpret_cast<const unsigned char*>(
                  &reinterpret_cast<const in6_pktinfo*>(data_.data())->ipi6_addr)};
}

int PktInfo::interfaceIndex() const
{
  if (family_ == AF_INET)
    return reinterpret_cast<const in_pktinfo*>(data_.data())->ipi_ifindex;
  if (family_ == AF_INET6)
    return (int)reinterpret_cast<const in6_pktinfo*>(data_.data())->ipi6_ifindex;
  return 0;
}

bool PktInfo::operator==(const PktInfo& other) const
{
  if (family_ != other.family_)
    return false;
  if (family_ == 0)
    return true;
  IpInfo::RawAddress a = destAddress();
  IpInfo::RawAddress b = other.destAddress();
  return memcmp(a.data, b.data, a.length) == 0 && interfaceIndex() == other.interfaceIndex();
}

} // namespace io

namespace os {

int connectSocket(const io::IpInfo& address, int type, bool blocking)
{
  return connectSocket(address.sockAddr(), (socklen_t)address.len(), type, blocking);
}

int bindSocket(const io::IpInfo& address, int type, bool reusePort)
{
  return bindSocket(address.sockAddr(), (socklen_t)address.len(), type, reusePort);
}

} // namespace os
