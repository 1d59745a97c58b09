// select with a millisecond time-out that can report how much of it is left.
//
// The descriptor loops of every thread wait here; it keeps no state.
#pragma once

#include <sys/select.h>

namespace plat {

// Waits like select for at most *timeoutMs milliseconds (negative: no limit;
// a positive time-out gets one extra millisecond so that it never ends early).
// A signal returns -1 with every given set emptied; other failures throw
// "select". When nothing became ready and updateRemaining is set, *timeoutMs
// (unless negative) becomes the time left, rounded up to whole milliseconds.
int selectWithTimeout(int nfds, fd_set* read, fd_set* write, fd_set* except, int* timeoutMs,
                      bool updateRemaining);

} // namespace plat
