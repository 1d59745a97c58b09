// The per-user and system directories of the running product, and the
// lists of places where its data and persistent stores are found.
//
// Product initialisation sets the directories once on the main thread
// before any other thread starts; afterwards they are read-only. Each is ""
// until set, and every text lives until exit.
#pragma once

#include <vector>

#include "plat/String.h"

namespace os {

// --- Directories set at start-up (a setter copies only a changed text)
// The system-wide configuration directory, whose "config.d" and "policy.d"
// hold the machine's settings.
const char* getSystemConfigDir();
void setSystemConfigDir(const char* dir);
// The user's own product directory.
const char* getUserDir();
void setUserDir(const char* dir);
// The profile in use (the user directory unless a profile is chosen).
const char* getProfileDir();
void setProfileDir(const char* dir);
// The profile whose configuration is used.
const char* getConfigProfileDir();
void setConfigProfileDir(const char* dir);
// The per-user configuration directory ("config.d" of the configuration
// profile).
const char* getConfigDir();
void setConfigDir(const char* dir);
// The user's own configuration file: the configuration directory and the
// application name.
const char* getProgramConfigFile();
void setProgramConfigFile(const char* path);

// --- Search lists
// Appends the directories in which data files are looked for, first match
// wins: the system configuration directory when set, then for the running
// program's directory P (left out when it cannot be found) P, and, once
// the path component is set, P/<path component>, P/share/<path component>
// and the same share directory beside P's parent and grandparent while
// they are not "/". As root, a program directory that another user could
// change (plat::checkTrustedAsRoot) is left out with a log line.
void getDataSearchDirs(std::vector<plat::String>& out);
// The same for a program in programDir (null: none found).
void getDataSearchDirs(std::vector<plat::String>& out, const char* programDir);

// The directory of the persistent store name (the application's when
// null): "<configuration directory>/<name>.d". Null while the per-user
// configuration directory or the name is not set, so that nothing is
// stored in a directory made up from an empty one.
plat::String getPersistentStorePath(const char* name);

} // namespace os
