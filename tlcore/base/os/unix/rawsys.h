// System calls made straight to the kernel, for a child between clone and
// exec. Such a child may share its parent's memory (CLONE_VM), and libc's
// wrappers of these calls may be a sanitizer's interceptors, which write
// tables the parent shares (a signal disposition set in the child would
// then be lost to the parent). Each returns what the kernel returns and
// sets errno as libc does; none allocates, locks or logs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace os {
namespace raw {

inline int close(int fd)
{
  return (int)syscall(SYS_close, fd);
}

inline int fcntl(int fd, int cmd, long arg = 0)
{
  return (int)syscall(SYS_fcntl, fd, cmd, arg);
}

inline int dup3(int oldFd, int newFd, int flags)
{
  return (int)syscall(SYS_dup3, oldFd, newFd, flags);
}

inline int openDir(const char* path)
{
  return (int)syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
}

inline long write(int fd, const void* buf, size_t n)
{
  return syscall(SYS_write, fd, buf, n);
}

inline int setsid()
{
  return (int)syscall(SYS_setsid);
}

inline int execve(const char* path, char* const* argv, char* const* envp)
{
  return (int)syscall(SYS_execve, path, argv, envp);
}

[[noreturn]] inline void exit(int code)
{
  for (;;)
    syscall(SYS_exit_group, code);
}

// The signal mask, in the kernel's 64-bit form (the first word of sigset_t).
inline int setSignalMask(const sigset_t* mask)
{
  return (int)syscall(SYS_rt_sigprocmask, SIG_SETMASK, mask, nullptr, sizeof(uint64_t));
}

// The signal's default disposition, through the kernel's own sigaction
// layout (handler, flags, restorer, mask on x86-64 and arm64).
inline int setDefaultDisposition(int signal)
{
  struct {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    uint64_t mask;
  } action = {SIG_DFL, 0, nullptr, 0};
  return (int)syscall(SYS_rt_sigaction, signal, &action, nullptr, sizeof(uint64_t));
}

inline int getLimit(int resource, struct rlimit* limit)
{
  return (int)syscall(SYS_prlimit64, 0, resource, nullptr, limit);
}

inline int setLimit(int resource, const struct rlimit* limit)
{
  return (int)syscall(SYS_prlimit64, 0, resource, limit, nullptr);
}

} // namespace raw
} // namespace os
