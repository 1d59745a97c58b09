#include "io/FdSelectManager.h"

#include <limits.h>
#include <sys/select.h>

#include "plat/Select.h"

namespace io {

FdSelectManager::FdSelectManager(bool nested) : FdManager(nested)
{
}

bool FdSelectManager::updateInterest(FdHandler* h, FdEvents events)
{
  auto set = [h](HandlerList& list, bool on) {
    if (on)
      insertSorted(list, h);
    else
      eraseSorted(list, h);
  };
  set(readInterest_, hasAny(events, FdEvents::kRead | FdEvents::kAccept));
  set(writeInterest_, hasAny(events, FdEvents::kWrite));
  set(exceptInterest_, hasAny(events, FdEvents::kExcept));
  return !hasAny(events, FdEvents::kExtra);
}

bool FdSelectManager::processOnce(int timeoutMs)
{
  fd_set sets[3];
  const HandlerList* interest[3] = {&readInterest_, &writeInterest_, &exceptInterest_};
  int nfds = 0;
  for (int i = 0; i < 3; i++) {
    FD_ZERO(&sets[i]);
    for (FdHandler* h : *interest[i]) {
      int fd = h->getFd();
      // Anything outside the set is left to the events queued for it.
      if (fd < 0 || fd >= FD_SETSIZE)
        continue;
      FD_SET(fd, &sets[i]);
      if (fd + 1 > nfds)
        nfds = fd + 1;
    }
  }

  int wait = timeoutMs;
  bool timerBound = false;
  int timerMs = timers_.getTimeout();
  if (timerMs >= 0 && (wait < 0 || wait >= timerMs)) {
    wait = timerMs;
    timerBound = true;
  }

  int n = plat::selectWithTimeout(nfds, &sets[0], &sets[1], &sets[2], &wait, false);
  if (n > 0) {
    for (FdHandler* h : handlers_) {
      int fd = h->getFd();
      if (fd < 0 || fd >= FD_SETSIZE)
        continue;
      if (FD_ISSET(fd, &sets[0]) || FD_ISSET(fd, &sets[2]))
        insertSorted(pendingRead_, h);
      if (FD_ISSET(fd, &sets[1]))
        insertSorted(pendingWrite_, h);
    }
  }

  dispatch();
  return timerBound || n != 0;
}

} // namespace io
