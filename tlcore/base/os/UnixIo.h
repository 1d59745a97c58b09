// The connection over a named pipe (a Unix-domain socket): an io::FdIo
// that connects to a socket path or wraps an accepted or inherited
// descriptor, names itself after its side, path and peer user, and lets
// callers check who is on the other end. Like every io::Io it belongs to the
// loop thread and ends only through shutdown().
#pragma once

#include <sys/types.h>

#include "io/FdIo.h"
#include "plat/String.h"

namespace os {

class UnixIo : public io::FdIo {
public:
  // With fd < 0, connects to path first (throwing as connectUnix does,
  // waiting at most connectTimeoutMs when that is 0 or more); otherwise
  // takes fd over. Either way the descriptor is owned. A local socket
  // counts as a secure transport.
  UnixIo(const char* path, int fd, bool datagram = false, int connectTimeoutMs = -1);

  // How connectUnix connects: a stream socket unless kDatagram, blocking
  // unless kNonBlocking.
  enum ConnectFlags : unsigned { kStream = 0, kDatagram = 1 << 0, kNonBlocking = 1 << 1 };

  // A close-on-exec AF_UNIX socket connected to path. Throws
  // plat::SystemException "UnixIo" (ENAMETOOLONG for a path of 108 bytes or
  // more), "socket" or "connect"; a failed connect leaves nothing open. A
  // blocking connect to a server whose queue is full waits for room, for
  // timeoutMs at most when that is 0 or more (then "connect" ETIMEDOUT).
  static int connectUnix(const char* path, unsigned flags, int timeoutMs = -1);
  // Whether a live server owns path: false when nobody listens there (no
  // file, a stale socket), true when the connect worked or a stream
  // server's backlog is full; other errors are thrown.
  static bool isServerRunning(const char* path, bool datagram = false);

  // The peer's user id from SO_PEERCRED; throws "getPeerEuid".
  uid_t getPeerEuid();

  // "[unix:/path]" with each path component percent-escaped, for a peer
  // bound to an absolute path; empty otherwise (and not cached).
  const char* peerEndpoint() override;

protected:
  ~UnixIo() override;

private:
  plat::String peerEndpointText_;
};

// Throws plat::Exception "namedPipeCredCheck: uid mismatch" unless io is a
// Unix-socket connection whose peer runs as uid.
void namedPipeCredCheck(io::Io* io, uid_t uid);

} // namespace os
