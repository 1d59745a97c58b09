// Runs a protocol's current state function over a rewindable input.
//
// A state function reads one whole message; when input runs short it throws
// rdr::BlockException and the stream goes back to the last checkpoint, so
// the same state reads its message again from the start once more data has
// arrived. A checkpoint is set after every state that completes. Not owned
// by anything; used by one thread.
#pragma once

#include "plat/Exception.h"
#include "rdr/Exception.h"
#include "rdr/InStream.h"

namespace rdr {

template <class T> class StateMachine {
public:
  typedef bool (T::*StateFn)();

  explicit StateMachine(StateFn initial = nullptr) : stateFn_(initial) {}

  void setState(StateFn fn) { stateFn_ = fn; }
  StateFn getState() const { return stateFn_; }

  // One state function run: true when it completed and wants to be called
  // again; false when it stopped or ran out of input.
  bool run(T* obj, InStream* in)
  {
    PLAT_ASSERT_TEXT(stateFn_, "stateFn");
    try {
      bool more = (obj->*stateFn_)();
      if (more && in)
        in->setCheckpoint();
      return more;
    } catch (BlockException&) {
      return false;
    }
  }

private:
  StateFn stateFn_;
};

} // namespace rdr
