// The program without a display: the entry over the headless front end.
#include <memory>

#include "plat/Shutdown.h"
#include "tlOrbSetup/HeadlessFrontEnd.h"
#include "tlOrbSetup/SetupApp.h"

int main(int argc, char** argv)
{
  tlOrbSetup::FrontEnd::install(tlOrbSetup::FrontEndKey(),
                                std::make_unique<tlOrbSetup::HeadlessFrontEnd>());
  int status = tlOrbSetup::setupMain(argc, argv);
  plat::shutdownSingletons();
  return status;
}
