// The helper and URI modes until their own units replace these.
#include "plat/Exception.h"
#include "tlOrbSetup/SetupApp.h"

namespace tlOrbSetup {

int uriHandlerMain(int, char**)
{
  throw plat::ExceptionFmt("The %s mode is not available in this build", "-uri");
}

} // namespace tlOrbSetup
