#include "os/process.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

#include "os/socket.h"
#include "os/unix/rawsys.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Path.h"

namespace os {

namespace {

plat::LogSrc vlog("ProcessInfo");

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

// Digits only, else -1; no library call, so the child may use it.
int parseFdName(const char* s)
{
  if (!*s)
    return -1;
  int n = 0;
  for (; *s; s++) {
    if (*s < '0' || *s > '9' || n > 100000000)
      return -1;
    n = n * 10 + (*s - '0');
  }
  return n;
}

// Closes every descriptor listed in /proc/self/fd from `from` up; false when
// the listing cannot be opened or read to its end.
bool closeListedFds(int from)
{
  int dir = raw::openDir("/proc/self/fd");
  if (dir < 0)
    return false;
  alignas(8) char buf[4096];
  bool ok = true;
  for (;;) {
    long n = syscall(SYS_getdents64, dir, buf, sizeof(buf));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (long pos = 0; pos < n;) {
      const LinuxDirent64* d = (const LinuxDirent64*)(buf + pos);
      pos += d->d_reclen;
      int fd = parseFdName(d->d_name);
      if (fd >= from && fd != dir)
        raw::close(fd);
    }
  }
  raw::close(dir);
  return ok;
}

// Splits "  <number><blank> <number><blank>" as found after "Uid:" and
// "Gid:" in a status file.
bool parseIdPair(const char* p, int& first, int& second)
{
  int* out[2] = {&first, &second};
  for (int i = 0; i < 2; i++) {
    char* end;
    errno = 0;
    long v = strtol(p, &end, 10);
    if (end == p || errno || !strchr(" \t\r\n", *end) || !*end)
      return false;
    *out[i] = (int)v;
    p = end;
  }
  return true;
}

// getpwnam/getpwuid errors carry their own ending instead of the system's
// text when there is no system error to show.
class AccountException : public plat::SystemException {
public:
  AccountException(const char* what, const char* detail, int err)
  {
    setMessage(what);
    if (detail) {
      plat::strCat(message_, kMessageSize, ": ");
      plat::strCat(message_, kMessageSize, detail);
      err_ = err;
      setTypeFmt("System-%d", err);
    } else {
      setErr(err);
    }
  }
};

} // namespace

void ensureStdioOpen()
{
  int null = -1;
  for (int fd = 0; fd <= 2; fd++) {
    struct stat st;
    if (fstat(fd, &st) == 0 || errno != EBADF)
      continue;
    if (null < 0) {
      null = open("/dev/null", O_RDWR | O_CLOEXEC);
      if (null < 0)
        throw plat::SystemException("open(/dev/null)", errno);
    }
    if (null != fd)
      dupTo(null, fd);
    setInheritable(fd, true);
  }
  if (null > 2)
    close(null);
}

void closeFdsFrom(int n)
{
  if (n >= 0)
    raw::close(n);
  int from = std::max(n, 1);
  if (closeListedFds(from))
    return;
  struct rlimit rl;
  long max = 1024;
  if (raw::getLimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
    max = (long)rl.rlim_cur;
  max = std::min(std::max(max, 1024L), 100000L);
  for (long fd = from; fd < max; fd++)
    raw::close((int)fd);
}

void closeFdsExcept(int n, const std::set<int>& keep)
{
  int next = n;
  for (int k : keep) {
    if (k < next)
      continue;
    for (int fd = next; fd < k; fd++)
      raw::close(fd);
    next = k + 1;
  }
  closeFdsFrom(next);
}

// --- Accounts -----------------------------------------------------------------

Account::Account() : buf_(1024)
{
  memset(&pw_, 0, sizeof(pw_));
}

void Account::lookup(bool byName, const char* name, uid_t uid)
{
  found_ = false;
  char what[128];
  if (byName)
    plat::strFormat(what, "getpwnam(%s)", name ? name : "<null>");
  else
    plat::strFormat(what, "getpwuid(%u)", (unsigned)uid);
  if (byName && !name)
    throw AccountException(what, "null name", EINVAL);
  for (;;) {
    struct passwd* result = nullptr;
    int err = byName ? getpwnam_r(name, &pw_, buf_.data(), buf_.size(), &result)
                     : getpwuid_r(uid, &pw_, buf_.data(), buf_.size(), &result);
    if (err == ERANGE && buf_.size() < (1u << 24)) {
      buf_.resize(buf_.size() * 2);
      continue;
    }
    if (result) {
      found_ = true;
      return;
    }
    if (err == 0)
      throw AccountException(what, "account not found", 0);
    throw AccountException(what, nullptr, err);
  }
}

plat::String getUserName(uid_t uid, const char* fallback)
{
  try {
    Account account;
    account.lookup(false, nullptr, uid);
    return plat::String(account.getName());
  } catch (plat::Exception&) {
    return plat::String(fallback);
  }
}

// --- Other processes ------------------------------------------------------------

ProcessInfo::ProcessInfo(long pid) : requested_(pid)
{
  if (pid < 0)
    return;
  char path[64];
  plat::strFormat(path, "/proc/%ld/status", pid);
  FILE* f = fopen(path, "re");
  if (!f)
    return;
  char line[256];
  while (fgets(line, sizeof(line), f)) {
    if (strncmp(line, "PPid:", 5) == 0) {
      ppid_ = atoi(line + 5);
    } else if (strncmp(line, "Uid:", 4) == 0) {
      parseIdPair(line + 4, uid_, euid_);
    } else if (strncmp(line, "Gid:", 4) == 0) {
      parseIdPair(line + 4, gid_, egid_);
      break;
    }
  }
  fclose(f);
  pid_ = (int)pid;
}

bool ProcessInfo::allKnown() const
{
  return pid_ >= 0 && ppid_ != -1 && uid_ != -1 && euid_ != -1 && gid_ != -1 && egid_ != -1;
}

template <typename Fn> void ProcessInfo::readPieces(const char* name, Fn add)
{
  char path[64];
  plat::strFormat(path, "/proc/%ld/%s", requested_, name);
  FILE* f = fopen(path, "re");
  if (!f) {
    char text[128];
    plat::strError(errno, text, sizeof(text));
    vlog.info("Unable to open %s: %s", path, text);
    return;
  }
  static const int kPieceSize = 8192;
  static const int kMaxPieces = 1024;
  char* piece = new char[kPieceSize];
  int len = 0;
  int pieces = 0;
  int c;
  while (pieces < kMaxPieces && (c = getc(f)) != EOF) {
    if (c != 0) {
      if (len < kPieceSize - 1)
        piece[len++] = (char)c;
      continue;
    }
    piece[len] = 0;
    add(piece);
    pieces++;
    len = 0;
  }
  if (len > 0 && pieces < kMaxPieces) {
    piece[len] = 0;
    add(piece);
  }
  if (ferror(f)) {
    char text[128];
    plat::strError(errno, text, sizeof(text));
    vlog.error("Error reading %s: %s", path, text);
  }
  delete[] piece;
  fclose(f);
}

void ProcessInfo::readCmdline()
{
  if (!cmdline_.empty() || !allKnown())
    return;
  readPieces("cmdline", [this](const char* piece) { cmdline_.push_back(plat::String(piece)); });
}

void ProcessInfo::readEnviron()
{
  if (!environ_.empty() || !allKnown())
    return;
  readPieces("environ", [this](const char* piece) {
    const char* eq = strchr(piece, '=');
    if (eq)
      environ_[plat::String(piece, (int)(eq - piece))] = plat::String(eq + 1);
    else
      environ_[plat::String(piece)] = plat::String("");
  });
}

int getVirtualTerminal(long pid)
{
  char path[64];
  plat::strFormat(path, "/proc/%ld/stat", pid);
  FILE* f = fopen(path, "re");
  if (!f) {
    char text[128];
    plat::strError(errno, text, sizeof(text));
    vlog.status("Unable to open %s: %s", path, text);
    return 0;
  }
  char buf[4096];
  size_t n = fread(buf, 1, sizeof(buf) - 1, f);
  bool failed = ferror(f);
  int err = errno;
  fclose(f);
  if (failed) {
    char text[128];
    plat::strError(err, text, sizeof(text));
    vlog.error("fread(%s): %s", path, text);
    return 0;
  }
  buf[n] = 0;
  // The command name may hold blanks and parentheses, so the fields after it
  // are counted from its last ')'.
  const char* rest = strrchr(buf, ')');
  int tty = 0;
  if (!rest || sscanf(rest + 1, " %*c %*d %*d %*d %d", &tty) != 1)
    return 0;
  if (major((dev_t)(unsigned)tty) != 4)
    return 0;
  return (int)minor((dev_t)(unsigned)tty);
}

} // namespace os
