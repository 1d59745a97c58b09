// The per-thread descriptor manager: the handlers that want descriptor
// events, the ready lists of handlers to call, the thread's timers, and the
// "run on the next pass" services (deferred calls and deferred deletes) that
// every layer uses so that no completion is reported from inside the call
// that started it and no object is deleted under its own callback.
//
// Each thread that does asynchronous I/O has one current io::FdManager;
// constructing one makes it current and destroying it gives the previous
// one back (a nested manager, for a short-lived inner loop, must say so).
// Handlers are borrowed: the manager never deletes one, and a handler must
// unregister before it goes away. Everything runs on the owning thread and
// nothing is locked; only io::FdKicker::kick may come from elsewhere.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "plat/Flags.h"
#include "plat/Timer.h"

namespace io {

class FdManager;

// The descriptor events a handler asks to hear of, combined with |.
enum class FdEvents : unsigned {
  kNone = 0,
  kRead = 1,
  kWrite = 2,
  kExcept = 4,
  // A listening socket's pending connection (watched as read readiness).
  kAccept = 8,
  // The extra kind, which no manager here produces.
  kExtra = 16,
};

PLAT_FLAG_OPERATORS(FdEvents)

// Something with a descriptor that wants events from the thread's manager.
class FdHandler {
public:
  // With ownFd the descriptor is closed when the handler is destroyed.
  explicit FdHandler(int fd = -1, bool ownFd = false) : fd_(fd), ownFd_(ownFd) {}
  virtual ~FdHandler();
  FdHandler(const FdHandler&) = delete;
  FdHandler& operator=(const FdHandler&) = delete;

  // Data, end of file, an error or an exceptional condition; or queued.
  virtual void readable() = 0;
  // Room to write, or queued for writing.
  virtual void writable();
  // A pending socket error number.
  virtual void setError(int err);
  // An event of the extra kind, which no manager here produces.
  virtual void extraEvent();
  // The manager is going away and will not call again.
  virtual void managerDestroyed();

  int getFd() const { return fd_; }
  bool ownsFd() const { return ownFd_; }

protected:
  // Replaces the descriptor without closing the old one.
  void setFd(int fd) { fd_ = fd; }
  void setOwnFd(bool ownFd) { ownFd_ = ownFd; }

private:
  friend class FdManager;

  int fd_;
  bool ownFd_;
};

// Runs a function once, on a later pass of the loop of the thread that
// posted it. Owned by its user (usually by value); destroying it cancels a
// pending run, so the function may safely capture its owner.
class DeferredCall {
public:
  explicit DeferredCall(std::function<void()> fn) : fn_(std::move(fn)) {}
  ~DeferredCall() { cancel(); }
  DeferredCall(const DeferredCall&) = delete;
  DeferredCall& operator=(const DeferredCall&) = delete;

  // Queues the call on the current manager (fatal without one). Posting a
  // call that is already pending does nothing. The function may post again.
  void post();
  void cancel();
  bool isPending() const { return manager_ != nullptr; }

private:
  friend class FdManager;

  std::function<void()> fn_;
  FdManager* manager_ = nullptr;
};

class FdManager : private plat::Timer::Callback {
public:
  // The calling thread's current manager, or null.
  static FdManager* current();

  // Becomes the thread's current manager; a second manager on a thread (and
  // its timer manager) is allowed only when nested.
  explicit FdManager(bool nested = false);
  // Runs the pending deferred deletes, then tells every registered handler
  // managerDestroyed(), the highest identity first, runs the deletes those
  // queued, makes the previous manager current and drops pending deferred
  // calls without running them.
  ~FdManager() override;
  FdManager(const FdManager&) = delete;
  FdManager& operator=(const FdManager&) = delete;

  // --- Handlers ---------------------------------------------------------------
  // Removing also drops the handler from every ready list, so it is not
  // called again, not even later in a dispatch under way.
  void setRegistered(FdHandler* handler, bool add);
  // Which events to watch for; drops the handler from the ready lists of
  // the kinds it no longer wants. The answer (false for extra interest on a
  // manager that cannot watch it) may be ignored.
  bool setEvents(FdHandler* handler, FdEvents events);
  // Has the handler called on the next pass without a descriptor event;
  // that pass does not block.
  void queueReadable(FdHandler* handler);
  void queueWritable(FdHandler* handler);
  // For a child after fork: closes every registered handler's descriptor
  // except keepFd, without telling the handlers.
  void closeHandlerFds(int keepFd);
  bool isRegistered(FdHandler* handler) const;

  // --- Next-pass services -----------------------------------------------------
  // Makes the next wait (or the one in progress, when called from a timer or
  // handler of this pass) return at once.
  void wake();
  // Takes ownership of obj and deletes it on a later pass, after the
  // callback that asked for it has returned. The manager's destruction
  // deletes whatever is still queued.
  template <class T> void deleteLater(T* obj)
  {
    queueDelete(obj, [](void* p) { delete static_cast<T*>(p); });
  }
  template <class T> void deleteLater(std::unique_ptr<T> obj) { deleteLater(obj.release()); }
  // The same for classes whose destructor is not public: Deleter is their
  // own function that deletes one.
  template <class T, void (*Deleter)(T*)> void deferDelete(T* obj)
  {
    queueDelete(obj, [](void* p) { Deleter(static_cast<T*>(p)); });
  }

  plat::TimerManager& getTimers() { return timers_; }

protected:
  // Tells the concrete manager what to watch; the base watches nothing and
  // answers true unless extra is asked for.
  virtual bool updateInterest(FdHandler* handler, FdEvents events);
  virtual void idleHook() {}

  // The part of a pass after the wait: due timers, deferred calls and
  // deletes queued on an earlier pass, then the extra, read and write lists.
  void dispatch();

  // Sorted by identity, no duplicates.
  using HandlerList = std::vector<FdHandler*>;
  static bool insertSorted(HandlerList& list, FdHandler* handler);
  static bool eraseSorted(HandlerList& list, FdHandler* handler);
  static bool containsSorted(const HandlerList& list, FdHandler* handler);

  HandlerList handlers_;
  HandlerList pendingRead_, pendingWrite_, pendingExtra_;
  HandlerList dispatchRead_, dispatchWrite_, dispatchExtra_;
  plat::TimerManager timers_;

private:
  friend class DeferredCall;

  bool timerExpired(plat::Timer* timer) override;
  void runList(HandlerList& pending, HandlerList& running, void (FdHandler::*event)());
  void runDeferred();
  void runDeletes();
  void postCall(DeferredCall* call);
  void cancelCall(DeferredCall* call);
  void queueDelete(void* obj, void (*deleter)(void*));

  struct Deferred {
    void* obj;
    void (*deleter)(void*);
  };

  plat::Timer wakeTimer_;
  FdManager* previous_;
  std::vector<DeferredCall*> pendingCalls_, runningCalls_;
  std::vector<Deferred> pendingDeletes_, runningDeletes_;
};

} // namespace io
