#include "rdr/FdOutStream.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "plat/Exception.h"
#include "plat/Log.h"
#include "rdr/FdInStream.h"

namespace rdr {

namespace {

plat::LogSrc vlog("FdOutStream");

} // namespace

FdOutStream::FdOutStream(int fd, int maxBufSize)
    : BufferedLazyOutStream(kDefaultBufSize, maxBufSize), fd_(fd)
{
}

FdOutStream::~FdOutStream()
{
  callback_ = nullptr;
  try {
    writeOutSome(false);
  } catch (plat::Exception&) {
  }
  if (ownFd_ && fd_ >= 0)
    ::close(fd_);
}

void FdOutStream::throwWriteError() const
{
  throw plat::SystemException("write", writeError_);
}

int FdOutStream::writeOut(const uint8_t* data, int len, bool wait)
{
  if (writeError_)
    throwWriteError();
  for (;;) {
    ssize_t n = ::write(fd_, data, len);
    if (n >= 0) {
      if (callback_)
        callback_->blocked(this, n == 0);
      return (int)n;
    }
    int err = errno;
    if (err == EINTR)
      continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      if (!wait) {
        if (callback_)
          callback_->blocked(this, true);
        return 0;
      }
      waitForFd(fd_, true, timeoutMs_);
      continue;
    }
    // A waiting write has nobody to come back later: it throws even on a
    // stream that otherwise keeps its errors.
    if (doesThrowErrors() || wait)
      throw plat::SystemException("write", err);
    writeError_ = err;
    vlog.info("%s", plat::SystemException("write", err).str());
    if (inStream_)
      inStream_->setWriteError(err);
    // Not "blocked": waiting for writability would hide the error. The
    // owner comes back at once and meets it.
    if (callback_)
      callback_->blocked(this, false);
    return 0;
  }
}

bool FdOutStream::closeWrite()
{
  if (bytesBuffered() == 0 && ::shutdown(fd_, SHUT_WR) < 0)
    throw plat::SystemException("shutdown(SHUT_WR)", errno);
  if (callback_)
    callback_->writeShutDown(this);
  return true;
}

} // namespace rdr
