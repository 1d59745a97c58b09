// The helper mode until its own unit replaces this.
#include "plat/Exception.h"
#include "tlOrbSetup/SetupApp.h"

namespace tlOrbSetup {

int adminHelperMain(int, char**)
{
  throw plat::ExceptionFmt("The %s mode is not available in this build", "-helper");
}

} // namespace tlOrbSetup
