#include "io/IpResolverIpc.h"

#include <pthread.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "io/FdIo.h"
#include "io/FdSelectManager.h"
#include "os/socket.h"
#include "plat/Log.h"
#include "plat/Mutex.h"
#include "plat/Shutdown.h"
#include "rdr/FramedInStream.h"
#include "rdr/FramedOutStream.h"

namespace io {

namespace {

plat::LogSrc vlog("IpResolverIpc");

constexpr const char* kRequest = "IpResolve";
constexpr const char* kResult = "IpResolveResult";
constexpr int kPairTimeoutMs = 5000;

} // namespace

// --- The client -------------------------------------------------------------------

IpResolverIpc::IpResolverIpc()
    : ipc_(this, "IpResolverIpc", MsgIpcFlags::kLogDiscards), failTimer_(this), readyTimer_(this)
{
  MsgIpc::Reader::attachIpc(&ipc_);
  ipc_.addReader(kResult, this);
}

IpResolverIpc::~IpResolverIpc()
{
  failTimer_.stop();
  readyTimer_.stop();
  std::vector<Callback*> told;
  auto tell = [&](Callback* cb) {
    if (!cb)
      return;
    for (Callback* t : told)
      if (t == cb)
        return;
    told.push_back(cb);
    cb->resolverGone(this);
  };
  for (Callback* cb : pending_)
    tell(cb);
  for (const Ready& r : ready_)
    tell(r.callback);
  ipc_.removeReader(this);
  MsgIpc::Reader::attachIpc(nullptr);
}

void IpResolverIpc::resolve(Callback* callback, const char* host, int port, int family)
{
  // A longer name would be cut on the wire and another name resolved.
  if (!host || strlen(host) > (size_t)kMaxHostNameLength) {
    failLater(callback, std::make_unique<GetAddrInfoException>(
                            host ? "Host name longer than 255 bytes" : "No host name", EAI_NONAME));
    return;
  }

  try {
    IpInfo address(host, port);
    if (family == 0 || family == address.family()) {
      ready_.push_back({callback, IpInfoList(address, host), nullptr});
      readyTimer_.start(0);
      return;
    }
  } catch (GetAddrInfoException&) {
    // Not a numeric address: the server looks it up.
  }

  pending_.push_back(callback);
  if (failTimer_.isStarted())
    return;

  if (!ipc_.isConnected()) {
    try {
      launchServer();
    } catch (plat::Exception& e) {
      vlog.error("Failed to launch IpResolveServer: %s", e.str());
      failTimer_.start(0);
      return;
    }
  }

  try {
    rdr::FramedOutStream& out = ipc_.writeMsg(kRequest);
    out.writeShortString(host);
    out.writeU32((uint32_t)port);
    out.writeU32((uint32_t)family);
    out.endMsg(true);
  } catch (plat::Exception& e) {
    vlog.error("%s", e.str());
    // Left pending, it would take the answer meant for the next request.
    pending_.pop_back();
    failLater(callback, std::make_unique<IpResolveException>(e.str()));
    if (pending_.empty())
      closeChannel();
  }
}

void IpResolverIpc::closeChannel()
{
  // Closing through the loop takes effect on a later pass, which at exit
  // never comes: shutting the socket down ends the server's side now.
  if (FdIo* io = dynamic_cast<FdIo*>(ipc_.getIpc().getIo()))
    ::shutdown(io->getFd(), SHUT_RDWR);
  ipc_.close(false);
}

void IpResolverIpc::failLater(Callback* callback, std::unique_ptr<plat::Exception> error)
{
  ready_.push_back({callback, IpInfoList(), std::move(error)});
  readyTimer_.start(0);
}

void IpResolverIpc::cancel(Callback* callback)
{
  for (Callback*& cb : pending_)
    if (cb == callback)
      cb = nullptr;
  for (Ready& r : ready_)
    if (r.callback == callback)
      r.callback = nullptr;
}

int IpResolverIpc::pendingCount()
{
  return (int)pending_.size();
}

bool IpResolverIpc::readMsg(const char* name, rdr::FramedInStream& in, MsgIpc*)
{
  if (strcmp(name, kResult) != 0)
    return false;

  // Everything is read before anything is done: an incomplete message is
  // read again from its start.
  int status = in.readU8();
  IpInfoList addresses;
  int code = 0;
  plat::String text;
  if (status == 0) {
    int count = in.readU16();
    for (int i = 0; i < count; i++) {
      int len = in.readU16();
      plat::MBuf<unsigned char> bytes(len);
      in.readBytes(bytes.data(), len);
      addresses.addresses.push_back(
          IpInfo(reinterpret_cast<const struct sockaddr*>(bytes.data()), len));
    }
    if (count == 0)
      throw IpResolveException("IpResolveResult without addresses");
  } else if (status == 1) {
    text = in.readShortString(true);
  } else if (status == 2) {
    code = (int)in.readU32();
    text = in.readShortString(true);
  } else {
    throw plat::ExceptionFmt("IpResolveResult: unknown status %d", status);
  }
  if (pending_.empty())
    throw IpResolveException("IpResolveResult without a request");

  Callback* callback = pending_.front();
  pending_.pop_front();
  if (status == 0) {
    if (!vlog.disabled(plat::LogSrc::kDebug))
      for (const IpInfo& a : addresses.addresses)
        vlog.debug("Resolved %s", a.toString());
    if (callback)
      callback->resolved(this, addresses);
  } else {
    vlog.info("%s", text.str());
    if (callback) {
      if (status == 1)
        callback->failed(this, IpResolveException(text.str()));
      else
        callback->failed(this, GetAddrInfoException::withMessage(code, text.str()));
    }
  }
  if (pending_.empty())
    closeChannel();
  return true;
}

void IpResolverIpc::closed(MsgIpc*)
{
  IpResolveException e("Comms failure to IpResolveServer");
  vlog.info("%s", e.str());
  // Requests made from inside a callback start afresh.
  std::deque<Callback*> failing;
  failing.swap(pending_);
  for (Callback* cb : failing)
    if (cb)
      cb->failed(this, e);
}

bool IpResolverIpc::timerExpired(plat::Timer* timer)
{
  if (timer == &failTimer_) {
    closed(&ipc_);
    return false;
  }
  // Only the answers queued so far; later ones get a later pass.
  size_t n = ready_.size();
  for (size_t i = 0; i < n && !ready_.empty(); i++) {
    Ready r = std::move(ready_.front());
    ready_.pop_front();
    if (!r.callback)
      continue;
    if (r.error)
      r.callback->failed(this, *r.error);
    else
      r.callback->resolved(this, r.addresses);
  }
  return false;
}

// --- The server -------------------------------------------------------------------

IpResolveServer::IpResolveServer(MsgIpc* channel)
{
  attachIpc(channel);
  channel->addReader(kRequest, this);
}

IpResolveServer::~IpResolveServer()
{
  if (ipc())
    ipc()->removeReaderByName(kRequest);
  attachIpc(nullptr);
}

bool IpResolveServer::readMsg(const char* name, rdr::FramedInStream& in, MsgIpc* channel)
{
  if (strcmp(name, kRequest) != 0)
    return false;
  plat::String host = in.readShortString(true);
  int port = (int)in.readU32();
  int family = (int)in.readU32();

  IpInfoList list;
  int status = 0;
  int code = 0;
  plat::String text;
  try {
    resolveSync(host.get(), port, family, list);
  } catch (GetAddrInfoException& e) {
    status = 2;
    code = e.code();
    text = plat::String(e.str());
  } catch (plat::Exception& e) {
    status = 1;
    text = plat::String(e.str());
  }

  rdr::FramedOutStream& out = channel->writeMsg(kResult);
  out.writeU8((uint8_t)status);
  if (status == 0) {
    const std::vector<IpInfo>& addrs = list.addresses;
    PLAT_ASSERT(addrs.size() < 65536);
    out.writeU16((uint16_t)addrs.size());
    for (auto i = addrs.begin(); i != addrs.end(); ++i) {
      PLAT_ASSERT(i->len() >= 0 && i->len() < 65536);
      out.writeU16((uint16_t)i->len());
      out.writeBytes(i->sockAddr(), i->len());
    }
  } else {
    if (status == 2)
      out.writeU32((uint32_t)code);
    out.writeShortString(text.str());
  }
  out.endMsg(true);
  return true;
}

// --- The worker thread ------------------------------------------------------------
//
// Stopping a worker: the owner shuts its end of the socket pair down, which
// ends the worker's loop, and joins the worker, unless the worker is inside
// a lookup, which cannot be interrupted. Such a worker is abandoned: its
// thread object is kept (never deleted, as that would join) and reaped once
// it has finished. An abandoned worker must not run on into the static
// objects destroyed at exit, so the shutdown sequence settles every one of
// them: it tells each to park for good at its next lookup boundary and then
// joins those that finish instead. Both sides decide under the state's
// mutex, so a worker either parks or is waited for.

struct IpResolverViaThread::WorkerState {
  enum Phase { kStarting, kRunning, kLookup, kDone };

  void setPhase(Phase p)
  {
    std::lock_guard<std::mutex> lock(mutex);
    phase = p;
    changed.notify_all();
  }
  Phase getPhase()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return phase;
  }
  // Until the worker is done or inside a lookup; false at the deadline.
  bool waitStoppable(std::chrono::steady_clock::time_point deadline)
  {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_until(lock, deadline, [&] { return phase == kDone || phase == kLookup; });
  }
  // A lookup boundary on the worker: parks for good once told to, keeping
  // the phase the owner saw; otherwise moves on to p.
  void crossLookupBoundary(Phase p)
  {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!mustPark) {
        phase = p;
        changed.notify_all();
        return;
      }
    }
    for (;;)
      pause();
  }
  // Makes the worker park at its next lookup boundary; true when it has
  // finished instead (and may be joined), false when it is parked in or
  // after a lookup or did not stop by the deadline.
  bool settle(std::chrono::steady_clock::time_point deadline)
  {
    std::unique_lock<std::mutex> lock(mutex);
    mustPark = true;
    changed.wait_until(lock, deadline, [&] { return phase == kDone || phase == kLookup; });
    return phase == kDone;
  }

  std::mutex mutex;
  std::condition_variable changed;
  Phase phase = kStarting;
  bool mustPark = false;
  // Taken by the worker when it starts.
  IoPtr threadEnd;
};

namespace {

thread_local IpResolverViaThread::WorkerState* tlWorker = nullptr;

// Abandoned workers, joined and deleted once finished. Leaked on purpose:
// the shutdown step that settles them runs at exit.
struct Abandoned {
  struct Worker {
    plat::Thread* thread;
    std::shared_ptr<IpResolverViaThread::WorkerState> state;
    // Parked for good and detached: its object is never deleted (that
    // would join).
    bool detached;
  };
  plat::Mutex mutex;
  std::vector<Worker> workers;
};

Abandoned& abandoned()
{
  static Abandoned* a = new Abandoned;
  return *a;
}

void reapAbandoned()
{
  Abandoned& a = abandoned();
  plat::MutexLock lock(a.mutex);
  for (auto it = a.workers.begin(); it != a.workers.end();) {
    if (!it->detached && it->thread->getState() == plat::Thread::kFinished) {
      delete it->thread;
      it = a.workers.erase(it);
    } else {
      ++it;
    }
  }
}

// The shutdown step: joins the abandoned workers that finish and parks and
// detaches the rest, so that none is left running when the statics go.
void settleAbandoned()
{
  Abandoned& a = abandoned();
  std::vector<Abandoned::Worker> workers;
  {
    plat::MutexLock lock(a.mutex);
    workers.swap(a.workers);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (Abandoned::Worker& w : workers) {
    if (!w.detached) {
      if (w.state->settle(deadline)) {
        delete w.thread;
        continue;
      }
      if (w.state->getPhase() != IpResolverViaThread::WorkerState::kLookup)
        vlog.error("IpResolveThread did not stop; leaving it");
      pthread_detach(w.thread->getHandle());
      w.detached = true;
    }
    plat::MutexLock lock(a.mutex);
    a.workers.push_back(w);
  }
}

class QuietCallback : public MsgIpc::Callback {
public:
  void closed(MsgIpc*) override {}
};

} // namespace

namespace detail {

void lookupStarting()
{
  if (tlWorker)
    tlWorker->crossLookupBoundary(IpResolverViaThread::WorkerState::kLookup);
}

void lookupFinished()
{
  if (tlWorker)
    tlWorker->crossLookupBoundary(IpResolverViaThread::WorkerState::kRunning);
}

} // namespace detail

IpResolverViaThread::IpResolverViaThread() = default;

IpResolverViaThread::~IpResolverViaThread()
{
  stopWorker();
  ourEnd_.reset();
}

void IpResolverViaThread::launchServer()
{
  stopWorker();
  reapAbandoned();

  auto state = std::make_shared<WorkerState>();
  int fds[2];
  os::socketPair(fds);
  ourEnd_.reset(new FdIo(fds[0], FdIoFlags::kOwnFd));
  state->threadEnd.reset(new FdIo(fds[1], FdIoFlags::kOwnFd));

  workerState_ = state;
  thread_ = new plat::Thread("IpResolveThread", this);
  try {
    thread_->start();
  } catch (...) {
    delete thread_;
    thread_ = nullptr;
    workerState_.reset();
    ourEnd_.reset();
    throw;
  }

  ourEnd_->setTimeout(kPairTimeoutMs);
  ipc_.ioAccept(IoPtr(ourEnd_.release()));
}

void IpResolverViaThread::stopWorker()
{
  closeChannel();
  if (!thread_)
    return;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool stoppable = workerState_->waitStoppable(deadline);
  if (workerState_->getPhase() == WorkerState::kDone) {
    delete thread_;
  } else {
    if (!stoppable)
      vlog.error("IpResolveThread did not stop; leaving it");
    {
      Abandoned& a = abandoned();
      plat::MutexLock lock(a.mutex);
      a.workers.push_back({thread_, workerState_, false});
    }
    // Run after the pool's own step, which may abandon more.
    plat::addShutdownStep(plat::kShutdownResolvers, &settleAbandoned);
  }
  thread_ = nullptr;
  workerState_.reset();
}

void IpResolverViaThread::run(plat::Thread*)
{
  // The owner leaves the shared state alone until the phase moves on, and
  // after that this function no longer touches the resolver object, which
  // may be gone while a lookup runs.
  std::shared_ptr<WorkerState> state = workerState_;
  IoPtr end(state->threadEnd.release());
  state->setPhase(WorkerState::kRunning);
  pthread_setname_np(pthread_self(), "IpResolveThread");
  tlWorker = state.get();
  try {
    FdSelectManager manager;
    QuietCallback quiet;
    MsgIpc channel(&quiet, "IpResolveThread");
    end->setTimeout(kPairTimeoutMs);
    channel.ioAccept(std::move(end));
    IpResolveServer server(&channel);
    while (channel.isConnected())
      manager.processOnce(-1);
  } catch (plat::Exception& e) {
    vlog.error("IpResolveThread: %s", e.str());
  }
  tlWorker = nullptr;
  state->setPhase(WorkerState::kDone);
}

} // namespace io
