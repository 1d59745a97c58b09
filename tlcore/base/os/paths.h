// Where the application keeps its per-user files.
#pragma once

#include <stdint.h>

#include "plat/String.h"

namespace os {

// "/tmp".
const char* getTmpDir();

// The per-user temporary directory "%s/.%s-%s" of the temporary directory,
// the application's path component and name. Without a name the effective
// user id stands for it and the directory is made (private, mode 0700); an
// existing one must be a directory (not a symbolic link) owned by the
// effective user and writable by nobody else, else plat::Exception "%s is
// not a private directory of this user" is thrown, since every named pipe
// lives there; its group and other read bits are removed.
plat::String getTmpPath(const char* name);

// The path of a named pipe: "%s/" with getTmpPath(user), "%s." with the
// application (null: the application name), the name; then, unless the pid
// is 0 and the index below 1, ".%lld" with the pid (-1: this process) and,
// for an index of 0 or more, ".%d" with it.
plat::String makeNamedPipePath(const char* name, const char* user, const char* app, long long pid,
                               int index);

// A user id from text: null gives the effective user id; a text beginning
// with "-" is a signed 32-bit number, any other an unsigned one. Anything
// but a whole number throws plat::BadNum "Failed to parse integer".
void parseUid(uint32_t* out, const char* text);

// Test hook: the temporary directory to use instead of "/tmp" (null
// restores it).
void setTmpDirForTest(const char* dir);

} // namespace os
