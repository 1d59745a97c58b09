#include "io/FdKicker.h"

#include <errno.h>
#include <unistd.h>

#include "os/socket.h"
#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/FdInStream.h"

namespace io {

FdKickerCallback::~FdKickerCallback() = default;

FdKicker::FdKicker(FdKickerCallback* cb) : callback_(cb), manager_(FdManager::current())
{
  PLAT_ASSERT(manager_);
  int fds[2];
  os::pipeCloexec(fds);
  setFd(fds[0]);
  setOwnFd(true);
  writeFd_ = fds[1];
  try {
    os::setBlocking(fds[0], false);
    os::setBlocking(writeFd_, false);
  } catch (...) {
    // The FdHandler base closes the read end.
    ::close(writeFd_);
    throw;
  }
  in_ = std::make_unique<rdr::FdInStream>(fds[0]);
  in_->setNonBlocking(true);
  manager_->setRegistered(this, true);
  manager_->setEvents(this, FdEvents::kRead);
}

FdKicker::~FdKicker()
{
  if (manager_) {
    try {
      manager_->setEvents(this, FdEvents::kNone);
      manager_->setRegistered(this, false);
    } catch (...) {
      PLAT_FAIL("FdKicker unregistering threw");
    }
  }
  in_.reset();
  if (writeFd_ >= 0)
    ::close(writeFd_);
}

void FdKicker::kick(uint8_t byte)
{
  // A signal handler may call this: keep errno as the interrupted code had it.
  int saved = errno;
  ssize_t r = ::write(writeFd_, &byte, 1);
  (void)r;
  errno = saved;
}

void FdKicker::readable()
{
  try {
    callback_->kicked(this, in_.get());
  } catch (rdr::BlockException&) {
  }
  in_->setCheckpoint();
}

void FdKicker::drain()
{
  while (in_->check(false, 1)) {
    int n = in_->nUnread();
    in_->consume(n < 4096 ? n : 4096);
    in_->setCheckpoint();
  }
}

bool FdKicker::hasPendingBytes()
{
  return in_->nUnread() > 0 || in_->check(false, 1);
}

void FdKicker::managerDestroyed()
{
  manager_ = nullptr;
}

} // namespace io
