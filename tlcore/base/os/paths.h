// Where the application keeps its per-user files.
#pragma once

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

// Test hook: the temporary directory to use instead of "/tmp" (null
// restores it).
void setTmpDirForTest(const char* dir);

} // namespace os
