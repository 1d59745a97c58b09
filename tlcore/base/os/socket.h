// The functions every descriptor of the system goes through: sockets, pipes
// and duplicates are made close-on-exec from birth, so a launched child
// inherits only what its launcher maps explicitly; the process is prepared
// once for socket work; sockets get the configured DSCP marking.
//
// Any thread may call these. Throwing functions raise plat::SystemException
// named after the failing call and close whatever descriptor they made
// before the exception leaves; the "try" forms return false or -1 with errno
// kept. Functions marked "child-safe" allocate nothing, take no lock and do
// not log, so a child may call them between fork and exec.
#pragma once

#include <sys/socket.h>

namespace os {

// --- Descriptor flags -------------------------------------------------------

// What a failed trySetInheritable or setInheritable does with the descriptor.
enum class OnFailure { kKeep, kClose };
// Clears (inheritable) or sets FD_CLOEXEC. On failure with OnFailure::kClose
// the descriptor is closed, errno kept. Child-safe.
bool trySetInheritable(int fd, bool inheritable, OnFailure onFailure = OnFailure::kKeep);
// The same, throwing "setInheritable".
void setInheritable(int fd, bool inheritable, OnFailure onFailure = OnFailure::kKeep);
// True when FD_CLOEXEC is clear; throws "getInheritable".
bool getInheritable(int fd);
// Switches O_NONBLOCK alone, keeping the other status flags (O_APPEND of
// an inherited descriptor, say); throws "setBlocking".
void setBlocking(int fd, bool blocking);

// --- Duplicates -------------------------------------------------------------

// A close-on-exec duplicate at the lowest free number; throws
// "fcntl(F_DUPFD_CLOEXEC)", "dup" or "setInheritable".
int dupCloexec(int fd);
// Makes newFd a close-on-exec duplicate of oldFd. oldFd == newFd is false
// with EINVAL. Child-safe.
bool tryDupTo(int oldFd, int newFd);
// The same, throwing "dup2".
void dupTo(int oldFd, int newFd);
void closeFd(int fd);

// --- Sockets and pipes ------------------------------------------------------

// Once per process: SIGPIPE ignored unless a handler is installed, the
// RLIMIT_NOFILE limits saved for children and a soft limit above 1024
// lowered to 1024 so every descriptor fits a select set. Never throws.
void initSocketProcessLimits();
// Runs initSocketProcessLimits, then socket() close-on-exec; -1 with errno
// on failure.
int socketCloexec(int domain, int type, int protocol);
// A socket of the address's family bound to it; stream sockets reuse the
// address (and the port when asked), IPv6 sockets are IPv6-only. Throws
// "socket", "setsockopt" or "bind".
int bindSocket(const struct sockaddr* address, socklen_t length, int type, bool reusePort);
// A socket of the address's family connected to it, non-blocking unless
// blocking (a non-blocking connect returns while under way). Throws
// "socket", "setBlocking" or "connect".
int connectSocket(const struct sockaddr* address, socklen_t length, int type, bool blocking);
// An accepted close-on-exec socket, or -1 when nothing is to be accepted now;
// throws "accept" or "setInheritable".
int acceptSocket(int listenFd);
// A connected close-on-exec AF_UNIX stream pair; throws "socketpair" or
// "setInheritable".
void socketPair(int fds[2]);
// A close-on-exec pipe (read end, write end); throws "pipe2", "pipe" or
// "setInheritable".
void pipeCloexec(int fds[2]);

bool isSocketFd(int fd);
// SO_TYPE, or -1.
int socketType(int fd);
// The family of the bound address; AF_UNIX for an unnamed one, -1 on failure.
int socketFamily(int fd);

// --- Options ----------------------------------------------------------------

// The process-wide DSCP value; 0 means no marking.
void setDscp(int value);
// Marks an IPv4 or IPv6 socket with the DSCP value; failures are logged.
void setSocketDscp(int fd);
// Grow SO_RCVBUF / SO_SNDBUF towards bytes, backing off while the system
// has no memory for it; return the size in force. Throw "getsockopt(%s)"
// or "setsockopt(%s)".
int setReceiveBufferSize(int fd, int bytes);
int setSendBufferSize(int fd, int bytes);
// Path-MTU discovery on (probe, else do) or off; false (logged) when the
// option cannot be set.
bool setPathMtuDiscovery(int fd, int family, bool on);

// --- Child side of a launch -------------------------------------------------

// SIGPIPE back to its default and, when asked and saved, the soft open-file
// limit from before initSocketProcessLimits. Child-safe: calls the kernel
// directly.
void resetChildProcessState(bool restoreFileLimit);

} // namespace os
