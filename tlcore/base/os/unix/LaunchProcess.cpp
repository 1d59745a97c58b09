#include "os/LaunchProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "io/FdIo.h"
#include "os/SignalHandler.h"
#include "os/elevate.h"
#include "os/process.h"
#include "os/program.h"
#include "os/socket.h"
#include "os/unix/rawsys.h"
#include "plat/Configuration.h"
#include "plat/DString.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Path.h"
#include "plat/sanitizers.h"
#include "rdr/Exception.h"
#include "rdr/FdInStream.h"

extern char** environ;

namespace os {

namespace {

plat::LogSrc vlog("LaunchProcess");

constexpr size_t kRecordMax = 5 + 255;
// The child's stack while it shares the parent's memory; generous, since
// the sanitizers make frames larger.
constexpr size_t kChildStack = 256 * 1024;

class TimedOutWaiting : public plat::TimedOut {
public:
  TimedOutWaiting() { setMessage("Timed out waiting for process to exit"); }
};

// Everything the child needs, built before the fork. The child may move
// pair sources; nothing else is written.
struct ChildPlan {
  SignalBlocker* blocker;
  const int* parentOnly;
  size_t nParentOnly;
  std::pair<int, int>* pairs; // (child descriptor, source)
  size_t nPairs;
  int highest;
  int errWrite;
  int closeFrom;
  const std::set<int>* keepOpen;
  const char* path; // null: fork only
  char* const* argv;
  char* const* envp;
  const char* execText;
};

// The child side: no allocation, and only raw system calls (os::raw), since
// the child may share the parent's memory; every way out is an exit. Not
// instrumented, so that the sanitizers add no work at the calls that never
// return.
#define TL_CHILD_SIDE __attribute__((no_sanitize("address", "undefined", "thread")))

[[noreturn]] TL_CHILD_SIDE void report(int fd, const char* text, int err)
{
  uint8_t buf[kRecordMax];
  size_t n = formatExecError(buf, err, text);
  size_t done = 0;
  while (done < n) {
    long w = raw::write(fd, buf + done, n - done);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      break;
    done += (size_t)w;
  }
  raw::exit(1);
}

[[noreturn]] TL_CHILD_SIDE void runChild(ChildPlan& p)
{
  // The blocker lives in the parent's memory: restore the mask without
  // touching it.
  SignalHandler::resetInChild(*p.blocker);
  if (p.blocker->blocked)
    raw::setSignalMask(&p.blocker->previous);
  for (size_t i = 0; i < p.nParentOnly; i++)
    raw::close(p.parentOnly[i]);
  // A source that another pair's target would overwrite moves up first.
  for (size_t i = 0; i < p.nPairs; i++) {
    int src = p.pairs[i].second;
    bool clash = false;
    for (size_t j = 0; j < p.nPairs; j++)
      clash |= j != i && p.pairs[j].first == src && p.pairs[j].first != p.pairs[j].second;
    if (!clash)
      continue;
    int moved = raw::fcntl(src, F_DUPFD_CLOEXEC, p.highest + 1);
    if (moved < 0)
      report(p.errWrite, "dup2", errno);
    p.pairs[i].second = moved;
    p.highest = moved;
  }
  for (size_t i = 0; i < p.nPairs; i++) {
    if (p.pairs[i].first == p.pairs[i].second)
      continue;
    int r;
    do
      r = raw::dup3(p.pairs[i].second, p.pairs[i].first, O_CLOEXEC);
    while (r < 0 && errno == EINTR);
    if (r < 0)
      report(p.errWrite, "dup2", errno);
  }
  for (size_t i = 0; i < p.nPairs; i++) {
    if (p.pairs[i].first != p.pairs[i].second)
      raw::close(p.pairs[i].second);
    if (p.pairs[i].first != p.errWrite && raw::fcntl(p.pairs[i].first, F_SETFD, 0) != 0)
      report(p.errWrite, "fcntl", errno);
  }
  if (p.closeFrom >= 0)
    closeFdsExcept(p.closeFrom, *p.keepOpen); // the error pipe stays to the end
  if (!p.path)
    raw::exit(0);
  resetChildProcessState(true);
  raw::execve(p.path, p.argv, p.envp);
  report(p.errWrite, p.execText, errno);
}

TL_CHILD_SIDE int cloneEntry(void* arg)
{
  runChild(*static_cast<ChildPlan*>(arg));
}

// The first child of a double fork: a new session, the grandchild, done.
[[noreturn]] TL_CHILD_SIDE void runMiddle(ChildPlan& p)
{
  raw::setsid();
#ifdef SYS_fork
  long pid = syscall(SYS_fork);
#else
  long pid = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
#endif
  if (pid < 0)
    report(p.errWrite, "fork", errno);
  if (pid > 0)
    raw::exit(0);
  runChild(p);
}

// Everything that came through the error pipe, up to one record and a bit.
ExecErrorRead readErrorPipe(int fd, ExecError& error)
{
  uint8_t buf[kRecordMax + 16];
  size_t got = 0;
  while (got < sizeof(buf)) {
    ssize_t n = read(fd, buf + got, sizeof(buf) - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      vlog.error("read(exec error pipe): %s", strerror(errno));
      return ExecErrorRead::kNone;
    }
    if (n == 0)
      break;
    got += (size_t)n;
  }
  ExecErrorRead r = parseExecError(buf, got, error);
  if (r == ExecErrorRead::kMalformed)
    vlog.error("exec error pipe: %zu bytes that are no error record", got);
  return r;
}

// Restores the signal mask on every way out of start.
struct MaskGuard {
  SignalBlocker blocker;
  ~MaskGuard() { SignalHandler::unblockSignals(blocker); }
};

} // namespace

// --- The exec error record ----------------------------------------------------

size_t formatExecError(uint8_t* buf, int err, const char* text)
{
  uint32_t e = (uint32_t)err;
  buf[0] = (uint8_t)(e >> 24);
  buf[1] = (uint8_t)(e >> 16);
  buf[2] = (uint8_t)(e >> 8);
  buf[3] = (uint8_t)e;
  size_t n = 0;
  while (text[n] && n < 255) {
    buf[5 + n] = (uint8_t)text[n];
    n++;
  }
  buf[4] = (uint8_t)n;
  return 5 + n;
}

ExecErrorRead parseExecError(const uint8_t* data, size_t size, ExecError& out)
{
  if (size == 0)
    return ExecErrorRead::kNone;
  if (size < 5)
    return ExecErrorRead::kMalformed;
  size_t n = data[4];
  if (size < 5 + n)
    return ExecErrorRead::kMalformed;
  out.err = (int)(((uint32_t)data[0] << 24) | ((uint32_t)data[1] << 16) |
                  ((uint32_t)data[2] << 8) | data[3]);
  memcpy(out.text, data + 5, n);
  out.text[n] = 0;
  return ExecErrorRead::kRecord;
}

// --- LaunchProcess -------------------------------------------------------------

LaunchProcess::LaunchProcess(const Cfg& cfg) : cfg_(cfg) {}

LaunchProcess::~LaunchProcess()
{
  if (cfg_.reaper == Reaper::kPidManager && cleanup_.pid() >= 0)
    PidManager::handOver(cleanup_.release());
  closeMapped();
  // cleanup_ waits for a child still held (Reaper::kLauncher).
}

void LaunchProcess::closeMapped()
{
  for (const auto& m : childDup_)
    close(m.second);
  childDup_.clear();
}

void LaunchProcess::redirectFd(int childFd, int parentFd)
{
  auto i = childDup_.find(childFd);
  if (i != childDup_.end()) {
    close(i->second);
    i->second = parentFd;
    return;
  }
  childDup_[childFd] = parentFd;
}

void LaunchProcess::redirectDup(int fromFd, int toFd)
{
  auto i = childDup_.find(fromFd);
  if (i == childDup_.end()) {
    vlog.error("redirectDup2: fd %d not redirected", fromFd);
    PLAT_FAIL("i != childDup.end()");
  }
  int fd = fcntl(i->second, F_DUPFD_CLOEXEC, 0);
  if (fd < 0)
    throw plat::SystemException("dup", errno);
  redirectFd(toFd, fd);
}

void LaunchProcess::redirectToFile(int childFd, const char* path, FileMode mode)
{
  int flags = mode == FileMode::kRead
                  ? O_RDONLY
                  : O_WRONLY | O_CREAT | (mode == FileMode::kAppend ? O_APPEND : O_TRUNC);
  int fd;
  do
    fd = open(path, flags | O_CLOEXEC, 0600);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    throw plat::SystemExceptionFmt(errno, "open(%s)", path);
  redirectFd(childFd, fd);
}

void LaunchProcess::redirectOutputToFile(const char* path, bool append)
{
  redirectToFile(1, path, append ? FileMode::kAppend : FileMode::kTruncate);
  redirectDup(1, 2);
}

int LaunchProcess::addPipe(int parentEnd, int& childFd)
{
  PLAT_ASSERT(parentEnd == 0 || parentEnd == 1);
  int fds[2];
  pipeCloexec(fds);
  int childEnd = fds[1 - parentEnd];
  if (childFd < 0)
    childFd = childEnd;
  redirectFd(childFd, childEnd);
  parentOnly_.insert(fds[parentEnd]);
  return fds[parentEnd];
}

int LaunchProcess::addSocketPair(const std::vector<int>& childFds)
{
  PLAT_ASSERT(!childFds.empty());
  int fds[2];
  socketPair(fds);
  int first = childFds[0] < 0 ? fds[1] : childFds[0];
  redirectFd(first, fds[1]);
  parentOnly_.insert(fds[0]);
  mapDuplicates(fds[0], first, childFds);
  return fds[0];
}

void LaunchProcess::mapDuplicates(int parentEnd, int first, const std::vector<int>& childFds)
{
  try {
    for (size_t i = 1; i < childFds.size(); i++)
      redirectDup(first, childFds[i]);
  } catch (...) {
    parentOnly_.erase(parentEnd);
    close(parentEnd);
    throw;
  }
}

void LaunchProcess::start()
{
  PLAT_ASSERT_TEXT(!used_, "!used");
  prepareArgs();
  std::vector<char*> argv;
  for (plat::String& a : cfg_.args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<plat::String> envText = buildEnv();
  std::vector<char*> envp;
  for (plat::String& e : envText)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  if (childDup_.find(0) == childDup_.end())
    redirectToFile(0, "/dev/null", FileMode::kRead);
  if (childDup_.find(1) == childDup_.end())
    redirectToFile(1, "/dev/null", FileMode::kTruncate);
  int errRead;
  int errWrite = openErrorPipe(errRead);
  MaskGuard mask; // until the child's error is in
  int forkErr = spawn(argv, envp, errWrite, mask.blocker);
  closeMapped();
  parentOnly_.clear();
  if (forkErr) {
    close(errRead);
    throw plat::SystemException("fork", forkErr);
  }
  readChildError(errRead);
}

void LaunchProcess::prepareArgs()
{
  if (!cfg_.args.empty() && cfg_.searchPath) {
    plat::String found = findExecutable(cfg_.args[0].get(), true);
    if (found.isNull())
      throw plat::SystemExceptionFmt(ENOENT, "%s does not exist or is not executable",
                                     cfg_.args[0].str());
    if (strcmp(found.get(), cfg_.args[0].str()) != 0)
      cfg_.args[0] = found;
  }
  if (!cfg_.args.empty())
    PLAT_ASSERT_TEXT(plat::isAbsolutePath(cfg_.args[0].get()), "isAbsolutePath(cfg.args[0])");
  used_ = true;

  if (cfg_.elevate && geteuid() != 0)
    getElevateProg(cfg_.args, cfg_.elevateTitle.get());
  if (cfg_.asUid != 0) {
    PLAT_ASSERT(getuid() == 0 && geteuid() == 0);
    plat::String program = cfg_.setuidViaSelf || cfg_.args.empty()
                               ? plat::String(getOwnExecutable())
                               : cfg_.args[0];
    char uid[16];
    plat::strFormat(uid, "%d", cfg_.asUid);
    cfg_.args.insert(cfg_.args.begin(), {program, plat::String("-setuidhelper"), plat::String(uid)});
  }

  plat::DString line;
  for (const plat::String& a : cfg_.args)
    plat::appendQuotedArg(line, a.str());
  vlog.info("Launching %s", cfg_.args.empty() ? "(fork)" : line.get());
}

std::vector<plat::String> LaunchProcess::buildEnv()
{
  if (!cfg_.noInheritEnv) {
    for (char** e = environ; e && *e; e++) {
      const char* eq = strchr(*e, '=');
      if (!eq)
        continue;
      plat::String key(*e, (int)(eq - *e));
      bool unset = std::any_of(cfg_.unsetEnv.begin(), cfg_.unsetEnv.end(),
                               [&](const plat::String& u) { return strcmp(u.str(), key.get()) == 0; });
      if (!unset && cfg_.env.find(key) == cfg_.env.end())
        cfg_.env.emplace(std::move(key), plat::String(eq + 1));
    }
  }
  std::vector<plat::String> envText;
  for (const auto& v : cfg_.env) {
    if (v.first.isNull())
      continue;
    plat::DString entry;
    entry.appendf("%s=%s", v.first.get(), v.second.str());
    envText.emplace_back(entry.get());
  }
  return envText;
}

int LaunchProcess::openErrorPipe(int& readEnd)
{
  // The write end sits above every mapped number, so that it can neither
  // replace a mapping nor be replaced by one.
  int errPipe[2];
  pipeCloexec(errPipe);
  int highestTarget = childDup_.rbegin()->first;
  if (errPipe[1] <= highestTarget) {
    int moved = fcntl(errPipe[1], F_DUPFD_CLOEXEC, highestTarget + 1);
    int err = errno;
    close(errPipe[1]);
    if (moved < 0) {
      close(errPipe[0]);
      throw plat::SystemException("dup", err);
    }
    errPipe[1] = moved;
  }
  childDup_[errPipe[1]] = errPipe[1];
  parentOnly_.insert(errPipe[0]);
  readEnd = errPipe[0];
  return errPipe[1];
}

int LaunchProcess::spawn(std::vector<char*>& argv, std::vector<char*>& envp, int errWrite,
                         SignalBlocker& blocker)
{
  const char* name = cfg_.args.empty() ? "<forked>" : cfg_.args[0].str();
  std::vector<int> parentOnly(parentOnly_.begin(), parentOnly_.end());
  std::vector<std::pair<int, int>> pairs(childDup_.begin(), childDup_.end());
  int highest = 0;
  for (const auto& p : pairs)
    highest = std::max({highest, p.first, p.second});
  std::set<int> keepOpen{errWrite};
  char execText[128];
  snprintf(execText, sizeof(execText), "execve(%s)", cfg_.args.empty() ? "" : cfg_.args[0].str());
  std::unique_ptr<char[]> stack;
  if (cfg_.reaper != Reaper::kDetached && !plat::kThreadSanitizer)
    stack.reset(new char[kChildStack]);

  ChildPlan plan{&blocker,          parentOnly.data(),
                 parentOnly.size(), pairs.data(),
                 pairs.size(),      highest,
                 errWrite,          cfg_.closeFdsFrom,
                 &keepOpen,         cfg_.args.empty() ? nullptr : argv[0],
                 argv.data(),       envp.data(),
                 execText};
  SignalHandler::instance().blockSignals(blocker);
  if (cfg_.reaper == Reaper::kDetached) {
    pid_t middle = fork();
    if (middle == 0)
      runMiddle(plan);
    if (middle < 0)
      return errno;
    int status;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
  }
  int pid;
  if (plat::kThreadSanitizer) {
    // The sanitizer keeps this thread's state in memory that a CLONE_VM
    // child would share and write (false races afterwards): fork instead.
    pid = fork();
    if (pid == 0)
      runChild(plan);
  } else {
    // The child shares our memory until it has exec'd (as posix_spawn
    // does), so a large parent costs nothing to copy.
    char* top = stack.get() + kChildStack;
    top -= (uintptr_t)top % 64;
    pid = clone(cloneEntry, top, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
  }
  if (pid < 0)
    return errno;
  cleanup_.set(pid, name);
  return 0;
}

void LaunchProcess::readChildError(int errRead)
{
  ExecError error;
  ExecErrorRead r = readErrorPipe(errRead, error);
  close(errRead);
  if (r == ExecErrorRead::kRecord) {
    // The child has ended with status 1: collect it now.
    try {
      cleanup_.reap(nullptr, false);
    } catch (plat::Exception& e) {
      vlog.error("%s", e.str());
    }
    throw plat::SystemException(error.text, error.err);
  }
}

io::IoPtr LaunchProcess::startOwning(int parentEnd)
{
  try {
    start();
  } catch (...) {
    close(parentEnd);
    throw;
  }
  return io::IoPtr(new io::FdIo(parentEnd, io::FdIoFlags::kOwnFd));
}

io::IoPtr LaunchProcess::startWithPipe(const std::vector<int>& childFds)
{
  return startOwning(addSocketPair(childFds));
}

io::IoPtr LaunchProcess::startWithOutputPipe(const std::vector<int>& childFds, int pipeBytes)
{
  PLAT_ASSERT(!childFds.empty());
  int first = childFds[0];
  int fd = addPipe(0, first);
  mapDuplicates(fd, first, childFds);
  // Best effort: an unprivileged process may be refused a larger pipe.
  if (pipeBytes > 0)
    fcntl(fd, F_SETPIPE_SZ, pipeBytes);
  return startOwning(fd);
}

std::unique_ptr<rdr::FdInStream> LaunchProcess::captureStdout()
{
  redirectToFile(2, "/dev/null", FileMode::kTruncate);
  int childFd = 1;
  int fd = addPipe(0, childFd);
  try {
    start();
  } catch (...) {
    close(fd);
    throw;
  }
  return std::unique_ptr<rdr::FdInStream>(new rdr::FdInStreamOwn(fd));
}

plat::String LaunchProcess::runAndCapture(int* exitCode, int timeoutMs)
{
  std::unique_ptr<rdr::FdInStream> in = captureStdout();
  plat::DString text;
  try {
    for (;;) {
      in->check(true, 1);
      text.append((const char*)in->getPtr(), in->nUnread());
      in->consume(in->nUnread());
    }
  } catch (rdr::EndOfStream&) {
  }
  in.reset();
  if (!wait(exitCode, timeoutMs))
    throw TimedOutWaiting();
  return plat::String(text.get());
}

bool LaunchProcess::wait(int* exitCode, int timeoutMs)
{
  if (cleanup_.pid() < 0)
    throw plat::Exception("LaunchProcess: process detached or not started");
  int status = 0;
  if (!cleanup_.wait(&status, timeoutMs))
    return false;
  if (exitCode)
    *exitCode = exitCodeOf(status);
  return true;
}

void LaunchProcess::setReaper(Reaper reaper)
{
  PLAT_ASSERT_TEXT(reaper >= cfg_.reaper, "dl >= cfg.dl");
  cfg_.reaper = reaper;
  if (reaper == Reaper::kDetached && cleanup_.pid() >= 0)
    PidManager::handOver(cleanup_.release());
}

std::unique_ptr<ProcessMonitor> LaunchProcess::makeMonitor(ProcessMonitor::Callback* callback)
{
  if (cleanup_.pid() < 0)
    throw plat::Exception("LaunchProcess: process detached or not started");
  cfg_.reaper = Reaper::kDetached;
  plat::String name(cleanup_.name());
  int pid = cleanup_.release();
  return std::unique_ptr<ProcessMonitor>(new ProcessMonitor(pid, callback, name.get()));
}

// --- ErrorPipe ------------------------------------------------------------------

LaunchProcess::ErrorPipe::ErrorPipe(LaunchProcess& launcher)
{
  int childFd = -1;
  int fd = launcher.addPipe(0, childFd);
  childFd_ = childFd;
  in_.reset(new rdr::FdInStreamOwn(fd));
}

LaunchProcess::ErrorPipe::~ErrorPipe() = default;

// --- Free functions ---------------------------------------------------------------

void launchDetached(const std::vector<plat::String>& args)
{
  LaunchProcess::Cfg cfg;
  cfg.args = args;
  cfg.reaper = LaunchProcess::Reaper::kDetached;
  LaunchProcess(cfg).start();
}

int runAndWait(const std::vector<plat::String>& args)
{
  LaunchProcess::Cfg cfg;
  cfg.args = args;
  cfg.searchPath = true;
  LaunchProcess launcher(cfg);
  launcher.redirectFd(1, dupCloexec(1));
  launcher.start();
  int code = -1;
  launcher.wait(&code, -1);
  return code;
}

int startDetachedWithStdinPipe(const std::vector<plat::String>& args)
{
  LaunchProcess::Cfg cfg;
  cfg.args = args;
  cfg.reaper = LaunchProcess::Reaper::kDetached;
  LaunchProcess launcher(cfg);
  int childFd = 0;
  int fd = launcher.addPipe(1, childFd);
  try {
    launcher.start();
  } catch (...) {
    close(fd);
    throw;
  }
  return fd;
}

} // namespace os
