// Authentication flows read from arbitrary bytes. A read that fails leaves
// the flows unchanged; one that succeeds writes back to bytes that read to
// the same flows, and completing a step keeps the invariants.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rdr/MemInStream.h"
#include "rdr/MemOutStream.h"
#include "tlauth/SAuthFlows.h"

namespace {

bool same(const tlauth::SAuthFlows& a, const tlauth::SAuthFlows& b)
{
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (a[i].size() != b[i].size())
      return false;
    for (size_t j = 0; j < a[i].size(); j++)
      if (a[i][j].number != b[i][j].number || !(a[i][j].name == b[i][j].name))
        return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  tlauth::SAuthFlows flows;
  flows.push_back({{1, plat::String("Before")}});
  tlauth::SAuthFlows before = flows;
  rdr::MemInStream in(data, (int)size);
  try {
    flows.read(in);
  } catch (plat::Exception&) {
    FUZZ_CHECK(same(before, flows));
    return 0;
  }
  // Written, read and written again: the same bytes (names that the
  // repair made longer than a short string are cut once, on a character
  // boundary).
  rdr::MemOutStream out;
  flows.write(out);
  rdr::MemInStream again(out.data(), (int)out.length());
  tlauth::SAuthFlows copy;
  copy.read(again);
  FUZZ_CHECK(again.nUnread() == 0);
  rdr::MemOutStream out2;
  copy.write(out2);
  FUZZ_CHECK(out.length() == out2.length() && memcmp(out.data(), out2.data(), out.length()) == 0);
  for (size_t i = 0; i < flows.size(); i++)
    for (size_t j = 0; j < flows[i].size(); j++)
      FUZZ_CHECK(flows[i][j].name.length() > 255 || flows[i][j].name == copy[i][j].name);

  std::vector<plat::String> first = flows.firstStepNames(tlauth::SAuthFlows::kAnyMethod);
  if (!first.empty()) {
    const tlauth::SAuthStep step = flows[0].empty() ? tlauth::SAuthStep() : flows[0][0];
    size_t steps = 0;
    for (const tlauth::SAuthFlow& f : flows)
      steps += f.size();
    try {
      flows.completeStep(step.number, step.name.get());
      size_t after = 0;
      for (const tlauth::SAuthFlow& f : flows)
        after += f.size();
      FUZZ_CHECK(!flows.empty() && after + flows.size() <= steps);
    } catch (plat::AssertionFail&) {
      FUZZ_CHECK(flows.empty());
    }
  }
  return 0;
}
