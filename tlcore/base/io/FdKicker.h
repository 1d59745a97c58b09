// A self-pipe that wakes the loop: kick() writes one byte, which any thread
// or a signal handler may do, and the loop thread then calls the callback
// with the bytes that came. Owned by whoever made it, on the loop thread;
// the callback is borrowed. It registers with the constructing thread's
// manager and survives that manager (it only forgets it).
#pragma once

#include <stdint.h>

#include <memory>

#include "io/FdManager.h"

#include "rdr/Forward.h"

namespace io {

class FdKicker;

class FdKickerCallback {
public:
  // Runs on the loop thread with the kicked bytes readable from in; reading
  // until it blocks is fine (the BlockException is swallowed).
  virtual void kicked(FdKicker* kicker, rdr::InStream* in) = 0;
  virtual ~FdKickerCallback();
};

class FdKicker : public FdHandler {
public:
  // Needs a current manager. Throws "pipe2"/"setBlocking" when no pipe can
  // be made.
  explicit FdKicker(FdKickerCallback* callback);
  ~FdKicker() override;

  // Writes one byte; async-signal-safe, any thread. A full pipe already
  // guarantees a wake-up, so the result is ignored.
  void kick(uint8_t byte = 0);
  // Consumes every byte available now.
  void drain();
  bool hasPendingBytes();

  void readable() override;
  void managerDestroyed() override;

private:
  FdKickerCallback* callback_;
  FdManager* manager_;
  int writeFd_ = -1;
  std::unique_ptr<rdr::FdInStream> in_;
};

} // namespace io
