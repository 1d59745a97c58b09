// The distribution's package tool for a downloaded package file, and the
// name the package is saved under.
//
// Pure functions apart from the look at the file system for the tools; any
// thread.
#pragma once

#include <vector>

#include "plat/String.h"

namespace tlOrbSetup {

// The tool's command for installing path: "/usr/bin/dpkg -i" for ".deb";
// for ".rpm" the first present of yum ("localinstall -y"), zypper ("in -y")
// and rpm ("-U"). Empty for any other name (the suffix test is
// case-sensitive) or when the tool is missing.
std::vector<plat::String> installCommandFor(const char* path);

// The file name of a package URI: the text after the last "/" of its path.
// Throws plat::Exception "Bad package URI %s" when that is empty, "." or
// "..".
plat::String packageFileName(const char* uri);

#ifdef TL_TEST_HOOKS
// Test hook: decides which tool paths count as present (null: the file
// system decides).
void setToolCheckForTest(bool (*present)(const char* path));
#endif

} // namespace tlOrbSetup
