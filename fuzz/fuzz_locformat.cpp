// The placeholder formatter and the plural choice over arbitrary texts:
// nothing may crash or overflow, and a text without '%' comes out as it is.
// The first byte picks the argument list (two bits per argument kind, its
// top bits the count), the rest is the format.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "loc/Localize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  std::string fmt(reinterpret_cast<const char*>(data) + 1, size - 1);
  unsigned pick = data[0];
  int count = pick >> 6;
  static const char* const strings[] = {"fuzz", "\xc3\xb1\xe6\x97\xa5x", "ab\xff\xfe", ""};
  loc::Arg args[3] = {loc::Arg(-2147483647 - 1), loc::Arg(4294967295u), loc::Arg("x")};
  for (int i = 0; i < count; i++) {
    unsigned kind = (pick >> (2 * i)) & 3;
    if (kind == 0)
      args[i] = loc::Arg(i == 1 ? 2147483647 : -2147483647 - 1);
    else if (kind == 1)
      args[i] = loc::Arg(i ? 0u : 4294967295u);
    else
      args[i] = loc::Arg(strings[(kind - 2) * 2 + (i & 1)]);
    if (i)
      args[i - 1].next = &args[i];
  }
  plat::String out;
  loc::format(out, fmt.c_str(), count ? args : nullptr);
  if (!strchr(fmt.c_str(), '%') && strcmp(out.str(), fmt.c_str()) != 0)
    abort();
  loc::pluralSuffix(fmt.c_str(), pick * 16777619u);
  return 0;
}
