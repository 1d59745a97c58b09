#include "io/FdListener.h"

#include <errno.h>
#include <unistd.h>

#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Select.h"

namespace io {

namespace {
plat::LogSrc listenerLog("FdListener");
}

Listener::~Listener() = default;

FdListener::FdListener(int fd) : FdHandler(fd, true), retryTimer(this)
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
  retryTimer.stop();
}

void FdListener::updateInterest()
{
  fdMgr->setEvents(this, (listening ? FdEvents::kAccept : FdEvents::kNone) |
                             (acceptor && extraCallback ? FdEvents::kExtra : FdEvents::kNone));
  if (listening)
    fdMgr->queueReadable(this);
}

void FdListener::setAcceptor(IoAcceptor* newAcceptor)
{
  if (!acceptor && !newAcceptor)
    return;
  if (!fdMgr)
    fdMgr = FdManager::current();
  PLAT_ASSERT(fdMgr);
  acceptor = newAcceptor;
  fdMgr->setRegistered(this, acceptor != nullptr);
  listening = acceptor != nullptr;
  updateInterest();
  if (!acceptor) {
    fdMgr = nullptr;
    retryTimer.stop();
  }
  if (fd >= 0) {
    try {
      os::setBlocking(fd, acceptor == nullptr);
    } catch (plat::Exception&) {
      // A blocking listener only makes a spurious wake-up wait; not fatal.
    }
  }
}

void FdListener::setListening(bool on)
{
  listening = on;
  if (fdMgr)
    updateInterest();
}

void FdListener::setExtraCallback(ExtraCallback* cb)
{
  PLAT_ASSERT(fdMgr);
  extraCallback = cb;
  updateInterest();
}

void FdListener::pauseAccepting()
{
  listening = false;
  if (fdMgr)
    updateInterest();
  retryTimer.start(kRetryMs);
}

void FdListener::resumeAccepting()
{
  listening = acceptor != nullptr;
  if (fdMgr)
    updateInterest();
}

bool FdListener::waitReadable(int timeoutMs)
{
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
  if (!acceptor)
    return;
  Io* io;
  try {
    io = acceptConnection();
  } catch (plat::Exception& e) {
    // A failing accept would fail again at once on a socket that stays
    // readable: log it and try again a little later.
    char text[plat::Exception::kMessageSize];
    listenerLog.error("accept: %s", e.formatDisplay(text));
    if (acceptor)
      pauseAccepting();
    return;
  }
  if (!io)
    return;
  io->flags.insert(plat::String("incoming"));
  acceptor->ioAccept(io);
}

void FdListener::extraEvent()
{
  if (extraCallback)
    extraCallback->extraEvent(this);
}

void FdListener::managerDestroyed()
{
  // The manager is going: forget it so the destructor does not touch it.
  acceptor = nullptr;
  fdMgr = nullptr;
  listening = false;
  retryTimer.stop();
}

bool FdListener::timerExpired(plat::Timer* timer)
{
  if (timer == &retryTimer)
    resumeAccepting();
  return false;
}

void FdListener::installFd(int newFd)
{
  if (fd >= 0 && ownFd && fd != newFd)
    ::close(fd);
  fd = newFd;
  ownFd = true;
  if (fd >= 0 && acceptor) {
    try {
      os::setBlocking(fd, false);
    } catch (plat::Exception&) {
    }
  }
}

} // namespace io
