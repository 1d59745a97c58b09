// A TCP connection: a descriptor connection on a connected stream socket
// with Nagle's algorithm off, named after the host it was asked for and the
// addresses of its two ends. A connection between two loopback addresses
// carries the flag "secureTransport".
//
// Like every io::Io it belongs to the loop thread and ends only through
// shutdown(); it owns its descriptor when told so and the address records
// it makes on first use.
#pragma once

#include <memory>

#include "io/FdIo.h"
#include "io/IpInfo.h"
#include "plat/Flags.h"
#include "plat/String.h"

namespace io {

// How a TcpIo takes its descriptor.
enum class TcpIoFlags : unsigned {
  kNone = 0,
  // The descriptor is closed with the connection.
  kOwnFd = 1,
  // A non-blocking connect is still under way.
  kConnectPending = 2,
};
PLAT_FLAG_OPERATORS(TcpIoFlags)

class TcpIo : public FdIo {
public:
  // Non-blocking. Unless the connect is still under way, turns Nagle's
  // algorithm off and marks a loopback connection (see markIfLoopback).
  TcpIo(int fd, TcpIoFlags flags, int inBufSize = -1, int outBufSize = -1);

  // The host name the connection was asked for (may be null).
  void setHostName(const char* name);
  // Adds "secureTransport" when both ends are loopback addresses; an end
  // that cannot be read leaves the flags alone.
  void markIfLoopback();

  // --- Descriptions (owned texts; errors are logged and answer "") ---------------
  // "<host or address>::<port> (TCP)", or "<fd%d>" when the peer is unknown.
  const char* displayName() override;
  // The host name (else the address) and the remote port, "host::port".
  const char* peerEndpoint() override;
  const char* resolvedPeerEndpoint() override;
  const char* peerAddress() override;
  const char* myEndpoint() override;

  // The local and remote ends; throw plat::SystemException.
  const IpInfo& myAddress();
  const IpInfo& peerAddressInfo();

  // Sets TCP_NODELAY to !delay; a failure is logged and answers false.
  static bool setNoDelay(int fd, bool delay);
  // The user text for an errno of an established connection, or null.
  static const char* errorMessage(int systemError);

protected:
  ~TcpIo() override;

private:
  std::unique_ptr<IpInfo> myInfo_;
  std::unique_ptr<IpInfo> peerInfo_;
  plat::String hostName_;
  plat::String peerEndpointText_;
  plat::String displayNameText_;
};

} // namespace io
