// Reading of shell-style NAME=value lines, as in "/etc/os-release".
#pragma once

#include "rdr/Forward.h"

namespace plat {
class DString;
}

namespace os {

// Splits one line (without its line end) in place at its first '=': the
// line then holds the name and the returned pointer, into the same buffer,
// the value. Null when the line has no '='. A value in single or double
// quotes must end with the same quote and is returned without them
// (otherwise null): single-quoted text is verbatim; inside double quotes a
// backslash before '"', '$', '\'', '\\' or '`' is dropped and the next
// character taken as it is, other backslashes stay. Unquoted values are
// returned unchanged.
char* parseShellAssignment(char* line);

// Reads the next line of the stream into line and splits it as above: line
// keeps the name and the result (into line's buffer) is the value, or null.
// At the end of the input the stream's EndOfStream passes on.
char* parseShellAssignment(rdr::InStream& in, plat::DString& line);

} // namespace os
