#include "io/FdManager.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>

#include "plat/Exception.h"

namespace io {

namespace {

// The thread-specific slot of the current manager: made during static
// initialisation, deleted at exit.
struct CurrentSlot {
  pthread_key_t key;
  CurrentSlot() { PLAT_ASSERT(pthread_key_create(&key, nullptr) == 0); }
  ~CurrentSlot() { pthread_key_delete(key); }
};

CurrentSlot& slot()
{
  static CurrentSlot s;
  return s;
}

// Made before main so that the key exists before any thread can race for it.
const CurrentSlot& slotAtStart = slot();

void setCurrent(FdManager* m)
{
  pthread_setspecific(slot().key, m);
}

// A throw from here would leave a handler half told; nothing can recover.
template <class F> void callOrDie(F&& f, const char* what)
{
  try {
    f();
  } catch (...) {
    PLAT_FAIL(what);
  }
}

} // namespace

// --- FdHandler --------------------------------------------------------------

FdHandler::~FdHandler()
{
  if (fd_ >= 0 && ownFd_)
    ::close(fd_);
  fd_ = -1;
}

void FdHandler::writable()
{
}
void FdHandler::setError(int)
{
}
void FdHandler::extraEvent()
{
}
void FdHandler::managerDestroyed()
{
}

// --- DeferredCall -----------------------------------------------------------

void DeferredCall::post()
{
  if (manager_)
    return;
  FdManager* m = FdManager::current();
  PLAT_ASSERT(m);
  m->postCall(this);
}

void DeferredCall::cancel()
{
  if (manager_)
    manager_->cancelCall(this);
}

// --- FdManager --------------------------------------------------------------

FdManager* FdManager::current()
{
  return static_cast<FdManager*>(pthread_getspecific(slot().key));
}

FdManager::FdManager(bool nested) : timers_(nested), wakeTimer_(this), previous_(current())
{
  PLAT_ASSERT(nested || !previous_);
  setCurrent(this);
}

FdManager::~FdManager()
{
  while (!pendingDeletes_.empty())
    runDeletes();
  while (!handlers_.empty()) {
    FdHandler* h = handlers_.back();
    handlers_.pop_back();
    callOrDie([h] { h->managerDestroyed(); }, "managerDestroyed() threw");
  }
  while (!pendingDeletes_.empty())
    runDeletes();
  PLAT_ASSERT(current() == this);
  setCurrent(previous_);
  wakeTimer_.stop();
  for (DeferredCall* c : pendingCalls_)
    c->manager_ = nullptr;
  for (DeferredCall* c : runningCalls_)
    if (c)
      c->manager_ = nullptr;
}

bool FdManager::insertSorted(HandlerList& list, FdHandler* h)
{
  auto it = std::lower_bound(list.begin(), list.end(), h);
  if (it != list.end() && *it == h)
    return false;
  list.insert(it, h);
  return true;
}

bool FdManager::eraseSorted(HandlerList& list, FdHandler* h)
{
  auto it = std::lower_bound(list.begin(), list.end(), h);
  if (it == list.end() || *it != h)
    return false;
  list.erase(it);
  return true;
}

bool FdManager::containsSorted(const HandlerList& list, FdHandler* h)
{
  return std::binary_search(list.begin(), list.end(), h);
}

void FdManager::setRegistered(FdHandler* h, bool add)
{
  if (add) {
    insertSorted(handlers_, h);
    return;
  }
  eraseSorted(handlers_, h);
  for (HandlerList* l :
       {&pendingRead_, &pendingWrite_, &pendingExtra_, &dispatchRead_, &dispatchWrite_, &dispatchExtra_})
    eraseSorted(*l, h);
}

bool FdManager::isRegistered(FdHandler* h) const
{
  return containsSorted(handlers_, h);
}

bool FdManager::setEvents(FdHandler* h, FdEvents events)
{
  if (!hasAny(events, FdEvents::kRead | FdEvents::kExcept | FdEvents::kAccept)) {
    eraseSorted(pendingRead_, h);
    eraseSorted(dispatchRead_, h);
  }
  if (!hasAny(events, FdEvents::kWrite)) {
    eraseSorted(pendingWrite_, h);
    eraseSorted(dispatchWrite_, h);
  }
  if (!hasAny(events, FdEvents::kExtra)) {
    eraseSorted(pendingExtra_, h);
    eraseSorted(dispatchExtra_, h);
  }
  return updateInterest(h, events);
}

bool FdManager::updateInterest(FdHandler*, FdEvents events)
{
  return !hasAny(events, FdEvents::kExtra);
}

void FdManager::queueReadable(FdHandler* h)
{
  insertSorted(pendingRead_, h);
  wake();
}

void FdManager::queueWritable(FdHandler* h)
{
  insertSorted(pendingWrite_, h);
  wake();
}

void FdManager::closeHandlerFds(int keepFd)
{
  for (FdHandler* h : handlers_)
    if (h->fd_ >= 0 && h->fd_ != keepFd)
      ::close(h->fd_);
}

void FdManager::wake()
{
  wakeTimer_.start(0);
}

bool FdManager::timerExpired(plat::Timer*)
{
  return false;
}

// --- Deferred work ------------------------------------------------------------

void FdManager::postCall(DeferredCall* call)
{
  call->manager_ = this;
  pendingCalls_.push_back(call);
  wake();
}

void FdManager::cancelCall(DeferredCall* call)
{
  call->manager_ = nullptr;
  auto it = std::find(pendingCalls_.begin(), pendingCalls_.end(), call);
  if (it != pendingCalls_.end()) {
    pendingCalls_.erase(it);
    return;
  }
  std::replace(runningCalls_.begin(), runningCalls_.end(), call, (DeferredCall*)nullptr);
}

void FdManager::queueDelete(void* obj, void (*deleter)(void*))
{
  pendingDeletes_.push_back({obj, deleter});
  wake();
}

void FdManager::runDeferred()
{
  // Calls left by a call that threw on an earlier pass are still pending
  // and go first.
  runningCalls_.erase(std::remove(runningCalls_.begin(), runningCalls_.end(), nullptr),
                     runningCalls_.end());
  runningCalls_.insert(runningCalls_.end(), pendingCalls_.begin(), pendingCalls_.end());
  pendingCalls_.clear();
  for (size_t i = 0; i < runningCalls_.size(); i++) {
    DeferredCall* c = runningCalls_[i];
    if (!c)
      continue;
    runningCalls_[i] = nullptr;
    c->manager_ = nullptr;
    // A copy, since the call may destroy its DeferredCall.
    std::function<void()> fn = c->fn_;
    fn();
  }
  runningCalls_.clear();
}

void FdManager::runDeletes()
{
  // Deletes queued by these destructors wait for the next pass.
  runningDeletes_.swap(pendingDeletes_);
  for (const Deferred& d : runningDeletes_)
    d.deleter(d.obj);
  runningDeletes_.clear();
}

// --- Dispatch -----------------------------------------------------------------

void FdManager::runList(HandlerList& pending, HandlerList& running, void (FdHandler::*event)())
{
  running.clear();
  running.swap(pending);
  while (!running.empty()) {
    FdHandler* h = running.back();
    running.pop_back();
    (h->*event)();
  }
}

void FdManager::dispatch()
{
  // Handlers left over by a callback that threw on the last pass are
  // dropped; they come back when ready or queued again.
  dispatchExtra_.clear();
  dispatchRead_.clear();
  dispatchWrite_.clear();
  timers_.processTimers();
  runDeferred();
  runDeletes();
  runList(pendingExtra_, dispatchExtra_, &FdHandler::extraEvent);
  runList(pendingRead_, dispatchRead_, &FdHandler::readable);
  runList(pendingWrite_, dispatchWrite_, &FdHandler::writable);
}

} // namespace io
