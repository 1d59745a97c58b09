// Small queries about the machine and the process: the short host name and
// a printable stack trace.
#pragma once

#include <vector>

#include "plat/String.h"

namespace os {

// The host name cut at its first '.'; "" when it cannot be read. Never throws.
plat::String getShortHostName();

// Appends "%2d %s" (frame number, symbol text) for each frame of the calling
// stack, innermost first, at most 62 frames; this function's own frame is
// left out.
void getBacktrace(std::vector<plat::String>& out);

} // namespace os
