// IPv4 and IPv6 socket addresses as values, resolved-address lists, the
// resolver's exception and the per-packet destination information of
// datagram sockets.
//
// io::IpInfo holds one socket address exactly as the system lays it out
// (family, port in network order, address; for IPv6 also flow information
// and scope id), so it passes straight to bind, connect and sendto. Its text
// forms are computed on first use and cached per object; a copy computes its
// own. Nothing here keeps shared state: any thread may use these types, one
// object per thread at a time.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <vector>

#include "plat/Exception.h"
#include "plat/MBuf.h"
#include "plat/String.h"

struct msghdr;

namespace io {

class PktInfo;

// A failed getaddrinfo/getnameinfo: "<context>: '<system text>' (<code>)".
class GetAddrInfoException : public plat::Exception {
public:
  GetAddrInfoException(const char* context, int code);
  // With a finished message (one that came over the wire).
  static GetAddrInfoException withMessage(int code, const char* message);

  // The translated text for the codes a user can act on (no data, try
  // again, no such host); the exception's own message otherwise.
  const char* userMessage() const;

  int code() const { return code_; }

private:
  int code_;
};

class IpInfo {
public:
  // The address bytes inside the held socket address.
  struct RawAddress {
    int length; // 4 or 16
    const unsigned char* data;
  };

  // --- Construction ------------------------------------------------------------
  // 128 zero bytes: room for any address (a buffer for getsockname & co).
  IpInfo();
  // size zero bytes.
  explicit IpInfo(int size);
  // The local (getsockname) or remote (getpeername) end of a socket;
  // throws plat::SystemException named after the call.
  IpInfo(int fd, bool local);
  // A copy of a system socket address of family AF_INET or AF_INET6.
  IpInfo(const struct sockaddr* address, int len);
  // 127.0.0.1 / ::1 (loopback) or 0.0.0.0 / :: with that port.
  IpInfo(int port, bool loopback, int family);
  // Numeric address text (square brackets allowed around it), never a
  // name; throws GetAddrInfoException "getaddrinfo".
  IpInfo(const char* text, int port);
  // From 4 (IPv4) or 16 (IPv6) raw address bytes.
  IpInfo(const plat::MBuf<unsigned char>& binAddr, int port);
  // The destination of a received packet; an IPv6 link-local destination
  // gets the receiving interface as its scope.
  IpInfo(const PktInfo& pktInfo, int port);

  // Copies leave the text caches behind.
  IpInfo(const IpInfo& other);
  IpInfo& operator=(const IpInfo& other);
  IpInfo(IpInfo&& other) noexcept = default;
  IpInfo& operator=(IpInfo&& other) noexcept = default;

  // --- The system form -----------------------------------------------------------
  const struct sockaddr* sockAddr() const
  {
    return reinterpret_cast<const struct sockaddr*>(addr_.data());
  }
  // For filling by a system call; call setLen afterwards.
  struct sockaddr* sockAddr() { return reinterpret_cast<struct sockaddr*>(addr_.data()); }
  int len() const { return addrLen_; }
  // After a system call filled the buffer: takes len bytes as the address,
  // checking family and length like the sockaddr constructor.
  void setLen(int len);

  // --- Queries -------------------------------------------------------------------
  int family() const;
  int port() const;
  RawAddress rawAddress() const;
  // 0.0.0.0 or ::.
  bool isAny() const;
  // Exactly 127.0.0.1 or ::1.
  bool isLoopback() const;
  // 169.254.0.0/16 or fe80::/10.
  bool isLinkLocal() const;
  // Same port, length and bytes (IPv6: scope id and flow information too).
  bool operator==(const IpInfo& other) const;
  bool operator!=(const IpInfo& other) const { return !(*this == other); }
  // operator== without the port.
  bool sameHost(const IpInfo& other) const;

  // --- Texts (cached) ----------------------------------------------------------
  // The address as numeric text; throws GetAddrInfoException "getnameinfo".
  const char* numericHost() const;
  // "192.0.2.7::443", "[2001:db8::1]::443".
  const char* toString() const;
  // "<name or numeric host>::<port> (<label>)".
  plat::String describe(const char* label, const char* name) const;

private:
  void checkValid();

  int addrLen_;
  plat::MBuf<unsigned char> addr_;
  mutable plat::String endpointText_;
  mutable plat::String numericText_;
};

// Whether text is a numeric address (as IpInfo(text, port) reads it) rather
// than a name; the address goes to out when it is not null.
bool isNumericAddress(const char* text, int port = 0, IpInfo* out = nullptr);

// Addresses in resolver order with the name they were resolved from.
struct IpInfoList {
  IpInfoList() = default;
  IpInfoList(const IpInfo& address, const char* name);
  IpInfoList(const std::vector<IpInfo>& addresses, const char* name);

  // Whether some address of a equals some address of b.
  static bool intersects(const IpInfoList& a, const IpInfoList& b);

  std::vector<IpInfo> addresses;
  plat::String name;
};

// The system's getaddrinfo and freeaddrinfo, unchanged.
int getAddrInfo(const char* node, const char* service, const struct addrinfo* hints,
                struct addrinfo** result);
void freeAddrInfo(struct addrinfo* result);

// The destination address and interface of a datagram (IP_PKTINFO /
// IPV6_PKTINFO), read from a received message or written into one to be
// sent.
class PktInfo {
public:
  // Holds nothing (family 0).
  PktInfo() = default;
  // For sending from address; the interface index is used only for an
  // IPv6 link-local address.
  PktInfo(const IpInfo& address, int interfaceIndex);

  static bool isEnabled(int fd, int family);
  static void setEnabled(int fd, int family, bool on);
  // Control-buffer bytes one such message needs: 32 (IPv4), 40 (IPv6), or 0.
  static int controlSpace(int family);

  // Takes the first well-formed packet-info control message, or nothing.
  void fromMsg(const struct msghdr& msg);
  // Writes one control message into msg's control buffer and sets
  // msg_controllen to its space. The buffer must hold controlSpace(family())
  // bytes; a smaller one throws plat::AssertionFail and is left untouched.
  // Holding nothing writes nothing (msg_controllen 0).
  void toMsg(struct msghdr& msg) const;

  int family() const { return family_; }
  IpInfo::RawAddress destAddress() const;
  int interfaceIndex() const;
  bool operator==(const PktInfo& other) const;

private:
  int family_ = 0;
  plat::MBuf<unsigned char> data_;
};

} // namespace io

namespace os {

// The sockaddr functions of os/socket.h for an io::IpInfo.
int connectSocket(const io::IpInfo& address, int type, bool blocking);
int bindSocket(const io::IpInfo& address, int type, bool reusePort);

} // namespace os
