#include "svr/Encryption.h"

#include <strings.h>

#include "crypto/PasswordHash.h"
#include "loc/Localize.h"
#include "plat/ConfigParameter.h"
#include "plat/Configuration.h"
#include "plat/Exception.h"
#include "plat/Log.h"
#include "plat/ObfPasswd.h"

namespace svr {

namespace {

plat::LogSrc vlog("ZarnAuthUtil");

struct Level {
  const char* value;
  const char* nameKey;
  const char* shortKey;
};

const Level kLevels[] = {
    {"AlwaysMaximum", "svr_sencryption_always_maximum", "svr_sencryption_always_maximum_display"},
    {"AlwaysOn", "svr_sencryption_always_on", "svr_sencryption_always_on_display"},
    {"PreferOn", "svr_sencryption_prefer_on", "svr_sencryption_custom_display"},
    {"PreferOff", "svr_sencryption_prefer_off", "svr_sencryption_custom_display"},
    {"AlwaysOff", "svr_sencryption_always_off", "svr_sencryption_custom_display"},
};
constexpr unsigned kNamedLevels = sizeof(kLevels) / sizeof(kLevels[0]);

bool isSaltedHash(const plat::MBuf<unsigned char>& stored)
{
  return crypto::isPasswordHash(stored.length(), stored.data());
}

const char* userOrDefault(const char* userName)
{
  return userName && *userName ? userName : "default";
}

} // namespace

plat::String encryptionName(unsigned level, const char* defaultValue)
{
  return plat::String(level < kNamedLevels ? kLevels[level].value : defaultValue);
}

unsigned encryptionFromName(const char* value)
{
  if (value)
    for (unsigned level = 0; level < kNamedLevels; level++)
      if (strcasecmp(value, kLevels[level].value) == 0)
        return level;
  return kEncCustom;
}

bool securityTypesAuto(plat::Configuration& config)
{
  return strcasecmp(config.getStringParam("SecurityTypes").getValue(), "<auto>") == 0;
}

unsigned encryptionFromConfig(plat::Configuration& config)
{
  if (!securityTypesAuto(config))
    return kEncCustom;
  return encryptionFromName(config.getStringParam("Encryption").getValue());
}

plat::String encryptionDisplayName(unsigned level)
{
  return plat::String(level < kNamedLevels ? LOC_TR(kLevels[level].nameKey) : "");
}

plat::String encryptionShortDisplayName(int level)
{
  bool named = level >= 0 && (unsigned)level < kNamedLevels;
  return plat::String(named ? LOC_TR(kLevels[level].shortKey) : "");
}

plat::MBuf<unsigned char> makeStoredPassword(const char* password, bool classic)
{
  plat::MBuf<unsigned char> stored = plat::makeSecureBuf(0);
  if (classic)
    plat::obfuscatePasswd(stored, password);
  else
    stored = crypto::hashPassword(password, 0);
  return stored;
}

plat::SecureString encodePassword(const char* password, bool classic)
{
  static const char kDigits[] = "0123456789abcdef";
  plat::MBuf<unsigned char> stored = makeStoredPassword(password, classic);
  // Built in place, so no unwiped copy of the text is ever made.
  char* hex = new char[2 * stored.length() + 1];
  for (int i = 0; i < stored.length(); i++) {
    hex[2 * i] = kDigits[stored[i] >> 4];
    hex[2 * i + 1] = kDigits[stored[i] & 15];
  }
  hex[2 * stored.length()] = 0;
  plat::SecureString text;
  text.reset(hex);
  return text;
}

bool hasPassword(const plat::MBuf<unsigned char>& stored)
{
  if (isSaltedHash(stored))
    return true;
  try {
    return plat::deobfuscatePasswd(stored).length() > 0;
  } catch (plat::Exception&) {
    return false;
  }
}

bool checkPassword(const char* typed, const plat::MBuf<unsigned char>& stored,
                   const char* userName)
{
  if (isSaltedHash(stored))
    return crypto::verifyPassword(typed, stored.length(), stored.data());
  try {
    plat::MBuf<unsigned char> copy = plat::makeSecureBuf(0);
    copy.assign(stored);
    plat::SecureString password = plat::deobfuscatePasswd(copy);
    if (password.length() > 0)
      return plat::strCmpNull(typed, password.get()) == 0;
  } catch (plat::Exception& e) {
    char text[plat::Exception::kMessageSize];
    vlog.info("Error getting password for %s user: %s", userOrDefault(userName),
              e.formatDisplay(text));
  }
  vlog.error("No password configured for %s user", userOrDefault(userName));
  return false;
}

plat::SecureString classicPassword(const plat::MBuf<unsigned char>& stored)
{
  if (isSaltedHash(stored))
    throw plat::Exception("ZarnAuth sectype not supported with salted hash");
  return plat::deobfuscatePasswd(stored);
}

} // namespace svr
