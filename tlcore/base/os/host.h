// Small queries about the machine and the process: the short host name, a
// printable stack trace, the kernel version, the machine type and the
// distribution's name and version.
//
// All of these read only; none holds state beyond the test hook below, which
// is set before the functions are used.
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

// "Linux %s" with the kernel release cut at its first '-'; on failure the
// text of the "uname" system error.
void getOsVersion(plat::String& out);

// The architecture this program is built for ("amd64" on x86-64); on a
// uname failure the text of the "uname" system error, cut to fit.
void getArchName(char (&out)[32]);

// The distribution's name and version from "/etc/os-release" (NAME,
// VERSION_ID), else "/etc/lsb-release" (DISTRIB_ID, DISTRIB_RELEASE), else
// a known distribution's release or version file in "/etc"; null when none
// says.
void getOsDescription(plat::String& out);

// Reads the file's shell assignments; when both keys are assigned (the last
// assignment wins) sets out to "%s %s" of their values and returns true.
// False when a key is missing or the file cannot be read.
bool readReleaseKeys(plat::String& out, const char* file, const char* nameKey,
                     const char* versionKey);

// Makes a description out of the first line of a release file: "CentOS
// Linux release 7.9.2009 (Core)" gives "CentOS Linux 7.9.2009"; a version
// file of the named distribution holding "12.1" gives "Debian 12.1".
// Returns whether out was set.
bool readDistroReleaseFile(plat::String& out, const char* path, const char* distro);

// Whether "/etc/os-release" assigns an ID or ID_LIKE that contains "debian"
// in any case.
bool isDebianLike();

#ifdef TL_TEST_HOOKS
// Test hook: the fixed "/etc" paths above are read below this directory
// instead of "/" (null restores "/").
void setOsFilesRootForTest(const char* root);
#endif

} // namespace os
