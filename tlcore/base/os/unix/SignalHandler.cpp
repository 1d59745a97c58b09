#include "os/SignalHandler.h"

#include <errno.h>
#include <sched.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "os/AppLoop.h"
#include "os/unix/rawsys.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/Shutdown.h"
#include "rdr/InStream.h"

namespace os {

namespace {

SignalHandler* inst = nullptr;

// What the process-level handler writes into, and how many handlers are
// using it right now: shutdown clears the target and waits for the count
// to drop before it closes the pipe.
std::atomic<io::FdKicker*> target{nullptr};
std::atomic<int> handlersRunning{0};
static_assert(std::atomic<io::FdKicker*>::is_always_lock_free, "signal-safe atomics");
static_assert(std::atomic<int>::is_always_lock_free, "signal-safe atomics");

extern "C" void onSignal(int signal)
{
  handlersRunning.fetch_add(1);
  if (io::FdKicker* kicker = target.load())
    kicker->kick(static_cast<uint8_t>(signal)); // keeps errno
  handlersRunning.fetch_sub(1);
}

void setDisposition(int signal, void (*handler)(int))
{
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  if (sigaction(signal, &sa, nullptr) != 0)
    throw plat::SystemException("sigaction", errno);
}

const char* const kNames[] = {
    "SIGHUP",  "SIGINT",    "SIGQUIT", "SIGILL",   "SIGTRAP", "SIGABRT", "SIGBUS",  "SIGFPE",
    "SIGKILL", "SIGUSR1",   "SIGSEGV", "SIGUSR2",  "SIGPIPE", "SIGALRM", "SIGTERM", "SIGSTKFLT",
    "SIGCHLD", "SIGCONT",   "SIGSTOP", "SIGTSTP",  "SIGTTIN", "SIGTTOU", "SIGURG",  "SIGXCPU",
    "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGWINCH", "SIGIO",   "SIGPWR",  "SIGSYS"};

} // namespace

SignalHandler& SignalHandler::instance()
{
  static SignalHandler handler;
  return handler;
}

SignalHandler::SignalHandler()
{
  PLAT_ASSERT(!inst);
  inst = this;
}

SignalHandler::~SignalHandler()
{
  shutdown();
  inst = nullptr;
}

void SignalHandler::shutdownStep()
{
  if (inst)
    inst->shutdown();
}

void SignalHandler::shutdown()
{
  target.store(nullptr);
  while (handlersRunning.load() != 0)
    sched_yield();
  kicker_.reset();
  registrations_.clear();
  dispatching_.clear();
}

void SignalHandler::addHandler(int signal, Callback* callback, bool enable)
{
  if (enable) {
    if (!kicker_) {
      kicker_.reset(new io::FdKicker(this)); // the callback base is private
      target.store(kicker_.get());
      plat::addShutdownStep(plat::kShutdownSignals, &SignalHandler::shutdownStep);
    }
    registrations_.emplace_back(signal, callback);
    setDisposition(signal, onSignal);
    return;
  }
  auto same = [&](const std::pair<int, Callback*>& r) {
    return r.first == signal && r.second == callback;
  };
  registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(), same),
                       registrations_.end());
  dispatching_.erase(std::remove_if(dispatching_.begin(), dispatching_.end(), same),
                     dispatching_.end());
  bool left = std::any_of(registrations_.begin(), registrations_.end(),
                          [&](const std::pair<int, Callback*>& r) { return r.first == signal; });
  if (!left)
    setDisposition(signal, SIG_DFL);
}

void SignalHandler::kicked(io::FdKicker*, rdr::InStream* in)
{
  // One read takes every byte the pipe holds; bytes that come later make
  // the pipe readable again for the next pass.
  if (!in->check(false, 1))
    return;
  while (in->nUnread() > 0) {
    int signal = in->readU8();
    in->setCheckpoint();
    dispatching_ = registrations_;
    while (!dispatching_.empty()) {
      std::pair<int, Callback*> r = dispatching_.back();
      dispatching_.pop_back();
      if (r.first == signal)
        r.second->handle(signal);
    }
  }
}

void SignalHandler::blockSignals(SignalBlocker& blocker)
{
  for (const auto& r : registrations_) {
    sigaddset(&blocker.set, r.first);
    blocker.highest = std::max(blocker.highest, r.first);
  }
  if (sigprocmask(SIG_BLOCK, &blocker.set, &blocker.previous) != 0)
    throw plat::SystemException("sigprocmask", errno);
  blocker.blocked = true;
}

void SignalHandler::resetInChild(const SignalBlocker& blocker)
{
  for (int signal = 1; signal <= blocker.highest; signal++) {
    if (sigismember(&blocker.set, signal) == 1)
      raw::setDefaultDisposition(signal);
  }
}

void SignalHandler::unblockSignals(SignalBlocker& blocker)
{
  if (!blocker.blocked)
    return;
  sigprocmask(SIG_SETMASK, &blocker.previous, nullptr);
  blocker.blocked = false;
}

const char* signalName(int signal)
{
  if (signal < 1 || signal > (int)(sizeof(kNames) / sizeof(kNames[0])))
    return nullptr;
  return kNames[signal - 1];
}

void SignalHandlerApp::handle(int signal)
{
  const char* name = signalName(signal);
  if (name)
    log_->status("Got signal %s", name);
  else
    log_->status("Got signal %d", signal);
  AppLoop::exit(0);
}

} // namespace os
