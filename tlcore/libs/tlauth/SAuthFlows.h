// The authentication flows a server offers: alternative ways in, each a
// sequence of method steps ("SystemAuth+Radius" is one way of two steps; an
// empty way needs no authentication). Both ends of a connection keep a copy,
// remove the steps that were completed and exchange what remains in a
// compact wire form:
//
//   u16 flow count, per flow u16 step count, per step the low 16 bits of
//   the method number (u16) and the method name as a short string.
//
// A plain value; no shared state.
#pragma once

#include <stdint.h>

#include <vector>

#include "plat/String.h"
#include "rdr/Forward.h"

namespace tlauth {

struct SAuthStep {
  uint32_t number = 0;
  plat::String name;
};

using SAuthFlow = std::vector<SAuthStep>;

class SAuthFlows : public std::vector<SAuthFlow> {
public:
  static constexpr unsigned kAnyMethod = 0xFFFFFFFF;

  // --- Questions
  bool containsMethod(unsigned number) const;
  // Byte comparison; a null name matches only a step without a name.
  bool containsMethodName(const char* name) const;
  plat::StringSet methodNames() const;
  // The first step's name of each non-empty flow whose first step has that
  // number (every non-empty flow for kAnyMethod), in order.
  std::vector<plat::String> firstStepNames(unsigned number) const;

  // --- Changes
  // Removes every flow with a step whose number is listed.
  void removeFlowsWith(const std::vector<uint32_t>& numbers);
  // Drops the completed first step from the flows that start with it and
  // removes all others (flows without steps included). Throws
  // plat::AssertionFail "!empty()" when no flow remains.
  void completeStep(unsigned number, const char* name);

  // --- Wire form
  // Replaces the flows; invalid UTF-8 in names becomes U+FFFD. A read that
  // throws leaves the flows as they were.
  void read(rdr::InStream& in);
  // 65,536 flows, or steps in one flow, are a fatal assertion. A name over
  // 255 bytes is cut on a character boundary.
  void write(rdr::OutStream& out) const;
};

} // namespace tlauth
