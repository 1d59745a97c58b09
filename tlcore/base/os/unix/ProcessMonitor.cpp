#include "os/ProcessMonitor.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "io/FdManager.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Shutdown.h"
#include "plat/Time.h"

namespace os {

namespace {

plat::LogSrc vlog("ProcessMonitor");

std::atomic<void (*)(int)> sleepHook{nullptr};

// "signal SIGKILL" / "status 3" for a collected child; false for status 0.
bool describeExit(int status, char (&kind)[8], char (&what)[16])
{
  if (WIFSIGNALED(status)) {
    plat::strFormat(kind, "signal");
    const char* name = signalName(WTERMSIG(status));
    if (name)
      plat::strFormat(what, "%s", name);
    else
      plat::strFormat(what, "%d", WTERMSIG(status));
    return true;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    plat::strFormat(kind, "status");
    plat::strFormat(what, "%d", WEXITSTATUS(status));
    return true;
  }
  return false;
}

void logExit(long pid, const char* name, int status)
{
  char kind[8], what[16];
  if (describeExit(status, kind, what))
    vlog.info("child %lu (%s) exited with %s %s", (unsigned long)pid, name, kind, what);
}

// Sleeps ms; an interruption (a SIGCHLD, say) just ends the sleep early.
void sleepMs(int ms)
{
  if (void (*hook)(int) = sleepHook.load()) {
    hook(ms);
    return;
  }
  struct timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  if (select(0, nullptr, nullptr, nullptr, &tv) < 0 && errno != EINTR)
    throw plat::SystemException("select", errno);
}

class PidManagerImpl : public SignalHandler::Callback {
public:
  PidManagerImpl() { SignalHandler::instance().addHandler(SIGCHLD, this, true); }
  ~PidManagerImpl() override
  {
    // At exit the signal handler has let go of every registration already
    // (its step comes first) or is gone with the other statics.
    if (!plat::isExiting())
      SignalHandler::instance().addHandler(SIGCHLD, this, false);
  }

  void add(int pid)
  {
    pending_.push_back(pid);
    handle(0);
  }
  int count() const { return (int)pending_.size(); }

  void handle(int) override
  {
    for (size_t i = 0; i < pending_.size();) {
      int status = 0;
      pid_t r;
      do
        r = waitpid(pending_[i], &status, WNOHANG);
      while (r < 0 && errno == EINTR);
      if (r == 0) {
        i++;
        continue;
      }
      if (r > 0)
        logExit(pending_[i], "<detached>", status);
      else
        vlog.error("waitpid(%lu) detached: %s", (unsigned long)pending_[i], strerror(errno));
      pending_.erase(pending_.begin() + (long)i);
    }
  }

private:
  std::vector<int> pending_;
};

// At namespace scope, so that it is destroyed after the ordered shutdown
// (which deletes it first).
std::unique_ptr<PidManagerImpl> theManager;

std::unique_ptr<PidManagerImpl>& manager()
{
  return theManager;
}

void shutdownManager()
{
  manager().reset();
}

PidManagerImpl* makeManager()
{
  if (!io::FdManager::current())
    return nullptr;
  if (!manager()) {
    manager().reset(new PidManagerImpl);
    plat::addShutdownStep(plat::kShutdownChildren, &shutdownManager);
  }
  return manager().get();
}

} // namespace

int exitCodeOf(int status)
{
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return -WTERMSIG(status);
  return -1;
}

#ifdef TL_TEST_HOOKS
void setWaitSleepForTest(void (*sleep)(int ms))
{
  sleepHook.store(sleep);
}
#endif

// --- PidCleanup ---------------------------------------------------------------

PidCleanup::~PidCleanup()
{
  try {
    reap(nullptr, false);
  } catch (plat::Exception& e) {
    vlog.error("~PidCleanup: %s", e.str());
  }
}

void PidCleanup::set(int pid, const char* name)
{
  pid_ = pid;
  name_ = plat::String(name);
}

int PidCleanup::release()
{
  int pid = pid_;
  pid_ = -1;
  return pid;
}

bool PidCleanup::reap(int* rawStatus, bool noHang)
{
  if (pid_ < 0)
    return false;
  int status = 0;
  pid_t r;
  do
    r = waitpid(pid_, &status, noHang ? WNOHANG : 0);
  while (r < 0 && errno == EINTR);
  if (r < 0)
    throw plat::SystemException("waitpid", errno);
  if (rawStatus)
    *rawStatus = status;
  if (r == 0)
    return false;
  logExit(pid_, name_.isNull() ? "<unknown>" : name_.get(), status);
  pid_ = -1;
  return true;
}

bool PidCleanup::wait(int* rawStatus, int timeoutMs)
{
  if (timeoutMs == 0)
    return reap(rawStatus, true);
  // A SIGCHLD handler (installed without SA_RESTART) cuts the sleeps short.
  PidManager::ensure();
  if (timeoutMs < 0) {
    while (!reap(rawStatus, false)) {
    }
    return true;
  }
  const plat::Time end = plat::getMonoTime() + (plat::Time)timeoutMs * plat::kTicksPerMilli;
  const int step = std::min(std::max(timeoutMs / 10, 50), 1000);
  for (;;) {
    if (reap(rawStatus, true))
      return true;
    plat::Time left = end - plat::getMonoTime();
    if (left <= 0)
      return false;
    int ms = (int)((left + plat::kTicksPerMilli - 1) / plat::kTicksPerMilli);
    sleepMs(std::min(ms, step));
  }
}

// --- ProcessMonitor -------------------------------------------------------------

ProcessMonitor::ProcessMonitor(int pid, Callback* callback, const char* name)
  : cleanup_(pid, name), callback_(callback), timer_(this)
{
  SignalHandler::instance().addHandler(SIGCHLD, this, true);
  timer_.start(0);
}

ProcessMonitor::~ProcessMonitor()
{
  SignalHandler::instance().addHandler(SIGCHLD, this, false);
  timer_.stop();
}

void ProcessMonitor::handle(int)
{
  check();
}

bool ProcessMonitor::timerExpired(plat::Timer*)
{
  check();
  return false;
}

void ProcessMonitor::check()
{
  try {
    int status = 0;
    if (cleanup_.reap(&status, true) && callback_)
      callback_->processExited(this, exitCodeOf(status)); // may delete this
  } catch (plat::Exception& e) {
    vlog.error("%s", e.str());
  }
}

int ProcessMonitor::release()
{
  SignalHandler::instance().addHandler(SIGCHLD, this, false);
  timer_.stop();
  callback_ = nullptr;
  return cleanup_.release();
}

void ProcessMonitor::kill(int signal)
{
  if (cleanup_.pid() < 0)
    return;
  try {
    killProcess(cleanup_.pid(), signal);
  } catch (plat::Exception& e) {
    vlog.error("%s", e.str());
    callback_ = nullptr;
    PidManager::handOver(cleanup_.release());
  }
}

// --- PidManager -------------------------------------------------------------------

void PidManager::handOver(int pid)
{
  if (pid <= 0)
    return;
  if (PidManagerImpl* m = makeManager())
    m->add(pid);
}

void PidManager::ensure()
{
  makeManager();
}

int PidManager::pending()
{
  return manager() ? manager()->count() : 0;
}

void killProcess(long pid, int signal)
{
  PLAT_ASSERT(pid > 0);
  if (::kill((pid_t)pid, signal) == 0)
    return;
  int err = errno;
  const char* name = signalName(signal);
  if (name)
    throw plat::SystemExceptionFmt(err, "kill(%ld,%s)", pid, name);
  throw plat::SystemExceptionFmt(err, "kill(%ld,%d)", pid, signal);
}

} // namespace os
