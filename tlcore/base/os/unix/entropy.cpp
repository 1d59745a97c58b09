#include "os/entropy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "plat/Exception.h"

namespace os {

namespace {

// By number, so the fallback still builds and runs against a C library or
// kernel that lacks the call.
long sysGetrandom(void* buffer, size_t length, unsigned flags)
{
#ifdef SYS_getrandom
  return syscall(SYS_getrandom, buffer, length, flags);
#else
  (void)buffer;
  (void)length;
  (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

int sysOpen(const char* path, int flags)
{
  return ::open(path, flags);
}

const EntropyCalls kSystemCalls = {sysGetrandom, sysOpen, ::read, ::close};

std::atomic<const EntropyCalls*> calls{&kSystemCalls};

// Returns true when getrandom filled the buffer (a length of 0 included),
// false when the kernel has no such call.
bool fromGetrandom(const EntropyCalls& sys, unsigned char* buffer, int length)
{
  int done = 0;
  for (;;) {
    long n = sys.getrandom(buffer + done, length - done, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == ENOSYS && done == 0)
      return false;
    PLAT_ASSERT(n >= 0 && n <= length - done);
    done += static_cast<int>(n);
    if (done == length)
      return true;
    // Requests above 256 bytes may come back short when a signal arrives;
    // the rest is asked for again. No progress at all would spin.
    PLAT_ASSERT(n > 0);
  }
}

class Descriptor {
public:
  Descriptor(const EntropyCalls& sys, int fd) : sys_(sys), fd_(fd) {}
  ~Descriptor() { sys_.close(fd_); }
  int get() const { return fd_; }

private:
  const EntropyCalls& sys_;
  int fd_;
};

} // namespace

#ifdef TL_TEST_HOOKS
void setEntropyCallsForTest(const EntropyCalls* c)
{
  calls.store(c ? c : &kSystemCalls);
}
#endif

void getEntropy(unsigned char* buffer, int length)
{
  PLAT_ASSERT(length >= 0);
  const EntropyCalls& sys = *calls.load();
  if (fromGetrandom(sys, buffer, length))
    return;

  const int flags = O_RDONLY | O_NOCTTY | O_CLOEXEC;
  const char* path = "/dev/urandom";
  int fd = sys.open(path, flags);
  if (fd < 0 && errno == ENOENT) {
    path = "/dev/random";
    fd = sys.open(path, flags);
    if (fd < 0 && errno == ENOENT)
      throw plat::Exception("/dev/random not supported");
  }
  if (fd < 0)
    throw plat::SystemExceptionFmt(errno, "open(%s)", path);
  Descriptor guard(sys, fd);

  int done = 0;
  while (done < length) {
    ssize_t n = sys.read(fd, buffer + done, length - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw plat::SystemException("read(random)", errno);
    }
    if (n == 0)
      throw plat::Exception("no bytes from read(random)");
    done += static_cast<int>(n);
  }
}

} // namespace os
