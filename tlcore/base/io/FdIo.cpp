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

// The read interest of a connection's events, without the write interest.
FdEvents readPart(FdEvents events)
{
  return hasAny(events, FdEvents::kRead) ? FdEvents::kRead : FdEvents::kNone;
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
    60, plat::ParamLevel::kAdvanced, nullptr, 0, 2147483647);

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
  FdInput(int fd, int bufSize, FdOutput* out) : rdr::FdInStream(fd, bufSize), out_(out) {}

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override
  {
    // A request written while the loop drove the connection must be out
    // before its answer is waited for.
    if (!nonBlocking_ && out_->bytesBuffered() > 0)
      out_->flushBuffer(true);
    return rdr::FdInStream::fillBuffer(buf, maxLen);
  }

private:
  FdOutput* out_;
};

FdIo::FdIo(int fd, FdIoFlags flags, int inBufSize, int outBufSize)
    : connectPending_(hasAny(flags, FdIoFlags::kConnectPending)), flushTimer_(this),
      shutdownTimer_(this)
{
  os::initSocketProcessLimits();
  if (fd >= 0)
    attach(fd, flags, inBufSize, outBufSize);
}

FdIo::~FdIo()
{
  forgetHandler();
  flushTimer_.stop();
  shutdownTimer_.stop();
  // The input refers to the output: it goes first.
  fdIn_.reset();
  fdOut_.reset();
  setStreams(nullptr, nullptr);
}

void FdIo::deleteSelf(FdIo* self)
{
  delete self;
}

void FdIo::attach(int newFd, FdIoFlags flags, int inBufSize, int outBufSize)
{
  PLAT_ASSERT(getFd() < 0);
  if (!hasAny(flags, FdIoFlags::kBlocking))
    os::setBlocking(newFd, false);
  setFd(newFd);
  setOwnFd(hasAny(flags, FdIoFlags::kOwnFd));
  fdOut_ = std::make_unique<FdOutput>(newFd, outBufSize);
  fdIn_ = std::make_unique<FdInput>(newFd, inBufSize, fdOut_.get());
  fdOut_->setCallback(this);
  fdOut_->setInStream(fdIn_.get());
  setStreams(fdIn_.get(), fdOut_.get());
}

// --- Handler and interest -----------------------------------------------------

void FdIo::setHandler(IoHandler* h, bool readEnabled)
{
  if (!handler_ && !h)
    return;
  if (!fdMgr_) {
    fdMgr_ = FdManager::current();
    PLAT_ASSERT(fdMgr_);
  }
  // A detached connection stays registered while it drains (below).
  if (h)
    fdMgr_->setRegistered(this, true);
  if (state_ != kShuttingDown)
    setInterest((h && readEnabled ? FdEvents::kRead : FdEvents::kNone) |
                (h && connectPending_ ? FdEvents::kWrite : FdEvents::kNone));
  handler_ = h;
  if (h) {
    if (readEnabled && fdIn_ && (fdIn_->nUnread() > 0 || fdIn_->isTimedOut()))
      fdMgr_->queueReadable(this);
    if (!connectPending_)
      fdMgr_->queueWritable(this);
    fdMgr_->wake();
  } else {
    flushTimer_.stop();
  }
  try {
    setStreamModes(h != nullptr);
    // Detached, the buffered bytes still go out as before, but never by
    // waiting on the peer: what it takes now, the rest through the loop.
    if (!h && fdOut_ && state_ != kShuttingDown && fdOut_->bytesBuffered() > 0)
      fdOut_->flushBuffer(false);
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.error("setHandler: %s", e.formatDisplay(text));
  }
  if (!h && !isDraining())
    stopDraining();
}

bool FdIo::isDraining() const
{
  return !handler_ && fdMgr_ && state_ != kShuttingDown && fdOut_ && fdOut_->bytesBuffered() > 0 &&
         !fdOut_->getWriteError();
}

void FdIo::stopDraining()
{
  flushTimer_.stop();
  if (fdMgr_) {
    setInterest(FdEvents::kNone);
    fdMgr_->setRegistered(this, false);
  }
  fdMgr_ = nullptr;
}

void FdIo::setStreamModes(bool withHandler)
{
  if (!fdIn_)
    return;
  fdIn_->setNonBlocking(withHandler);
  if (withHandler)
    fdOut_->setLazy(true);
  else
    fdOut_->setLazyMode(false);
}

void FdIo::forgetHandler()
{
  handler_ = nullptr;
  if (!fdMgr_)
    return;
  if (interest_ != FdEvents::kNone) {
    interest_ = FdEvents::kNone;
    fdMgr_->setEvents(this, FdEvents::kNone);
  }
  fdMgr_->setRegistered(this, false);
  fdMgr_ = nullptr;
}

void FdIo::setInterest(FdEvents wanted)
{
  if (!fdMgr_ || wanted == interest_)
    return;
  interest_ = wanted;
  fdMgr_->setEvents(this, wanted);
}

void FdIo::markReadable()
{
  if (state_ != kShuttingDown && fdMgr_ && handler_)
    fdMgr_->queueReadable(this);
}

// --- Shutdown -------------------------------------------------------------------

void FdIo::shutdown(Shutdown how)
{
  bool flush = hasAny(how, Shutdown::kFlush);
  const bool tellHandler = hasAny(how, Shutdown::kTellHandler);
  vlog.info("shutdown %p (fd=%d), flush %s (tellHandler %s)", (void*)this, getFd(), boolText(flush),
            boolText(tellHandler));
  // What was buffered when the handler went is delivered whatever the
  // shutdown asks, as a waiting detach would have done.
  if (isDraining())
    flush = true;
  // A detached connection with bytes to send still flushes through the
  // loop, never by waiting on the peer.
  if (!fdMgr_ && flush && fdOut_ && fdOut_->bytesBuffered() > 0 && FdManager::current()) {
    PLAT_ASSERT(!tellHandler);
    fdMgr_ = FdManager::current();
    fdMgr_->setRegistered(this, true);
    setStreamModes(true);
  }
  if (fdMgr_) {
    state_ = kShuttingDown;
    interest_ = FdEvents::kNone;
    // Also drops the connection from the ready lists, so no event reaches a
    // handler that is being forgotten.
    fdMgr_->setEvents(this, FdEvents::kNone);
    if (!tellHandler)
      handler_ = nullptr;
    if (flush)
      fdMgr_->queueWritable(this);
    else
      shutdownTimer_.start(0);
    return;
  }
  PLAT_ASSERT(!tellHandler);
  state_ = kShuttingDown;
  handler_ = nullptr;
  FdManager* current = FdManager::current();
  if (busy_ > 0 && current) {
    // Asked from inside one of its own callbacks, which still runs on this
    // object when the call returns.
    vlog.info("deferred shutdown %p (fd=%d)", (void*)this, getFd());
    current->deferDelete<FdIo, &FdIo::deleteSelf>(this);
    return;
  }
  vlog.info("immediate shutdown %p (fd=%d)", (void*)this, getFd());
  delete this;
}

void FdIo::completeShutdown(const char* logFormat)
{
  vlog.info(logFormat, (void*)this, getFd());
  if (handler_) {
    try {
      handler_->closed(this);
    } catch (plat::Exception& e) {
      vlog.status("Shutdown error: %s", e.str());
    }
  }
  if (fdMgr_)
    fdMgr_->setRegistered(this, false);
  fdMgr_ = nullptr;
  handler_ = nullptr;
  delete this;
}

void FdIo::fail(const char* format, const plat::Exception& e)
{
  vlog.status(format, e.str());
  if (state_ == kShuttingDown)
    shutdownTimer_.start(0);
  else
    shutdown(io::Shutdown::kTellHandler);
}

// --- Loop events ------------------------------------------------------------------

bool FdIo::timerExpired(plat::Timer* t)
{
  if (t == &shutdownTimer_) {
    completeShutdown("shutdown complete %p (fd=%d)");
    return false;
  }
  vlog.info("flush timer");
  if (state_ == kShuttingDown) {
    // Whether or not a handler still listens, the flush is given up.
    shutdownTimer_.start(0);
    return false;
  }
  if (!handler_) {
    // A detached connection's peer took nothing: the bytes stay buffered
    // for the owner's next waiting write or flush.
    stopDraining();
    return false;
  }
  fdIn_->setTimedOut(true);
  if (hasAny(interest_, FdEvents::kRead))
    fdMgr_->queueReadable(this);
  return false;
}

void FdIo::blocked(rdr::FdOutStream*, bool isBlocked)
{
  if (isBlocked) {
    if (!hasAny(interest_, FdEvents::kWrite)) {
      interest_ = interest_ | FdEvents::kWrite;
      if (fdMgr_)
        fdMgr_->setEvents(this, interest_);
    }
    if (fdMgr_) {
      int seconds = LazyFlushTimeout;
      flushTimer_.start(seconds > 2147483 ? 2147483647 : seconds * 1000);
    }
  } else if (fdMgr_) {
    flushTimer_.stop();
    fdMgr_->queueWritable(this);
  }
}

void FdIo::writeShutDown(rdr::FdOutStream*)
{
  if (state_ == kOpen)
    state_ = kOutputClosing;
}

void FdIo::readable()
{
  if (!handler_ && (state_ == kShuttingDown || isDraining()))
    return;
  PLAT_ASSERT(handler_);
  BusyScope scope(busy_);
  try {
    handler_->dataAvailable(this);
  } catch (rdr::BlockException&) {
    // The handler read all there was.
  } catch (plat::Exception& e) {
    if (state_ != kShuttingDown) {
      vlog.status("Read error: %s", e.str());
      shutdown(io::Shutdown::kTellHandler);
    }
  }
}

void FdIo::writable()
{
  BusyScope scope(busy_);
  try {
    connectPending_ = false;
    if (hasAny(interest_, FdEvents::kWrite)) {
      interest_ = readPart(interest_);
      fdMgr_->setEvents(this, interest_);
    }
    if (fdOut_->bytesBuffered() > 0) {
      // Never waits: a detached connection's stream is in waiting mode.
      fdOut_->flushBuffer(false);
    } else if (state_ == kShuttingDown) {
      shutdownTimer_.start(0);
    } else if (state_ == kOutputClosing) {
      fdOut_->closeWrite();
      fdMgr_->setEvents(this, readPart(interest_));
      if (!handler_)
        stopDraining();
    } else if (!handler_) {
      // A detached connection has delivered what it held.
      stopDraining();
    } else {
      handler_->writable(this);
    }
  } catch (plat::Exception& e) {
    if (!handler_ && state_ != kShuttingDown) {
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
  socketError_ = err;
}

void FdIo::managerDestroyed()
{
  if (state_ == kShuttingDown) {
    // completeShutdown without touching the dying manager's lists.
    fdMgr_ = nullptr;
    completeShutdown("shutdown completed by FdManager dtor %p (fd=%d)");
    return;
  }
  flushTimer_.stop();
  handler_ = nullptr;
  fdMgr_ = nullptr;
  interest_ = FdEvents::kNone;
}

// --- Descriptor and descriptions ----------------------------------------------

int FdIo::getSocketError()
{
  if (socketError_)
    return socketError_;
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(getFd(), SOL_SOCKET, SO_ERROR, &err, &len) < 0)
    throw plat::SystemException("getsockopt", errno);
  socketError_ = err;
  return err;
}

void FdIo::writeState(rdr::OutStream& os)
{
  writeFlags(os);
  fdIn_->saveUnread(os);
}

void FdIo::readState(rdr::InStream& is)
{
  readFlags(is);
  fdIn_->restoreUnread(is);
}

void FdIo::setDisplayName(const char* text)
{
  displayNameText_ = plat::String(text);
}

const char* FdIo::displayName()
{
  if (displayNameText_.isNull())
    displayNameText_ = plat::format("<fd%d>", getFd());
  return displayNameText_.str();
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
  if (!fdIn_)
    return;
  fdIn_->setTimeout(ms);
  fdOut_->setTimeout(ms);
}

} // namespace io
