// Keeps connections for reuse by destination, for a client that speaks a
// request-response protocol over persistent connections. A connector from
// newConnector() hands out an idle connection to its destination when there
// is one, else waits a bounded time for one in use to come back, else has
// the factory make a new one. A connection given back with releaseIo() is
// kept idle only when clean (nothing unread, not closed), up to a limit per
// destination and for a limited idle time; the pool is the handler of its
// idle connections, so it notices a peer that closes or talks meanwhile.
//
// Ownership: the pool owns its idle connections; a connection handed out
// belongs to its user until it is released (or discarded and shut down by
// the user). Connectors belong to whoever asked for them and must be gone,
// and every handed-out connection released or discarded, before the pool
// is destroyed. Destinations are compared byte for byte. Loop thread only.
#pragma once

#include <stdint.h>

#include <list>
#include <memory>
#include <vector>

#include "io/Io.h"
#include "plat/String.h"
#include "plat/Time.h"
#include "plat/Timer.h"

namespace io {

class IoPool : private IoHandler, private plat::Timer::Callback {
public:
  // Makes the connectors for new connections.
  class Factory {
  public:
    virtual ~Factory();
    // An owned connector to destination, not yet started.
    virtual std::unique_ptr<IoConnector> makeConnector(const char* destination) = 0;
  };

  class PoolConnector;

  // The factory is borrowed.
  IoPool(Factory* factory, unsigned maxIdlePerDestination, unsigned idleTimeoutMs);
  // Shuts every idle connection down; connectors and handed-out
  // connections must be gone (fatal otherwise).
  ~IoPool() override;

  // --- Getting and giving back ---------------------------------------------------
  // An owned connector for destination; nothing happens before its start.
  // waitMs bounds how long a connection in use keeps it waiting (it waits
  // at most twice that) and how long its own connection keeps others
  // waiting.
  std::unique_ptr<IoConnector> newConnector(const char* destination, int waitMs);
  // Gives a connection back after a complete exchange; the pool keeps it,
  // hands it to a waiting connector, or shuts it down.
  void releaseIo(const char* destination, IoPtr io);
  // The user will not give io back (and shuts it down itself).
  void discardIo(Io* io, const char* reason);
  // Shuts every idle connection down and stops the idle timer; connections
  // in use are not touched.
  void closeIdle();

  // When a pool connector started making its connection (monotonic ticks);
  // -1 for null, another kind of connector, or a reused connection.
  static int64_t connectTime(IoConnector* connector);

  unsigned idleCount() const { return nIdle_; }
  unsigned activeCount() const { return nActive_; }

private:
  friend class PoolConnector;

  struct IdleEntry {
    plat::String destination;
    IoPtr iop;
    plat::Time idleSince;
  };
  // A connection handed out (io) or being made (connector).
  struct ActiveEntry {
    plat::String destination;
    Io* io;
    IoConnector* connector;
    plat::Time deadline;
  };
  using IdleList = std::list<IdleEntry>;
  using ActiveList = std::list<ActiveEntry>;
  using WaitingList = std::vector<PoolConnector*>;

  IdleList::iterator getIdle(Io* io);
  IdleList::iterator getIdleFor(const char* destination);
  ActiveList::iterator getActive(Io* io, IoConnector* connector);
  bool hasActiveFor(const char* destination) const;
  WaitingList::iterator getWaiting(PoolConnector* pc);

  void addActive(const char* destination, Io* io, IoConnector* connector, int waitMs);
  // serve: let waiters whose destination has no active entry left try
  // again.
  void dropActive(ActiveList::iterator i, bool serve = true);
  void dropActive(Io* io, IoConnector* connector);
  void serveWaiters();
  void leaveWaiting(PoolConnector* pc);
  // Takes the entry out, detaching the pool, and gives up its connection
  // (not shut down).
  IoPtr takeIdle(IdleList::iterator i);
  void rescheduleIdle();
  void rescheduleActive();

  // --- Idle connections' events ---------------------------------------------------
  void dataAvailable(Io* io) override;
  void writable(Io* io) override;
  void closed(Io* io) override;
  bool timerExpired(plat::Timer* timer) override;

  Factory* factory_;
  unsigned maxIdlePerDestination_;
  unsigned idleTimeoutMs_;
  plat::Timer idleTimer_;
  IdleList idleConns_; // oldest first
  unsigned nIdle_ = 0;
  plat::Timer activeTimer_;
  ActiveList activeConns_; // in insertion order
  unsigned nActive_ = 0;
  WaitingList waitingConns_; // in arrival order
};

} // namespace io
