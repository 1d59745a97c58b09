// Where the application keeps its per-user files.
#pragma once

#include <sys/types.h>

#include "plat/String.h"

struct stat;

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

// The path of a named pipe: the user's temporary directory (getTmpPath),
// "/", the application (null: the application name), ".", the name, then
// ".<pid>" (-1: the own pid) unless the pid is 0 and the index below 1, and
// ".<index>" when the index is 0 or more.
plat::String makeNamedPipePath(const char* name, const char* user, const char* app, long long pid,
                               int index);
// For a client about to trust a server's named pipe at pipePath: throws
// plat::Exception "%s is not a private directory of the server's user"
// unless the directory holding it is a directory (not a symbolic link)
// owned by root or by serverUid and writable by nobody else. A missing one
// passes: the connect then fails.
void checkNamedPipeDir(const char* pipePath, uid_t serverUid);
// The entry's first two dot-separated parts are the application and the
// name; null ones match anything.
bool matchNamedPipeName(const char* entry, const char* name, const char* app);
// Unlinks the matching pipes nobody listens on: in the own temporary
// directory, or as root in every "/tmp/.<path component>-*" directory.
// Only sockets are removed, only in a directory that is not a link, is
// owned by the user it is named after (or root) and writable by no one
// else. Entries whose check fails stay. Reports nothing.
void removeStaleNamedPipes(const char* name, const char* app);
// Opens name relative to the folder dirFd (AT_FDCWD: the working folder)
// with flags, O_NOFOLLOW and O_CLOEXEC, and fstats it into st; the caller
// owns the descriptor. -1 when name is a symbolic link, or not a folder
// while O_DIRECTORY is asked for (errno ELOOP or ENOTDIR); any other failure
// throws plat::SystemException "open(%s)" or "fstat(%s)" of shown.
int openNoFollow(int dirFd, const char* name, int flags, struct stat& st, const char* shown);
// Null: the effective uid. "-..." a signed 32-bit decimal, else an unsigned
// one; throws plat::BadNum "Failed to parse integer".
void parseUid(uid_t& out, const char* text);

#ifdef TL_TEST_HOOKS
// Test hook: the temporary directory to use instead of "/tmp" (null
// restores it).
void setTmpDirForTest(const char* dir);
#endif

} // namespace os
