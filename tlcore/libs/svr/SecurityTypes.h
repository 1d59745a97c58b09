// The server's list of security types: the "SecurityTypes" setting, or for
// "<auto>" the list that follows from the "Encryption" level and the
// "Authentication" value. Uses the method registry of svr/AuthSchemes.h;
// main thread only, like it.
#pragma once

#include <stdint.h>

#include <vector>

namespace plat {
class Configuration;
}

namespace svr {

// Strengths for addSecurityTypesForStrength.
constexpr int kStrengthNone = 0;
constexpr int kStrength128 = 1;
constexpr int kStrength256 = 2;

// All of these append to out.
void securityTypesFor(const char* securityTypes, const char* encryption,
                      const char* authentication, std::vector<uint32_t>& out);
// The same with the string parameters "SecurityTypes", "Encryption" and
// "Authentication"; throws "Parameter %s not found".
void securityTypesFromConfig(plat::Configuration& config, std::vector<uint32_t>& out);
void expandSecurityTypes(unsigned level, const char* authentication, std::vector<uint32_t>& out);
void addSecurityTypesForStrength(int strength, const char* authentication,
                                 std::vector<uint32_t>& out);

} // namespace svr
