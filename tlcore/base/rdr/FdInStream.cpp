#include "rdr/FdInStream.h"

#include <errno.h>
#include <sys/select.h>
#include <unistd.h>

#include "plat/Exception.h"
#include "plat/Select.h"
#include "rdr/Exception.h"

namespace rdr {

void waitForFd(int fd, bool forWrite, int timeoutMs)
{
  if (fd < 0 || fd >= FD_SETSIZE)
    throw plat::SystemException("select", fd < 0 ? EBADF : EMFILE);
  int remaining = timeoutMs;
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    int r = plat::selectWithTimeout(fd + 1, forWrite ? nullptr : &set, forWrite ? &set : nullptr,
                                    nullptr, &remaining, true);
    if (r > 0)
      return;
    if (r == 0)
      throw plat::TimedOut();
    // A signal: wait on for what is left of the time.
  }
}

FdInStream::FdInStream(int fd, int bufSize) : BufferedNonBlockableInStream(bufSize), fd_(fd)
{
}

FdInStream::FdInStream(FdInStream&& other) noexcept
    : BufferedNonBlockableInStream(std::move(other)), timeoutMs_(other.timeoutMs_), fd_(other.fd_),
      ownFd_(other.ownFd_), timedOut_(other.timedOut_), writeError_(other.writeError_)
{
  other.fd_ = -1;
  other.ownFd_ = false;
}

FdInStream::~FdInStream()
{
  if (ownFd_ && fd_ >= 0)
    ::close(fd_);
}

int FdInStream::fillBuffer(uint8_t* buf, int maxLen)
{
  if (timedOut_)
    throw plat::TimedOut();
  if (writeError_)
    throw plat::SystemException("write", writeError_);
  // A blocking descriptor would sleep in read past any time limit.
  if (!nonBlocking_ && timeoutMs_ >= 0)
    waitForFd(fd_, false, timeoutMs_);
  for (;;) {
    ssize_t n = ::read(fd_, buf, maxLen);
    if (n > 0)
      return (int)n;
    if (n == 0)
      throw EndOfStream("End of IO stream");
    int err = errno;
    if (err == EINTR)
      continue;
    if (err != EAGAIN && err != EWOULDBLOCK)
      throw plat::SystemException("read", err);
    if (nonBlocking_)
      return 0;
    waitForFd(fd_, false, timeoutMs_);
  }
}

} // namespace rdr
