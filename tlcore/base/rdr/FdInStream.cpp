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

FdInStream::FdInStream(int fd, int bufSize) : BufferedNonBlockableInStream(bufSize), fd(fd) {}

FdInStream::FdInStream(FdInStream&& other) noexcept
    : BufferedNonBlockableInStream(std::move(other)), timeoutMs(other.timeoutMs), fd(other.fd),
      ownFd(other.ownFd), timedOut(other.timedOut), writeError(other.writeError)
{
  other.fd = -1;
  other.ownFd = false;
}

FdInStream::~FdInStream()
{
  if (ownFd && fd >= 0)
    ::close(fd);
}

int FdInStream::fillBuffer(uint8_t* buf, int maxLen)
{
  if (timedOut)
    throw plat::TimedOut();
  if (writeError)
    throw plat::SystemException("write", writeError);
  // A blocking descriptor would sleep in read past any time limit.
  if (!nonBlocking && timeoutMs >= 0)
    waitForFd(fd, false, timeoutMs);
  for (;;) {
    ssize_t n = ::read(fd, buf, maxLen);
    if (n > 0)
      return (int)n;
    if (n == 0)
      throw EndOfStream("End of IO stream");
    int err = errno;
    if (err == EINTR)
      continue;
    if (err != EAGAIN && err != EWOULDBLOCK)
      throw plat::SystemException("read", err);
    if (nonBlocking)
      return 0;
    waitForFd(fd, false, timeoutMs);
  }
}

} // namespace rdr
