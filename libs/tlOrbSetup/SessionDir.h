// The per-user installer directory and this process's session directory
// inside it, which hold the downloaded package and the token files.
//
// Loop thread only. The session name is drawn once per process.
#pragma once

#include <stddef.h>

#include "plat/String.h"

namespace tlOrbSetup {

// Eight fresh random bytes as 16 hex digits, or in the URL-safe base64
// alphabet; the bytes are wiped once encoded.
plat::String randomToken(bool base64);

// The per-user temporary directory joined with "installer".
plat::String getInstallerDir();
// The installer directory joined with a random 16-hex-digit session name,
// created (private, with its parents) before it is returned. Creation
// errors reach the caller; the name stays for a later attempt.
plat::String getInstallerSessionDir();

// Writes the bytes into a new owner-only file in the session directory
// named after the part of name after its last "/", with "(1)" to "(99)"
// before the extension when that name is taken; its path. The file is made
// by this call (an existing entry, a link included, is never written).
plat::String writeSessionFile(const char* name, size_t length, const void* bytes);

} // namespace tlOrbSetup
