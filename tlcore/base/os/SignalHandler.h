// Turns POSIX signals into callbacks on the loop thread.
//
// The process-level handler only writes the signal's number as one byte
// into a self-pipe; the loop reads it and calls every callback registered
// for that signal, the latest registration first. Handlers are installed
// without SA_RESTART, so a blocking call interrupted by a handled signal
// fails with EINTR and is repeated by its caller.
//
// One instance per process, made on first use; registrations, callbacks
// and the blocker calls run on the loop thread (the first registration
// needs that thread's current manager). Callbacks are borrowed and must be
// removed before they go. The instance takes part in the ordered shutdown
// (plat/Shutdown.h): the process-level handler is cut off from the pipe
// before the pipe is closed, so a late signal is dropped, never written
// into a closed or reused descriptor.
#pragma once

#include <signal.h>

#include <memory>
#include <utility>
#include <vector>

#include "io/FdKicker.h"

namespace plat {
class LogSrc;
}

namespace os {

// Filled by a launcher around fork: the handled signals blocked from just
// before fork until the parent has the exec result.
struct SignalBlocker {
  SignalBlocker()
  {
    sigemptyset(&set);
    sigemptyset(&previous);
  }
  bool blocked = false;
  int highest = 0;
  sigset_t set;
  sigset_t previous;
};

class SignalHandler : private io::FdKickerCallback {
public:
  class Callback {
  public:
    virtual void handle(int signal) = 0;
    virtual ~Callback() = default;
  };

  static SignalHandler& instance();

  // enable: appends (signal, callback), duplicates allowed, and installs
  // the process-level handler for the signal. Disable: removes every such
  // registration, also from a dispatch in progress; the signal's default
  // disposition comes back when none is left for it.
  void addHandler(int signal, Callback* callback, bool enable);

  // Around fork: blocks every registered signal; in the child (between
  // fork and exec; allocates nothing and calls the kernel directly) gives
  // each blocked signal its default disposition; in the parent restores the
  // previous mask.
  void blockSignals(SignalBlocker& blocker);
  static void resetInChild(const SignalBlocker& blocker);
  static void unblockSignals(SignalBlocker& blocker);

  ~SignalHandler() override;
  SignalHandler(const SignalHandler&) = delete;
  SignalHandler& operator=(const SignalHandler&) = delete;

private:
  SignalHandler();
  void kicked(io::FdKicker* kicker, rdr::InStream* in) override;
  // Detaches the process-level handler, closes the pipe and forgets every
  // registration (dispositions stay as they are).
  void shutdown();
  static void shutdownStep();

  std::vector<std::pair<int, Callback*>> registrations_;
  std::vector<std::pair<int, Callback*>> dispatching_;
  std::unique_ptr<io::FdKicker> kicker_;
};

// "SIGHUP" to "SIGSYS" for 1 to 31; null for any other number.
const char* signalName(int signal);

// The program entry's callback: logs "Got signal %s" on its source and
// ends the application loop with status 0.
class SignalHandlerApp : public SignalHandler::Callback {
public:
  explicit SignalHandlerApp(plat::LogSrc& log) : log_(&log) {}
  void handle(int signal) override;

private:
  plat::LogSrc* log_;
};

} // namespace os
