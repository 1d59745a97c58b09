// Starting a child connected to its launcher by a bidirectional local
// connection. A child that needs no elevation gets one end of a socket pair
// as inherited descriptors (pipeFds, by default 0 and 1) and its number as
// the last argument before extraArgs; an elevated child connects back over
// a named pipe and proves it reached the right launcher.
//
// Loop thread only. The launcher owns a connection until it hands it to the
// owner's callback (on a later pass, never inside launch); the callback is
// borrowed. A child started without elevation goes to the pid manager once
// the launcher is done with it (a detach level of 0 becomes 1).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "io/Io.h"
#include "os/LaunchProcess.h"
#include "plat/String.h"
#include "plat/Timer.h"

namespace rdr {
class InStream;
class OutStream;
}

namespace os {

class LaunchWithNamedPipe;

class LaunchWithPipeCallback {
public:
  // The connection (owned by the callee), or null when the launch failed.
  virtual void launched(io::IoPtr io) = 0;
  virtual ~LaunchWithPipeCallback() = default;
};

class LaunchWithPipe : private plat::Timer::Callback {
public:
  explicit LaunchWithPipe(const LaunchProcess::Cfg& cfg);
  ~LaunchWithPipe() override;
  LaunchWithPipe(const LaunchWithPipe&) = delete;
  LaunchWithPipe& operator=(const LaunchWithPipe&) = delete;

  // Starts the child; callback->launched follows on a later pass. Start
  // errors of the direct route are thrown from here.
  void launch(LaunchWithPipeCallback* callback);
  // Starts the child and returns the connection at once.
  io::IoPtr startChild();
  // startChild, the bytes written and flushed, the output side closed and
  // whatever the child sends read and dropped until it ends.
  void runWithInput(size_t length, const uint8_t* bytes);
  // startChild and everything the child sends into out, until it ends.
  void runAndCollect(rdr::OutStream& out);
  // runAndCollect into memory; with trimNewline one final "\n" goes.
  plat::String runAndCollectText(bool trimNewline);

  LaunchProcess::Cfg& cfg() { return cfg_; }

private:
  bool timerExpired(plat::Timer* timer) override;
  bool elevated() const;

  LaunchProcess::Cfg cfg_;
  LaunchWithPipeCallback* callback_ = nullptr;
  plat::Timer timer_;
  io::IoPtr waiting_;
  std::unique_ptr<LaunchWithNamedPipe> named_;
};

// Copies what in holds to out, refilling in, until end of stream or of
// message (true) or until more would mean waiting (false). With
// failWhenFull an output without room throws plat::Exception "OutStream
// full".
bool copyStream(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull);

} // namespace os
