// Numeric addresses, masks and the no-proxy list on arbitrary text. The
// input is "list\ntarget"; without a line feed the whole text is both.
// Nothing may crash; an address read by IpInfo and by NetMask is the same
// address (the mask matches it), its text reads back as itself, a mask's
// text reads back as the same mask, and a list naming a numeric target
// bypasses it.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_util.h"
#include "io/IpInfo.h"
#include "io/NetMask.h"
#include "io/ProxySettings.h"

using namespace io;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > 4096)
    return 0;
  fuzzQuietLogs();
  std::string text((const char*)data, size);
  text.resize(strlen(text.c_str()));
  size_t nl = text.find('\n');
  std::string list = nl == std::string::npos ? text : text.substr(0, nl);
  std::string target = nl == std::string::npos ? text : text.substr(nl + 1);

  bool numeric = false;
  try {
    IpInfo address(target.c_str(), 443);
    numeric = true;
    FUZZ_CHECK(strcmp(IpInfo(address.numericHost(), 443).numericHost(), address.numericHost()) ==
               0);
    try {
      NetMask mask(target.c_str());
      FUZZ_CHECK(mask.matches(address));
    } catch (NetMask::Exception&) {
    }
  } catch (plat::Exception&) {
  }

  try {
    NetMask mask(list.c_str());
    plat::String written = mask.toString();
    NetMask again(written.get());
    FUZZ_CHECK(again.getLength() == mask.getLength() &&
               memcmp(again.getAddress(), mask.getAddress(), 16) == 0 &&
               memcmp(again.getMask(), mask.getMask(), 16) == 0);
    if (numeric)
      mask.matches(target.c_str());
  } catch (NetMask::Exception&) {
  }

  ProxySettingsTable table(target.c_str(), 443);
  table.set(ProxySettingKey::BypassList, list.c_str());
  bool bypassed = table.bypassed();
  if (numeric && list == target && target.find_first_of(", \t") == std::string::npos)
    FUZZ_CHECK(bypassed);
  return 0;
}
