// The server's "Encryption" levels and the stored forms of its "Password"
// setting.
//
// A stored password is either the 87-byte salted hash record ("P2a") or,
// for anything else, the classic obfuscated form (plat/ObfPasswd.h). Every
// buffer that holds a password or its stored form is sensitive and wiped
// when freed. Stateless; any thread.
#pragma once

#include "plat/MBuf.h"
#include "plat/String.h"

namespace plat {
class Configuration;
}

namespace svr {

// --- Levels
constexpr unsigned kEncAlwaysMaximum = 0;
constexpr unsigned kEncAlwaysOn = 1;
constexpr unsigned kEncPreferOn = 2;
constexpr unsigned kEncPreferOff = 3;
constexpr unsigned kEncAlwaysOff = 4;
constexpr unsigned kEncCustom = 5;

// The setting value of levels 0 to 4, else a copy of defaultValue.
plat::String encryptionName(unsigned level, const char* defaultValue);
// Case-insensitive; null or any other value is kEncCustom.
unsigned encryptionFromName(const char* value);
// "SecurityTypes" is "<auto>" (any case). Throws "Parameter %s not found".
bool securityTypesAuto(plat::Configuration& config);
// kEncCustom unless securityTypesAuto; then the level of "Encryption".
unsigned encryptionFromConfig(plat::Configuration& config);
// Translated; empty for other levels.
plat::String encryptionDisplayName(unsigned level);
plat::String encryptionShortDisplayName(int level);

// --- Stored passwords
// A sensitive buffer: the classic form, else a new salted hash record.
plat::MBuf<unsigned char> makeStoredPassword(const char* password, bool classic);
// The stored form in lower-case hexadecimal: the "Password" setting value.
plat::SecureString encodePassword(const char* password, bool classic);
// Whether a password is set; an undecodable classic value counts as none.
bool hasPassword(const plat::MBuf<unsigned char>& stored);
// Whether typed matches; a missing or undecodable password is logged (on
// "ZarnAuthUtil", for userName or "default") and never matches.
bool checkPassword(const char* typed, const plat::MBuf<unsigned char>& stored,
                   const char* userName);
// The password of a classic value; a salted hash throws "ZarnAuth sectype
// not supported with salted hash", an undecodable value what the decoder
// throws.
plat::SecureString classicPassword(const plat::MBuf<unsigned char>& stored);

} // namespace svr
