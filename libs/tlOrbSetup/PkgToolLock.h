// Another package tool at work. dpkg (and apt through it) holds the
// frontend and database locks of its admin directory, rpm (and yum and
// zypper through it) the transaction lock of its database, for as long as
// it runs; a package command started meanwhile fails at once (dpkg exits
// 2). The admin helper therefore waits for such a lock, for a bounded time,
// before it starts a package command.
//
// Loop thread only. The wait's callbacks are its owner's.
#pragma once

#include <functional>
#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace tlOrbSetup {

// `_PkgToolLockWait`: the longest wait, in seconds.
extern plat::IntParameter pkgToolLockWait;

// Who holds the lock of the package tool that args run (program path
// first, "--admindir" and "--dbpath" honoured): its pid, -1 when the holder
// is not a process (an open-file lock), 0 when the lock is free or args
// run no package tool. Only looks; never takes the lock.
int packageToolLockHolder(const std::vector<plat::String>& args);

class PkgToolWait : private plat::Timer::Callback {
public:
  struct Callbacks {
    // The lock is held (told once, when the wait begins).
    std::function<void(int pid)> busy;
    // The lock is free: run the command now.
    std::function<void(const std::vector<plat::String>& args)> free;
    // Still held after pkgToolLockWait seconds.
    std::function<void()> stillBusy;
  };
  explicit PkgToolWait(Callbacks callbacks);
  ~PkgToolWait() override;

  // Looks at once: a free lock calls free from inside this call.
  void start(const std::vector<plat::String>& args);
  // Ends a wait without a call.
  void cancel();
  bool waiting() const { return waiting_; }

private:
  bool timerExpired(plat::Timer* timer) override;

  Callbacks callbacks_;
  std::vector<plat::String> args_;
  plat::Timer timer_;
  int64_t deadline_ = 0;
  bool waiting_ = false;
};

} // namespace tlOrbSetup
