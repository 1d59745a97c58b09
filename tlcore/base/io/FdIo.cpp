#include "io/FdIo.h"

#include <errno.h>
#include <sys/socket.h>

#include "os/socket.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "rdr/Exception.h"
#include "rdr/FdInStream.h"

namespace io {

namespace {

plat::LogSrc vlog("FdIo");

const char* boolText(bool b)
{
  return b ? "true" : "false";
}

// Counts a callback of the connection's own on the stack while it runs.
class BusyScope {
public:
  explicit BusyScope(int& depth) : depth_(depth) { ++depth_; }
  ~BusyScope() { --depth_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

private:
  int& depth_;
};

} // namespace

plat::IntParameter LazyFlushTimeout(
    "LazyFlushTimeout",
    "Maximum number of seconds for which attempts should be made to flush data to an "
    "unresponsive client (maximum 49 days)",
    60, true, nullptr, 0, 2147483647);

// Switching to waiting mode does not write out at once: a peer that takes
// nothing would stall the loop thread. Detaching writes out what the peer
// takes at once and leaves the rest to the loop (see setHandler).
class FdIo::FdOutput : public rdr::FdOutStream {
public:
  using rdr::FdOutStream::FdOutStream;
  void setLazyMode(bool lazy) { blockingFlush_ = !lazy; }
  bool isBlockingFlush() const { return blockingFlush_; }
};

class FdIo::FdInput : public rdr::FdInStream {
public:
  FdInput(int fd, int bufSize, FdOutput* out) : rdr::FdInStream(fd, bufSize), out(out) {}

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override
  {
    // A request written while the loop drove the connection must be out
    // before its answer is waited for.
    if (!nonBlocking_ && out->bytesBuffered() > 0)
      out->flushBuffer(true);
    return rdr::FdInStream::fillBuffer(buf, maxLen);
  }

private:
  FdOutput* out;
};

FdIo::FdIo(int fd, FdIoFlags flags, int inBufSize, int outBufSize)
    : connectPending(hasAny(flags, FdIoFlags::kConnectPending)), flushTimer(this),
      shutdownTimer(this)
{
  os::initSocketProcessLimits();
  if (fd >= 0)
    attach(fd, hasAny(flags, FdIoFlags::kOwnFd), inBufSize, outBufSize,
           !hasAny(flags, FdIoFlags::kBlocking));
}

FdIo::~FdIo()
{
  forgetHandler();
  flushTimer.stop();
  shutdownTimer.stop();
  // The input refers to the output: it goes first.
  fdIn.reset();
  fdOut.reset();
  in = nullptr;
  out = nullptr;
}

void FdIo::deleteSelf(FdIo* self)
{
  delete self;
}

void FdIo::attach(int fd_, bool ownFd_, int inBufSize, int outBufSize, bool nonBlocking)
{
  PLAT_ASSERT(fd < 0);
  if (nonBlocking)
    os::setBlocking(fd_, false);
  fd = fd_;
  ownFd = ownFd_;
  fdOut = std::make_unique<FdOutput>(fd, outBufSize);
  fdIn = std::make_unique<FdInput>(fd, inBufSize, fdOut.get());
  fdOut->setCallback(this);
  fdOut->setInStream(fdIn.get());
  in = fdIn.get();
  out = fdOut.get();
}

// --- Handler and interest -----------------------------------------------------

void FdIo::setHandler(IoHandler* h, bool readEnabled)
{
  if (!handler && !h)
    return;
  if (!fdMgr) {
    fdMgr = FdManager::current();
    PLAT_ASSERT(fdMgr);
  }
  // A detached connection stays registered while it drains (below).
  if (h)
    fdMgr->setRegistered(this, true);
  if (state != kShuttingDown)
    setInterest(h && readEnabled, h && connectPending);
  handler = h;
  if (h) {
    if (readEnabled && fdIn && (fdIn->nUnread() > 0 || fdIn->isTimedOut()))
      fdMgr->queueReadable(this);
    if (!connectPending)
      fdMgr->queueWritable(this);
    fdMgr->wake();
  } else {
    flushTimer.stop();
  }
  try {
    setStreamModes(h != nullptr);
    // Detached, the buffered bytes still go out as before, but never by
    // waiting on the peer: what it takes now, the rest through the loop.
    if (!h && fdOut && state != kShuttingDown && fdOut->bytesBuffered() > 0)
      fdOut->flushBuffer(false);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("setHandler: %s", e.formatDisplay(text));
  }
  if (!h && !isDraining())
    stopDraining();
}

bool FdIo::isDraining() const
{
  return !handler && fdMgr && state != kShuttingDown && fdOut && fdOut->bytesBuffered() > 0 &&
         !fdOut->getWriteError();
}

void FdIo::stopDraining()
{
  flushTimer.stop();
  if (fdMgr) {
    setInterest(false, false);
    fdMgr->setRegistered(this, false);
  }
  fdMgr = nullptr;
}

void FdIo::setStreamModes(bool withHandler)
{
  if (!fdIn)
    return;
  fdIn->setNonBlocking(withHandler);
  if (withHandler)
    fdOut->setLazy(true);
  else
    fdOut->setLazyMode(false);
}

void FdIo::forgetHandler()
{
  handler = nullptr;
  if (!fdMgr)
    return;
  if (readWanted || writeWanted) {
    readWanted = writeWanted = false;
    fdMgr->setEvents(this, FdEvents::kNone);
  }
  fdMgr->setRegistered(this, false);
  fdMgr = nullptr;
}

void FdIo::setInterest(bool read, bool write)
{
  if (!fdMgr || (read == readWanted && write == writeWanted))
    return;
  readWanted = read;
  writeWanted = write;
  fdMgr->setEvents(this, readWriteEvents(read, write));
}

void FdIo::markReadable()
{
  if (state != kShuttingDown && fdMgr && handler)
    fdMgr->queueReadable(this);
}

// --- Shutdown -------------------------------------------------------------------

void FdIo::shutdown(bool flush, bool tellHandler)
{
  vlog.info("shutdown %p (fd=%d), flush %s (tellHandler %s)", (void*)this, fd, boolText(flush),
            boolText(tellHandler));
  // What was buffered when the handler went is delivered whatever the
  // shutdown asks, as a waiting detach would have done.
  if (isDraining())
    flush = true;
  // A detached connection with bytes to send still flushes through the
  // loop, never by waiting on the peer.
  if (!fdMgr && flush && fdOut && fdOut->bytesBuffered() > 0 && FdManager::current()) {
    PLAT_ASSERT(!tellHandler);
    fdMgr = FdManager::current();
    fdMgr->setRegistered(this, true);
    setStreamModes(true);
  }
  if (fdMgr) {
    state = kShuttingDown;
    readWanted = writeWanted = false;
    // Also drops the connection from the ready lists, so no event reaches a
    // handler that is being forgotten.
    fdMgr->setEvents(this, FdEvents::kNone);
    if (!tellHandler)
      handler = nullptr;
    if (flush)
      fdMgr->queueWritable(this);
    else
      shutdownTimer.start(0);
    return;
  }
  PLAT_ASSERT(!tellHandler);
  state = kShuttingDown;
  handler = nullptr;
  FdManager* current = FdManager::current();
  if (busy > 0 && current) {
    // Asked from inside one of its own callbacks, which still runs on this
    // object when the call returns.
    vlog.info("deferred shutdown %p (fd=%d)", (void*)this, fd);
    current->deferDelete<FdIo, &FdIo::deleteSelf>(this);
    return;
  }
  vlog.info("immediate shutdown %p (fd=%d)", (void*)this, fd);
  delete this;
}

void FdIo::completeShutdown(const char* logFormat)
{
  vlog.info(logFormat, (void*)this, fd);
  if (handler) {
    try {
      handler->closed(this);
    } catch (plat::Exception& e) {
      vlog.status("Shutdown error: %s", e.str());
    }
  }
  if (fdMgr)
    fdMgr->setRegistered(this, false);
  fdMgr = nullptr;
  handler = nullptr;
  delete this;
}

void FdIo::fail(const char* format, const plat::Exception& e)
{
  vlog.status(format, e.str());
  if (state == kShuttingDown)
    shutdownTimer.start(0);
  else
    shutdown(false, true);
}

// --- Loop events ------------------------------------------------------------------

bool FdIo::timerExpired(plat::Timer* t)
{
  if (t == &shutdownTimer) {
    completeShutdown("shutdown complete %p (fd=%d)");
    return false;
  }
  vlog.info("flush timer");
  if (state == kShuttingDown) {
    // Whether or not a handler still listens, the flush is given up.
    shutdownTimer.start(0);
    return false;
  }
  if (!handler) {
    // A detached connection's peer took nothing: the bytes stay buffered
    // for the owner's next waiting write or flush.
    stopDraining();
    return false;
  }
  fdIn->setTimedOut(true);
  if (readWanted)
    fdMgr->queueReadable(this);
  return false;
}

void FdIo::blocked(rdr::FdOutStream*, bool isBlocked)
{
  if (isBlocked) {
    if (!writeWanted) {
      writeWanted = true;
      if (fdMgr)
        fdMgr->setEvents(this, readWriteEvents(readWanted, true));
    }
    if (fdMgr) {
      int seconds = LazyFlushTimeout;
      flushTimer.start(seconds > 2147483 ? 2147483647 : seconds * 1000);
    }
  } else if (fdMgr) {
    flushTimer.stop();
    fdMgr->queueWritable(this);
  }
}

void FdIo::writeShutDown(rdr::FdOutStream*)
{
  if (state == kOpen)
    state = kOutputClosing;
}

void FdIo::readable()
{
  if (!handler && (state == kShuttingDown || isDraining()))
    return;
  PLAT_ASSERT(handler);
  BusyScope scope(busy);
  try {
    handler->dataAvailable(this);
  } catch (rdr::BlockException&) {
    // The handler read all there was.
  } catch (plat::Exception& e) {
    if (state != kShuttingDown) {
      vlog.status("Read error: %s", e.str());
      shutdown(false, true);
    }
  }
}

void FdIo::writable()
{
  BusyScope scope(busy);
  try {
    connectPending = false;
    if (writeWanted) {
      writeWanted = false;
      fdMgr->setEvents(this, readWriteEvents(readWanted, false));
    }
    if (fdOut->bytesBuffered() > 0) {
      // Never waits: a detached connection's stream is in waiting mode.
      fdOut->flushBuffer(false);
    } else if (state == kShuttingDown) {
      shutdownTimer.start(0);
    } else if (state == kOutputClosing) {
      fdOut->closeWrite();
      fdMgr->setEvents(this, readWriteEvents(readWanted, false));
      if (!handler)
        stopDraining();
    } else if (!handler) {
      // A detached connection has delivered what it held.
      stopDraining();
    } else {
      handler->writable(this);
    }
  } catch (plat::Exception& e) {
    if (!handler && state != kShuttingDown) {
      // The owner of a detached connection meets the error itself.
      vlog.status("Write error: %s", e.str());
      stopDraining();
    } else {
      fail("Write error: %s", e);
    }
  }
}

void FdIo::setError(int err)
{
  socketError = err;
}

void FdIo::managerDestroyed()
{
  if (state == kShuttingDown) {
    // completeShutdown without touching the dying manager's lists.
    fdMgr = nullptr;
    completeShutdown("shutdown completed by FdManager dtor %p (fd=%d)");
    return;
  }
  flushTimer.stop();
  handler = nullptr;
  fdMgr = nullptr;
  readWanted = writeWanted = false;
}

// --- Descriptor and descriptions ----------------------------------------------

int FdIo::getSocketError()
{
  if (socketError)
    return socketError;
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
    throw plat::SystemException("getsockopt", errno);
  socketError = err;
  return err;
}

void FdIo::writeState(rdr::OutStream& os)
{
  writeFlags(os);
  fdIn->saveUnread(os);
}

void FdIo::readState(rdr::InStream& is)
{
  readFlags(is);
  fdIn->restoreUnread(is);
}

void FdIo::setDisplayName(const char* text)
{
  displayNameText = plat::String(text);
}

const char* FdIo::displayName()
{
  if (displayNameText.isNull())
    displayNameText = plat::format("<fd%d>", fd);
  return displayNameText.str();
}

const char* FdIo::peerEndpoint()
{
  return "";
}

const char* FdIo::peerAddress()
{
  return "";
}

const char* FdIo::myEndpoint()
{
  return "";
}

void FdIo::setTimeout(int ms)
{
  if (!fdIn)
    return;
  fdIn->setTimeout(ms);
  fdOut->setTimeout(ms);
}

} // namespace io
