#include "tlOrbSetup/FrontEnd.h"

#include "plat/Exception.h"

namespace tlOrbSetup {

namespace {

// Kept until exit, after everything the entry made with it.
std::unique_ptr<FrontEnd>& registered()
{
  static std::unique_ptr<FrontEnd> frontEnd;
  return frontEnd;
}

} // namespace

void FrontEnd::install(FrontEndKey, std::unique_ptr<FrontEnd> frontEnd)
{
  PLAT_ASSERT(!registered());
  PLAT_ASSERT(frontEnd);
  registered() = std::move(frontEnd);
}

FrontEnd& FrontEnd::get()
{
  PLAT_ASSERT(registered());
  return *registered();
}

} // namespace tlOrbSetup
