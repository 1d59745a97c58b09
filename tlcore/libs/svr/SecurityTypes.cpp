#include "svr/SecurityTypes.h"

#include <string.h>
#include <strings.h>

#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/String.h"
#include "rfb/SecTypes.h"
#include "svr/AuthSchemes.h"
#include "svr/Encryption.h"

namespace svr {

void securityTypesFor(const char* securityTypes, const char* encryption,
                      const char* authentication, std::vector<uint32_t>& out)
{
  if (securityTypes && strcasecmp(securityTypes, "<auto>") == 0)
    expandSecurityTypes(encryptionFromName(encryption), authentication, out);
  else
    rfb::parseSecTypes(securityTypes, out);
}

void securityTypesFromConfig(plat::Configuration& config, std::vector<uint32_t>& out)
{
  securityTypesFor(config.getStringParam("SecurityTypes").getValue(),
                   config.getStringParam("Encryption").getValue(),
                   config.getStringParam("Authentication").getValue(), out);
}

void expandSecurityTypes(unsigned level, const char* authentication, std::vector<uint32_t>& out)
{
  switch (level) {
  case kEncAlwaysMaximum:
    addSecurityTypesForStrength(kStrength256, authentication, out);
    break;
  case kEncAlwaysOn:
    addSecurityTypesForStrength(kStrength128, authentication, out);
    break;
  case kEncPreferOn:
    addSecurityTypesForStrength(kStrength128, authentication, out);
    addSecurityTypesForStrength(kStrengthNone, authentication, out);
    break;
  case kEncPreferOff:
    addSecurityTypesForStrength(kStrengthNone, authentication, out);
    addSecurityTypesForStrength(kStrength128, authentication, out);
    break;
  case kEncAlwaysOff:
    addSecurityTypesForStrength(kStrengthNone, authentication, out);
    break;
  default:
    break;
  }
}

void addSecurityTypesForStrength(int strength, const char* authentication,
                                 std::vector<uint32_t>& out)
{
  const char* suffix = strength == kStrengthNone ? "ne" : strength == kStrength128 ? ":128+"
                                                                                   : ":256+";
  if (!authentication)
    return;
  plat::String copy(authentication);
  char* cursor = copy.data();
  while (cursor) {
    const char* piece = plat::strTok(&cursor, ',');
    if (strcasecmp(piece, "None") == 0) {
      rfb::parseSecTypes(plat::format("RA2%s", suffix).get(), out);
      if (strength == kStrengthNone)
        out.push_back(1);
    } else if (strcasecmp(piece, "SingleSignOn") == 0) {
      rfb::parseSecTypes(plat::format("SSO%s", suffix).get(), out);
    } else if (*piece && !strchr(piece, '+') && authMethodNumber(piece) == 1) {
      rfb::parseSecTypes(plat::format("RA2%s", suffix).get(), out);
      if (strength == kStrengthNone && strcasecmp(piece, "ZarnAuth") == 0)
        out.push_back(2);
    }
  }
}

} // namespace svr
