// The operating system's entropy source.
//
// Seeds the process-wide random generator. Prefers the getrandom system
// call (which waits until the kernel's pool is ready) and falls back to
// "/dev/urandom", then "/dev/random", on kernels without it. Keeps no
// state; safe on any thread.
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace os {

// Fills exactly length bytes or throws: plat::Exception "/dev/random not
// supported" when neither device exists, plat::SystemException "open(%s)"
// or "read(random)", plat::Exception "no bytes from read(random)".
void getEntropy(unsigned char* buffer, int length);

// The system calls getEntropy makes, replaceable in tests. Each returns as
// the system call does (-1 with errno set on failure).
struct EntropyCalls {
  long (*getrandom)(void* buffer, size_t length, unsigned flags);
  int (*open)(const char* path, int flags);
  ssize_t (*read)(int fd, void* buffer, size_t length);
  int (*close)(int fd);
};
#ifdef TL_TEST_HOOKS
// Null restores the system's calls.
void setEntropyCallsForTest(const EntropyCalls* calls);
#endif

} // namespace os
