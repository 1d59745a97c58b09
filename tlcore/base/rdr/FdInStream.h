// Buffered input from a descriptor (a pipe or a socket).
//
// Blocking mode waits for data with select, within the stream's time limit;
// non-blocking mode returns "no data" at once and relies on the descriptor
// loop to read again. A waiting read needs a descriptor below 1024 (the
// select set). The owning connection may mark the stream timed out or failed,
// after which every refill throws. One thread at a time.
#pragma once

#include "rdr/BufferedInStream.h"

namespace rdr {

class FdInStream : public BufferedNonBlockableInStream {
public:
  // bufSize < 0 means 16800. Does not own fd and has no time limit.
  explicit FdInStream(int fd, int bufSize = -1);
  // Takes everything over; the source is left with fd -1.
  FdInStream(FdInStream&& other) noexcept;
  ~FdInStream() override;

  int getFd() const { return fd_; }
  void setOwnFd(bool own) { ownFd_ = own; }
  // Wait limit of blocking reads in milliseconds; -1 = none.
  void setTimeout(int ms) { timeoutMs_ = ms; }
  int getTimeout() const { return timeoutMs_; }
  // Once set, every refill throws plat::TimedOut "Timed out".
  void setTimedOut(bool t) { timedOut_ = t; }
  bool isTimedOut() const { return timedOut_; }
  // A write on the same descriptor failed for good: every refill throws
  // plat::SystemException "write" with err, so the reader ends too.
  void setWriteError(int err) { writeError_ = err; }

protected:
  int fillBuffer(uint8_t* buf, int maxLen) override;

  int timeoutMs_ = -1;
  int fd_;
  bool ownFd_ = false;
  bool timedOut_ = false;
  int writeError_ = 0;
};

// Closes its descriptor when destroyed.
class FdInStreamOwn : public FdInStream {
public:
  explicit FdInStreamOwn(int fd, int bufSize = -1) : FdInStream(fd, bufSize) { ownFd_ = true; }
};

// Waits until fd is readable (or writable) for at most timeoutMs (-1: no
// limit), across signals. Throws plat::TimedOut "Timed out", and
// plat::SystemException "select" (EMFILE) for a descriptor that does not fit
// a select set.
void waitForFd(int fd, bool forWrite, int timeoutMs);

} // namespace rdr
