// Collecting child processes: the clean-up record of one child (blocking
// and non-blocking reaping), the monitor that tells its owner on the loop
// thread when a child ends, and the process-wide pid manager that collects
// detached children nobody waits for.
//
// Every pid has exactly one collector: a launcher's record, a monitor or the
// pid manager. Monitors and the pid manager learn of exits through SIGCHLD
// from os::SignalHandler, so they live on the loop thread; each tests only
// its own pid with a non-blocking wait. The pid manager is made on the first
// hand-over and ends in the ordered shutdown (plat/Shutdown.h).
#pragma once

#include <memory>

#include "os/SignalHandler.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace os {

// The exit code of a raw wait status: the status (0 to 255) of a child that
// exited, minus the signal number of one a signal killed, else -1.
int exitCodeOf(int rawStatus);

// One child's pid (-1 when none) and name. The destructor waits (blocking)
// for a child still held; a failure there is logged.
class PidCleanup {
public:
  PidCleanup() = default;
  PidCleanup(int pid, const char* name) : pid_(pid), name_(name) {}
  ~PidCleanup();
  PidCleanup(const PidCleanup&) = delete;
  PidCleanup& operator=(const PidCleanup&) = delete;

  // True when the child was collected (logged as "child %lu (%s) exited
  // with ..."); false without a pid or, with noHang, while it runs. Throws
  // plat::SystemException "waitpid" and keeps the pid.
  bool reap(int* rawStatus, bool noHang);
  // Below 0 without limit, 0 one check, else checks with sleeps between
  // them until timeoutMs passed; false when the child still runs.
  bool wait(int* rawStatus, int timeoutMs);

  void set(int pid, const char* name);
  int pid() const { return pid_; }
  const char* name() const { return name_.get(); }
  // Gives the pid up without collecting it.
  int release();

private:
  int pid_ = -1;
  plat::String name_;
};

// Watches one child on the loop thread and calls the owner back once when it
// has ended. Made by os::LaunchProcess::makeMonitor. The owner may delete
// the monitor inside processExited; deleting it while the child runs blocks
// until the child ends.
class ProcessMonitor : public SignalHandler::Callback, private plat::Timer::Callback {
public:
  class Callback {
  public:
    virtual void processExited(ProcessMonitor* monitor, int exitCode) = 0;
    virtual ~Callback() = default;
  };

  // Registers for SIGCHLD and checks at once (a zero-delay timer), so a
  // child that ended before this was made is seen too. callback is
  // borrowed and may be null.
  ProcessMonitor(int pid, Callback* callback, const char* name);
  ~ProcessMonitor() override;
  ProcessMonitor(const ProcessMonitor&) = delete;
  ProcessMonitor& operator=(const ProcessMonitor&) = delete;

  // Sends signal to the child; when that fails the error is logged, the
  // callback is dropped and the pid goes to the pid manager.
  void kill(int signal);
  int pid() const { return cleanup_.pid(); }

  void handle(int signal) override;

private:
  bool timerExpired(plat::Timer* timer) override;
  void check();

  PidCleanup cleanup_;
  Callback* callback_;
  plat::Timer timer_;
};

// The collector of detached children.
class PidManager {
public:
  // Takes the pid and collects it when it ends. On a thread without a
  // descriptor manager nothing happens and the pid stays uncollected.
  static void handOver(int pid);
  // Makes the manager exist (it registers for SIGCHLD) when the calling
  // thread has a descriptor manager.
  static void ensure();
  // The pids still waited for.
  static int pending();
};

// Sends signal to pid (> 0); throws plat::SystemExceptionFmt "kill(%ld,%s)".
void killProcess(long pid, int signal);

#ifdef TL_TEST_HOOKS
// Test hook: replaces the sleep between the checks of a timed wait (null
// restores it).
void setWaitSleepForTest(void (*sleep)(int ms));
#endif

} // namespace os
