// The server settings read from outside text: "Authentication" values,
// "SecurityTypes" lists and stored "Password" values. The first byte picks
// the reader; the rest is the input.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "plat/Exception.h"
#include "rfb/SecTypes.h"
#include "svr/AuthSchemes.h"
#include "svr/Encryption.h"
#include "svr/SecurityTypes.h"

namespace {

void registerMethods()
{
  static bool done = false;
  if (done)
    return;
  done = true;
  const char* names[] = {"ZarnAuth", "SystemAuth", "SingleSignOn", "InteractiveSystemAuth",
                         "Radius"};
  for (unsigned i = 0; i < 5; i++)
    svr::registerAuthMethod(names[i], i + 1, true);
}

void authentication(const char* text)
{
  tlauth::SAuthFlows lenient = svr::parseAuthentication(text, false);
  plat::String printed = svr::authenticationToString(lenient);
  // What lenient parsing kept reads strictly and prints the same.
  FUZZ_CHECK(svr::authenticationToString(svr::parseAuthentication(printed.get(), true)) == printed);
  try {
    tlauth::SAuthFlows strict = svr::parseAuthentication(text, true);
    FUZZ_CHECK(svr::authenticationToString(strict) == printed);
  } catch (plat::Exception& e) {
    FUZZ_CHECK(strncmp(e.str(), "Unknown auth method \"", 21) == 0);
  }
  svr::singleStepAuthNames(text);
  svr::authenticationAllowsNone(text);
  svr::authenticationMentions("Radius", text, text);
  svr::authSchemeFromName(text);
}

void securityTypes(const char* text)
{
  std::vector<uint32_t> out;
  rfb::parseSecTypes(text, out);
  for (uint32_t t : out)
    FUZZ_CHECK(!rfb::secTypeName((int)t).isNull() && rfb::secTypeFromName(rfb::secTypeName((int)t).get()) == (int)t);
  for (unsigned level = 0; level <= 5; level++)
    svr::expandSecurityTypes(level, text, out);
  svr::securityTypesFor(text, text, text, out);
}

void storedPassword(const uint8_t* data, size_t size)
{
  plat::MBuf<unsigned char> stored(data, (int)size);
  // A salted record's round count is kept small so that a run stays short.
  if (size == 87 && memcmp(data, "P2a", 3) == 0)
    stored[3] = stored[4] = stored[5] = 0;
  bool has = svr::hasPassword(stored);
  bool matches = svr::checkPassword("password", stored, "fuzz");
  FUZZ_CHECK(!matches || has);
  try {
    plat::SecureString classic = svr::classicPassword(stored);
    FUZZ_CHECK(has == (classic.length() > 0));
  } catch (plat::Exception&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 4096)
    return 0;
  registerMethods();
  std::string text((const char*)data + 1, size - 1);
  switch (data[0] % 3) {
  case 0:
    authentication(text.c_str());
    break;
  case 1:
    securityTypes(text.c_str());
    break;
  default:
    storedPassword(data + 1, size - 1);
    break;
  }
  return 0;
}
