#include "plat/Select.h"

#include <errno.h>
#include <limits.h>

#include "plat/Exception.h"
#include "plat/Time.h"

namespace plat {

int selectWithTimeout(int nfds, fd_set* read, fd_set* write, fd_set* except, int* timeoutMs,
                      bool updateRemaining)
{
  int ms = *timeoutMs;
  struct timeval tv;
  struct timeval* tvp = nullptr;
  if (ms >= 0) {
    // One extra millisecond so that select, which may round down, never
    // returns before the time-out has passed.
    int wait = (ms == 0 || ms == INT_MAX) ? ms : ms + 1;
    tv.tv_sec = wait / 1000;
    tv.tv_usec = (wait % 1000) * 1000;
    tvp = &tv;
  }
  Time deadline = 0;
  if (updateRemaining)
    deadline = getMonoTime() + (ms > 0 ? (Time)ms * kTicksPerMilli : 0) + kTicksPerMilli - 1;

  int result = ::select(nfds, read, write, except, tvp);
  if (result < 0) {
    int err = errno;
    if (err != EINTR)
      throw SystemException("select", err);
    // What select left in the sets after a signal means nothing.
    for (fd_set* set : {read, write, except})
      if (set)
        FD_ZERO(set);
  }
  if (result <= 0 && updateRemaining && ms >= 0) {
    Time left = (deadline - getMonoTime()) / kTicksPerMilli;
    *timeoutMs = left < 0 ? 0 : left > INT_MAX ? INT_MAX : (int)left;
  }
  return result;
}

} // namespace plat
