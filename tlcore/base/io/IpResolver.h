// Host-name resolution that never blocks the loop.
//
// The loop thread asks io::IpResolverMgr::getResolver() for an
// io::IpResolver and hands it a callback; the answer (a non-empty address
// list or an exception) comes back on a later pass of the loop, never from
// inside resolve(). Resolvers and the manager belong to the loop thread that
// made the manager; the blocking lookups run on up to three worker threads
// named "IpResolveThread" (io/IpResolverIpc.h), which share nothing with the
// loop but a socket pair.
//
// Every lookup, asynchronous or not, ends in io::resolveSync, which asks
// the process-wide io::HostLookup first (tests point names such as
// api.site.test at 127.0.0.1 there) and the system's getaddrinfo otherwise.
//
// Shutdown: the manager and its threads are stopped by
// IpResolverMgr::shutdown(), a step of the process's shutdown sequence
// (plat/Shutdown.h) that runs before static objects are destroyed. A worker
// blocked in a slow lookup at that point is left parked; it touches nothing
// afterwards.
#pragma once

#include <memory>
#include <vector>

#include "io/FdManager.h"
#include "io/IpInfo.h"
#include "plat/Exception.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace io {

// Longest host name a lookup accepts; longer ones are refused, not cut.
constexpr int kMaxHostNameLength = 255;

class IpResolver {
public:
  // A lookup the resolver itself could not carry out (its worker failed,
  // the connection to it broke); type tag "IpResolve".
  class IpResolveException : public plat::Exception {
  public:
    explicit IpResolveException(const char* message);
  };

  // Where answers go; borrowed by the resolver until answered or cancelled.
  class Callback {
  public:
    virtual ~Callback();
    // addresses is never empty.
    virtual void resolved(IpResolver* resolver, IpInfoList& addresses) = 0;
    // Usually GetAddrInfoException or IpResolveException.
    virtual void failed(IpResolver* resolver, const plat::Exception& error) = 0;
    // The resolver is being destroyed; pending requests stay unanswered.
    virtual void resolverGone(IpResolver* resolver);
  };

  // Looks host up for port; family is AF_INET, AF_INET6 or 0 for either.
  virtual void resolve(Callback* callback, const char* host, int port, int family) = 0;
  // Forgets every request of the callback; it hears nothing more.
  virtual void cancel(Callback* callback) = 0;
  // Requests sent and not yet answered.
  virtual int pendingCount() = 0;
  virtual ~IpResolver();
};

// The blocking lookup: the host lookup hook, else getaddrinfo (stream
// sockets), keeping the addresses of the wanted family (either IPv4 or IPv6
// for 0) in system order. Throws GetAddrInfoException: "getaddrinfo" for a
// failed call, code EAI_ADDRFAMILY and context "getaddrinfo for host <host>"
// when nothing of the family is left, code EAI_NONAME for a null host or one
// longer than kMaxHostNameLength bytes. Any thread.
void resolveSync(const char* host, int port, int family, IpInfoList& result);

// A replacement for the system's name lookup. Called on whatever thread
// resolves (the resolver threads, a blocking connect), possibly from several
// at once, so implementations must be thread-safe.
class HostLookup {
public:
  virtual ~HostLookup();
  // Appends the addresses of host (any family; resolveSync filters) with
  // the port set and returns true, or returns false to leave the name to the
  // system. Throw GetAddrInfoException to fail the lookup.
  virtual bool lookup(const char* host, int port, int family, std::vector<IpInfo>& out) = 0;
};

// Installs the process-wide host lookup (null restores the system's) and
// returns the previous one. A lookup under way keeps the one it started
// with alive.
std::shared_ptr<HostLookup> setHostLookup(std::shared_ptr<HostLookup> lookup);

// A fixed table of names (compared without case) and numeric addresses,
// filled before it is installed. With strict, names outside the table fail
// with EAI_NONAME instead of reaching the system; numeric texts always
// reach it.
class HostTable : public HostLookup {
public:
  explicit HostTable(bool strict = false) : strict_(strict) {}
  // Adds a numeric address for name; may be called repeatedly per name.
  // Throws GetAddrInfoException for a text that is not numeric.
  void add(const char* name, const char* address);

  bool lookup(const char* host, int port, int family, std::vector<IpInfo>& out) override;

private:
  struct Entry {
    plat::String name;
    plat::String address;
  };
  std::vector<Entry> entries_;
  bool strict_;
};

// The process-wide pool of one to three resolvers. Loop thread only.
class IpResolverMgr : private plat::Timer::Callback, private FdHandler {
public:
  // Creates the manager on first use; picks an idle resolver, or adds one
  // while all are busy and fewer than three exist, or else the least busy.
  static IpResolver* getResolver();
  // Deletes the manager and its resolvers, stopping their threads (a
  // thread stuck in a lookup is left parked). The next getResolver makes a
  // new manager. Registered as a step of plat::shutdownSingletons.
  static void shutdown();

  // For tests: the resolvers in creation order.
  static std::vector<IpResolver*> resolversForTest();

private:
  IpResolverMgr();
  ~IpResolverMgr() override;

  IpResolver* pick();
  bool timerExpired(plat::Timer* timer) override;
  void readable() override {}
  void managerDestroyed() override;

  std::vector<std::unique_ptr<IpResolver>> resolvers_;
  int count_ = 0;
  plat::Timer pruneTimer_;
  FdManager* manager_;
};

} // namespace io
