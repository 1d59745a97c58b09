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
      : pool_(pool), destination_(destination), waitMs_(waitMs), waitCb_(this), waitTimer_(&waitCb_)
  {
  }
  ~PoolConnector() override { cancel(); }

  // Run begin again on the next pass.
  void restart() { timer_.start(0); }
  // A released connection, handed over while this connector waited.
  void handOver(IoPtr io) { succeeded(std::move(io)); }

protected:
  void begin() override;
  void cancel() override;

private:
  using IoConnectorBase::failed;

  class WaitCallback : public plat::Timer::Callback {
  public:
    explicit WaitCallback(PoolConnector* pc) : pc_(pc) {}
    bool timerExpired(plat::Timer*) override
    {
      pc_->waitExpired();
      return false;
    }

  private:
    PoolConnector* pc_;
  };

  void waitExpired();
  void createNew();

  void connected(IoConnector* ic, IoPtr io) override;
  void failed(IoConnector* ic, const plat::Exception& error) override;

  IoPool* pool_;
  plat::String destination_;
  int waitMs_;
  int64_t connectStart_ = -1;
  WaitCallback waitCb_;
  plat::Timer waitTimer_;
  std::unique_ptr<IoConnector> inner_;

  friend class IoPool;
};

void IoPool::PoolConnector::begin()
{
  IdleList::iterator i = pool_->getIdleFor(destination_.str());
  if (i != pool_->idleConns_.end()) {
    vlog.info("Re-using open Io to %s", destination_.str());
    IoPtr io = pool_->takeIdle(i);
    pool_->addActive(destination_.str(), io.get(), nullptr, waitMs_);
    succeeded(std::move(io));
    return;
  }
  if (pool_->hasActiveFor(destination_.str())) {
    vlog.info("Waiting to re-use open Io to %s", destination_.str());
    PLAT_ASSERT(pool_->getWaiting(this) == pool_->waitingConns_.end());
    pool_->waitingConns_.push_back(this);
    waitTimer_.start(waitMs_ > INT_MAX / 2 ? INT_MAX : 2 * waitMs_);
    return;
  }
  vlog.info("Creating new Io to %s", destination_.str());
  createNew();
}

void IoPool::PoolConnector::createNew()
{
  try {
    inner_ = pool_->factory_->makeConnector(destination_.str());
    inner_->start(this);
    connectStart_ = plat::getMonoTime();
    pool_->addActive(destination_.str(), nullptr, inner_.get(), waitMs_);
  } catch (plat::Exception& e) {
    cancel();
    failed(e);
  }
}

void IoPool::PoolConnector::waitExpired()
{
  vlog.info("Timed out waiting to re-use open Io to %s, making new Io", destination_.str());
  pool_->leaveWaiting(this);
  createNew();
}

void IoPool::PoolConnector::cancel()
{
  pool_->leaveWaiting(this);
  waitTimer_.stop();
  if (std::unique_ptr<IoConnector> ic = std::move(inner_))
    pool_->dropActive(nullptr, ic.get());
}

void IoPool::PoolConnector::connected(IoConnector* ic, IoPtr io)
{
  pool_->dropActive(nullptr, ic);
  disposeReported(std::move(inner_));
  pool_->addActive(destination_.str(), io.get(), nullptr, waitMs_);
  succeeded(std::move(io));
}

void IoPool::PoolConnector::failed(IoConnector* ic, const plat::Exception& error)
{
  // cancel(), except that the reporting connector is still on the stack.
  std::unique_ptr<IoConnector> done = std::move(inner_);
  pool_->leaveWaiting(this);
  waitTimer_.stop();
  pool_->dropActive(nullptr, ic);
  disposeReported(std::move(done));
  failed(error);
}

// --- The pool -------------------------------------------------------------------------

IoPool::IoPool(Factory* factory, unsigned maxIdle, unsigned idleTimeout)
    : factory_(factory), maxIdlePerDestination_(maxIdle), idleTimeoutMs_(idleTimeout),
      idleTimer_(this), activeTimer_(this)
{
}

IoPool::~IoPool()
{
  if (!idleConns_.empty()) {
    vlog.info("Open Ios in pool at shutdown: %d", (int)nIdle_);
    for (IdleEntry& e : idleConns_)
      vlog.info("  %s", e.destination.str());
  }
  PLAT_ASSERT(activeConns_.empty() && waitingConns_.empty());
  idleTimer_.stop();
  activeTimer_.stop();
  for (IdleEntry& e : idleConns_)
    e.iop.reset();
}

std::unique_ptr<IoConnector> IoPool::newConnector(const char* destination, int waitMs)
{
  return std::make_unique<PoolConnector>(this, destination, waitMs);
}

int64_t IoPool::connectTime(IoConnector* connector)
{
  PoolConnector* pc = dynamic_cast<PoolConnector*>(connector);
  return pc ? pc->connectStart_ : -1;
}

// --- Lookups ------------------------------------------------------------------------------

IoPool::IdleList::iterator IoPool::getIdle(Io* io)
{
  return std::find_if(idleConns_.begin(), idleConns_.end(),
                      [io](const IdleEntry& e) { return e.iop.get() == io; });
}

IoPool::IdleList::iterator IoPool::getIdleFor(const char* destination)
{
  return std::find_if(idleConns_.begin(), idleConns_.end(), [destination](const IdleEntry& e) {
    return strcmp(e.destination.str(), destination) == 0;
  });
}

IoPool::ActiveList::iterator IoPool::getActive(Io* io, IoConnector* connector)
{
  return std::find_if(
      activeConns_.begin(), activeConns_.end(),
      [io, connector](const ActiveEntry& e) { return io ? e.io == io : e.connector == connector; });
}

bool IoPool::hasActiveFor(const char* destination) const
{
  for (const ActiveEntry& e : activeConns_)
    if (strcmp(e.destination.str(), destination) == 0)
      return true;
  return false;
}

IoPool::WaitingList::iterator IoPool::getWaiting(PoolConnector* pc)
{
  return std::find(waitingConns_.begin(), waitingConns_.end(), pc);
}

// --- Active entries ---------------------------------------------------------------------

void IoPool::addActive(const char* destination, Io* io, IoConnector* connector, int waitMs)
{
  if (io) {
    PLAT_ASSERT(getIdle(io) == idleConns_.end());
    PLAT_ASSERT(getActive(io, 0) == activeConns_.end());
  } else {
    PLAT_ASSERT(getActive(io, connector) == activeConns_.end());
  }
  activeConns_.push_back(
      ActiveEntry{plat::String(destination), io, connector,
                  plat::getMonoTime() + (plat::Time)waitMs * plat::kTicksPerMilli});
  nActive_++;
  rescheduleActive();
}

void IoPool::dropActive(ActiveList::iterator i, bool serve)
{
  activeConns_.erase(i);
  nActive_--;
  rescheduleActive();
  if (serve)
    serveWaiters();
}

void IoPool::dropActive(Io* io, IoConnector* connector)
{
  ActiveList::iterator i = getActive(io, connector);
  if (i != activeConns_.end())
    dropActive(i);
}

void IoPool::serveWaiters()
{
  WaitingList ready;
  for (PoolConnector* pc : waitingConns_)
    if (!hasActiveFor(pc->destination_.str()))
      ready.push_back(pc);
  for (PoolConnector* pc : ready) {
    leaveWaiting(pc);
    pc->waitTimer_.stop();
    pc->restart();
  }
}

void IoPool::leaveWaiting(PoolConnector* pc)
{
  WaitingList::iterator i = getWaiting(pc);
  if (i != waitingConns_.end())
    waitingConns_.erase(i);
}

void IoPool::rescheduleActive()
{
  if (activeConns_.empty()) {
    activeTimer_.stop();
    return;
  }
  plat::Time earliest = activeConns_.front().deadline;
  for (const ActiveEntry& e : activeConns_)
    earliest = std::min(earliest, e.deadline);
  activeTimer_.start(remainingMs(earliest - plat::getMonoTime()));
}

// --- Idle entries --------------------------------------------------------------------------

IoPtr IoPool::takeIdle(IdleList::iterator i)
{
  IoPtr io(i->iop.release());
  io->setHandler(nullptr, true);
  idleConns_.erase(i);
  nIdle_--;
  rescheduleIdle();
  return io;
}

void IoPool::rescheduleIdle()
{
  if (idleConns_.empty()) {
    idleTimer_.stop();
    return;
  }
  plat::Time due = idleConns_.front().idleSince + (plat::Time)idleTimeoutMs_ * plat::kTicksPerMilli;
  idleTimer_.start(remainingMs(due - plat::getMonoTime()));
}

void IoPool::releaseIo(const char* destination, IoPtr owned)
{
  owned.setOnReset(io::Shutdown::kDrop);
  Io* io = owned.get();
  PLAT_ASSERT(getIdle(io) == idleConns_.end());
  // As the handler (reads off) the pool gets a look at the input without
  // waiting, whatever mode the user left the connection in.
  io->setHandler(this, false);
  const char* reason = nullptr;
  char text[plat::Exception::kMessageSize];
  try {
    if (io->in()->nUnread() > 0 || io->in()->check(false, 1))
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
    owned.reset();
    return;
  }

  ActiveList::iterator a = getActive(io, nullptr);
  for (WaitingList::iterator w = waitingConns_.begin(); w != waitingConns_.end(); ++w) {
    PoolConnector* pc = *w;
    if (strcmp(pc->destination_.str(), destination) != 0)
      continue;
    vlog.info("Immediately re-using open Io to %s", destination);
    waitingConns_.erase(w);
    pc->waitTimer_.stop();
    if (a != activeConns_.end())
      dropActive(a, false);
    io->setHandler(nullptr, true);
    addActive(destination, io, nullptr, pc->waitMs_);
    serveWaiters();
    pc->handOver(IoPtr(owned.release()));
    return;
  }

  if (a != activeConns_.end())
    dropActive(a);
  unsigned count = 0;
  for (const IdleEntry& e : idleConns_)
    count += strcmp(e.destination.str(), destination) == 0;
  if (count >= maxIdlePerDestination_) {
    vlog.info("Not storing Io to %s in pool, connection limit reached", destination);
    owned.reset();
    return;
  }
  idleConns_.push_back(IdleEntry{plat::String(destination), std::move(owned), plat::getMonoTime()});
  nIdle_++;
  io->setHandler(this, true);
  if (nIdle_ == 1)
    rescheduleIdle();
}

void IoPool::discardIo(Io* io, const char* reason)
{
  ActiveList::iterator i = getActive(io, nullptr);
  if (i == activeConns_.end())
    return;
  vlog.info("Discarding Io to %s from pool, %s", i->destination.str(), reason);
  dropActive(i);
}

void IoPool::closeIdle()
{
  idleTimer_.stop();
  IdleList idle;
  idle.swap(idleConns_);
  nIdle_ = 0;
  for (IdleEntry& e : idle)
    e.iop.reset();
}

// --- Events --------------------------------------------------------------------------------

void IoPool::dataAvailable(Io* io)
{
  IdleList::iterator i = getIdle(io);
  PLAT_ASSERT(i != idleConns_.end());
  char text[plat::Exception::kMessageSize];
  const char* error = nullptr;
  try {
    if (!io->in()->check(false, 1))
      return;
    error = "unexpected data";
  } catch (plat::Exception& e) {
    error = e.formatDisplay(text);
  }
  vlog.info("Removing Io to %s from pool", i->destination.str());
  vlog.debug("  %s", error);
  IoPtr gone = takeIdle(i);
  gone.setOnReset(io::Shutdown::kDrop);
}

void IoPool::writable(Io*)
{
}

void IoPool::closed(Io* io)
{
  IdleList::iterator i = getIdle(io);
  PLAT_ASSERT(i != idleConns_.end());
  vlog.info("Removing Io to %s from pool, unexpected shutdown", i->destination.str());
  // The connection ends by itself once this returns.
  i->iop.release();
  idleConns_.erase(i);
  nIdle_--;
  rescheduleIdle();
}

bool IoPool::timerExpired(plat::Timer* t)
{
  plat::Time now = plat::getMonoTime();
  if (t == &idleTimer_) {
    plat::Time limit = (plat::Time)idleTimeoutMs_ * plat::kTicksPerMilli;
    for (IdleList::iterator i = idleConns_.begin(); i != idleConns_.end();) {
      if (now - i->idleSince < limit) {
        ++i;
        continue;
      }
      vlog.info("Removing Io to %s from pool, idle time reached", i->destination.str());
      IoPtr iop(std::move(i->iop)); // shuts down (no flush, no handler)
      i = idleConns_.erase(i);
      nIdle_--;
    }
    rescheduleIdle();
    return false;
  }

  for (ActiveList::iterator i = activeConns_.begin(); i != activeConns_.end();) {
    if (i->deadline > now) {
      ++i;
      continue;
    }
    for (PoolConnector* pc : waitingConns_)
      if (pc->destination_ == i->destination) {
        vlog.info("Open Io to %s exceeded wait time", i->destination.str());
        break;
      }
    i = activeConns_.erase(i);
    nActive_--;
  }
  rescheduleActive();
  serveWaiters();
  return false;
}

} // namespace io
