// The program: the entry over the X front end.
#include <memory>

#include "plat/Shutdown.h"
#include "tlOrbSetup/SetupApp.h"
#include "tlOrbSetup/XFrontEnd.h"

int main(int argc, char** argv)
{
  tlOrbSetup::FrontEnd::install(tlOrbSetup::FrontEndKey(), std::make_unique<tlOrbSetup::XFrontEnd>());
  int status = tlOrbSetup::setupMain(argc, argv);
  plat::shutdownSingletons();
  return status;
}
