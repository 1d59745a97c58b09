#include "tlauth/SAuthFlows.h"

#include <algorithm>

#include "plat/Exception.h"
#include "rdr/InStream.h"
#include "rdr/OutStream.h"

namespace tlauth {

namespace {

// A short string holds at most 255 bytes: a longer name is cut before the
// character that does not fit, so the peer still reads valid UTF-8.
void writeName(rdr::OutStream& out, const char* name)
{
  int n = plat::strnLen(name, 256);
  if (n > 255)
    for (n = 255; n > 0 && ((unsigned char)name[n] & 0xC0) == 0x80; n--) {
    }
  out.writeU8((uint8_t)n);
  out.writeBytes(name, n);
}

} // namespace

bool SAuthFlows::containsMethod(unsigned number) const
{
  for (const SAuthFlow& flow : *this)
    for (const SAuthStep& step : flow)
      if (step.number == number)
        return true;
  return false;
}

bool SAuthFlows::containsMethodName(const char* name) const
{
  for (const SAuthFlow& flow : *this)
    for (const SAuthStep& step : flow)
      if (plat::strCmpNull(step.name.get(), name) == 0)
        return true;
  return false;
}

plat::StringSet SAuthFlows::methodNames() const
{
  plat::StringSet names;
  for (const SAuthFlow& flow : *this)
    for (const SAuthStep& step : flow)
      names.insert(step.name);
  return names;
}

std::vector<plat::String> SAuthFlows::firstStepNames(unsigned number) const
{
  std::vector<plat::String> names;
  for (const SAuthFlow& flow : *this)
    if (!flow.empty() && (number == kAnyMethod || flow.front().number == number))
      names.push_back(flow.front().name);
  return names;
}

void SAuthFlows::removeFlowsWith(const std::vector<uint32_t>& numbers)
{
  if (numbers.empty())
    return;
  auto listed = [&](const SAuthFlow& flow) {
    for (const SAuthStep& step : flow)
      if (std::find(numbers.begin(), numbers.end(), step.number) != numbers.end())
        return true;
    return false;
  };
  erase(std::remove_if(begin(), end(), listed), end());
}

void SAuthFlows::completeStep(unsigned number, const char* name)
{
  auto startsElsewhere = [&](const SAuthFlow& flow) {
    return flow.empty() || flow.front().number != number ||
           plat::strCmpNull(flow.front().name.get(), name) != 0;
  };
  erase(std::remove_if(begin(), end(), startsElsewhere), end());
  for (SAuthFlow& flow : *this)
    flow.erase(flow.begin());
  PLAT_CHECK(!empty());
}

void SAuthFlows::read(rdr::InStream& in)
{
  // Counts come from the peer: nothing is reserved before the steps are
  // there, and the flows change only once all of them were read.
  SAuthFlows flows;
  for (unsigned nFlows = in.readU16(); nFlows > 0; nFlows--) {
    SAuthFlow flow;
    for (unsigned nSteps = in.readU16(); nSteps > 0; nSteps--) {
      SAuthStep step;
      step.number = in.readU16();
      step.name = in.readShortString(true);
      flow.push_back(std::move(step));
    }
    flows.push_back(std::move(flow));
  }
  swap(flows);
}

void SAuthFlows::write(rdr::OutStream& out) const
{
  PLAT_ASSERT(size() < 65536);
  out.writeU16((uint16_t)size());
  for (const SAuthFlow& i : *this) {
    PLAT_ASSERT(i.size() < 65536);
    out.writeU16((uint16_t)i.size());
    for (const SAuthStep& step : i) {
      out.writeU16((uint16_t)step.number);
      writeName(out, step.name.str());
    }
  }
}

} // namespace tlauth
