#include "io/FdKicker.h"

#include <errno.h>
#include <unistd.h>

#include "os/socket.h"
#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/FdInStream.h"

namespace io {

FdKickerCallback::~FdKickerCallback() = default;

FdKicker::FdKicker(FdKickerCallback* cb) : callback(cb), manager(FdManager::current())
{
  PLAT_ASSERT(manager);
  int fds[2];
  os::pipeCloexec(fds);
  fd = fds[0];
  ownFd = true;
  writeFd = fds[1];
  try {
    os::setBlocking(fd, false);
    os::setBlocking(writeFd, false);
  } catch (...) {
    // The FdHandler base closes the read end.
    ::close(writeFd);
    throw;
  }
  in = new rdr::FdInStream(fd);
  in->setNonBlocking(true);
  manager->setRegistered(this, true);
  manager->setEvents(this, FdEvents::kRead);
}

FdKicker::~FdKicker()
{
  if (manager) {
    try {
      manager->setEvents(this, FdEvents::kNone);
      manager->setRegistered(this, false);
    } catch (...) {
      PLAT_FAIL("FdKicker unregistering threw");
    }
  }
  delete in;
  if (writeFd >= 0)
    ::close(writeFd);
}

void FdKicker::kick(uint8_t byte)
{
  // A signal handler may call this: keep errno as the interrupted code had it.
  int saved = errno;
  ssize_t r = ::write(writeFd, &byte, 1);
  (void)r;
  errno = saved;
}

void FdKicker::readable()
{
  try {
    callback->kicked(this, in);
  } catch (rdr::BlockException&) {
  }
  in->setCheckpoint();
}

void FdKicker::drain()
{
  while (in->check(false, 1)) {
    int n = in->nUnread();
    in->consume(n < 4096 ? n : 4096);
    in->setCheckpoint();
  }
}

bool FdKicker::hasPendingBytes()
{
  return in->nUnread() > 0 || in->check(false, 1);
}

void FdKicker::managerDestroyed()
{
  manager = nullptr;
}

} // namespace io
