// The server's "Authentication" setting: the schemes the settings page
// offers (ids 0 to 9 and their setting values, display names and
// descriptions), the registry of authentication method numbers, and the
// parsing of a setting value into authentication flows.
//
// The registry is process-wide and starts empty: the server registers its
// methods at run time. It is not locked; use it from the main thread only.
#pragma once

#include <stdint.h>

#include <vector>

#include "plat/String.h"
#include "tlauth/SAuthFlows.h"

namespace plat {
class Configuration;
}

namespace svr {

// --- Schemes
constexpr unsigned kAuthNone = 0;
constexpr unsigned kAuthZarn = 1;
constexpr unsigned kAuthSystem = 2;
constexpr unsigned kAuthSingleSignOn = 3;
constexpr unsigned kAuthInteractiveSystem = 4;
constexpr unsigned kAuthCertificate = 5;
constexpr unsigned kAuthSystemRadius = 6;
constexpr unsigned kAuthSystemDuo = 7;
constexpr unsigned kAuthSystemSecurId = 8;
constexpr unsigned kAuthCustom = 9;

// The setting value of ids 0 to 8, else a copy of defaultValue.
plat::String authSchemeName(unsigned id, const char* defaultValue);
// Case-insensitive; null or any other value is kAuthCustom.
unsigned authSchemeFromName(const char* value);
// kAuthCustom unless "SecurityTypes" is "<auto>"; then the scheme of
// "Authentication". Throws "Parameter %s not found" for a missing one.
unsigned authSchemeFromConfig(plat::Configuration& config);
// Translated; empty for ids above 9.
plat::String authSchemeDisplayName(unsigned id);
// Translated; empty for ids above 8.
plat::String authSchemeDescription(unsigned id);
// The word the system-account texts name.
const char* systemAuthPlatformName();

// --- Method registry
// Sets (add) or erases the name's number, then calls every change function
// in the order they were added.
void registerAuthMethod(const char* name, unsigned number, bool add);
void addAuthMethodsChangedFn(void (*fn)());
void removeAuthMethodsChangedFn(void (*fn)());
// 0 when the name (case-sensitive) is not registered.
unsigned authMethodNumber(const char* name);

// --- Setting values and flows
// Ways separated by ",", steps by "+", "None" an empty way. Unregistered
// steps throw "Unknown auth method \"%s\"" when strict and are skipped
// otherwise; a way left without steps is dropped.
tlauth::SAuthFlows parseAuthentication(const char* value, bool strict);
plat::String authenticationToString(const tlauth::SAuthFlows& flows);
// The single-step ways that are "None" or methods 1 or 4, as written.
std::vector<plat::String> singleStepAuthNames(const char* value);
bool authenticationAllowsNone(const char* value);
// Whether a step of value is named methodName; when not, the same question
// of fallbackValue (unless null).
bool authenticationMentions(const char* methodName, const char* value, const char* fallbackValue);
bool configAuthenticationHasMethod1(plat::Configuration& config);

} // namespace svr
