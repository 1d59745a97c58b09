// Lexical path handling, '$'-variable expansion in configured texts, the '*'
// wildcard match of log-source patterns and a safe system-error text.
//
// Paths are NUL-terminated byte strings with '/' as the only separator; a
// null path reads as the empty one. Everything here is a pure function of
// its arguments, safe on any thread, except makeAbsolutePath (working
// directory and the file system) and expandEnvVars with useEnvironment
// (getenv).
#pragma once

#include <map>

#include "plat/DString.h"
#include "plat/Flags.h"
#include "plat/String.h"

namespace plat {

// --- Paths --------------------------------------------------------------------

bool isAbsolutePath(const char* path);
// False only for the exact text "/".
bool isNotRootDir(const char* path);
const char* skipSlashes(const char* p);

// Lexical normalisation: single '/' separators, no trailing '/', no "."
// components, ".." folded into what precedes it ("/.." is "/", a leading ".."
// of a relative path stays); the empty path is ".". No file-system access.
String normalisePath(const char* path);

// The path made absolute against the working directory, normalised, then
// with its symbolic links resolved (throws "realpath(%s)" when a component
// does not exist, and "getcwd" when the working directory is unknown).
String makeAbsolutePath(const char* path);
void makeAbsolutePath(String& out, const char* path);

// The parent of the normalised path: "." gives "..", "a" gives ".", "/"
// stays "/", and a relative path of ".." components gets one more.
String dirName(const char* path);
// The last component of the normalised path ("/" for the root, "." for a
// trailing ".."), without suffix (compared ignoring ASCII case) when the
// component is longer than it and ends with it.
String baseName(const char* path, const char* suffix = nullptr);

// A copy with bytes below 32, 127 and '/' replaced; null gives null.
String sanitiseFileName(const char* text, char replacement);
// The length of the reserved device name ("CON", "COM1", ...) that name
// begins with, when it ends there or continues with '.'; else 0.
int isReservedDeviceName(const char* name);

// --- Environment expansion ------------------------------------------------------

using EnvVarMap = std::map<String, String, StringLess>;

// How expandEnvVars looks names up: kUseEnvironment also asks getenv after
// vars; kStrict makes a name found nowhere an error instead of "".
enum class EnvExpand : unsigned { kNone = 0, kStrict = 1, kUseEnvironment = 2 };
PLAT_FLAG_OPERATORS(EnvExpand)

// Replaces "$name", "${name}" and "$$" (one "$"). A name is looked up in vars
// (when given), then with getenv when how has kUseEnvironment; a name found
// nowhere gives "" or, with kStrict, throws Exception "unknown environment
// variable: %s". A '$' before anything else is dropped.
DString expandEnvVars(const char* text, const EnvVarMap* vars, EnvExpand how);

// --- Other utilities --------------------------------------------------------------

// '*' matches any run of bytes; every other byte only itself ('?' and '['
// included), folded with tolower unless caseSensitive. Runs in time linear
// in the lengths of pattern and text, whatever the pattern.
bool globMatch(const char* pattern, const char* text, bool caseSensitive);

// The system's text for err, NUL-terminated within size bytes. False, with an
// empty buffer when there is room for one, for an unknown error number or a
// buffer too small for the whole text.
bool strError(int err, char* buffer, int size);

} // namespace plat
