// Whether the cloud credential record of an application is in place: the
// wizard's check for the user's own and the helper's for the server's.
//
// Free functions without state; any thread. They read the file system as
// the calling process sees it and own nothing.
#pragma once

#include "plat/String.h"

namespace tlOrbSetup {

// Whether the cloud credential record of appName exists in its
// configuration directory as this process sees it.
bool hasCloudCredentials(const char* appName, bool system);
// The store path joined with "CloudCredentials.bed" by one "/" (none added
// after a trailing one; an empty or null path gives "/CloudCredentials.bed").
plat::String cloudCredentialsPath(const char* storePath);

} // namespace tlOrbSetup
