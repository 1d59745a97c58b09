// The select-based descriptor manager, the one concrete io::FdManager: one
// processOnce() is one pass of a thread's loop. The application loops and
// the resolver threads call it over and over; the loop's owning thread is
// the only one that may touch it (another thread wakes it through an
// io::FdKicker). Only descriptors 0 to 1023 fit a select set: a handler with
// any other descriptor gets only the events queued for it.
#pragma once

#include "io/FdManager.h"

namespace io {

class FdSelectManager : public FdManager {
public:
  explicit FdSelectManager(bool nested = false);

  // One pass: wait in select until a watched descriptor is ready or the
  // earliest timer is due (timeoutMs < 0: no other limit), run the due
  // timers and the work deferred on an earlier pass, then call the extra,
  // readable and writable lists in that order, each from the highest
  // identity down. True when the wait was cut short by a timer or returned
  // anything but 0. select failures other than EINTR throw "select".
  bool processOnce(int timeoutMs);

protected:
  bool updateInterest(FdHandler* handler, FdEvents events) override;

private:
  HandlerList readInterest_, writeInterest_, exceptInterest_;
};

} // namespace io
