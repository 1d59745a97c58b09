// Listeners: a listening descriptor in the thread's descriptor loop that
// hands every accepted connection to an io::IoAcceptor.
//
// A listener listens while an acceptor is set. A subclass accepts (how is
// its business) and reports running out of descriptors with
// pauseAccepting(), which stops watching for 100 ms instead of spinning on a
// listening socket that stays readable. Every accepted connection carries
// the flag "incoming".
//
// Ownership: the listener owns its descriptor; the acceptor and the extra
// callback are borrowed. It belongs to the thread whose loop it registered
// with; nothing is locked.
#pragma once

#include "io/FdManager.h"
#include "io/Io.h"
#include "plat/Timer.h"

namespace io {

class Listener {
public:
  // Starts (or, with null, stops) handing connections to acceptor.
  virtual void setAcceptor(IoAcceptor* acceptor) = 0;
  virtual ~Listener();
};

class FdListener : public Listener, protected plat::Timer::Callback, protected FdHandler {
public:
  static constexpr int kRetryMs = 100;

  // Told of an event of the extra kind (no manager here produces one).
  class ExtraCallback {
  public:
    virtual void extraEvent(FdListener* listener) = 0;
    virtual ~ExtraCallback() = default;
  };

  // Owns fd (which may be -1 until a subclass installs one); idle. Makes
  // sure the process-wide socket limits are set up.
  explicit FdListener(int fd);
  // Stops listening and closes the descriptor.
  ~FdListener() override;

  // --- Listening -----------------------------------------------------------------
  // Registers with the current manager (fatal without one) and watches for
  // connections; null stops and unregisters. The descriptor is non-blocking
  // while an acceptor is set.
  void setAcceptor(IoAcceptor* acceptor) override;
  IoAcceptor* getAcceptor() const { return acceptor_; }
  void setListening(bool on);
  bool isListening() const { return listening_; }
  // Needs a registered listener (fatal otherwise).
  void setExtraCallback(ExtraCallback* cb);

  // For subclasses out of descriptors (ENFILE, EMFILE): stop watching and
  // try again after kRetryMs.
  void pauseAccepting();
  void resumeAccepting();

  // Waits until the listening descriptor is readable or timeoutMs (-1: no
  // limit) has passed; false on time-out. A descriptor above 1023 throws
  // plat::SystemException "select" (EMFILE).
  bool waitReadable(int timeoutMs);

  using FdHandler::getFd;

protected:
  // One accepted connection, or null when none is pending.
  virtual IoPtr acceptConnection() = 0;

  void readable() override;
  void extraEvent() override;
  void managerDestroyed() override;
  bool timerExpired(plat::Timer* timer) override;

  // Replaces the descriptor, closing an owned older one.
  void installFd(int newFd);

private:
  void updateInterest();

  FdManager* fdMgr_ = nullptr;
  IoAcceptor* acceptor_ = nullptr;
  ExtraCallback* extraCallback_ = nullptr;
  bool listening_ = false;
  plat::Timer retryTimer_;
};

} // namespace io
