#include "io/IoPool.h"

#include <limits.h>
#include <string.h>

#include <algorithm>

#include "io/FdManager.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"

namespace io {

namespace {

plat::LogSrc vlog("IoPool");

// Milliseconds until a tick count has passed, rounded up, within 0..INT_MAX.
int remainingMs(plat::Time ticks)
{
  if (ticks <= 0)
    return 0;
  plat::Time ms = (ticks + plat::kTicksPerMilli - 1) / plat::kTicksPerMilli;
  return ms > INT_MAX ? INT_MAX : (int)ms;
}

// A connector that has reported is deleted on a later pass: its report may
// still be on the stack.
void disposeReported(std::unique_ptr<IoConnector> ic)
{
  if (FdManager* mgr = FdManager::current())
    mgr->deleteLater(std::move(ic));
}

} // namespace

IoPool::Factory::~Factory() = default;

// --- PoolConnector ------------------------------------------------------------------

class IoPool::PoolConnector : public IoConnectorBase, private IoConnected {
public:
  PoolConnector(IoPool* pool, const char* destination, int waitMs)
      : pool(pool), destination(destination), waitMs(waitMs), waitCb(this), waitTimer(&waitCb)
  {
  }
  ~PoolConnector() override { cancel(); }

  // Run begin again on the next pass.
  void restart() { timer.start(0); }
  // A released connection, handed over while this connector waited.
  void handOver(Io* io) { succeeded(io); }

  IoPool* pool;
  plat::String destination;
  int waitMs;
  int64_t connectStart = -1;

protected:
  void begin() override;
  void cancel() override;

private:
  using IoConnectorBase::failed;

  class WaitCallback : public plat::Timer::Callback {
  public:
    explicit WaitCallback(PoolConnector* pc) : pc(pc) {}
    bool timerExpired(plat::Timer*) override
    {
      pc->waitExpired();
      return false;
    }
    PoolConnector* pc;
  };

  void waitExpired();
  void createNew();

  void connected(IoConnector* ic, Io* io) override;
  void failed(IoConnector* ic, const plat::Exception& error) override;

  WaitCallback waitCb;
  plat::Timer waitTimer;
  std::unique_ptr<IoConnector> inner;

  friend class IoPool;
};

void IoPool::PoolConnector::begin()
{
  IdleList::iterator i = pool->getIdleFor(destination.str());
  if (i != pool->idleConns.end()) {
    vlog.info("Re-using open Io to %s", destination.str());
    Io* io = pool->takeIdle(i);
    pool->addActive(destination.str(), io, nullptr, waitMs);
    succeeded(io);
    return;
  }
  if (pool->hasActiveFor(destination.str())) {
    vlog.info("Waiting to re-use open Io to %s", destination.str());
    PLAT_ASSERT(pool->getWaiting(this) == pool->waitingConns.end());
    pool->waitingConns.push_back(this);
    waitTimer.start(waitMs > INT_MAX / 2 ? INT_MAX : 2 * waitMs);
    return;
  }
  vlog.info("Creating new Io to %s", destination.str());
  createNew();
}

void IoPool::PoolConnector::createNew()
{
  try {
    inner = pool->factory->makeConnector(destination.str());
    inner->start(this);
    connectStart = plat::getMonoTime();
    pool->addActive(destination.str(), nullptr, inner.get(), waitMs);
  } catch (plat::Exception& e) {
    cancel();
    failed(e);
  }
}

void IoPool::PoolConnector::waitExpired()
{
  vlog.info("Timed out waiting to re-use open Io to %s, making new Io", destination.str());
  pool->leaveWaiting(this);
  createNew();
}

void IoPool::PoolConnector::cancel()
{
  pool->leaveWaiting(this);
  waitTimer.stop();
  if (std::unique_ptr<IoConnector> ic = std::move(inner))
    pool->dropActive(nullptr, ic.get());
}

void IoPool::PoolConnector::connected(IoConnector* ic, Io* io)
{
  pool->dropActive(nullptr, ic);
  disposeReported(std::move(inner));
  pool->addActive(destination.str(), io, nullptr, waitMs);
  succeeded(io);
}

void IoPool::PoolConnector::failed(IoConnector* ic, const plat::Exception& error)
{
  // cancel(), except that the reporting connector is still on the stack.
  std::unique_ptr<IoConnector> done = std::move(inner);
  pool->leaveWaiting(this);
  waitTimer.stop();
  pool->dropActive(nullptr, ic);
  disposeReported(std::move(done));
  failed(error);
}

// --- The pool -------------------------------------------------------------------------

IoPool::IoPool(Factory* factory_, unsigned maxIdle, unsigned idleTimeout)
    : factory(factory_), maxIdlePerDestination(maxIdle), idleTimeoutMs(idleTimeout),
      idleTimer(this), activeTimer(this)
{
}

IoPool::~IoPool()
{
  if (!idleConns.empty()) {
    vlog.info("Open Ios in pool at shutdown: %d", (int)nIdle);
    for (IdleEntry& e : idleConns)
      vlog.info("  %s", e.destination.str());
  }
  PLAT_ASSERT(activeConns.empty() && waitingConns.empty());
  idleTimer.stop();
  activeTimer.stop();
  for (IdleEntry& e : idleConns)
    e.iop.reset();
}

std::unique_ptr<IoConnector> IoPool::newConnector(const char* destination, int waitMs)
{
  return std::make_unique<PoolConnector>(this, destination, waitMs);
}

int64_t IoPool::connectTime(IoConnector* connector)
{
  PoolConnector* pc = dynamic_cast<PoolConnector*>(connector);
  return pc ? pc->connectStart : -1;
}

// --- Lookups ------------------------------------------------------------------------------

IoPool::IdleList::iterator IoPool::getIdle(Io* io)
{
  return std::find_if(idleConns.begin(), idleConns.end(),
                      [io](const IdleEntry& e) { return e.iop.get() == io; });
}

IoPool::IdleList::iterator IoPool::getIdleFor(const char* destination)
{
  return std::find_if(idleConns.begin(), idleConns.end(), [destination](const IdleEntry& e) {
    return strcmp(e.destination.str(), destination) == 0;
  });
}

IoPool::ActiveList::iterator IoPool::getActive(Io* io, IoConnector* connector)
{
  return std::find_if(activeConns.begin(), activeConns.end(), [io, connector](const ActiveEntry& e) {
    return io ? e.io == io : e.connector == connector;
  });
}

bool IoPool::hasActiveFor(const char* destination) const
{
  for (const ActiveEntry& e : activeConns)
    if (strcmp(e.destination.str(), destination) == 0)
      return true;
  return false;
}

IoPool::WaitingList::iterator IoPool::getWaiting(PoolConnector* pc)
{
  return std::find(waitingConns.begin(), waitingConns.end(), pc);
}

// --- Active entries ---------------------------------------------------------------------

void IoPool::addActive(const char* destination, Io* io, IoConnector* connector, int waitMs)
{
  if (io) {
    PLAT_ASSERT(getIdle(io) == idleConns.end());
    PLAT_ASSERT(getActive(io, 0) == activeConns.end());
  } else {
    PLAT_ASSERT(getActive(io, connector) == activeConns.end());
  }
  activeConns.push_back(ActiveEntry{plat::String(destination), io, connector,
                                    plat::getMonoTime() + (plat::Time)waitMs * plat::kTicksPerMilli});
  nActive++;
  rescheduleActive();
}

void IoPool::dropActive(ActiveList::iterator i, bool serve)
{
  activeConns.erase(i);
  nActive--;
  rescheduleActive();
  if (serve)
    serveWaiters();
}

void IoPool::dropActive(Io* io, IoConnector* connector)
{
  ActiveList::iterator i = getActive(io, connector);
  if (i != activeConns.end())
    dropActive(i);
}

void IoPool::serveWaiters()
{
  WaitingList ready;
  for (PoolConnector* pc : waitingConns)
    if (!hasActiveFor(pc->destination.str()))
      ready.push_back(pc);
  for (PoolConnector* pc : ready) {
    leaveWaiting(pc);
    pc->waitTimer.stop();
    pc->restart();
  }
}

void IoPool::leaveWaiting(PoolConnector* pc)
{
  WaitingList::iterator i = getWaiting(pc);
  if (i != waitingConns.end())
    waitingConns.erase(i);
}

void IoPool::rescheduleActive()
{
  if (activeConns.empty()) {
    activeTimer.stop();
    return;
  }
  plat::Time earliest = activeConns.front().deadline;
  for (const ActiveEntry& e : activeConns)
    earliest = std::min(earliest, e.deadline);
  activeTimer.start(remainingMs(earliest - plat::getMonoTime()));
}

// --- Idle entries --------------------------------------------------------------------------

Io* IoPool::takeIdle(IdleList::iterator i)
{
  Io* io = i->iop.release();
  io->setHandler(nullptr, true);
  idleConns.erase(i);
  nIdle--;
  rescheduleIdle();
  return io;
}

void IoPool::rescheduleIdle()
{
  if (idleConns.empty()) {
    idleTimer.stop();
    return;
  }
  plat::Time due = idleConns.front().idleSince + (plat::Time)idleTimeoutMs * plat::kTicksPerMilli;
  idleTimer.start(remainingMs(due - plat::getMonoTime()));
}

void IoPool::releaseIo(const char* destination, Io* io)
{
  PLAT_ASSERT(getIdle(io) == idleConns.end());
  // As the handler (reads off) the pool gets a look at the input without
  // waiting, whatever mode the user left the connection in.
  io->setHandler(this, false);
  const char* reason = nullptr;
  char text[plat::Exception::kMessageSize];
  try {
    if (io->in->nUnread() > 0 || io->in->check(false, 1))
      reason = "extra data sent";
  } catch (rdr::EndOfStream&) {
    reason = "end of stream";
  } catch (plat::Exception& e) {
    plat::strFormat(text, "read error: %s", e.str());
    reason = text;
  }
  if (reason) {
    vlog.info("Not storing Io to %s in pool, %s", destination, reason);
    dropActive(io, nullptr);
    io->shutdown(io::Shutdown::kDrop);
    return;
  }

  ActiveList::iterator a = getActive(io, nullptr);
  for (WaitingList::iterator w = waitingConns.begin(); w != waitingConns.end(); ++w) {
    PoolConnector* pc = *w;
    if (strcmp(pc->destination.str(), destination) != 0)
      continue;
    vlog.info("Immediately re-using open Io to %s", destination);
    waitingConns.erase(w);
    pc->waitTimer.stop();
    if (a != activeConns.end())
      dropActive(a, false);
    io->setHandler(nullptr, true);
    addActive(destination, io, nullptr, pc->waitMs);
    serveWaiters();
    pc->handOver(io);
    return;
  }

  if (a != activeConns.end())
    dropActive(a);
  unsigned count = 0;
  for (const IdleEntry& e : idleConns)
    count += strcmp(e.destination.str(), destination) == 0;
  if (count >= maxIdlePerDestination) {
    vlog.info("Not storing Io to %s in pool, connection limit reached", destination);
    io->shutdown(io::Shutdown::kDrop);
    return;
  }
  idleConns.push_back(IdleEntry{plat::String(destination), IoPtr(io, io::Shutdown::kDrop),
                                plat::getMonoTime()});
  nIdle++;
  io->setHandler(this, true);
  if (nIdle == 1)
    rescheduleIdle();
}

void IoPool::discardIo(Io* io, const char* reason)
{
  ActiveList::iterator i = getActive(io, nullptr);
  if (i == activeConns.end())
    return;
  vlog.info("Discarding Io to %s from pool, %s", i->destination.str(), reason);
  dropActive(i);
}

void IoPool::closeIdle()
{
  idleTimer.stop();
  IdleList idle;
  idle.swap(idleConns);
  nIdle = 0;
  for (IdleEntry& e : idle)
    e.iop.reset();
}

// --- Events --------------------------------------------------------------------------------

void IoPool::dataAvailable(Io* io)
{
  IdleList::iterator i = getIdle(io);
  PLAT_ASSERT(i != idleConns.end());
  char text[plat::Exception::kMessageSize];
  const char* error = nullptr;
  try {
    if (!io->in->check(false, 1))
      return;
    error = "unexpected data";
  } catch (plat::Exception& e) {
    error = e.formatDisplay(text);
  }
  vlog.info("Removing Io to %s from pool", i->destination.str());
  vlog.debug("  %s", error);
  takeIdle(i)->shutdown(io::Shutdown::kDrop);
}

void IoPool::writable(Io*)
{
}

void IoPool::closed(Io* io)
{
  IdleList::iterator i = getIdle(io);
  PLAT_ASSERT(i != idleConns.end());
  vlog.info("Removing Io to %s from pool, unexpected shutdown", i->destination.str());
  // The connection ends by itself once this returns.
  i->iop.release();
  idleConns.erase(i);
  nIdle--;
  rescheduleIdle();
}

bool IoPool::timerExpired(plat::Timer* t)
{
  plat::Time now = plat::getMonoTime();
  if (t == &idleTimer) {
    plat::Time limit = (plat::Time)idleTimeoutMs * plat::kTicksPerMilli;
    for (IdleList::iterator i = idleConns.begin(); i != idleConns.end();) {
      if (now - i->idleSince < limit) {
        ++i;
        continue;
      }
      vlog.info("Removing Io to %s from pool, idle time reached", i->destination.str());
      IoPtr iop(std::move(i->iop)); // shuts down (no flush, no handler)
      i = idleConns.erase(i);
      nIdle--;
    }
    rescheduleIdle();
    return false;
  }

  for (ActiveList::iterator i = activeConns.begin(); i != activeConns.end();) {
    if (i->deadline > now) {
      ++i;
      continue;
    }
    for (PoolConnector* pc : waitingConns)
      if (pc->destination == i->destination) {
        vlog.info("Open Io to %s exceeded wait time", i->destination.str());
        break;
      }
    i = activeConns.erase(i);
    nActive--;
  }
  rescheduleActive();
  serveWaiters();
  return false;
}

} // namespace io
