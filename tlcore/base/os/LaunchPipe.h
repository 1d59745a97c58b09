// Both ends of the elevated route of a launch with a pipe.
//
// The launcher's side, os::LaunchPipeListener, adds the child's options to
// the command line ("-lppDebug" with `_lppDebug`, "-hash" and the SHA-256
// digest of a 32-byte challenge, "-fork", the pipe's path, then extraArgs),
// listens on a fresh named pipe that only the launching user (and root)
// reaches, and answers each connection with the challenge. The child's
// side, os::LaunchedProcessPipe, reads those options, detaches from the
// elevation program, sends its standard error to a log, connects back and
// checks the challenge. os::LaunchWithNamedPipe starts the elevation
// program and waits for the child, watching the program's exit.
//
// Loop thread only (the child's side runs first thing in its main). The
// listener and the launcher of the elevation program are owned; callbacks
// are borrowed.
#pragma once

#include <memory>
#include <vector>

#include "io/Io.h"
#include "os/LaunchProcess.h"
#include "os/LaunchWithPipe.h"
#include "plat/ConfigParameter.h"
#include "plat/Exception.h"
#include "plat/Timer.h"

namespace os {

extern plat::BoolParameter lppDebug;

class ElevateCancelled : public plat::Exception {
public:
  ElevateCancelled();
};

class LaunchFailed : public plat::Exception {
public:
  LaunchFailed(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

class LaunchPipeListener : private io::IoAcceptor {
public:
  // Adds the child's options to cfg (borrowed) and listens. With a
  // callback, the first connection arrives there (after the challenge) on
  // the loop; later ones are shut down unanswered.
  LaunchPipeListener(LaunchProcess::Cfg& cfg, LaunchWithPipeCallback* callback);
  ~LaunchPipeListener() override;

  // Waits for a connection (-1: without limit), sends the challenge and
  // returns it; throws os::LaunchFailed "Launch failed: acceptIo() failed
  // for %s".
  io::IoPtr acceptIo(int timeoutMs);
  // Waits up to timeoutMs for a connection to be pending.
  bool waitReadable(int timeoutMs);
  void sendChallenge(io::Io* io);
  const char* path() const;

private:
  class Pipe;
  void ioAccept(io::IoPtr io) override;

  LaunchProcess::Cfg* cfg_;
  LaunchWithPipeCallback* callback_;
  std::unique_ptr<Pipe> pipe_;
  unsigned char challenge_[32];
  bool handedOn_ = false;
};

class LaunchedProcessPipe {
public:
  struct Args {
    plat::String pipeName;
    plat::String logPath{"/dev/null"};
    std::vector<unsigned char> hash;
  };

  // Reads the options and the pipe name from argv (null-terminated; left
  // after what was used) and connects; need further arguments must follow.
  // "-dummy" and a numeric pipe name give the inherited descriptor.
  static io::IoPtr connect(Args& args, char**& argv, int need);
  static void parseArgs(Args& args, char**& argv, int need);
  // The log path as descriptor 2: opened without following a link nor
  // waiting, and only when it is the user's own regular file, made private
  // (else "/dev/null"). "-lppDebug" names lppDebug.log in the user's
  // private temporary folder (os::getTmpPath).
  static void redirectStderr(const Args& args);
#ifdef TL_TEST_HOOKS
  // Test hook: replaces the double fork of "-fork" (null restores it).
  static void setForkForTest(void (*fork)());
#endif
};

class LaunchWithNamedPipe : private plat::Timer::Callback, private LaunchWithPipeCallback {
public:
  explicit LaunchWithNamedPipe(LaunchProcess::Cfg& cfg);
  ~LaunchWithNamedPipe() override;

  // Starts; callback->launched follows on the loop, null when the
  // elevation failed or the child never connected.
  void launchAsync(LaunchWithPipeCallback* callback);
  // Blocks until the child connected; throws os::ElevateCancelled or
  // os::LaunchFailed.
  io::IoPtr launchSync();

private:
  bool start(bool async);
  bool timerExpired(plat::Timer* timer) override;
  void launched(io::IoPtr io) override;
  void finish();

  LaunchProcess::Cfg* cfg_;
  LaunchWithPipeCallback* callback_ = nullptr;
  std::unique_ptr<LaunchPipeListener> listener_;
  std::unique_ptr<LaunchProcess> elevator_;
  io::IoPtr io_;
  plat::Timer timer_;
};

} // namespace os
