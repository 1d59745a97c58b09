// An object whose whole state can be saved to a stream and restored from
// one, so it can outlive the process that built it.
#pragma once

#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace rdr {

class Serializable {
public:
  virtual ~Serializable();
  // Replaces the state with the one read from in; bad saved bytes throw and
  // leave the object as it was.
  virtual void deserialize(InStream& in) = 0;
  virtual void serialize(OutStream& out) = 0;
};

} // namespace rdr
