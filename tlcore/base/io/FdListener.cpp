#include "io/FdListener.h"

#include <errno.h>
#include <unistd.h>

#include <utility>

#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Select.h"

namespace io {

namespace {
plat::LogSrc listenerLog("FdListener");
}

Listener::~Listener() = default;

FdListener::FdListener(int fd) : FdHandler(fd, true), retryTimer_(this)
{
  os::initSocketProcessLimits();
}

FdListener::~FdListener()
{
  try {
    setAcceptor(nullptr);
  } catch (...) {
    PLAT_FAIL("FdListener::~FdListener: setAcceptor threw");
  }
  retryTimer_.stop();
}

void FdListener::updateInterest()
{
  fdMgr_->setEvents(this, (listening_ ? FdEvents::kAccept : FdEvents::kNone) |
                              (acceptor_ && extraCallback_ ? FdEvents::kExtra : FdEvents::kNone));
  if (listening_)
    fdMgr_->queueReadable(this);
}

void FdListener::setAcceptor(IoAcceptor* newAcceptor)
{
  if (!acceptor_ && !newAcceptor)
    return;
  if (!fdMgr_)
    fdMgr_ = FdManager::current();
  PLAT_ASSERT(fdMgr_);
  acceptor_ = newAcceptor;
  fdMgr_->setRegistered(this, acceptor_ != nullptr);
  listening_ = acceptor_ != nullptr;
  updateInterest();
  if (!acceptor_) {
    fdMgr_ = nullptr;
    retryTimer_.stop();
  }
  if (getFd() >= 0) {
    try {
      os::setBlocking(getFd(), acceptor_ == nullptr);
    } catch (plat::Exception&) {
      // A blocking listener only makes a spurious wake-up wait; not fatal.
    }
  }
}

void FdListener::setListening(bool on)
{
  listening_ = on;
  if (fdMgr_)
    updateInterest();
}

void FdListener::setExtraCallback(ExtraCallback* cb)
{
  PLAT_ASSERT(fdMgr_);
  extraCallback_ = cb;
  updateInterest();
}

void FdListener::pauseAccepting()
{
  listening_ = false;
  if (fdMgr_)
    updateInterest();
  retryTimer_.start(kRetryMs);
}

void FdListener::resumeAccepting()
{
  listening_ = acceptor_ != nullptr;
  if (fdMgr_)
    updateInterest();
}

bool FdListener::waitReadable(int timeoutMs)
{
  int fd = getFd();
  if (fd > 1023)
    throw plat::SystemException("select", EMFILE);
  int remaining = timeoutMs;
  for (;;) {
    fd_set rd;
    FD_ZERO(&rd);
    if (fd >= 0)
      FD_SET(fd, &rd);
    int n = plat::selectWithTimeout(fd + 1, &rd, nullptr, nullptr, &remaining, true);
    if (n > 0)
      return true;
    if (n == 0)
      return false;
  }
}

void FdListener::readable()
{
  if (!acceptor_)
    return;
  IoPtr io;
  try {
    io = acceptConnection();
  } catch (plat::Exception& e) {
    // A failing accept would fail again at once on a socket that stays
    // readable: log it and try again a little later.
    char text[plat::Exception::kMessageSize];
    listenerLog.error("accept: %s", e.formatDisplay(text));
    if (acceptor_)
      pauseAccepting();
    return;
  }
  if (!io)
    return;
  io->flags().insert(plat::String("incoming"));
  acceptor_->ioAccept(std::move(io));
}

void FdListener::extraEvent()
{
  if (extraCallback_)
    extraCallback_->extraEvent(this);
}

void FdListener::managerDestroyed()
{
  // The manager is going: forget it so the destructor does not touch it.
  acceptor_ = nullptr;
  fdMgr_ = nullptr;
  listening_ = false;
  retryTimer_.stop();
}

bool FdListener::timerExpired(plat::Timer* timer)
{
  if (timer == &retryTimer_)
    resumeAccepting();
  return false;
}

void FdListener::installFd(int newFd)
{
  if (getFd() >= 0 && ownsFd() && getFd() != newFd)
    ::close(getFd());
  setFd(newFd);
  setOwnFd(true);
  if (newFd >= 0 && acceptor_) {
    try {
      os::setBlocking(newFd, false);
    } catch (plat::Exception&) {
    }
  }
}

} // namespace io
