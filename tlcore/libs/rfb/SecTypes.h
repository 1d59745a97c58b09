// Security types: the numbers the remote-framebuffer protocol negotiates
// for authentication and encryption together, their names, key sizes and
// display texts, and the family names with key-size qualifiers ("RA2:128+")
// that the "SecurityTypes" setting may list. Tables only; any thread.
#pragma once

#include <stdint.h>

#include <vector>

#include "plat/String.h"

namespace rfb {

// The name, or "[unknown secType %d]".
plat::String secTypeName(int type);
// Case-insensitive; 0 for an unknown name.
int secTypeFromName(const char* name);
// 128 for types 3 to 14, 256 for 129 to 134, else 0.
int secTypeKeyBits(int type);
// The key size for odd types, 14 and 134; else 0 (no encryption).
int secTypeEncryptionBits(int type);
// Translated: no encryption, or 128-bit or 256-bit AES.
plat::String secTypeDisplayName(int type);
bool secTypeInSet(unsigned type);
// The members of a family (case-insensitive name), zero-terminated; null
// for an unknown family.
const uint32_t* secTypeFamily(const char* name);
// Appends the types of a comma-separated list of type names and family
// names with an optional ":<bits>" (exactly) or ":<bits>+" (at least)
// qualifier; pieces that name nothing are ignored, duplicates kept.
void parseSecTypes(const char* text, std::vector<uint32_t>& out);

} // namespace rfb
