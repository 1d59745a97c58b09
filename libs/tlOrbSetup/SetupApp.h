// The program's entry: one executable in three modes chosen by its first
// argument: the wizard (anything else, or nothing), the elevated admin
// helper ("-helper") and the URI forwarder ("-uri").
//
// setupMain runs on the main thread with the front end registered
// (FrontEnd.h). It records the version, dispatches the two special modes,
// and in wizard mode initialises the product, computes the package URI,
// parses the command line, makes the loop, routes SIGINT and SIGTERM to it,
// shows the wizard and runs the loop; everything it makes is torn down in
// reverse order before it returns. Any plat::Exception ends in one handler:
// logged on "SetupApp" with its "[type] " tag, shown without it, status 1.
#pragma once

#include "hosted/HostedClientContext.h"

namespace tlOrbSetup {

// The exit status: the loop's value; 0 after SIGINT or SIGTERM; 1 after an
// error; the mode's result for "-helper" and "-uri". Reads argv only up to
// argc (no arguments at all is the wizard).
int setupMain(int argc, char** argv);

// Gives `_OrbUri` its default: the download base, "x64" or "x86" and "deb"
// or "rpm" for this machine; at priority 30 (fixed) unless test features are
// enabled, else at priority 0. Then loads the cloud configuration in place
// of the one held (its errors are thrown).
void setOrbUriDefault();

// The cloud configuration loaded at start-up, from which the wizard's
// capabilities client is made; null before. Held until the process ends.
hosted::HostedClientContextPtr loadedCloudConfig();

} // namespace tlOrbSetup
