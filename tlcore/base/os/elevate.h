// Choosing how a program runs as root: a configured command, pkexec, or
// su or sudo inside a terminal window where the user types the password.
// Only the command line is rewritten; the launcher starts it as usual.
//
// Any thread may call these; the parameters are process-wide.
#pragma once

#include <vector>

#include "plat/ConfigParameter.h"
#include "plat/String.h"

namespace os {

extern plat::StringParameter ElevateCmd;
extern plat::BoolParameter ElevateCmdSingleArg;

// The process-wide switch for the pkexec route (on by default).
void setPkexecRouteAllowed(bool allowed);

#ifdef TL_TEST_HOOKS
// Test hook: the folders searched for the elevation programs and terminals
// instead of the system's (/usr/bin, /bin, /usr/sbin, /sbin); empty
// restores them.
void setElevateProgramDirsForTest(const std::vector<plat::String>& dirs);
#endif

// Rewrites args so that they run as root. The elevation programs and
// terminals are looked for only in the system's program folders, never in
// PATH; the terminal gets su or sudo by its absolute path. title names the task in a
// terminal's window title (may be null). Throws plat::Exception
// "Elevation not supported: no su or sudo found" / "...: no terminal found",
// and for an `ElevateCmd` that names no absolute program.
void getElevateProg(std::vector<plat::String>& args, const char* title);

// Every argument in single quotes (a quote inside written as '\''), joined
// by blanks: one argument for "sh -c".
plat::String shellQuoteArgs(const std::vector<plat::String>& args);

} // namespace os
